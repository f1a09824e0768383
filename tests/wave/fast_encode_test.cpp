// The fast dithered conversion against the exact one, byte for byte.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <limits>
#include <random>
#include <vector>

#include "wave/dither_stream.h"
#include "system/vector_level.h"
#include "wave/writer.h"

namespace {

using Channels = std::vector<std::vector<double>>;

std::vector<std::uint8_t> Exact(const Channels& results) {
  const int channels = static_cast<int>(results.size());
  const std::int64_t frames = static_cast<std::int64_t>(results[0].size());
  std::vector<const double*> pointers;
  for (const auto& r : results) pointers.push_back(r.data());
  std::vector<std::uint8_t> data(3 * channels * frames);
  DitherGenerator generator;
  EncodeSamplesExact(pointers.data(), channels, frames, generator, data.data());
  return data;
}

std::vector<std::uint8_t> Fast(const Channels& results, double extraMargin = 0.0,
                               std::int64_t* exactSamples = nullptr) {
  const int channels = static_cast<int>(results.size());
  const std::int64_t frames = static_cast<std::int64_t>(results[0].size());
  std::vector<const double*> pointers;
  for (const auto& r : results) pointers.push_back(r.data());
  std::vector<std::uint8_t> data(3 * channels * frames, 0xAB);
  std::int64_t exact = EncodeSamplesFast(pointers.data(), channels, frames, data.data(), extraMargin);
  if (exactSamples != nullptr) *exactSamples = exact;
  return data;
}

Channels Random(int channels, std::int64_t frames, double amplitude, unsigned seed) {
  std::mt19937_64 random(seed);
  std::uniform_real_distribution<double> value(-amplitude, amplitude);
  Channels results(channels);
  for (auto& r : results) {
    for (std::int64_t k = 0; k < frames; ++k) r.push_back(value(random));
  }
  return results;
}

TEST(FastEncode, RandomValuesGiveTheExactBytes) {
  for (int channels : {1, 2}) {
    for (double amplitude : {0.5, 3.0, 1000.0, 8388607.0, 9000000.0, 3.0e7}) {
      SCOPED_TRACE(amplitude);
      Channels results = Random(channels, 100000, amplitude, 3);
      EXPECT_EQ(Fast(results), Exact(results));
    }
  }
}

// Each value is put within a few 2^-40 of the point where its dithered sum
// turns to the next code, on both sides, for positive and negative values
// (the negative ones go through the 2^24 offset) and at the 24-bit limits.
TEST(FastEncode, ValuesAtRoundingBoundariesGiveTheExactBytes) {
  const std::int64_t frames = 60000;
  Channels results(2, std::vector<double>(frames));
  std::mt19937_64 random(9);
  const double bases[] = {0.0, 1.0, -1.0, 1234.0, -98765.0, 8388606.0, 8388607.0,
                          -8388608.0, -8388609.0, 4194304.0, -4194304.0};
  std::vector<double> dither(2 * frames);
  FillDitherOffsets(0, 1, 2 * frames, dither.data());
  for (std::int64_t k = 0; k < frames; ++k) {
    for (int c = 0; c < 2; ++c) {
      const double base = bases[random() % std::size(bases)];
      const double nudge = static_cast<double>(static_cast<std::int64_t>(random() % 65) - 32) * 0x1p-40;
      // base + 0.5 - d puts y + d on the half-integer above base.
      results[c][k] = (base + 0.5 - dither[2 * k + c]) + nudge;
    }
  }
  std::int64_t exactSamples = 0;
  EXPECT_EQ(Fast(results, 0.0, &exactSamples), Exact(results));
  EXPECT_GT(exactSamples, frames);  // nearly all of them need the exact conversion
}

TEST(FastEncode, SpecialValuesGiveTheExactBytes) {
  const double inf = std::numeric_limits<double>::infinity();
  const double nan = std::numeric_limits<double>::quiet_NaN();
  std::vector<double> values = {0.0, -0.0, nan, inf, -inf, 1e300, -1e300, 8388607.5, -8388608.5,
                                -16777216.0, -16777215.9, 16777216.0, 0x1p-1074, -0x1p-1074,
                                std::numeric_limits<double>::max(), -5e-324, 2.5, -2.5};
  Channels results(1);
  for (int repeat = 0; repeat < 300; ++repeat) {
    for (double v : values) results[0].push_back(v);
  }
  EXPECT_EQ(Fast(results), Exact(results));
  Channels stereo = {results[0], std::vector<double>(results[0].rbegin(), results[0].rend())};
  EXPECT_EQ(Fast(stereo), Exact(stereo));
}

TEST(FastEncode, ForcedExactConversionEverywhereGivesTheSameBytes) {
  Channels results = Random(2, 20000, 5000000.0, 21);
  std::int64_t exactSamples = 0;
  EXPECT_EQ(Fast(results, 0.5, &exactSamples), Exact(results));
  EXPECT_EQ(exactSamples, 2 * 20000);
}

TEST(FastEncode, LongRecordingsSplitAcrossThreadsGiveTheExactBytes) {
  // Long enough for several tasks, with a length that is no multiple of the
  // block size.
  Channels results = Random(2, 700001, 7000000.0, 33);
  std::int64_t exactSamples = 0;
  EXPECT_EQ(Fast(results, 0.0, &exactSamples), Exact(results));
  EXPECT_LT(exactSamples, 100);
}

TEST(FastEncode, EveryVectorLevelGivesTheExactBytes) {
  Channels results = Random(2, 30001, 9000000.0, 45);
  results[0][17] = std::numeric_limits<double>::quiet_NaN();
  results[1][4000] = -std::numeric_limits<double>::infinity();
  const std::vector<std::uint8_t> exact = Exact(results);
  for (VectorLevel level : {VectorLevel::kPlain, VectorLevel::kAvx2, VectorLevel::kAvx512}) {
    LimitVectorLevel(level);
    EXPECT_EQ(Fast(results), exact) << static_cast<int>(level);
    EXPECT_EQ(Fast(results, 0.5), exact) << static_cast<int>(level);
  }
  LimitVectorLevel(VectorLevel::kAvx512);
}

TEST(DitherStream, OffsetsFollowTheOneSequentialGenerator) {
  DitherGenerator generator;
  std::vector<double> sequential;
  for (int s = 0; s < 1000; ++s) {
    const double r1 = DrawDither(generator);
    const double r2 = DrawDither(generator);
    sequential.push_back(r1 + r2 - 1.0);
  }
  for (VectorLevel level : {VectorLevel::kPlain, VectorLevel::kAvx2}) {
    LimitVectorLevel(level);
    for (int stride : {1, 2}) {
      for (int first : {0, 1, 7, 250}) {
        std::vector<double> offsets(200);
        FillDitherOffsets(static_cast<std::uint64_t>(first), stride, 200, offsets.data());
        for (int i = 0; i < 200; ++i) {
          ASSERT_EQ(offsets[i], sequential[first + i * stride]) << stride << " " << first << " " << i;
        }
      }
    }
  }
  LimitVectorLevel(VectorLevel::kAvx512);
  // Lanes placed at samples first + l x stride give their dither, and move
  // on by lanes x stride samples.
  for (int stride : {1, 2}) {
    DitherLanes lanes;
    StartDitherLanes(5, stride, 16, lanes);
    for (int lane = 0; lane < 16; ++lane) {
      ASSERT_EQ(DitherOfLane(lanes.state[lane], lanes.secondDraw), sequential[5 + lane * stride]) << lane;
      const std::uint32_t moved = ApplyJump(lanes.advance, lanes.state[lane]);
      ASSERT_EQ(DitherOfLane(moved, lanes.secondDraw), sequential[5 + (lane + 16) * stride]) << lane;
    }
  }
  SampleDither third = DitherOfSample(3);
  DitherGenerator g;
  for (int i = 0; i < 6; ++i) DrawDither(g);
  EXPECT_EQ(third.r1, DrawDither(g));
  EXPECT_EQ(third.r2, DrawDither(g));
}

}  // namespace
