#include "system/windows_frame.h"

namespace {

constexpr char16_t kReplacement = 0xFFFD;

bool IsControl(char32_t c) { return c < 0x20 || (c >= 0x7F && c < 0xA0); }
bool IsSurrogate(char32_t c) { return c >= 0xD800 && c <= 0xDFFF; }

// The unit that shows `c` alone in one cell.
char16_t SingleUnit(char32_t c) {
  if (IsControl(c)) return u'?';
  if (IsSurrogate(c) || c > 0xFFFF) return kReplacement;
  return static_cast<char16_t>(c);
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
      if (c > 0xFFFF && c <= 0x10FFFF) {
        left = static_cast<char16_t>(0xD800 + ((c - 0x10000) >> 10));
        right = static_cast<char16_t>(0xDC00 + ((c - 0x10000) & 0x3FF));
      }
      target[column] = {left, static_cast<std::uint16_t>(cell.attribute | kLeadingHalf)};
      target[column + 1] = {right, static_cast<std::uint16_t>(rightAttribute | kTrailingHalf)};
      ++column;
    }
  }
}
