// Large zero-filled blocks of memory straight from the system, and how much
// memory the system can give.
#pragma once

#include <cstdint>

// Blocks from this size on come from the system's page allocator; smaller
// ones from the C heap.
constexpr std::int64_t kPageBlockThresholdBytes = std::int64_t{1} << 20;

// `bytes` zero-filled bytes, or nullptr when the system refuses them (or
// `bytes` is not positive, or larger than the address space). Large blocks
// are fresh pages, zero already, committed as they are first touched.
void* AllocateZeroedBlock(std::int64_t bytes);

// Gives a block back; `bytes` is the size it was allocated with. Null is
// ignored.
void ReleaseZeroedBlock(void* block, std::int64_t bytes);

// Bytes the system reports it can give without swapping, or -1 when it does
// not tell.
std::int64_t AvailableMemoryBytes();

// True when the system reports `bytes` available (or cannot say). Linux hands
// out more address space than it can back and ends the process when the
// pages are touched, so a job asks this before it allocates.
bool MemoryIsAvailable(std::int64_t bytes);
