// The reference procedure's output image: every value converted in order
// behind the header.
#include <gtest/gtest.h>

#include <cfloat>
#include <cmath>
#include <cstdint>
#include <limits>
#include <ostream>
#include <random>
#include <vector>

#include "reference/output_image.h"
#include "tests/wave/wave_test_support.h"
#include "wave/output_header.h"

namespace {

using wavetest::Bytes;
using wavetest::Format;
using wavetest::HeaderOf;
using wavetest::WrappingConversion;

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kInf = std::numeric_limits<double>::infinity();

// ---- the reference's output image ------------------------------------------------------

WorkingArrays Results(const std::vector<double>& left, const std::vector<double>& right = {}) {
  WorkingArrays a;
  a.resultLength = static_cast<std::int64_t>(left.size());
  Buffer<double>& first = right.empty() ? a.monoResult : a.leftResult;
  EXPECT_TRUE(first.Allocate(a.resultLength));
  for (std::size_t i = 0; i < left.size(); ++i) first[static_cast<std::int64_t>(i)] = left[i];
  if (!right.empty()) {
    EXPECT_TRUE(a.rightResult.Allocate(a.resultLength));
    for (std::size_t i = 0; i < right.size(); ++i)
      a.rightResult[static_cast<std::int64_t>(i)] = right[i];
  }
  return a;
}

Bytes ImageOf(const WaveFormat& f, WorkingArrays& a, DitherGenerator& g) {
  Buffer<std::uint8_t> image;
  EXPECT_TRUE(BuildOutputImage(f, a, g, image));
  return Bytes(image.data(), image.data() + image.size());
}

void AppendCode(Bytes& out, std::int32_t code) {
  const std::uint32_t bits = static_cast<std::uint32_t>(code);
  out.push_back(static_cast<std::uint8_t>(bits));
  out.push_back(static_cast<std::uint8_t>(bits >> 8));
  out.push_back(static_cast<std::uint8_t>(bits >> 16));
}

// Samples as the wrapping procedure writes them, held at the limits where
// the plain dithered value lies beyond them, and 0 for not-a-number.
std::int32_t ExpectedCode(double y, std::uint32_t& state) {
  std::uint32_t probe = state * 134775813u + 1u;
  const long double r1 = static_cast<long double>(probe >> 1) / 2147483648.0L;
  probe = probe * 134775813u + 1u;
  const long double r2 = static_cast<long double>(probe >> 1) / 2147483648.0L;
  if (!std::isfinite(y)) {
    state = probe;
    return std::isnan(y) ? 0 : y > 0 ? 8388607 : -8388608;
  }
  const long double v = std::nearbyint(static_cast<long double>(y) + r1 + r2 - 1.0L);
  const std::int32_t wrapped = WrappingConversion(y, state);
  return v > 8388607.0L ? 8388607 : v < -8388608.0L ? -8388608 : wrapped;
}

TEST(OutputImage, MonoOddLengthGetsItsPadByte) {
  WorkingArrays a = Results({0.0, 1000.0, -1000.0});
  DitherGenerator g;
  std::uint32_t state = g.state;
  const Bytes image = ImageOf(Format(1, 96000), a, g);
  Bytes expected = HeaderOf(Format(1, 96000), 3);
  for (double y : {0.0, 1000.0, -1000.0}) AppendCode(expected, ExpectedCode(y, state));
  expected.push_back(0);  // pad byte: the file is 8 + 46 bytes
  EXPECT_EQ(image, expected);
  EXPECT_EQ(g.state, state);
}

TEST(OutputImage, StereoFramesInterleavedLeftFirst) {
  const std::vector<double> left = {100.25, -5000.0};
  const std::vector<double> right = {8388607.9, -8388609.0};
  WorkingArrays a = Results(left, right);
  DitherGenerator g;
  std::uint32_t state = g.state;
  const Bytes written = ImageOf(Format(2, 192000), a, g);
  Bytes expected = HeaderOf(Format(2, 192000), 2);
  for (std::size_t k = 0; k < 2; ++k) {
    AppendCode(expected, ExpectedCode(left[k], state));
    AppendCode(expected, ExpectedCode(right[k], state));
  }
  EXPECT_EQ(written, expected);
  ASSERT_EQ(written.size(), 56u);  // even data: no pad byte
  // The saturated right samples.
  EXPECT_EQ(Bytes(written.begin() + 47, written.begin() + 50), (Bytes{0xFF, 0xFF, 0x7F}));
  EXPECT_EQ(Bytes(written.begin() + 53, written.begin() + 56), (Bytes{0x00, 0x00, 0x80}));
}

TEST(OutputImage, CodesPlusAndMinusOneBytes) {
  // A place in the dither sequence where two samples in a row get a dither
  // below 0.4 in size: 1.0 and -1.0 then round to exactly +1 and -1.
  DitherGenerator g;
  for (int i = 0; i < 1000000; ++i) {
    DitherGenerator probe = g;
    const long double d1 = DrawDither(probe) + static_cast<long double>(DrawDither(probe)) - 1.0L;
    const long double d2 = DrawDither(probe) + static_cast<long double>(DrawDither(probe)) - 1.0L;
    if (std::abs(d1) < 0.4L && std::abs(d2) < 0.4L) break;
    DrawDither(g);
  }
  WorkingArrays a = Results({1.0, -1.0});
  const Bytes written = ImageOf(Format(1, 96000), a, g);
  ASSERT_EQ(written.size(), 44u + 6u);
  EXPECT_EQ(Bytes(written.begin() + 44, written.end()),
            (Bytes{0x01, 0x00, 0x00, 0xFF, 0xFF, 0xFF}));
}

TEST(OutputImage, NotANumberIsWrittenAsZeroAndKeepsTheDitherAligned) {
  WorkingArrays a = Results({kNaN, 2000.0, kNaN, -kInf});
  DitherGenerator g;
  std::uint32_t state = g.state;
  const Bytes written = ImageOf(Format(1, 96000), a, g);
  Bytes expected = HeaderOf(Format(1, 96000), 4);
  for (double y : {kNaN, 2000.0, kNaN, -kInf}) AppendCode(expected, ExpectedCode(y, state));
  EXPECT_EQ(written, expected);
  EXPECT_EQ(Bytes(expected.begin() + 44, expected.begin() + 47), (Bytes{0, 0, 0}));
  EXPECT_EQ(Bytes(expected.begin() + 53, expected.begin() + 56), (Bytes{0x00, 0x00, 0x80}));
}

TEST(OutputImage, OtherChannelCountsWriteZeroSamplesWithoutDrawing) {
  WorkingArrays a;
  a.resultLength = 2;
  DitherGenerator g;
  Bytes expected = HeaderOf(Format(3, 96000), 2);
  expected.resize(44 + 18, 0);
  EXPECT_EQ(ImageOf(Format(3, 96000), a, g), expected);
  EXPECT_EQ(g.state, 0xFFFFFFFFu);
}

TEST(OutputImage, LargeStereoOutputIsBuiltWhole) {
  const std::int64_t frames = 400001;
  WorkingArrays a;
  a.resultLength = frames;
  ASSERT_TRUE(a.leftResult.Allocate(frames));
  ASSERT_TRUE(a.rightResult.Allocate(frames));
  for (std::int64_t k = 0; k < frames; ++k) {
    a.leftResult[k] = static_cast<double>(k % 20000) * 400.5 - 4000000.0;
    a.rightResult[k] = -a.leftResult[k] * 0.5;
  }
  DitherGenerator g;
  std::uint32_t state = g.state;
  const Bytes written = ImageOf(Format(2, 192000), a, g);
  ASSERT_EQ(written.size(), 44u + 6u * static_cast<std::size_t>(frames));
  EXPECT_EQ(Bytes(written.begin(), written.begin() + 44), HeaderOf(Format(2, 192000), frames));
  int mismatches = 0;
  for (std::int64_t k = 0; k < frames; ++k) {
    for (int ch = 0; ch < 2; ++ch) {
      const std::int32_t code = ExpectedCode(ch == 0 ? a.leftResult[k] : a.rightResult[k], state);
      const std::size_t at = 44 + static_cast<std::size_t>(6 * k + 3 * ch);
      const std::uint32_t bits = static_cast<std::uint32_t>(code) & 0xFFFFFFu;
      if (written[at] != (bits & 0xFF) || written[at + 1] != ((bits >> 8) & 0xFF) ||
          written[at + 2] != (bits >> 16)) {
        ++mismatches;
      }
    }
  }
  EXPECT_EQ(mismatches, 0);
}

}  // namespace
