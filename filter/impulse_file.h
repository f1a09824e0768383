// Impulse files: text, one coefficient a field, read by fixed field rules.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

#include "filter/filter_table.h"

// Converts one field by the rules of decimal notation (sign, digits with at
// most one decimal point, exponent letter E, e, D or d); at most 18
// significant digits are taken, correctly rounded to a 64-bit float.
// A field that does not start with a number converts to 0.
double ConvertDecimalField(std::string_view field);

// What became of an impulse file. Only kRead gives a filter; the job shows
// the others with ReportImpulseRefusal (filter_dialogue.h).
enum class ImpulseVerdict {
  kRead,      // `count` fields, each holding a finite number
  kNotFound,  // no file of the name in any of the places searched
  kDamaged,   // the data ends before `count` fields, or a field holds no finite number
};

// Reads `count` fields from the text of an impulse file and converts each.
// A UTF-8 byte-order mark at the very start is skipped. A line feed ends a
// field as a carriage return does (a carriage return and its line feed end
// it once), so LF and CR LF lines read the same. Returns kRead, or kDamaged
// when Ctrl-Z or the end of the text comes before `count` fields, or one of
// them holds no number (empty, blanks only, text) or one beyond the range of
// a double (infinite once converted): every coefficient is written even
// then, as its field converts or 0 for a field not given, and must not be
// used. A value too small for a double is 0 or subnormal, and serves.
ImpulseVerdict ParseImpulseText(std::string_view text, int count, double* coefficients);

// Where the impulse file of `bareName` is found: the current folder, then the
// folder of the executable, then the installed data folder. Empty when none.
std::string FindImpulseFile(const std::string& bareName);

// Fills `impulseResponse` (choice.coefficientCount elements) from the chosen
// filter's file, scaled by 1/65536 for A, B and C, and says whether it can
// serve. Shows nothing. kNotFound leaves `impulseResponse` as it was;
// kDamaged leaves values in it that must not be used.
ImpulseVerdict LoadImpulseResponse(const FilterChoice& choice, double* impulseResponse);
