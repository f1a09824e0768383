#include "system/memory.h"

#include <windows.h>

#include <cstdlib>
#include <limits>

void* AllocateZeroedBlock(std::int64_t bytes) {
  if (bytes <= 0 || static_cast<std::uint64_t>(bytes) > std::numeric_limits<SIZE_T>::max())
    return nullptr;
  const auto size = static_cast<SIZE_T>(bytes);
  if (bytes < kPageBlockThresholdBytes) return std::calloc(size, 1);
  // Committed pages are zero-filled by the system on first touch. Windows
  // does not overcommit: the commit itself fails when the system cannot back
  // the block, so a refusal comes here and not later.
  return VirtualAlloc(nullptr, size, MEM_RESERVE | MEM_COMMIT, PAGE_READWRITE);
}

void ReleaseZeroedBlock(void* block, std::int64_t bytes) {
  if (block == nullptr) return;
  if (bytes < kPageBlockThresholdBytes) {
    std::free(block);
  } else {
    VirtualFree(block, 0, MEM_RELEASE);
  }
}

std::int64_t AvailableMemoryBytes() {
  MEMORYSTATUSEX status;
  status.dwLength = sizeof status;
  if (!GlobalMemoryStatusEx(&status)) return -1;
  // Physical memory free or on standby: what can be had without paging.
  if (status.ullAvailPhys > static_cast<DWORDLONG>(std::numeric_limits<std::int64_t>::max()))
    return std::numeric_limits<std::int64_t>::max();
  return static_cast<std::int64_t>(status.ullAvailPhys);
}
