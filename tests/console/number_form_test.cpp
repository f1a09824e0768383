// The number display form and RoundToPlaces, at 64-bit significand.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>

#include "console/console.h"
#include "console/number_form.h"
#include "console/screen.h"

namespace {

struct FormCase {
  double value;
  int digits;
  const char* shown;
};

class NumberForm : public ::testing::TestWithParam<FormCase> {};

TEST_P(NumberForm, Shows) {
  EXPECT_EQ(NumberDisplayForm(GetParam().value, GetParam().digits), GetParam().shown)
      << GetParam().value << " with " << GetParam().digits << " digits";
}

INSTANTIATE_TEST_SUITE_P(
    DialogueExamples, NumberForm,
    ::testing::Values(FormCase{2, 15, " 2 "}, FormCase{96000, 15, " 96000 "},
                      FormCase{12.37, 15, " 12.37 "}, FormCase{0.5, 15, " .5 "},
                      FormCase{0.05, 15, " .05 "}, FormCase{-0.25, 15, "-.25 "},
                      FormCase{0, 15, " 0 "}, FormCase{1e16, 15, " 1E+16 "},
                      FormCase{0.000001234, 15, " .000001234 "},
                      FormCase{0.000001234, 7, " 1.234E-6 "}, FormCase{24, 7, " 24 "},
                      FormCase{192000, 15, " 192000 "}, FormCase{1234567, 7, " 1234567 "},
                      FormCase{-0.0, 15, "-0 "}, FormCase{-0.0, 7, "-0 "}));

INSTANTIATE_TEST_SUITE_P(
    SevenVersusFifteenDigits, NumberForm,
    ::testing::Values(
        FormCase{1.0 / 3.0, 7, " .3333333 "}, FormCase{1.0 / 3.0, 15, " .333333333333333 "},
        FormCase{2.0 / 3.0, 7, " .6666667 "}, FormCase{2.0 / 3.0, 15, " .666666666666667 "},
        FormCase{12345678, 7, " 1.234568E+7 "}, FormCase{12345678, 15, " 12345678 "},
        FormCase{9999999, 7, " 9999999 "}, FormCase{10000000, 7, " 1E+7 "},
        FormCase{10000000, 15, " 10000000 "}, FormCase{2.5e-5, 7, " .000025 "},
        FormCase{1e-8, 7, " 1E-8 "}, FormCase{1e-8, 15, " .00000001 "},
        FormCase{1.5e-7, 7, " 1.5E-7 "}, FormCase{0.1234567, 7, " .1234567 "},
        FormCase{0.01234567, 7, " 1.234567E-2 "}, FormCase{0.01234567, 15, " .01234567 "}));

INSTANTIATE_TEST_SUITE_P(
    Layouts, NumberForm,
    ::testing::Values(FormCase{1e15, 15, " 1E+15 "},
                      FormCase{999999999999999, 15, " 999999999999999 "},
                      FormCase{123456789012345678.0, 15, " 1.23456789012346E+17 "},
                      FormCase{-1234.5, 15, "-1234.5 "}, FormCase{0.001, 15, " .001 "},
                      FormCase{1e100, 15, " 1E+100 "}, FormCase{1e-300, 15, " 1E-300 "},
                      FormCase{12, 2, " 12 "}, FormCase{120, 2, " 1.2E+2 "},
                      FormCase{1200, 2, " 1.2E+3 "}, FormCase{-7, 1, "-7 "}));

// Only the first dropped digit decides; a 5 goes up only after an odd digit.
INSTANTIATE_TEST_SUITE_P(
    Cutting, NumberForm,
    ::testing::Values(FormCase{0.125, 2, " .12 "}, FormCase{0.375, 2, " .38 "},
                      FormCase{0.1250001, 2, " .12 "}, FormCase{0.1349, 2, " .13 "},
                      FormCase{0.1351, 2, " .14 "}, FormCase{2.5, 1, " 2 "},
                      FormCase{3.5, 1, " 4 "}, FormCase{9.5, 1, " 1E+1 "},
                      FormCase{99999995, 7, " 1E+8 "}, FormCase{99999985, 7, " 9.999998E+7 "},
                      FormCase{2.675, 15, " 2.675 "}, FormCase{2.675, 3, " 2.67 "},
                      FormCase{1.0 / 3.0, 18, " .333333333333333315 "},
                      FormCase{0.1, 18, " .100000000000000006 "}));

TEST(NumberFormLimits, DigitCountIsLimitedToOneThrough18) {
  EXPECT_EQ(NumberDisplayForm(0.1, 25), NumberDisplayForm(0.1, 18));
  EXPECT_EQ(NumberDisplayForm(1.0 / 3.0, 0), " .3 ");
  EXPECT_EQ(NumberDisplayForm(1.0 / 3.0, -4), " .3 ");
}

TEST(NumberFormLimits, NotANumberAndInfinity) {
  EXPECT_EQ(NumberDisplayForm(std::numeric_limits<double>::infinity(), 15), " INF ");
  EXPECT_EQ(NumberDisplayForm(-std::numeric_limits<double>::infinity(), 15), "-INF ");
  EXPECT_EQ(NumberDisplayForm(std::numeric_limits<double>::quiet_NaN(), 15), " NAN ");
}

TEST(NumberFormLimits, SmallestSubnormal) {
  // 4.94065645841246544e-324: the 16th digit, 5, follows an even 6.
  EXPECT_EQ(NumberDisplayForm(std::numeric_limits<double>::denorm_min(), 15),
            " 4.94065645841246E-324 ");
}

struct RoundCase {
  double x;
  int places;
  double expected;
};

class Rounding : public ::testing::TestWithParam<RoundCase> {};

TEST_P(Rounding, ToPlaces) {
  double result = RoundToPlaces(GetParam().x, GetParam().places);
  EXPECT_EQ(result, GetParam().expected) << GetParam().x << " to " << GetParam().places;
  EXPECT_EQ(std::signbit(result), std::signbit(GetParam().expected));
}

INSTANTIATE_TEST_SUITE_P(
    Cases, Rounding,
    ::testing::Values(RoundCase{2.675, 2, 2.67},  // the binary value lies below 2.675
                      RoundCase{0.125, 2, 0.12},  // tie to even
                      RoundCase{0.375, 2, 0.38},  // tie to even
                      RoundCase{12.3749, 2, 12.37}, RoundCase{12.375, 2, 12.38},
                      RoundCase{0.004, 2, 0.0}, RoundCase{0.005, 2, 0.01},
                      RoundCase{-0.125, 2, -0.12}, RoundCase{-0.004, 2, -0.0},
                      RoundCase{2.5, 0, 2.0}, RoundCase{3.5, 0, 4.0}, RoundCase{-2.5, 0, -2.0},
                      // 1.115 x 100 is 111.4999999999999991...; a 53-bit product
                      // would round it up to 111.5 and then to 112.
                      RoundCase{1.115, 2, 1.11}, RoundCase{1234.5678, 18, 1234.5678},
                      RoundCase{1e300, 2, 1e300}, RoundCase{1250.0, -2, 1200.0},
                      RoundCase{1350.0, -2, 1400.0}));

TEST(RoundingLimits, PlacesAreLimitedTo18) {
  EXPECT_EQ(RoundToPlaces(0.1234567890123456789, 30), RoundToPlaces(0.1234567890123456789, 18));
  EXPECT_EQ(RoundToPlaces(1.0 / 3.0, 25), 1.0 / 3.0);
}

TEST(RoundingLimits, InfinityAndNotANumberPassThrough) {
  EXPECT_EQ(RoundToPlaces(std::numeric_limits<double>::infinity(), 2),
            std::numeric_limits<double>::infinity());
  EXPECT_TRUE(std::isnan(RoundToPlaces(std::numeric_limits<double>::quiet_NaN(), 2)));
}

TEST(RoundingThenForm, JobTimeReport) {
  EXPECT_EQ(NumberDisplayForm(RoundToPlaces(0.004, 2), 15), " 0 ");
  EXPECT_EQ(NumberDisplayForm(RoundToPlaces(0.4999, 2), 15), " .5 ");
  EXPECT_EQ(NumberDisplayForm(RoundToPlaces(12.371, 2), 15), " 12.37 ");
  EXPECT_EQ(NumberDisplayForm(RoundToPlaces(86399.996, 2), 15), " 86400 ");
}

}  // namespace
