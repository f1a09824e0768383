// A small terminal for the frame builder's tests: it carries out what
// AppendFrame sends, cell by cell, and fails the test on anything else, so
// that it never takes garbage for a picture. It knows ESC[r;cH (the cursor to
// row r, column c, 1-based, inside), ESC[2J (every cell a blank in the current
// colours), ESC[p;...m (0 the terminal's own colours, 30-37 and 90-97 the
// foreground, 40-47 and 100-107 the background), ESC[?25l and ESC[?25h (the
// cursor hidden, shown) and UTF-8 characters but controls, two columns for the
// wide ones. Line wrapping is off, as the POSIX binding sets it: a character
// in the last column leaves the cursor there, and another before a move fails
// (terminals differ on where it goes). Terminals differ too on what is left of
// a wide character written half over: here the other half becomes unknown.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <string_view>
#include <vector>

#include "text/unicode.h"

enum class TerminalPart : std::uint8_t { kWhole, kLeftHalf, kRightHalf, kUnknown };

struct TerminalCell {
  char32_t character = U' ';
  int foreground = -1;  // console colour 0..15; -1 the terminal's own, -2 unknown
  int background = -1;
  TerminalPart part = TerminalPart::kWhole;
  bool operator==(const TerminalCell&) const = default;
};

// What a terminal shows before we draw, and after a resize.
constexpr TerminalCell kUnknownCell = {U'#', -2, -2, TerminalPart::kUnknown};

struct VirtualTerminal {
  int rows = 0, columns = 0;
  std::vector<TerminalCell> cells;  // row by row
  int row = 0, column = 0;          // the cursor, zero-based
  bool pendingWrap = false;         // the last column has just been written
  bool cursorShown = true;
  int foreground = -2, background = -2;  // for what is written next
  // What the last FeedVirtualTerminal did: the cells it wrote, the characters
  // it wrote while the cursor showed, the colour choices that changed nothing.
  std::vector<bool> drawn;
  int drawnWithCursorShown = 0, repeatedColours = 0;
};

inline TerminalCell& CellAt(VirtualTerminal& terminal, int row, int column) {
  return terminal.cells[static_cast<std::size_t>(row * terminal.columns + column)];
}

// A new size, or a fresh terminal (a default one resized): every cell unknown.
inline void ResizeVirtualTerminal(VirtualTerminal& terminal, int rows, int columns) {
  terminal.rows = rows;
  terminal.columns = columns;
  terminal.cells.assign(static_cast<std::size_t>(rows * columns), kUnknownCell);
  terminal.row = std::min(terminal.row, rows - 1);
  terminal.column = std::min(terminal.column, columns - 1);
  terminal.pendingWrap = false;
}

// Two columns for the East Asian wide and fullwidth blocks and the emoji pictographs.
inline int TerminalWidth(char32_t character) {
  constexpr char32_t kWide[][2] = {{0x1100, 0x115F},   {0x2E80, 0xA4CF},  {0xAC00, 0xD7A3},
                                   {0xF900, 0xFAFF},   {0xFE30, 0xFE4F},  {0xFF00, 0xFF60},
                                   {0x1F300, 0x1F64F}, {0x20000, 0x3FFFD}};
  for (const auto& range : kWide)
    if (character >= range[0] && character <= range[1]) return 2;
  return 1;
}

