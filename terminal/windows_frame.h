// The frame of cells turned into the CHAR_INFO records that WriteConsoleOutputW
// takes. Pure: the records are plain structs of the same layout, so the
// conversion runs and is tested on every system.
#pragma once

#include <cstdint>

#include "terminal/console_frame.h"

// CHAR_INFO: one UTF-16 unit and the attribute word.
struct ConsoleCharInfo {
  char16_t character = u' ';
  std::uint16_t attributes = 7;
};

// Attribute flags of the two halves of a character that takes two cells
// (COMMON_LVB_LEADING_BYTE, COMMON_LVB_TRAILING_BYTE).
constexpr std::uint16_t kLeadingHalf = 0x0100;
constexpr std::uint16_t kTrailingHalf = 0x0200;

// Fills `out` (rows x columns records) from `cells`. The attribute is the
// cell's: the console colours are Windows' own attribute bits (blue 1, green
// 2, red 4, bright 8; background times 16). A character in the Basic
// Multilingual Plane stands in its cell; one that takes two cells stands in
// both, flagged leading and trailing; one beyond U+FFFF in two cells puts its
// high surrogate in the leading cell and its low one in the trailing cell.
// What a cell cannot show is replaced: control characters by '?' (as on a
// terminal), a character beyond U+FFFF in one cell and a lone surrogate by
// U+FFFD, a continuation without its character by a blank.
void BuildConsoleCharInfo(const FrameCell* cells, int rows, int columns, ConsoleCharInfo* out);
