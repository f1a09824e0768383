// The one write-everything loop of the system room: output files, the
// standard streams and the POSIX terminal all write through it.
#pragma once

#include <cstdint>

#include "system/files.h"

// Writes all `count` bytes at the handle's current position, going on after
// interruptions and short writes (on POSIX also waiting while a descriptor
// in non-blocking mode is full). False when the system takes no more: a full
// disk, a file size limit, a pipe whose reader has gone.
bool WriteAllTo(FileHandle handle, const void* bytes, std::int64_t count);