// ESC [, an optional '?', numbers split by ';', a final byte; `at` moves past it.
inline bool ControlSequence(VirtualTerminal& terminal, std::string_view bytes, std::size_t& at) {
  const std::size_t start = at;
  const bool query = bytes.substr(at + 2, 1) == "?";
  std::vector<int> numbers(1, 0);
  for (at += 2 + query; at < bytes.size() &&
                        std::string_view("0123456789;").find(bytes[at]) != std::string_view::npos;
       ++at) {
    if (bytes[at] == ';')
      numbers.push_back(0);
    else
      numbers.back() = std::min(numbers.back() * 10 + (bytes[at] - '0'), 99999);
  }
  const char final = at < bytes.size() ? bytes[at++] : '\0';
  const auto unknown = [&] {
    ADD_FAILURE() << "virtual terminal: unknown, outside or cut short: ESC"
                  << bytes.substr(start + 1, at - start - 1);
    return false;
  };
  const int along = numbers.size() == 2 ? numbers[1] : 0;
  if (query && numbers == std::vector<int>{25} && (final == 'l' || final == 'h')) {
    terminal.cursorShown = final == 'h';
  } else if (!query && final == 'H' && numbers.size() == 2 && numbers[0] >= 1 &&
             numbers[0] <= terminal.rows && along >= 1 && along <= terminal.columns) {
    terminal.row = numbers[0] - 1;
    terminal.column = along - 1;
    terminal.pendingWrap = false;
  } else if (!query && final == 'J' && numbers == std::vector<int>{2}) {
    std::fill(terminal.cells.begin(), terminal.cells.end(),
              TerminalCell{U' ', terminal.foreground, terminal.background});
  } else if (!query && final == 'm') {
    constexpr int kConsoleColour[8] = {0, 4, 2, 6,
                                       1, 5, 3, 7};  // of black, red, green, yellow, blue, ...
    const int foreground = terminal.foreground, background = terminal.background;
    for (int number : numbers) {
      const int tens = number / 10, colour = (tens >= 9) * 8 + kConsoleColour[number % 10 % 8];
      if (number == 0) {
        terminal.foreground = terminal.background = -1;
      } else if (number % 10 < 8 && (tens == 3 || tens == 9)) {
        terminal.foreground = colour;
      } else if (number % 10 < 8 && (tens == 4 || tens == 10)) {
        terminal.background = colour;
      } else {
        return unknown();
      }
    }
    terminal.repeatedColours +=
        foreground == terminal.foreground && background == terminal.background;
  } else {
    return unknown();
  }
  return true;
}

inline bool WriteCharacter(VirtualTerminal& terminal, char32_t character) {
  const int width = TerminalWidth(character), first = terminal.column, row = terminal.row;
  if (character < 0x20 || (character >= 0x7F && character < 0xA0) || terminal.pendingWrap ||
      first + width > terminal.columns) {
    ADD_FAILURE() << "virtual terminal: U+" << std::hex << static_cast<std::uint32_t>(character)
                  << " is a control, or comes after the last column or across the right edge";
    return false;
  }
  if (first > 0 &&
      CellAt(terminal, row, first - 1).part == TerminalPart::kLeftHalf)  // half written over
    CellAt(terminal, row, first - 1) = kUnknownCell;
  if (first + width < terminal.columns &&
      CellAt(terminal, row, first + width).part == TerminalPart::kRightHalf)
    CellAt(terminal, row, first + width) = kUnknownCell;
  for (int k = 0; k < width; ++k) {
    const TerminalPart part = width == 1 ? TerminalPart::kWhole
                              : k == 0   ? TerminalPart::kLeftHalf
                                         : TerminalPart::kRightHalf;
    CellAt(terminal, row, first + k) =
        TerminalCell{character, terminal.foreground, terminal.background, part};
    terminal.drawn[static_cast<std::size_t>(row * terminal.columns + first + k)] = true;
  }
  terminal.drawnWithCursorShown += terminal.cursorShown;
  terminal.pendingWrap = first + width == terminal.columns;
  terminal.column = std::min(first + width, terminal.columns - 1);
  return true;
}

// Carries out `bytes`; anything unknown fails the test, and ends there (false).
inline bool FeedVirtualTerminal(VirtualTerminal& terminal, std::string_view bytes) {
  terminal.drawn.assign(terminal.cells.size(), false);
  terminal.drawnWithCursorShown = terminal.repeatedColours = 0;
  for (std::size_t at = 0, start = 0; at < bytes.size(); start = at) {
    if (bytes.substr(at, 2) == "\x1b[") {
      if (!ControlSequence(terminal, bytes, at)) return false;
      continue;
    }
    const char32_t character = NextCharacter(bytes, at);
    if (character == kReplacementCharacter && at - start != 3) {
      ADD_FAILURE() << "virtual terminal: not UTF-8 at byte " << start;
      return false;
    }
    if (!WriteCharacter(terminal, character)) return false;
  }
  return true;
}
