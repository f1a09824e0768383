// Sample codes: a filtered value to its dithered 24-bit code, exactly as the
// design defines it, and the test that tells when the code of the dithered
// value rounded in double is that code already.
#pragma once

#include <cstdint>

#include "wave/dither.h"

// The 24-bit code of one filtered value: round(y + r1 + r2 - 1) carried at
// extended precision, ties to even, saturated to -8388608 .. 8388607;
// not-a-number gives 0. Takes the two draws of the sample from `generator`
// whatever the value.
std::int32_t ConvertSample(double y, DitherGenerator& generator);

// How far the code of ConvertSample may lie from rounding the real y + d
// (|rho| < 2^-29, proved in sample_codes.cpp), plus the rounding of z = y + d
// in double (at most 2^-30 below 2^24), with room to spare.
constexpr double kConversionMargin = 0x1p-24;

// True when every value within `margin` of z gives the same 24-bit code as
// z: z lies at least `margin` from every half-integer, or so far beyond the
// 24-bit range that the code saturates whatever the rounding. False for
// not-a-number.
inline bool CodeIsSettled(double z, double margin) {
  // Round to nearest even by the 1.5 x 2^52 shift; exact for |z| < 2^51.
  const double nearest = (z + 0x1.8p52) - 0x1.8p52;
  const bool clear = __builtin_fabs(z - nearest) <= 0.5 - margin;
  const bool saturated = (z > 8388608.0) | (z < -8388609.0);
  return clear | saturated;
}
