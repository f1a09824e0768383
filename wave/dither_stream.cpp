#include "wave/dither_stream.h"

#include <immintrin.h>

#include "system/vector_level.h"

namespace {

constexpr std::uint32_t kMultiplier = 134775813u;
constexpr std::uint32_t kIncrement = 1u;
constexpr std::uint32_t kSeed = 0xFFFFFFFFu;

// first, then second.
constexpr DitherJump Compose(const DitherJump& first, const DitherJump& second) {
  return {second.multiplier * first.multiplier, second.multiplier * first.increment + second.increment};
}

// The jumps by 2^b draws, b = 0 .. 63, so that any jump takes one
// composition per bit set in its length.
struct PowerJumps {
  DitherJump of[64];
};

constexpr PowerJumps MakePowerJumps() {
  PowerJumps powers{};
  powers.of[0] = DitherJump{kMultiplier, kIncrement};
  for (int b = 1; b < 64; ++b) powers.of[b] = Compose(powers.of[b - 1], powers.of[b - 1]);
  return powers;
}

constexpr PowerJumps kPowerJumps = MakePowerJumps();

inline double DrawValue(std::uint32_t state) {
  return static_cast<double>(state >> 1) * 0x1p-31;
}

}  // namespace

DitherJump DitherJumpOf(std::uint64_t draws) {
  DitherJump result;  // identity
  for (int b = 0; draws != 0; ++b, draws >>= 1) {
    if (draws & 1u) result = Compose(result, kPowerJumps.of[b]);
  }
  return result;
}

SampleDither DitherOfSample(std::uint64_t sampleIndex) {
  std::uint32_t first = ApplyJump(DitherJumpOf(2 * sampleIndex + 1), kSeed);
  std::uint32_t second = kMultiplier * first + kIncrement;
  return {DrawValue(first), DrawValue(second)};
}

namespace {

constexpr int kLanes = 8;

// Eight independent chains, one per lane, each advancing eight samples at a
// time, so the loop has no long dependency.
void FillDitherPlain(std::uint32_t* state, const DitherJump& step, std::int64_t count,
                     double* out) {
  std::int64_t i = 0;
  for (; i + kLanes <= count; i += kLanes) {
    for (int lane = 0; lane < kLanes; ++lane) {
      const std::uint32_t second = kMultiplier * state[lane] + kIncrement;
      out[i + lane] = (DrawValue(state[lane]) + DrawValue(second)) - 1.0;
      state[lane] = step.multiplier * state[lane] + step.increment;
    }
  }
  for (int lane = 0; i < count; ++i, ++lane) {
    const std::uint32_t second = kMultiplier * state[lane] + kIncrement;
    out[i] = (DrawValue(state[lane]) + DrawValue(second)) - 1.0;
  }
}

// The same chains in one vector register. With a = state >> 1 and b the
// second draw's, r1 + r2 - 1 = (a + b - 2^31) x 2^-31: a + b is below 2^32,
// so a + b - 2^31 fits a signed 32-bit integer (wrapping arithmetic gives it
// exactly), its conversion to double is exact, and so is the scaling. The
// plain version's (r1 + r2) - 1 is exact too: the same value.
__attribute__((target("avx2"))) void FillDitherAvx2(std::uint32_t* state,
                                                     const DitherJump& step, std::int64_t count,
                                                     double* out) {
  const __m256i multiplier = _mm256_set1_epi32(static_cast<int>(kMultiplier));
  const __m256i increment = _mm256_set1_epi32(static_cast<int>(kIncrement));
  const __m256i stepMultiplier = _mm256_set1_epi32(static_cast<int>(step.multiplier));
  const __m256i stepIncrement = _mm256_set1_epi32(static_cast<int>(step.increment));
  const __m256i half = _mm256_set1_epi32(static_cast<int>(0x80000000u));
  const __m256d scale = _mm256_set1_pd(0x1p-31);
  __m256i s = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(state));
  std::int64_t i = 0;
  for (; i + kLanes <= count; i += kLanes) {
    const __m256i second = _mm256_add_epi32(_mm256_mullo_epi32(s, multiplier), increment);
    const __m256i sum = _mm256_sub_epi32(
        _mm256_add_epi32(_mm256_srli_epi32(s, 1), _mm256_srli_epi32(second, 1)), half);
    _mm256_storeu_pd(out + i, _mm256_mul_pd(_mm256_cvtepi32_pd(_mm256_castsi256_si128(sum)), scale));
    _mm256_storeu_pd(out + i + 4,
                     _mm256_mul_pd(_mm256_cvtepi32_pd(_mm256_extracti128_si256(sum, 1)), scale));
    s = _mm256_add_epi32(_mm256_mullo_epi32(s, stepMultiplier), stepIncrement);
  }
  _mm256_storeu_si256(reinterpret_cast<__m256i*>(state), s);
  for (int lane = 0; i < count; ++i, ++lane) {
    const std::uint32_t second = kMultiplier * state[lane] + kIncrement;
    out[i] = (DrawValue(state[lane]) + DrawValue(second)) - 1.0;
  }
}

}  // namespace

void StartDitherLanes(std::uint64_t firstSample, int stride, int lanes, DitherLanes& out) {
  const DitherJump toNext = DitherJumpOf(2ull * static_cast<std::uint64_t>(stride));
  out.state[0] = ApplyJump(DitherJumpOf(2 * firstSample + 1), kSeed);
  // The first eight lanes one after the other, then eight chains side by
  // side, each lane eight lanes on from its chain's last.
  const int serial = lanes < 8 ? lanes : 8;
  for (int lane = 1; lane < serial; ++lane) out.state[lane] = ApplyJump(toNext, out.state[lane - 1]);
  const DitherJump toEighth = DitherJumpOf(16ull * static_cast<std::uint64_t>(stride));
  for (int lane = 8; lane < lanes; ++lane) out.state[lane] = ApplyJump(toEighth, out.state[lane - 8]);
  out.secondDraw = DitherJump{kMultiplier, kIncrement};
  out.advance = DitherJumpOf(2ull * static_cast<std::uint64_t>(stride) * static_cast<std::uint64_t>(lanes));
}

void FillDitherOffsets(std::uint64_t firstSample, int stride, std::int64_t count, double* out) {
  if (count <= 0) return;
  DitherLanes lanes;
  StartDitherLanes(firstSample, stride, kLanes, lanes);
  if (ActiveVectorLevel() >= VectorLevel::kAvx2) {
    FillDitherAvx2(lanes.state, lanes.advance, count, out);
  } else {
    FillDitherPlain(lanes.state, lanes.advance, count, out);
  }
}
