#include "processor/vector_level.h"

#include <atomic>

namespace {

VectorLevel ProcessorLevel() {
  __builtin_cpu_init();
  if (__builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx2") &&
      __builtin_cpu_supports("fma")) {
    return VectorLevel::kAvx512;
  }
  if (__builtin_cpu_supports("avx2") && __builtin_cpu_supports("fma")) return VectorLevel::kAvx2;
  return VectorLevel::kPlain;
}

std::atomic<int> limit{static_cast<int>(VectorLevel::kAvx512)};

}  // namespace

VectorLevel ActiveVectorLevel() {
  static const int processor = static_cast<int>(ProcessorLevel());
  const int limited = limit.load(std::memory_order_relaxed);
  return static_cast<VectorLevel>(limited < processor ? limited : processor);
}

void LimitVectorLevel(VectorLevel level) {
  limit.store(static_cast<int>(level), std::memory_order_relaxed);
}
