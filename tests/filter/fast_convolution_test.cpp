// The fast engine against the exact one: what counts is the output code of
// every sample, through the writer's exact conversion with the real dither.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <limits>
#include <numbers>
#include <random>
#include <string>
#include <vector>

#include "filter/convolution.h"
#include "filter/fast_convolution.h"
#include "filter/impulse_file.h"
#include "wave/dither_stream.h"
#include "system/vector_level.h"
#include "wave/writer.h"
#include "tests/filter/pass_test_support.h"

namespace {

using passtest::ShippedFilter;
using Channels = std::vector<std::vector<std::int32_t>>;

std::vector<std::vector<double>> ExactResults(const std::vector<double>& h, const Channels& x) {
  std::vector<std::vector<double>> results;
  for (const auto& channel : x) {
    std::vector<double> r(channel.size() + h.size() - 1, 0.0);
    ConvolveChannelExact(h.data(), static_cast<int>(h.size()), channel.data(),
                         static_cast<std::int64_t>(channel.size()), r.data());
    results.push_back(std::move(r));
  }
  return results;
}

std::vector<std::vector<double>> FastResults(const std::vector<double>& h, const Channels& x,
                                             double extraMargin, int threads,
                                             std::int64_t* exactSamples = nullptr) {
  std::vector<std::vector<double>> results;
  const int count = static_cast<int>(x.size());
  for (int c = 0; c < count; ++c) {
    std::vector<double> r(x[c].size() + h.size() - 1, -12345.0);  // every element must be written
    FastConvolutionReport report =
        ConvolveChannelFast(h.data(), static_cast<int>(h.size()), x[c].data(),
                            static_cast<std::int64_t>(x[c].size()), r.data(), c, count,
                            extraMargin, threads);
    if (exactSamples != nullptr) *exactSamples += report.exactSamples;
    results.push_back(std::move(r));
  }
  return results;
}

// The codes the writer gives, frame by frame, channels interleaved, from the
// generator's start state.
std::vector<std::int32_t> Codes(const std::vector<std::vector<double>>& results) {
  DitherGenerator generator;
  std::vector<std::int32_t> codes;
  for (std::size_t k = 0; k < results[0].size(); ++k) {
    for (const auto& channel : results) codes.push_back(ConvertSample(channel[k], generator));
  }
  return codes;
}

void ExpectSameCodes(const std::vector<double>& h, const Channels& x, int threads = 0) {
  std::vector<std::int32_t> exact = Codes(ExactResults(h, x));
  std::vector<std::int32_t> fast = Codes(FastResults(h, x, 0.0, threads));
  ASSERT_EQ(exact.size(), fast.size());
  std::int64_t differing = 0;
  std::int64_t first = -1;
  for (std::size_t i = 0; i < exact.size(); ++i) {
    if (exact[i] != fast[i]) {
      if (first < 0) first = static_cast<std::int64_t>(i);
      ++differing;
    }
  }
  EXPECT_EQ(differing, 0) << "first differing sample " << first;
}

Channels RandomSignal(int channels, std::int64_t frames, std::int32_t amplitude, unsigned seed) {
  std::mt19937 random(seed);
  std::uniform_int_distribution<std::int32_t> sample(-amplitude, amplitude - 1);
  Channels x(channels);
  for (auto& channel : x) {
    for (std::int64_t i = 0; i < frames; ++i) channel.push_back(sample(random));
  }
  return x;
}


// A chord of four tones with their own levels in each channel: music-like
// content at a realistic level.
Channels Chord(int channels, std::int64_t frames, int rate) {
  const double tones[] = {220.0, 277.18, 329.63, 440.0};
  Channels x(channels);
  for (int c = 0; c < channels; ++c) {
    for (std::int64_t i = 0; i < frames; ++i) {
      double t = static_cast<double>(i) / rate;
      double v = 0;
      for (int n = 0; n < 4; ++n) v += std::sin(2 * std::numbers::pi * tones[n] * (1 + 0.001 * c) * t) / (n + 1);
      x[c].push_back(static_cast<std::int32_t>(std::lround(v * 3.5e6)));
    }
  }
  return x;
}

TEST(FastConvolution, ShippedFiltersOnRandomStereoGiveTheExactCodes) {
  for (char letter : {'A', 'B', 'C', 'D', 'E', 'F'}) {
    SCOPED_TRACE(letter);
    ExpectSameCodes(ShippedFilter(letter), RandomSignal(2, 60000, 8388608, 7));
  }
}

TEST(FastConvolution, CoefficientsOfVeryDifferentMagnitudes) {
  std::vector<double> h = {1e-12, 0.75, -3e-7, 1e-3, 0.25, 5e-16, -0.125, 2e-9, 1.0 / 3.0};
  ExpectSameCodes(h, RandomSignal(1, 50000, 8388608, 11));
  ExpectSameCodes(h, RandomSignal(2, 50000, 1000, 12));
}

TEST(FastConvolution, LargeCoefficientsDriveValuesBeyondTheLimits) {
  std::vector<double> h = {3.0, -2.5, 1.75, 0.5, -4.0};
  ExpectSameCodes(h, RandomSignal(2, 40000, 8388608, 13));
  // Full scale square wave: every value saturates on one side or the other.
  Channels x(1);
  for (int i = 0; i < 10000; ++i) x[0].push_back((i / 7) % 2 ? 8388607 : -8388608);
  ExpectSameCodes({1.5, 0.5}, x);
}

TEST(FastConvolution, SilenceAndFullScale) {
  ExpectSameCodes({0.5, 0.25, 0.125}, Channels{std::vector<std::int32_t>(30000, 0)});
  ExpectSameCodes({1.0}, Channels{std::vector<std::int32_t>(30000, 8388607),
                                  std::vector<std::int32_t>(30000, -8388608)});
}

// Inputs chosen, with the dither of each position known, so that y + d lands
// within about 2^-24 of a half-integer, with a third tap whose products round
// differently in the two engines: the codes depend on the last bits of y, and
// the fast engine must fall back to the exact value there.
TEST(FastConvolution, ValuesPlacedAtRoundingBoundaries) {
  const double c = 0.1 * 0x1p-29;
  const std::vector<double> h = {1.0, 0x1p-23, c};
  const std::int64_t frames = 20000;
  const std::vector<std::int32_t> x = passtest::SamplesAtRoundingBoundaries(frames, c);
  // Every other sample's integer part comes from the sample itself, so keep
  // x as chosen: the values reach the whole 24-bit range.
  Channels signal{x};
  std::int64_t exactSamples = 0;
  std::vector<std::vector<double>> exactValues = ExactResults(h, signal);
  std::vector<std::vector<double>> fastValues = FastResults(h, signal, 0.0, 1, &exactSamples);
  EXPECT_EQ(Codes(exactValues), Codes(fastValues));
  // A good share of these samples sits inside the safety margin.
  EXPECT_GT(exactSamples, frames / 10);
}

// The fast values are not the exact values (another order of summation, fused
// products): only the codes are the same.
TEST(FastConvolution, FastValuesDifferWhileCodesAgree) {
  std::vector<double> h = ShippedFilter('E');
  Channels x = RandomSignal(1, 100000, 8388608, 31);
  std::vector<std::vector<double>> exactValues = ExactResults(h, x);
  std::vector<std::vector<double>> fastValues = FastResults(h, x, 0.0, 1);
  std::int64_t differentValues = 0;
  for (std::size_t k = 0; k < exactValues[0].size(); ++k) {
    differentValues += exactValues[0][k] != fastValues[0][k];
  }
  EXPECT_GT(differentValues, 1000);
  EXPECT_EQ(Codes(exactValues), Codes(fastValues));
}

TEST(FastConvolution, ForcedExactEverywhereGivesTheSameCodes) {
  std::vector<double> h = ShippedFilter('E');
  Channels x = RandomSignal(2, 20000, 2000000, 17);  // no value saturates
  std::int64_t exactSamples = 0;
  std::vector<std::vector<double>> forced = FastResults(h, x, 0.5, 0, &exactSamples);
  EXPECT_EQ(exactSamples, 2 * (20000 + 19));
  // With every element exact the values themselves are the exact engine's.
  EXPECT_EQ(forced, ExactResults(h, x));
  EXPECT_EQ(Codes(forced), Codes(FastResults(h, x, 0.0, 0)));
}

TEST(FastConvolution, ResultsDoNotDependOnTheThreads) {
  std::vector<double> h = ShippedFilter('F');
  Channels x = RandomSignal(1, 300000, 8388608, 19);
  std::vector<std::vector<double>> one = FastResults(h, x, 0.0, 1);
  for (int threads : {2, 3, 8}) EXPECT_EQ(FastResults(h, x, 0.0, threads), one) << threads;
}

TEST(FastConvolution, ShortSignalsAndEdges) {
  std::vector<double> h = ShippedFilter('F');  // 31 taps: longer than the signals
  for (std::int64_t frames : {0, 1, 2, 17, 30, 31, 32, 100}) {
    SCOPED_TRACE(frames);
    ExpectSameCodes(h, RandomSignal(2, frames, 8388608, 23));
  }
}

TEST(FastConvolution, NonFiniteCoefficientsFallBackToTheExactEngine) {
  const double inf = std::numeric_limits<double>::infinity();
  for (std::vector<double> h : {std::vector<double>{0.5, inf, 0.25},
                                std::vector<double>{std::nan(""), 1.0}, std::vector<double>{1e300, 1.0}}) {
    Channels x = RandomSignal(1, 1000, 1000, 29);
    std::vector<double> r(x[0].size() + h.size() - 1);
    FastConvolutionReport report =
        ConvolveChannelFast(h.data(), static_cast<int>(h.size()), x[0].data(), 1000, r.data(), 0, 1);
    EXPECT_FALSE(report.applied);
    EXPECT_EQ(Codes({r}), Codes(ExactResults(h, x)));
  }
}

TEST(FastConvolution, FallbackIsRareOnMusic) {
  std::vector<double> h = ShippedFilter('E');
  Channels x = Chord(2, 192000, 192000);  // one second of stereo
  std::int64_t exactSamples = 0;
  std::vector<std::vector<double>> fast = FastResults(h, x, 0.0, 0, &exactSamples);
  EXPECT_EQ(Codes(fast), Codes(ExactResults(h, x)));
  // The margin is a few 1e-7 of a step: a handful of samples per million.
  std::printf("exact fallback on one second of a stereo chord: %lld of %lld samples\n",
              static_cast<long long>(exactSamples), static_cast<long long>(2 * (192000 + 19)));
  EXPECT_LT(exactSamples, 20);
}

// Every vector path gives the exact codes: the plain one that runs on any
// x86-64 processor, AVX2 and AVX-512 (those the processor has).
TEST(FastConvolution, EveryVectorLevelGivesTheExactCodes) {
  for (VectorLevel level : {VectorLevel::kPlain, VectorLevel::kAvx2, VectorLevel::kAvx512}) {
    SCOPED_TRACE(static_cast<int>(level));
    LimitVectorLevel(level);
    ExpectSameCodes(ShippedFilter('F'), RandomSignal(2, 30011, 8388608, 41));
    ExpectSameCodes({3.0, -2.5, 1.75, 0.5, -4.0}, RandomSignal(1, 5003, 8388608, 43));
    ExpectSameCodes(ShippedFilter('D'), RandomSignal(1, 7, 8388608, 47));
  }
  LimitVectorLevel(VectorLevel::kAvx512);
}

}  // namespace
