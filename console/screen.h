// The screen model: cells, cursor and colours, with no terminal attached.
// Everything the dialogue shows is decided here; the console binding only
// shows it. Tests drive the whole dialogue headless and read it back
// (console/headless.h).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "terminal/console_frame.h"

constexpr int kScreenColumns = kConsoleColumns;
constexpr int kScreenRows = kConsoleRows;

// Which part of what is shown a cell holds. A wide character (East Asian
// wide or fullwidth, most emoji) takes two cells side by side in one row.
enum class CellPart : std::uint8_t {
  kWhole,     // a character of one cell, or a blank
  kWideHead,  // the left cell of a wide character
  kWideTail,  // the right cell of a wide character: shows nothing of its own
  kWrapGap,   // a blank left in the last column by a wide character that did
              // not fit there and went on to the next row
};

struct Cell {
  char32_t character = ' ';    // a Unicode character; both halves of a wide one hold it
  std::uint8_t attribute = 7;  // foreground + 16 x background
  CellPart part = CellPart::kWhole;
  bool operator==(const Cell&) const = default;
};

struct Screen {
  Cell cells[kScreenRows][kScreenColumns];
  int row = 0;  // cursor, zero-based
  int column = 0;
  bool pendingWrap = false;  // the last cell of the bottom row has been written
  bool cursorVisible = true;
  int foreground = 7;  // light grey on black until the first SetColor
  int background = 0;
};

// A message box as the dialogue asked for it.
struct MessageBoxRecord {
  std::string text;
  std::string title;
};

// A transient line as it was shown, or cleared (an empty text): its place
// and colours, and the screen it stood over then, as plain-mode text.
struct TransientRecord {
  std::string text;
  int row = 0;
  int column = 0;
  int foreground = 0;
  int background = 0;
  std::string screen;
};
