// The one number display form of the screen, and the rounding the dialogue
// applies before it. Both work with a 64-bit significand (long double).
#pragma once

#include <string>

// The text PrintNumber writes for `value` with `digits` significant digits
// (limited to 1..18): the sign position ("-" or a blank), the digits in
// whole, decimal or scientific layout, and one trailing blank.
std::string NumberDisplayForm(double value, int digits);
