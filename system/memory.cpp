// The part of the memory interface that is the same on every system.
#include "system/memory.h"

#include <limits>

bool MemoryIsAvailable(std::int64_t bytes) {
  if (bytes < 0 || bytes == std::numeric_limits<std::int64_t>::max()) return false;
  const std::int64_t available = AvailableMemoryBytes();
  return available < 0 || bytes <= available;
}
