// The tool's arithmetic is defined at extended precision: a 64-bit significand,
// round to nearest with ties to even. On x86-64 Linux that is `long double`.
#pragma once

#include <limits>

static_assert(std::numeric_limits<long double>::digits == 64,
              "long double must be the x87 80-bit extended type with a 64-bit significand");
static_assert(std::numeric_limits<double>::digits == 53, "double must be IEEE binary64");

// Puts the x87 unit in the mode the arithmetic needs: 64-bit significand,
// round to nearest, all exceptions masked. Linux starts processes that way;
// this makes it certain.
void SetExtendedPrecisionMode();
