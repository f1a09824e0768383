#include "terminal/windows_frame.h"

#include "terminal/terminal_frame.h"
#include "text/unicode.h"

namespace {

// The unit that shows `c` alone in one cell: what a terminal would show,
// except that a character beyond U+FFFF needs two units and so two cells.
char16_t SingleUnit(char32_t c) {
  const char32_t shown = ShownCharacter(c);
  return static_cast<char16_t>(shown > 0xFFFF ? kReplacementCharacter : shown);
}

}  // namespace

void BuildConsoleCharInfo(const FrameCell* cells, int rows, int columns, ConsoleCharInfo* out) {
  for (int row = 0; row < rows; ++row) {
    const FrameCell* line = cells + row * columns;
    ConsoleCharInfo* target = out + row * columns;
    for (int column = 0; column < columns; ++column) {
      const FrameCell& cell = line[column];
      if (cell.continuation) {
        // Its character has drawn it already; alone it is a blank.
        target[column] = {u' ', cell.attribute};
        continue;
      }
      const bool wide = column + 1 < columns && line[column + 1].continuation;
      if (!wide) {
        target[column] = {SingleUnit(cell.character), cell.attribute};
        continue;
      }
      const std::uint16_t rightAttribute = line[column + 1].attribute;
      const char32_t c = cell.character;
      char16_t left = SingleUnit(c);
      char16_t right = left;
      if (c > 0xFFFF && c <= 0x10FFFF) SplitSurrogates(c, left, right);
      target[column] = {left, static_cast<std::uint16_t>(cell.attribute | kLeadingHalf)};
      target[column + 1] = {right, static_cast<std::uint16_t>(rightAttribute | kTrailingHalf)};
      ++column;
    }
  }
}
