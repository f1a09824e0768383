// The exact convolution engine against worked examples and against an
// independent gather-form computation.

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <random>
#include <vector>

#include "reference/convolution.h"
#include "reference/output_image.h"

namespace {

::testing::AssertionResult SameBits(const std::vector<double>& actual,
                                    const std::vector<double>& expected) {
  if (actual.size() != expected.size()) {
    return ::testing::AssertionFailure() << "sizes " << actual.size() << " and " << expected.size();
  }
  for (std::size_t k = 0; k < actual.size(); ++k) {
    if (std::memcmp(&actual[k], &expected[k], sizeof(double)) != 0) {
      return ::testing::AssertionFailure()
             << "element " << k << ": " << std::hexfloat << actual[k] << " is not " << expected[k];
    }
  }
  return ::testing::AssertionSuccess();
}

std::vector<double> Convolve(const std::vector<double>& h, const std::vector<std::int32_t>& x) {
  const std::size_t length = x.size() + h.size() - 1;
  std::vector<double> result(length, 0.0);
  ConvolveChannelExact(h.data(), static_cast<int>(h.size()), x.data(),
                       static_cast<std::int64_t>(x.size()), result.data());
  return result;
}

// The same convolution computed the other way round: each result element
// gathers its terms, added one by one in ascending input index from 0, each
// addition at extended precision and stored as a double.
std::vector<double> GatherReference(const std::vector<double>& h,
                                    const std::vector<std::int32_t>& x) {
  const long n = static_cast<long>(x.size());
  const long m = static_cast<long>(h.size());
  std::vector<double> out;
  for (long k = 0; k < n + m - 1; ++k) {
    double element = 0.0;
    const long first = k - m + 1 > 0 ? k - m + 1 : 0;
    const long last = k < n - 1 ? k : n - 1;
    for (long i = first; i <= last; ++i) {
      long double term = h[static_cast<std::size_t>(k - i)];
      term *= x[static_cast<std::size_t>(i)];
      long double total = element;
      total = term + total;
      element = static_cast<double>(total);
    }
    out.push_back(element);
  }
  return out;
}

TEST(ConvolutionExact, WorkedExample) {
  EXPECT_TRUE(SameBits(Convolve({0.5, 0.25}, {1, 2, 3}), {0.5, 1.25, 2.0, 0.75}));
}

TEST(ConvolutionExact, IdentityImpulseReproducesTheInput) {
  const std::vector<std::int32_t> x = {8388607, -8388608, 0, 1, -1, 4194304, 12345};
  std::vector<double> h(20, 0.0);
  h[0] = 1.0;
  std::vector<double> expected(x.begin(), x.end());
  expected.resize(x.size() + 19, 0.0);
  EXPECT_TRUE(SameBits(Convolve(h, x), expected));
}

TEST(ConvolutionExact, DelayImpulseShiftsTheInput) {
  const std::vector<std::int32_t> x = {5, -6, 7, 8388607};
  for (std::size_t delay = 0; delay < 15; ++delay) {
    SCOPED_TRACE(delay);
    std::vector<double> h(15, 0.0);
    h[delay] = 1.0;
    std::vector<double> expected(x.size() + 14, 0.0);
    for (std::size_t i = 0; i < x.size(); ++i) expected[i + delay] = x[i];
    EXPECT_TRUE(SameBits(Convolve(h, x), expected));
  }
}

TEST(ConvolutionExact, NoSamplesMakesNoUpdate) {
  const std::vector<double> h = {0.5, 0.25, 0.125};
  std::vector<double> result = {1.5, -2.5};  // whatever is there stays
  ConvolveChannelExact(h.data(), 3, nullptr, 0, result.data());
  EXPECT_TRUE(SameBits(result, {1.5, -2.5}));
  ConvolveChannelExact(h.data(), 3, nullptr, -4, result.data());
  EXPECT_TRUE(SameBits(result, {1.5, -2.5}));
}

TEST(ConvolutionExact, SingleCoefficientScalesEachSample) {
  const std::vector<std::int32_t> x = {3, -8388608, 8388607, 0, 1000};
  const std::vector<double> result = Convolve({0.1}, x);
  ASSERT_EQ(result.size(), x.size());
  for (std::size_t i = 0; i < x.size(); ++i) {
    // One product at extended precision, then rounded to double.
    EXPECT_EQ(result[i], static_cast<double>(static_cast<long double>(0.1) * x[i])) << i;
  }
}

TEST(ConvolutionExact, LoudValuesAreNotLimited) {
  const std::vector<double> h(31, 1.0);
  const std::vector<std::int32_t> x(40, 8388607);
  const std::vector<double> result = Convolve(h, x);
  EXPECT_EQ(result[30], 31.0 * 8388607.0);
  const std::vector<double> low = Convolve(h, std::vector<std::int32_t>(40, -8388608));
  EXPECT_EQ(low[35], -31.0 * 8388608.0);
}

TEST(ConvolutionExact, ExtendedSumIsRoundedOnceMoreToDouble) {
  // result[1] gets 32 * 2^22 = 2^27 first, then h[0] * 1 = 2^-26 + 2^-53.
  // Exactly, 2^27 + 2^-26 + 2^-53 lies just above halfway between the doubles
  // 2^27 and 2^27 + 2^-25. At extended precision the 2^-53 falls off (its
  // unit there is 2^-36), leaving exactly halfway; the store to double then
  // breaks the tie to the even 2^27. Double arithmetic or a fused
  // multiply-add would give 2^27 + 2^-25 instead.
  const double h0 = std::ldexp(1.0, -26) + std::ldexp(1.0, -53);
  const std::vector<double> h = {h0, 32.0};
  const std::vector<std::int32_t> x = {4194304, 1};
  const std::vector<double> result = Convolve(h, x);
  const double twoTo27 = std::ldexp(1.0, 27);
  EXPECT_EQ(result[1], twoTo27);
  EXPECT_EQ(std::fma(h0, 1.0, twoTo27), twoTo27 + std::ldexp(1.0, -25));
  volatile double product = h0 * 1.0;
  EXPECT_EQ(product + twoTo27, twoTo27 + std::ldexp(1.0, -25));
  EXPECT_TRUE(SameBits(result, {h0 * 4194304.0, twoTo27, 32.0}));
}

TEST(ConvolutionExact, ExtendedProductIsRoundedBeforeTheSum) {
  // result[1] holds 8388607 when h0 * -8388607 is added. Exactly, that
  // product is -(8388607 + 2^-29 - 2^-52), 75 bits long; at extended
  // precision it keeps 64 bits and becomes -(8388607 + 2^-29), so the sum is
  // -2^-29. A fused multiply-add would keep the 2^-52.
  const double h0 = 1.0 + std::ldexp(1.0, -52);
  const std::vector<double> result = Convolve({h0, 1.0}, {8388607, -8388607});
  EXPECT_EQ(result[1], -std::ldexp(1.0, -29));
  EXPECT_EQ(std::fma(h0, -8388607.0, 8388607.0), -std::ldexp(1.0, -29) + std::ldexp(1.0, -52));
}

std::vector<double> RandomImpulse(std::mt19937_64& random, int m) {
  std::uniform_real_distribution<double> coefficient(-1.0, 1.0);
  std::vector<double> h(static_cast<std::size_t>(m));
  for (double& v : h) v = coefficient(random);
  return h;
}

std::vector<std::int32_t> RandomSamples(std::mt19937_64& random, std::size_t n) {
  std::uniform_int_distribution<std::int32_t> sample(-8388608, 8388607);
  std::vector<std::int32_t> x(n);
  for (std::int32_t& v : x) v = sample(random);
  return x;
}

TEST(ConvolutionExact, MatchesTheGatherFormOnRandomData) {
  std::mt19937_64 random(20240611);
  for (const int m : {1, 2, 15, 17, 19, 20, 31}) {
    SCOPED_TRACE(m);
    const std::vector<double> h = RandomImpulse(random, m);
    const std::vector<std::int32_t> x = RandomSamples(random, 4000);
    EXPECT_TRUE(SameBits(Convolve(h, x), GatherReference(h, x)));
  }
}

TEST(ConvolutionExact, MatchesTheGatherFormWhenTheInputIsShorterThanTheImpulse) {
  std::mt19937_64 random(7);
  for (const std::size_t n : {1u, 2u, 5u, 30u}) {
    SCOPED_TRACE(n);
    const std::vector<double> h = RandomImpulse(random, 31);
    const std::vector<std::int32_t> x = RandomSamples(random, n);
    EXPECT_TRUE(SameBits(Convolve(h, x), GatherReference(h, x)));
  }
}

TEST(ConvolutionExact, RandomDataDiffersFromPlainDoubleArithmetic) {
  // Guards the comparison above: the data is such that double arithmetic
  // would not pass it.
  std::mt19937_64 random(99);
  const std::vector<double> h = RandomImpulse(random, 31);
  const std::vector<std::int32_t> x = RandomSamples(random, 4000);
  const std::vector<double> exact = Convolve(h, x);
  std::vector<double> plain(x.size() + h.size() - 1, 0.0);
  for (std::size_t i = 0; i < x.size(); ++i) {
    for (std::size_t j = 0; j < h.size(); ++j) {
      volatile double product = h[j] * static_cast<double>(x[i]);
      plain[i + j] = product + plain[i + j];
    }
  }
  std::size_t differing = 0;
  for (std::size_t k = 0; k < exact.size(); ++k) differing += exact[k] != plain[k];
  EXPECT_GT(differing, 0u);
}

// ---------------------------------------------------------------------------
// The reference procedure's convolution step

struct Job {
  WaveFormat format;
  WorkingArrays arrays;
};

void FillJob(Job& job, int channels, const std::vector<double>& h,
             const std::vector<std::int32_t>& left, const std::vector<std::int32_t>& right) {
  const std::int64_t n = static_cast<std::int64_t>(left.size());
  const std::int64_t m = static_cast<std::int64_t>(h.size());
  job.format.channelCount = static_cast<std::uint16_t>(channels);
  job.format.sampleCount = n;
  job.arrays.resultLength = n + m - 1;
  ASSERT_TRUE(job.arrays.impulseResponse.Allocate(m));
  for (std::int64_t j = 0; j < m; ++j)
    job.arrays.impulseResponse[j] = h[static_cast<std::size_t>(j)];
  auto fill = [&](Buffer<std::int32_t>& input, Buffer<double>& result,
                  const std::vector<std::int32_t>& samples) {
    ASSERT_TRUE(input.Allocate(n));
    ASSERT_TRUE(result.Allocate(n + m - 1));
    for (std::int64_t i = 0; i < n; ++i) input[i] = samples[static_cast<std::size_t>(i)];
  };
  if (channels == 1) {
    fill(job.arrays.monoInput, job.arrays.monoResult, left);
  } else {
    fill(job.arrays.leftInput, job.arrays.leftResult, left);
    fill(job.arrays.rightInput, job.arrays.rightResult, right);
  }
}

std::vector<double> Contents(const Buffer<double>& buffer) {
  return std::vector<double>(buffer.data(), buffer.data() + buffer.size());
}

TEST(ConvolveChannels, MonoFillsTheResultAndReleasesInputAndImpulse) {
  Job job;
  FillJob(job, 1, {0.5, 0.25}, {1, 2, 3}, {});
  ConvolveChannels(job.format, 2, job.arrays);
  EXPECT_TRUE(SameBits(Contents(job.arrays.monoResult), {0.5, 1.25, 2.0, 0.75}));
  EXPECT_EQ(job.arrays.monoInput.data(), nullptr);
  EXPECT_EQ(job.arrays.monoInput.size(), 0);
  EXPECT_EQ(job.arrays.impulseResponse.data(), nullptr);
}

TEST(ConvolveChannels, StereoChannelsAreEachTheirOwnConvolution) {
  std::mt19937_64 random(31);
  const std::vector<double> h = RandomImpulse(random, 20);
  const std::vector<std::int32_t> left = RandomSamples(random, 1000);
  const std::vector<std::int32_t> right = RandomSamples(random, 1000);
  Job job;
  FillJob(job, 2, h, left, right);
  ConvolveChannels(job.format, 20, job.arrays);
  // Compare what the writer makes of the values.
  std::vector<double> exactLeft = GatherReference(h, left);
  std::vector<double> exactRight = GatherReference(h, right);
  const double* exact[2] = {exactLeft.data(), exactRight.data()};
  const double* job2[2] = {job.arrays.leftResult.data(), job.arrays.rightResult.data()};
  std::vector<std::uint8_t> exactBytes(1019 * 6), jobBytes(1019 * 6);
  DitherGenerator first, second;
  EncodeSamplesExact(exact, 2, 1019, first, exactBytes.data());
  EncodeSamplesExact(job2, 2, 1019, second, jobBytes.data());
  EXPECT_EQ(exactBytes, jobBytes);
  EXPECT_EQ(job.arrays.leftInput.data(), nullptr);
  EXPECT_EQ(job.arrays.rightInput.data(), nullptr);
  EXPECT_EQ(job.arrays.impulseResponse.data(), nullptr);
  EXPECT_EQ(job.arrays.leftResult.size(), 1019);
}

TEST(ConvolveChannels, EmptyRecordingLeavesTheDecayFramesZero) {
  Job job;
  FillJob(job, 2, {1.0, 2.0, 3.0}, {}, {});
  ConvolveChannels(job.format, 3, job.arrays);
  EXPECT_TRUE(SameBits(Contents(job.arrays.leftResult), {0.0, 0.0}));
  EXPECT_TRUE(SameBits(Contents(job.arrays.rightResult), {0.0, 0.0}));
  EXPECT_EQ(job.arrays.impulseResponse.data(), nullptr);
}

TEST(ConvolveChannels, OtherChannelCountsDoNothing) {
  Job job;
  FillJob(job, 1, {1.0}, {5, 6}, {});
  job.format.channelCount = 3;
  ConvolveChannels(job.format, 1, job.arrays);
  EXPECT_TRUE(SameBits(Contents(job.arrays.monoResult), {0.0, 0.0}));
  EXPECT_NE(job.arrays.monoInput.data(), nullptr);
  EXPECT_NE(job.arrays.impulseResponse.data(), nullptr);
}

TEST(ConvolveChannels, NeverWritesPastArraysThatAreTooShort) {
  // A result array one frame short of N + M - 1: only the frames whose
  // contributions fit are convolved, nothing is written past the end.
  Job job;
  FillJob(job, 1, {1.0, 1.0}, {1, 2, 3}, {});
  job.arrays.monoResult.Release();
  ASSERT_TRUE(job.arrays.monoResult.Allocate(3));
  ConvolveChannels(job.format, 2, job.arrays);
  EXPECT_TRUE(SameBits(Contents(job.arrays.monoResult), {1.0, 3.0, 2.0}));
}

}  // namespace
