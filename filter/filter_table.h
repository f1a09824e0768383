// The six filters: letter, rate, description, impulse file, taps, scaling.
// Fixed in the program.
#pragma once

#include <string>

struct FilterTableEntry {
  char letter;
  int sampleRate;           // the rate at which the filter is offered
  const char* description;  // printed after the letter
  const char* impulseFileName;
  int coefficientCount;  // M
  bool scaled;           // the file holds the coefficients times 65536
};

constexpr int kFilterCount = 6;
extern const FilterTableEntry kFilterTable[kFilterCount];

// The table entry for `letter`, or nullptr.
const FilterTableEntry* FindFilter(char letter);

struct FilterChoice {
  char letter = 0;              // 'A' to 'F'
  std::string impulseFileName;  // bare name, e.g. "FilterE.dat"
  int coefficientCount = 0;     // M
};

// The choice of the filter `letter`; an empty one (letter 0) for no filter.
FilterChoice ChoiceOf(char letter);
