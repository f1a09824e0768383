#include "system/memory.h"

#include <sys/mman.h>

#include <cstdio>
#include <cstdlib>
#include <limits>

void* AllocateZeroedBlock(std::int64_t bytes) {
  if (bytes <= 0 || static_cast<std::uint64_t>(bytes) > std::numeric_limits<std::size_t>::max())
    return nullptr;
  const auto size = static_cast<std::size_t>(bytes);
  if (bytes < kPageBlockThresholdBytes) return std::calloc(size, 1);
  // Fresh anonymous pages are zero already, so nothing has to be written to
  // them and memory is only committed as the job touches it.
  void* memory = mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  if (memory == MAP_FAILED) return nullptr;
  // 2 MiB pages where the system allows it: far fewer page faults when the
  // block is first touched.
  madvise(memory, size, MADV_HUGEPAGE);
  return memory;
}

void ReleaseZeroedBlock(void* block, std::int64_t bytes) {
  if (block == nullptr) return;
  if (bytes < kPageBlockThresholdBytes) {
    std::free(block);
  } else {
    munmap(block, static_cast<std::size_t>(bytes));
  }
}

std::int64_t AvailableMemoryBytes() {
  // Linux hands out more address space than it can back and kills the
  // process when the pages are touched: MemAvailable is what it can really give.
  std::FILE* f = std::fopen("/proc/meminfo", "re");
  if (f == nullptr) return -1;
  std::int64_t result = -1;
  char line[256];
  while (std::fgets(line, sizeof line, f) != nullptr) {
    long long kib = 0;
    if (std::sscanf(line, "MemAvailable: %lld kB", &kib) == 1) {
      if (kib >= 0 && kib < std::numeric_limits<std::int64_t>::max() / 1024) result = kib * 1024;
      break;
    }
  }
  std::fclose(f);
  return result;
}
