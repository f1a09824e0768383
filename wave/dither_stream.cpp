#include "wave/dither_stream.h"

namespace {

constexpr std::uint32_t kMultiplier = 134775813u;
constexpr std::uint32_t kIncrement = 1u;
constexpr std::uint32_t kSeed = 0xFFFFFFFFu;

// first, then second.
DitherJump Compose(const DitherJump& first, const DitherJump& second) {
  return {second.multiplier * first.multiplier, second.multiplier * first.increment + second.increment};
}

inline double DrawValue(std::uint32_t state) {
  return static_cast<double>(state >> 1) * 0x1p-31;
}

}  // namespace

DitherJump DitherJumpOf(std::uint64_t draws) {
  DitherJump result;  // identity
  DitherJump power{kMultiplier, kIncrement};
  while (draws != 0) {
    if (draws & 1u) result = Compose(result, power);
    power = Compose(power, power);
    draws >>= 1;
  }
  return result;
}

SampleDither DitherOfSample(std::uint64_t sampleIndex) {
  std::uint32_t first = ApplyJump(DitherJumpOf(2 * sampleIndex + 1), kSeed);
  std::uint32_t second = kMultiplier * first + kIncrement;
  return {DrawValue(first), DrawValue(second)};
}

void FillDitherOffsets(std::uint64_t firstSample, int stride, std::int64_t count, double* out) {
  if (count <= 0) return;
  // Eight independent chains, one per lane, each advancing eight samples at a
  // time, so the loop has no long dependency and vectorises.
  constexpr int kLanes = 8;
  const DitherJump step = DitherJumpOf(2ull * static_cast<std::uint64_t>(stride) * kLanes);
  std::uint32_t state[kLanes];
  for (int lane = 0; lane < kLanes; ++lane) {
    std::uint64_t sample = firstSample + static_cast<std::uint64_t>(lane) * static_cast<std::uint64_t>(stride);
    state[lane] = ApplyJump(DitherJumpOf(2 * sample + 1), kSeed);
  }
  std::int64_t i = 0;
  for (; i + kLanes <= count; i += kLanes) {
    for (int lane = 0; lane < kLanes; ++lane) {
      std::uint32_t second = kMultiplier * state[lane] + kIncrement;
      out[i + lane] = (DrawValue(state[lane]) + DrawValue(second)) - 1.0;
      state[lane] = step.multiplier * state[lane] + step.increment;
    }
  }
  for (int lane = 0; i < count; ++i, ++lane) {
    std::uint32_t second = kMultiplier * state[lane] + kIncrement;
    out[i] = (DrawValue(state[lane]) + DrawValue(second)) - 1.0;
  }
}
