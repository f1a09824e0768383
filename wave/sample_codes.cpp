// Why a settled code needs no exact conversion.
//
// ConvertSample computes, for a value y and the draws r1, r2 of its sample,
// round(v) with v formed at extended precision (64-bit significand, unit
// roundoff 2^-64). How far can v be from the real number y + d, d = r1 + r2 - 1?
//  - y >= 0: v = ((r1 + y) + r2) - 1, three roundings of numbers below 2^25 in
//    magnitude wherever the code is not saturated, each off by at most
//    2^(25-64) = 2^-39: |v - (y + d)| <= 3 x 2^-39.
//  - -2^24 < y < 0: first y' = y + 2^24, formed at extended precision and
//    stored as a double: y' lies in (0, 2^24], where half a double ulp is at
//    most 2^-30 (and the extended rounding adds at most 2^-41); then the same
//    three roundings; the code is round(v) - 2^24. So |rho| <= 2^-30 + 2^-41 +
//    3 x 2^-39 < 2^-29.
//  - y <= -2^24 or y beyond 2^24: the code saturates (shown below).
// So the code is round(y + d + rho), |rho| < 2^-29, then saturated. Where
// z = y + d is formed in double, below 2^24 in magnitude its rounding error
// is at most 2^-30. CodeIsSettled(z, 2^-24) holds when z lies 2^-24 or more
// from every half-integer: then y + d + rho, within 2^-29 + 2^-30 of z, lies
// strictly between the same half-integers and rounds to round(z). It holds
// too when z > 8388608 or z < -8388609: then y + d + rho is above 8388607.5
// or below -8388608.5 and the exact code saturates, as round(z) clamped does.
// Every other sample (near a half-integer, or not a number) is converted by
// ConvertSample itself, with the generator set to that sample's state.
#include "wave/sample_codes.h"

#include <cmath>

std::int32_t ConvertSample(double y, DitherGenerator& generator) {
  // Both draws are taken whatever the value, so that the dither of every
  // later sample stays where it belongs.
  const long double r1 = DrawDither(generator);
  const long double r2 = DrawDither(generator);
  if (std::isnan(y)) return 0;

  // Negative values are raised by 2^24 first (rounded to a 64-bit float, as
  // when stored); this leaves the low 24 bits of the code unchanged.
  const bool raised = y < 0;
  if (raised) y = static_cast<double>(static_cast<long double>(y) + 16777216.0L);
  long double v = r1 + static_cast<long double>(y);
  v = v + r2;
  v = v - 1.0L;
  long double code = std::nearbyint(v);  // ties to even
  if (raised) code -= 16777216.0L;

  // Out of range saturates: a wrapped code would be a full-scale click.
  if (code > 8388607.0L) return 8388607;
  if (code < -8388608.0L) return -8388608;
  return static_cast<std::int32_t>(code);
}
