// The arithmetic mode of the x87 unit, which belongs to each thread.
//
// The tool's arithmetic is defined at extended precision: a 64-bit
// significand, round to nearest with ties to even. Linux starts every process
// and thread that way. Windows gives each new thread its own control word,
// commonly with a 53-bit significand, and a foreign library may change it:
// every thread that does extended arithmetic sets the mode first (the worker
// threads of threads.h do so by themselves).
#pragma once

#include <cstdint>
#include <limits>

static_assert(std::numeric_limits<long double>::digits == 64,
              "long double must be the x87 80-bit extended type with a 64-bit significand");
static_assert(std::numeric_limits<double>::digits == 53, "double must be IEEE binary64");

// 64-bit significand, round to nearest, every exception masked; the reserved
// bits of the control word keep what the unit holds.
void SetExtendedPrecisionMode();

// The calling thread's x87 control word.
std::uint16_t X87ControlWord();
void SetX87ControlWord(std::uint16_t word);

// True when the calling thread's unit is in the mode SetExtendedPrecisionMode sets.
bool ExtendedPrecisionModeHolds();
