// The dither: one generator, a 32-bit linear congruential state, FFFFFFFF
// when the program starts and never reseeded; each output sample takes two
// draws, r1 and r2, and is dithered by r1 + r2 - 1. The generator is drawn in
// order by the exact conversion, and placed at any sample without drawing
// the ones before, so that blocks of the output can be dithered in any order
// (and on any thread) and still see exactly the values of the one sequential
// generator.
#pragma once

#include <cstdint>

struct DitherGenerator {
  std::uint32_t state = 0xFFFFFFFFu;
};

// Advances the state (state x 134775813 + 1, modulo 2^32) and yields
// (state >> 1) / 2^31, uniform on [0, 1) in steps of 2^-31.
double DrawDither(DitherGenerator& generator);

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

// The generator as it stands before the two draws of output sample `sample`
// (frame x channels + channel), counted from the program's start.
DitherGenerator GeneratorAtSample(std::uint64_t sample);

// The two draws that dither output sample `sampleIndex`: draws 2s+1 and 2s+2.
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

// r1 + r2 - 1 of the sample a lane stands at. With a = state >> 1 and b the
// second draw's, r1 + r2 - 1 = (a + b - 2^31) x 2^-31: a + b is below 2^32,
// so the difference is an integer below 2^32 in magnitude, exact in double,
// and so is its scaling.
inline double DitherOfLane(std::uint32_t state, const DitherJump& secondDraw) {
  const std::uint32_t second = ApplyJump(secondDraw, state);
  return static_cast<double>(static_cast<std::int64_t>(state >> 1) + (second >> 1) - 0x80000000ll) *
         0x1p-31;
}
