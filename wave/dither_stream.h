// The dither of any sample position, computed without drawing every earlier
// one, so that blocks of the output can be dithered in any order (and on any
// thread) and still see exactly the values of the one sequential generator.
#pragma once

#include <cstdint>

// Outputs handled together by the fast paths: their values, dither offsets
// and codes stay in the first-level cache.
constexpr std::int64_t kChunkFrames = 1024;

// Advancing the generator n times is itself an affine map of the state:
// state -> multiplier * state + increment (mod 2^32).
struct DitherJump {
  std::uint32_t multiplier = 1;
  std::uint32_t increment = 0;
};

// The map that advances the generator by `draws` draws.
DitherJump DitherJumpOf(std::uint64_t draws);

inline std::uint32_t ApplyJump(const DitherJump& jump, std::uint32_t state) {
  return jump.multiplier * state + jump.increment;
}

// The two draws that dither output sample `sampleIndex` (frame x channels +
// channel), counted from the program's start: draws 2s+1 and 2s+2.
struct SampleDither {
  double r1 = 0.0;
  double r2 = 0.0;
};
SampleDither DitherOfSample(std::uint64_t sampleIndex);

// The generator placed at several samples at once, one lane each, for the
// fast paths that dither a vector of samples together: lane l stands at
// sample firstSample + l x stride, its state after that sample's first draw
// (r1 = (state >> 1) / 2^31); ApplyJump(secondDraw, state) is the state of
// its second draw; ApplyJump(advance, state) moves the lane `lanes` x stride
// samples on, to where the lane after the last would have stood.
struct DitherLanes {
  static constexpr int kMaxLanes = 64;
  std::uint32_t state[kMaxLanes] = {};
  DitherJump secondDraw;
  DitherJump advance;
};
void StartDitherLanes(std::uint64_t firstSample, int stride, int lanes, DitherLanes& out);

// r1 + r2 - 1 of the sample a lane stands at, exact in double.
inline double DitherOfLane(std::uint32_t state, const DitherJump& secondDraw) {
  const std::uint32_t second = ApplyJump(secondDraw, state);
  return static_cast<double>(static_cast<std::int64_t>(state >> 1) + (second >> 1) - 0x80000000ll) * 0x1p-31;
}

// out[i] = r1 + r2 - 1 of sample firstSample + i * stride, for i < count.
// The sum is exact in double: r1 and r2 are multiples of 2^-31 below 1.
void FillDitherOffsets(std::uint64_t firstSample, int stride, std::int64_t count, double* out);

// What the writer's exact conversion of y may differ from rounding the real
// y + d, plus the rounding of z = y + d in double, with room to spare: the
// writer proves its part (|rho| < 2^-29) beside the conversion.
constexpr double kWriterRoundingMargin = 0x1p-24;

// The writer rounds y + d to the nearest integer with its own small error
// (under 2^-29, see the writer). True when every value within `margin` of z
// gives the same 24-bit code as z: z lies at least `margin` from every
// half-integer, or so far beyond the 24-bit range that the code saturates
// whatever the rounding. False for not-a-number.
inline bool CodeIsSettled(double z, double margin) {
  // Round to nearest even by the 1.5 x 2^52 shift; exact for |z| < 2^51.
  const double nearest = (z + 0x1.8p52) - 0x1.8p52;
  const bool clear = __builtin_fabs(z - nearest) <= 0.5 - margin;
  const bool saturated = (z > 8388608.0) | (z < -8388609.0);
  return clear | saturated;
}
