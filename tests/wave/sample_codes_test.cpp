// The exact conversion of a filtered value to its dithered 24-bit code.
#include <gtest/gtest.h>

#include <cfloat>
#include <cmath>
#include <cstdint>
#include <limits>
#include <ostream>
#include <random>
#include <vector>

#include "wave/sample_codes.h"
#include "wave_test_support.h"

namespace {

using wavetest::WrappingConversion;

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kInf = std::numeric_limits<double>::infinity();

// ---- conversion -----------------------------------------------------------------

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
  EXPECT_EQ(ConvertSample(c.y, placed.generator), c.code)
      << c.label << ", dither " << placed.dither;
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
        ConvertCase{"-inf", -kInf, -1.0L, 1.0L, -8388608}, ConvertCase{"NaN", kNaN, -1.0L, 1.0L, 0},
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
      case 0:
        y = wide(random);
        break;
      case 1:
        y = narrow(random);
        break;
      case 2:
        y = std::ldexp(narrow(random), tinyExponent(random));
        break;
      default:
        y = std::round(wide(random)) + 0.5;
        break;
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

}  // namespace
