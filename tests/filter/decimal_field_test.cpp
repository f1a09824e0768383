// Conversion of one impulse-file field by the rules of decimal notation.

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <string>

#include "filter/impulse_file.h"

namespace {

// Bit-for-bit equality, so that -0.0 and 0.0 differ and NaN is caught.
::testing::AssertionResult SameDouble(double actual, double expected) {
  std::uint64_t a = 0;
  std::uint64_t e = 0;
  std::memcpy(&a, &actual, sizeof a);
  std::memcpy(&e, &expected, sizeof e);
  if (a == e) return ::testing::AssertionSuccess();
  return ::testing::AssertionFailure() << std::hexfloat << actual << " is not " << expected;
}

double Strtod(const char* text) { return std::strtod(text, nullptr); }

struct FieldCase {
  const char* field;
  const char* sameAs;  // decimal text whose strtod value is expected
};

const FieldCase kFields[] = {
    // Plain forms, signs and the point.
    {"0.5", "0.5"},
    {"-0.25", "-0.25"},
    {"+3", "3"},
    {"+.75", "0.75"},
    {"-.125", "-0.125"},
    {".5", "0.5"},
    {"5.", "5"},
    {"65536", "65536"},
    {"0.1", "0.1"},
    {"-1234.5678", "-1234.5678"},
    {"007", "7"},
    {"0.000000000000000000001234", "1.234e-21"},
    // Exponents with each of the four letters.
    {"1.5E-3", "0.0015"},
    {"1.5e-3", "0.0015"},
    {"1.5D-3", "0.0015"},
    {"1.5d-3", "0.0015"},
    {"1.5E+3", "1500"},
    {"2E3", "2000"},
    {"-2.5d2", "-250"},
    {"1e0", "1"},
    {"1E-0005", "0.00001"},
    // Leading blanks, tabs and line feeds are skipped; a carriage return is not.
    {"   7", "7"},
    {"\t\n 7.25", "7.25"},
    {"\r7", "0"},
    // The first character that does not fit ends the number.
    {"1.2.3", "1.2"},
    {"0.5 0.25", "0.5"},
    {"3,4", "3"},
    {"12abc", "12"},
    {"1.5E", "1.5"},
    {"1.5E+", "1.5"},
    {"1.5E-x", "1.5"},
    {"1.5EE3", "1.5"},
    {"1.5E+-3", "1.5"},
    {"2e3.5", "2000"},
    {"4-5", "4"},
    {"1\"", "1"},
    // Not numbers.
    {"", "0"},
    {"abc", "0"},
    {"-", "0"},
    {"+", "0"},
    {".", "0"},
    {"-.", "0"},
    {"+-5", "0"},
    {"E5", "0"},
    {".E5", "0"},
    {"\"1\"", "0"},
    // Values beyond the double range.
    {"1e308", "1e308"},
    {"1.7976931348623157e308", "1.7976931348623157e308"},
    {"1.8e308", "inf"},
    {"-1e309", "-inf"},
    {"1e999", "inf"},
    {"-1e999", "-inf"},
    {"4.9406564584124654e-324", "4.9406564584124654e-324"},
    {"2e-324", "0"},
    {"1e-400", "0"},
    {"1e99999999999999999999999", "inf"},
    {"-1e99999999999999999999999", "-inf"},
    {"1e-99999999999999999999999", "0"},
    {"0e99999999999999999999999", "0"},
};

TEST(DecimalField, ConvertsLikeDecimalNotation) {
  for (const FieldCase& c : kFields) {
    SCOPED_TRACE(std::string("field '") + c.field + "'");
    EXPECT_TRUE(SameDouble(ConvertDecimalField(c.field), Strtod(c.sameAs)));
  }
}

TEST(DecimalField, NegativeZeroKeepsItsSign) {
  EXPECT_TRUE(SameDouble(ConvertDecimalField("-0"), -0.0));
  EXPECT_TRUE(SameDouble(ConvertDecimalField("-0.000e5"), -0.0));
  EXPECT_TRUE(SameDouble(ConvertDecimalField("0"), 0.0));
  EXPECT_TRUE(SameDouble(ConvertDecimalField("-x"), 0.0));
}

TEST(DecimalField, EighteenSignificantDigitsAreKept) {
  EXPECT_TRUE(SameDouble(ConvertDecimalField("123456789012345678"), Strtod("123456789012345678")));
  EXPECT_TRUE(
      SameDouble(ConvertDecimalField("0.123456789012345678"), Strtod("0.123456789012345678")));
  // Leading zeros are not significant digits.
  EXPECT_TRUE(SameDouble(ConvertDecimalField("000000000000.0000000123456789012345678"),
                         Strtod("0.0000000123456789012345678")));
}

struct CutCase {
  const char* field;
  const char* truncated;  // the same value with only its first 18 digits
  bool differsFromFullValue;
};

const CutCase kCuts[] = {
    // 2^60 + 384 is halfway between two doubles (ulp 256 there) and ends in
    // 0; one more in the 19th digit would round up, but that digit is not
    // taken, so the tie goes to the even neighbour below.
    {"1152921504606848641", "1152921504606848640", true},
    {"1152921504606848649.999", "1152921504606848640", true},
    // 1 + 2^-53 is halfway between 1 and the next double; the digits beyond
    // the 18th would put the value above it.
    {"1.0000000000000001110223024625156541", "1.00000000000000011", true},
    // Further digits before the point set the magnitude only.
    {"1234567890123456789", "1234567890123456780", false},
    {"12345678901234567890123", "12345678901234567800000", false},
    {"-98765432109876543219876e-5", "-98765432109876543200000e-5", false},
    // Further digits after the point are dropped.
    {"3.14159265358979323846264338327950288", "3.14159265358979323", false},
    {"0.00012345678901234567899", "0.000123456789012345678", false},
};

TEST(DecimalField, DigitsBeyondTheEighteenthAreNotTaken) {
  for (const CutCase& c : kCuts) {
    SCOPED_TRACE(c.field);
    const double value = ConvertDecimalField(c.field);
    EXPECT_TRUE(SameDouble(value, Strtod(c.truncated)));
    if (c.differsFromFullValue) {
      // The case is only worth its place when the cut changes the result.
      EXPECT_FALSE(SameDouble(value, Strtod(c.field)));
    }
  }
}

TEST(DecimalField, HalfwayCasesRoundToEven) {
  // 2^53 + 1 lies halfway between 2^53 and 2^53 + 2: the even one wins.
  EXPECT_EQ(ConvertDecimalField("9007199254740993"), 9007199254740992.0);
  // 2^53 + 3 lies halfway between 2^53 + 2 and 2^53 + 4: up to the even one.
  EXPECT_EQ(ConvertDecimalField("9007199254740995"), 9007199254740996.0);
  // 1 + 2^-53 written out in full: cut to 18 digits it lies below halfway.
  EXPECT_EQ(ConvertDecimalField("1.00000000000000011102230246251565404236316680908203125"), 1.0);
}

TEST(DecimalField, MegabyteFieldsStayExactAndFinite) {
  const std::string ones = "1" + std::string(1000000, '0');
  EXPECT_EQ(ConvertDecimalField(ones), std::numeric_limits<double>::infinity());
  EXPECT_EQ(ConvertDecimalField(ones + "e-1000000"), 1.0);
  EXPECT_EQ(ConvertDecimalField(ones + "e-1000001"), 0.1);
  EXPECT_EQ(ConvertDecimalField("-" + ones + "e-999999"), -10.0);

  const std::string tiny = "0." + std::string(1000000, '0') + "1";
  EXPECT_TRUE(SameDouble(ConvertDecimalField(tiny), 0.0));
  EXPECT_EQ(ConvertDecimalField(tiny + "e1000001"), 1.0);

  const std::string longFraction = "0.25" + std::string(1000000, '7');
  EXPECT_TRUE(SameDouble(ConvertDecimalField(longFraction), Strtod("0.257777777777777777")));

  const std::string blanks = std::string(1000000, ' ') + "2.5";
  EXPECT_EQ(ConvertDecimalField(blanks), 2.5);

  const std::string longExponent = "1e" + std::string(1000000, '0') + "3";
  EXPECT_EQ(ConvertDecimalField(longExponent), 1000.0);
}

}  // namespace
