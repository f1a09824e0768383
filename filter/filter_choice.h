// The fixed filter table and the dialogue that chooses a filter.
#pragma once

#include <string>

#include "wave/wave_format.h"

struct FilterTableEntry {
  char letter;
  int sampleRate;              // the rate at which the filter is offered
  const char* description;     // printed after the letter
  const char* impulseFileName;
  int coefficientCount;        // M
  bool scaled;                 // the file holds the coefficients times 65536
};

constexpr int kFilterCount = 6;
extern const FilterTableEntry kFilterTable[kFilterCount];

// The table entry for `letter`, or nullptr.
const FilterTableEntry* FindFilter(char letter);

struct FilterChoice {
  char letter = 0;               // 'A' to 'F'
  std::string impulseFileName;   // bare name, e.g. "FilterE.dat"
  int coefficientCount = 0;      // M
};

// Draws the question for format.sampleRate at the cursor row, reads answers
// until one of the offered letters is typed, and returns the choice. A rate
// other than 96000 or 192000 (header validation refuses those) shows nothing
// and returns an empty choice (letter 0, no coefficients) instead of asking
// forever.
FilterChoice ChooseFilter(const WaveFormat& format);
