#include "wave/dither.h"

namespace {

constexpr std::uint32_t kMultiplier = 134775813u;
constexpr std::uint32_t kIncrement = 1u;
constexpr DitherJump kOneDraw{kMultiplier, kIncrement};

// first, then second.
constexpr DitherJump Compose(const DitherJump& first, const DitherJump& second) {
  return {second.multiplier * first.multiplier,
          second.multiplier * first.increment + second.increment};
}

// The jumps by 2^b draws, b = 0 .. 63, so that any jump takes one
// composition per bit set in its length.
struct PowerJumps {
  DitherJump of[64];
};

constexpr PowerJumps MakePowerJumps() {
  PowerJumps powers{};
  powers.of[0] = kOneDraw;
  for (int b = 1; b < 64; ++b) powers.of[b] = Compose(powers.of[b - 1], powers.of[b - 1]);
  return powers;
}

constexpr PowerJumps kPowerJumps = MakePowerJumps();

double DrawValue(std::uint32_t state) { return static_cast<double>(state >> 1) * 0x1p-31; }

}  // namespace

double DrawDither(DitherGenerator& generator) {
  generator.state = ApplyJump(kOneDraw, generator.state);
  return DrawValue(generator.state);
}

DitherJump DitherJumpOf(std::uint64_t draws) {
  DitherJump result;  // identity
  for (int b = 0; draws != 0; ++b, draws >>= 1) {
    if (draws & 1u) result = Compose(result, kPowerJumps.of[b]);
  }
  return result;
}

DitherGenerator GeneratorAtSample(std::uint64_t sample) {
  return DitherGenerator{ApplyJump(DitherJumpOf(2 * sample), DitherGenerator{}.state)};
}

SampleDither DitherOfSample(std::uint64_t sampleIndex) {
  DitherGenerator generator = GeneratorAtSample(sampleIndex);
  const double r1 = DrawDither(generator);
  return {r1, DrawDither(generator)};
}

void StartDitherLanes(std::uint64_t firstSample, int stride, int lanes, DitherLanes& out) {
  const DitherJump toNext = DitherJumpOf(2ull * static_cast<std::uint64_t>(stride));
  out.state[0] = ApplyJump(DitherJumpOf(2 * firstSample + 1), DitherGenerator{}.state);
  // The first eight lanes one after the other, then eight chains side by
  // side, each lane eight lanes on from its chain's last.
  const int serial = lanes < 8 ? lanes : 8;
  for (int lane = 1; lane < serial; ++lane)
    out.state[lane] = ApplyJump(toNext, out.state[lane - 1]);
  const DitherJump toEighth = DitherJumpOf(16ull * static_cast<std::uint64_t>(stride));
  for (int lane = 8; lane < lanes; ++lane)
    out.state[lane] = ApplyJump(toEighth, out.state[lane - 8]);
  out.secondDraw = kOneDraw;
  out.advance =
      DitherJumpOf(2ull * static_cast<std::uint64_t>(stride) * static_cast<std::uint64_t>(lanes));
}
