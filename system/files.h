// Files by name: reading an existing file at offsets, and the replacing
// write of an output file through a temporary file in the same folder.
//
// Names are the file system's form of what the user typed: UTF-8, given to
// the system whole (on Windows as UTF-16, with the \\?\ prefix when the path
// is too long for the plain form). A name that is empty or holds "*", "?" or
// a NUL character never names a file.
#pragma once

#include <cstdint>
#include <string>

// An open file: a descriptor on POSIX, a HANDLE on Windows.
using FileHandle = std::intptr_t;
constexpr FileHandle kNoFile = -1;

// Opens an existing regular file for reading. kNoFile when it cannot be
// opened or is not a regular file: a folder, a device (NUL, CON, COM1,
// /dev/...), a pipe. Never waits: a named pipe under the name is refused
// rather than waited on. Other programs may read the file meanwhile.
FileHandle OpenFileForReading(const std::string& name);

// The existence test of an input name: whether the file opens for reading as
// OpenFileForReading would, asked without sharing (on Windows a file that
// another program holds open is not there to us). Closed again at once.
bool FileOpensForReading(const std::string& name);

// Reads `count` bytes from byte `offset` into `bytes`, going on after
// interruptions and short reads. Returns how many were read: fewer at the end
// of the file or after an error (the rest of `bytes` is left as it was).
std::int64_t ReadFileAt(FileHandle file, std::int64_t offset, std::uint8_t* bytes,
                        std::int64_t count);

void CloseFile(FileHandle file);

// A replacing write under way. The named file is untouched until the write
// finishes; meanwhile everything goes to a temporary file in its folder.
struct ReplacingWrite {
  FileHandle temporary = kNoFile;
  std::string temporaryPath;   // system form: UTF-8 (POSIX), UTF-8 of the UTF-16 path (Windows)
  std::string targetPath;      // what the name finally names: a link's destination, the full path
  bool replacing = false;      // an existing file is replaced
  // What the replaced file keeps: POSIX owner, group and permission bits;
  // Windows attributes (hidden, system, archive, ...) and creation time.
  std::uint32_t keptOwner = 0;
  std::uint32_t keptGroup = 0;
  std::uint32_t keptMode = 0;
  std::uint32_t keptAttributes = 0;
  std::int64_t keptCreationTime = 0;
};

// Starts the replacing write of `name`. False, with nothing created, when the
// name may not be written over: not a valid name, a folder, a device or a
// pipe, a read-only file or one we may not write, a folder on the way
// missing, or no temporary file can be made beside it. From true until
// FinishReplacingWrite or AbandonReplacingWrite, ending events are held
// (ending.h), so an interrupted program never leaves the temporary file.
// One replacing write at a time.
bool BeginReplacingWrite(const std::string& name, ReplacingWrite& write);

// Appends `count` bytes to the temporary file, or writes them at `offset`
// (a header completed last). False on any failure, a full disk included.
bool AppendToReplacingWrite(ReplacingWrite& write, const std::uint8_t* bytes, std::int64_t count);
bool WriteAtInReplacingWrite(ReplacingWrite& write, std::int64_t offset, const std::uint8_t* bytes,
                             std::int64_t count);

// Completes the write: when an existing file is replaced, the new content is
// made durable first and the replaced file's kept properties are given to
// it; then it is moved over the name in one step (never half the old file and
// half the new one). False on failure: the temporary file removed, the
// existing file untouched. Ending events are released either way.
bool FinishReplacingWrite(ReplacingWrite& write);

// Gives up: the temporary file is removed, the existing file untouched,
// ending events released.
void AbandonReplacingWrite(ReplacingWrite& write);

// The whole replacing write of `count` bytes in one call.
bool WriteFileReplacing(const std::string& name, const std::uint8_t* bytes, std::int64_t count);

// True when `name` holds what never names a file: empty, "*", "?" or NUL.
bool NameIsRefused(const std::string& name);
