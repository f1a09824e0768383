#include <gtest/gtest.h>

#include <cfloat>
#include <cerrno>
#include <cmath>
#include <cstdint>
#include <ostream>
#include <limits>
#include <random>
#include <vector>

#include "console/headless.h"
#include "wave/writer.h"
#include "wave_test_support.h"

namespace {

using wavetest::Bytes;

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kInf = std::numeric_limits<double>::infinity();

// ---- the dither generator -----------------------------------------------------

TEST(DrawDither, FirstDrawsFromTheStartState) {
  DitherGenerator g;
  EXPECT_EQ(g.state, 0xFFFFFFFFu);
  // FFFFFFFF * 134775813 + 1 = -134775813 + 1 = 2^32 - 134775812 = F7F77BFC
  EXPECT_EQ(DrawDither(g), 2080095742.0 / 2147483648.0);  // F7F77BFC >> 1
  EXPECT_EQ(g.state, 0xF7F77BFCu);
  // F7F77BFC * 134775813 + 1 mod 2^32 = 33A35BED
  EXPECT_EQ(DrawDither(g), 433171958.0 / 2147483648.0);  // 33A35BED >> 1
  EXPECT_EQ(g.state, 0x33A35BEDu);
  EXPECT_EQ(DrawDither(g), 1115652049.0 / 2147483648.0);  // 84FEFFA2 >> 1
}

TEST(DrawDither, LongSequenceMatchesWideArithmetic) {
  DitherGenerator g;
  std::uint64_t state = 0xFFFFFFFFull;
  for (int i = 0; i < 100000; ++i) {
    state = (state * 134775813ull + 1ull) % 4294967296ull;
    const double expected = std::ldexp(static_cast<double>(state / 2), -31);
    const double drawn = DrawDither(g);
    ASSERT_EQ(drawn, expected) << "draw " << i;
    ASSERT_GE(drawn, 0.0);
    ASSERT_LT(drawn, 1.0);
  }
  EXPECT_EQ(g.state, static_cast<std::uint32_t>(state));
}

// ---- conversion -----------------------------------------------------------------

// The conversion with wrap-around, step by step, with its own generator: what
// every in-range value must still give.
std::int32_t WrappingConversion(double y, std::uint32_t& state) {
  state = state * 134775813u + 1u;
  const long double r1 = static_cast<long double>(state >> 1) / 2147483648.0L;
  state = state * 134775813u + 1u;
  const long double r2 = static_cast<long double>(state >> 1) / 2147483648.0L;
  if (y < 0) y = static_cast<double>(static_cast<long double>(y) + 16777216.0L);
  long double v = r1 + static_cast<long double>(y);
  v = v + r2;
  v = v - 1.0L;
  const long long whole = std::llrint(v);
  const std::uint32_t low = static_cast<std::uint32_t>(whole) & 0xFFFFFFu;
  return low >= 0x800000u ? static_cast<std::int32_t>(low) - 16777216 : static_cast<std::int32_t>(low);
}

// A generator placed where its next two draws give a dither r1 + r2 - 1 in
// [lo, hi].
struct PlacedDither {
  DitherGenerator generator;
  long double dither = 0;
};

PlacedDither DitherBetween(long double lo, long double hi) {
  DitherGenerator g;
  for (int i = 0; i < 10000000; ++i) {
    DitherGenerator probe = g;
    const long double r1 = DrawDither(probe);
    const long double r2 = DrawDither(probe);
    const long double d = r1 + r2 - 1.0L;
    if (d >= lo && d <= hi) return PlacedDither{g, d};
    DrawDither(g);
  }
  ADD_FAILURE() << "no dither in range";
  return PlacedDither{};
}

struct ConvertCase {
  const char* label;
  double y;
  long double ditherLow, ditherHigh;
  std::int32_t code;
};

void PrintTo(const ConvertCase& c, std::ostream* os) { *os << c.label; }

class ConvertSampleTest : public ::testing::TestWithParam<ConvertCase> {};

TEST_P(ConvertSampleTest, GivesCode) {
  const ConvertCase& c = GetParam();
  PlacedDither placed = DitherBetween(c.ditherLow, c.ditherHigh);
  DitherGenerator after = placed.generator;
  DrawDither(after);
  DrawDither(after);
  EXPECT_EQ(ConvertSample(c.y, placed.generator), c.code) << c.label << ", dither " << placed.dither;
  EXPECT_EQ(placed.generator.state, after.state) << "two draws per sample";
}

INSTANTIATE_TEST_SUITE_P(
    Examples, ConvertSampleTest,
    ::testing::Values(
        ConvertCase{"-0.2 with dither near +0.9", -0.2, 0.75L, 0.95L, 1},
        ConvertCase{"silence, small dither", 0.0, -0.45L, 0.45L, 0},
        ConvertCase{"silence, dither up", 0.0, 0.55L, 0.95L, 1},
        ConvertCase{"silence, dither down", 0.0, -0.95L, -0.55L, -1},
        ConvertCase{"minus one", -1.0, -0.45L, 0.45L, -1},
        ConvertCase{"1000.3", 1000.3, -0.15L, 0.15L, 1000},
        ConvertCase{"-1000.3", -1000.3, -0.15L, 0.15L, -1000},
        // The top of the range.
        ConvertCase{"8388606 dithered up stays in range", 8388606.0, 0.55L, 0.95L, 8388607},
        ConvertCase{"8388607 kept", 8388607.0, -0.45L, 0.45L, 8388607},
        ConvertCase{"8388607 dithered over saturates", 8388607.0, 0.55L, 0.95L, 8388607},
        ConvertCase{"8388607.6 saturates", 8388607.6, -0.05L, 0.05L, 8388607},
        ConvertCase{"2^24 saturates", 16777216.0, -0.45L, 0.45L, 8388607},
        // The bottom of the range.
        ConvertCase{"-8388607 dithered down stays in range", -8388607.0, -0.95L, -0.55L, -8388608},
        ConvertCase{"-8388608 kept", -8388608.0, -0.45L, 0.45L, -8388608},
        ConvertCase{"-8388608 dithered under saturates", -8388608.0, -0.95L, -0.55L, -8388608},
        ConvertCase{"-8388608.7 saturates", -8388608.7, -0.05L, 0.05L, -8388608},
        ConvertCase{"-2^24 saturates", -16777216.0, -0.45L, 0.45L, -8388608},
        ConvertCase{"-2^24 - 1 saturates", -16777217.0, -0.45L, 0.45L, -8388608},
        // Beyond any integer type, and not finite.
        ConvertCase{"1e19", 1e19, -1.0L, 1.0L, 8388607},
        ConvertCase{"-1e19", -1e19, -1.0L, 1.0L, -8388608},
        ConvertCase{"1e300", 1e300, -1.0L, 1.0L, 8388607},
        ConvertCase{"-DBL_MAX", -DBL_MAX, -1.0L, 1.0L, -8388608},
        ConvertCase{"+inf", kInf, -1.0L, 1.0L, 8388607},
        ConvertCase{"-inf", -kInf, -1.0L, 1.0L, -8388608},
        ConvertCase{"NaN", kNaN, -1.0L, 1.0L, 0},
        ConvertCase{"negative zero", -0.0, -0.45L, 0.45L, 0},
        ConvertCase{"tiny negative raised to 2^24", -1e-300, -0.45L, 0.45L, 0}));

TEST(ConvertSample, WrappingWouldHaveGivenTheOppositeSign) {
  // The two boundary cases above, as a wrapping conversion writes them.
  PlacedDither up = DitherBetween(-0.05L, 0.05L);
  std::uint32_t state = up.generator.state;
  EXPECT_EQ(WrappingConversion(8388607.6, state), -8388608);
  EXPECT_EQ(ConvertSample(8388607.6, up.generator), 8388607);
  PlacedDither down = DitherBetween(-0.95L, -0.55L);
  state = down.generator.state;
  EXPECT_EQ(WrappingConversion(-8388608.0, state), 8388607);
  EXPECT_EQ(ConvertSample(-8388608.0, down.generator), -8388608);
}

TEST(ConvertSample, HalfwayValuesRoundToEven) {
  struct Tie {
    long double at;
    std::int32_t code;
  };
  for (const Tie& tie : {Tie{0.5L, 0}, Tie{1.5L, 2}, Tie{2.5L, 2}, Tie{3.5L, 4}, Tie{1024.5L, 1024},
                         Tie{1025.5L, 1026}}) {
    // y chosen so that y + r1 + r2 - 1 is exactly the half-way value.
    PlacedDither placed = DitherBetween(-0.9L, 0.4L);
    const double y = static_cast<double>(tie.at - placed.dither);
    ASSERT_EQ(static_cast<long double>(y), tie.at - placed.dither) << "y must be exact";
    EXPECT_EQ(ConvertSample(y, placed.generator), tie.code) << static_cast<double>(tie.at);
  }
}

TEST(ConvertSample, NegativeValueIsRaisedAtExtendedPrecisionThenStored) {
  // y + 2^24 is formed with a 64-bit significand and then rounded to a 64-bit
  // float: two roundings. For y = -(m + 2^-30 + 2^-45) the first gives the
  // exact midpoint 2^24 - m - 2^-30 between two floats and the second goes to
  // the even one, 2^24 - m; a single rounding would give 2^24 - m - 2^-29.
  // With m chosen so that 2^24 - m + dither = 2^24 + 0.5 + r, 0 < r < 2^-29,
  // the first gives the code +1 and the second would give 0.
  DitherGenerator g;
  for (int i = 0; i < 100000; ++i) {
    DitherGenerator probe = g;
    const long double d = DrawDither(probe) + static_cast<long double>(DrawDither(probe)) - 1.0L;
    const long double r = d - std::floor(std::ldexp(d, 28)) * 0x1p-28L;  // d mod 2^-28
    if (d >= 0.5L && r > 0 && r < 0x1p-29L) {
      const long double m = d - 0.5L - r;
      const double y = static_cast<double>(-(m + 0x1p-30L + 0x1p-45L));
      ASSERT_EQ(static_cast<long double>(y), -(m + 0x1p-30L + 0x1p-45L));
      EXPECT_EQ(ConvertSample(y, g), 1) << "dither " << static_cast<double>(d);
      return;
    }
    DrawDither(g);
  }
  ADD_FAILURE() << "no suitable dither found";
}

TEST(ConvertSample, InRangeValuesKeepTheWrappingProceduresCodes) {
  DitherGenerator g;
  std::uint32_t state = g.state;
  std::mt19937_64 random(12345);
  std::uniform_real_distribution<double> wide(-8388606.0, 8388606.0);
  std::uniform_real_distribution<double> narrow(-3.0, 3.0);
  std::uniform_int_distribution<int> tinyExponent(-1070, -20);
  int mismatches = 0;
  for (int i = 0; i < 200000; ++i) {
    double y;
    switch (i % 4) {
      case 0: y = wide(random); break;
      case 1: y = narrow(random); break;
      case 2: y = std::ldexp(narrow(random), tinyExponent(random)); break;
      default: y = std::round(wide(random)) + 0.5; break;
    }
    const std::int32_t expected = WrappingConversion(y, state);
    if (ConvertSample(y, g) != expected) ++mismatches;
  }
  EXPECT_EQ(mismatches, 0);
  EXPECT_EQ(g.state, state);
}

TEST(ConvertSample, SilenceTakesTheThreeCodesOnly) {
  DitherGenerator g;
  int counts[3] = {0, 0, 0};
  for (int i = 0; i < 80000; ++i) {
    const std::int32_t code = ConvertSample(0.0, g);
    ASSERT_GE(code, -1);
    ASSERT_LE(code, 1);
    ++counts[code + 1];
  }
  // 1/8, 3/4, 1/8 of 80000, within a generous margin.
  EXPECT_NEAR(counts[0], 10000, 600);
  EXPECT_NEAR(counts[1], 60000, 1200);
  EXPECT_NEAR(counts[2], 10000, 600);
}

// ---- the output header --------------------------------------------------------------

WaveFormat Format(int channels, int rate) {
  WaveFormat f;
  f.formatTag = 1;
  f.channelCount = static_cast<std::uint16_t>(channels);
  f.sampleRate = rate;
  f.byteRate = rate * 3 * channels;
  f.blockAlign = static_cast<std::int16_t>(3 * channels);
  f.bitsPerSample = 24;
  return f;
}

Bytes HeaderOf(const WaveFormat& f, std::int64_t frames, std::int64_t trailingBytes = 0) {
  const OutputHeader header = BuildOutputHeader(f, frames, trailingBytes);
  return Bytes(header.bytes, header.bytes + header.size);
}

const Bytes kMonoOddHeader = {
    'R', 'I', 'F', 'F', 0x2E, 0x00, 0x00, 0x00,  // 9 + 36 = 45, odd: 46
    'W', 'A', 'V', 'E', 'f', 'm', 't', ' ', 0x10, 0x00, 0x00, 0x00,
    0x01, 0x00, 0x01, 0x00,                       // PCM, 1 channel
    0x00, 0x77, 0x01, 0x00,                       // 96000
    0x00, 0x65, 0x04, 0x00,                       // 288000
    0x03, 0x00, 0x18, 0x00,                       // block align 3, 24 bits
    'd', 'a', 't', 'a', 0x09, 0x00, 0x00, 0x00};  // 3 frames of 3 bytes

const Bytes kStereoEvenHeader = {
    'R', 'I', 'F', 'F', 0x30, 0x00, 0x00, 0x00,  // 12 + 36 = 48
    'W', 'A', 'V', 'E', 'f', 'm', 't', ' ', 0x10, 0x00, 0x00, 0x00,
    0x01, 0x00, 0x02, 0x00,                       // PCM, 2 channels
    0x00, 0xEE, 0x02, 0x00,                       // 192000
    0x00, 0x94, 0x11, 0x00,                       // 1152000
    0x06, 0x00, 0x18, 0x00,                       // block align 6, 24 bits
    'd', 'a', 't', 'a', 0x0C, 0x00, 0x00, 0x00};  // 2 frames of 6 bytes

TEST(BuildOutputHeader, OddMonoOutput) { EXPECT_EQ(HeaderOf(Format(1, 96000), 3), kMonoOddHeader); }

TEST(BuildOutputHeader, EvenStereoOutput) {
  EXPECT_EQ(HeaderOf(Format(2, 192000), 2), kStereoEvenHeader);
}

std::uint32_t U32At(const Bytes& b, std::size_t at) {
  return static_cast<std::uint32_t>(b[at]) | static_cast<std::uint32_t>(b[at + 1]) << 8 |
         static_cast<std::uint32_t>(b[at + 2]) << 16 | static_cast<std::uint32_t>(b[at + 3]) << 24;
}

TEST(BuildOutputHeader, DescribesTheDataWrittenWhateverTheInputSays) {
  // Block align, byte rate and bits that disagree with the channel count.
  WaveFormat mono = Format(1, 96000);
  mono.byteRate = 12345;
  mono.blockAlign = 4;
  mono.bitsPerSample = 16;
  EXPECT_EQ(HeaderOf(mono, 3), kMonoOddHeader);
  WaveFormat stereo = Format(2, 192000);
  stereo.blockAlign = 3;
  stereo.byteRate = 576000;
  EXPECT_EQ(HeaderOf(stereo, 2), kStereoEvenHeader);
}

// 800000000 stereo frames: 4800000000 bytes of data, past what 32 bits count.
const Bytes kStereoRf64Header = {
    'R', 'F', '6', '4', 0xFF, 0xFF, 0xFF, 0xFF, 'W', 'A', 'V', 'E',
    'd', 's', '6', '4', 0x1C, 0x00, 0x00, 0x00,
    0x48, 0x30, 0x1A, 0x1E, 0x01, 0x00, 0x00, 0x00,  // RIFF size 4800000072
    0x00, 0x30, 0x1A, 0x1E, 0x01, 0x00, 0x00, 0x00,  // data size 4800000000
    0x00, 0x08, 0xAF, 0x2F, 0x00, 0x00, 0x00, 0x00,  // 800000000 frames
    0x00, 0x00, 0x00, 0x00,                          // no table
    'f', 'm', 't', ' ', 0x10, 0x00, 0x00, 0x00,
    0x01, 0x00, 0x02, 0x00, 0x00, 0xEE, 0x02, 0x00, 0x00, 0x94, 0x11, 0x00, 0x06, 0x00, 0x18, 0x00,
    'd', 'a', 't', 'a', 0xFF, 0xFF, 0xFF, 0xFF};

TEST(BuildOutputHeader, DataPast4GiBTakesTheRf64Form) {
  EXPECT_EQ(HeaderOf(Format(2, 192000), 800000000), kStereoRf64Header);
  // The last mono length whose RIFF size fits: FFFFFFD8 bytes of data.
  const Bytes last = HeaderOf(Format(1, 96000), 1431655752);
  ASSERT_EQ(last.size(), 44u);
  EXPECT_EQ(U32At(last, 40), 0xFFFFFFD8u);
  EXPECT_EQ(U32At(last, 4), 0xFFFFFFFCu);
  // One frame more: FFFFFFDB bytes, and with the pad byte a RIFF size of 2^32 + 36.
  const Bytes next = HeaderOf(Format(1, 96000), 1431655753);
  ASSERT_EQ(next.size(), 80u);
  EXPECT_EQ(U32At(next, 20) | std::uint64_t{U32At(next, 24)} << 32, 0x100000024u);
  EXPECT_EQ(U32At(next, 28) | std::uint64_t{U32At(next, 32)} << 32, 0xFFFFFFDBu);
  // The chunks kept after the data count in the RIFF size: 2 bytes more still
  // fit, 4 take the last length to the RF64 form with its data size as ever.
  EXPECT_EQ(U32At(HeaderOf(Format(1, 96000), 1431655752, 2), 4), 0xFFFFFFFEu);
  const Bytes kept = HeaderOf(Format(1, 96000), 1431655752, 4);
  ASSERT_EQ(kept.size(), 80u);
  EXPECT_EQ(U32At(kept, 20) | std::uint64_t{U32At(kept, 24)} << 32, 0x100000024u);
  EXPECT_EQ(U32At(kept, 28) | std::uint64_t{U32At(kept, 32)} << 32, 0xFFFFFFD8u);
}

// ---- the reference's output image ------------------------------------------------------

WorkingArrays Results(const std::vector<double>& left, const std::vector<double>& right = {}) {
  WorkingArrays a;
  a.resultLength = static_cast<std::int64_t>(left.size());
  Buffer<double>& first = right.empty() ? a.monoResult : a.leftResult;
  EXPECT_TRUE(first.Allocate(a.resultLength));
  for (std::size_t i = 0; i < left.size(); ++i) first[static_cast<std::int64_t>(i)] = left[i];
  if (!right.empty()) {
    EXPECT_TRUE(a.rightResult.Allocate(a.resultLength));
    for (std::size_t i = 0; i < right.size(); ++i) a.rightResult[static_cast<std::int64_t>(i)] = right[i];
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
  Bytes expected = kMonoOddHeader;
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
  Bytes expected = kStereoEvenHeader;
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
  EXPECT_EQ(Bytes(written.begin() + 44, written.end()), (Bytes{0x01, 0x00, 0x00, 0xFF, 0xFF, 0xFF}));
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
