// Impulse files: text, one coefficient a field, read by fixed field rules.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

#include "filter/filter_choice.h"

// Converts one field by the rules of decimal notation (sign, digits with at
// most one decimal point, exponent letter E, e, D or d); at most 18
// significant digits are taken, correctly rounded to a 64-bit float.
// A field that does not start with a number converts to 0.
double ConvertDecimalField(std::string_view field);

// Reads `count` fields from the text of an impulse file and converts each;
// fields missing after Ctrl-Z or the end of the text are 0.
void ParseImpulseText(std::string_view text, int count, double* coefficients);

// Where the impulse file of `bareName` is found: the current folder, then the
// folder of the executable, then the installed data folder. Empty when none.
std::string FindImpulseFile(const std::string& bareName);

// Fills `impulseResponse` (choice.coefficientCount elements) from the chosen
// filter's file, scaled by 1/65536 for A, B and C. When the file cannot be
// opened: Pause(100), Beep, the box, false.
bool LoadImpulseResponse(const FilterChoice& choice, double* impulseResponse);
