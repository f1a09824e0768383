// Frame cells to the CHAR_INFO records of the Windows console.
#include <gtest/gtest.h>

#include <vector>

#include "terminal/windows_frame.h"

namespace {

// One row of cells: a character per cell, the right half of a wide one marked.
std::vector<FrameCell> Row(std::initializer_list<FrameCell> cells) { return cells; }

FrameCell C(char32_t c, std::uint8_t attribute = 0xF0) { return FrameCell{c, attribute, false}; }
FrameCell Half(std::uint8_t attribute = 0xF0) { return FrameCell{U' ', attribute, true}; }

TEST(ConsoleFrame, CellsBecomeUnitsWithTheirAttributes) {
  const std::vector<FrameCell> cells = Row({
      C(U'A', 0xF0), C(U'\u00e9', 0xF1), C(U'\u0436', 0x0F),
      C(U' ', 0xF8),                            // narrow, colours as they are
      C(U'\u65e5', 0xF4), Half(0xF4),           // wide: leading, trailing
      C(U'\U0001F3B5', 0xF2), Half(0xF2),       // beyond U+FFFF: the pair split
      C(U'\x07'), C(U'\u0085'),                 // controls show as '?'
      C(U'\U00010000'), C(0xD800), Half(0xF5),  // no room in one cell, a lone surrogate
  });
  const int columns = static_cast<int>(cells.size());
  std::vector<ConsoleCharInfo> out(cells.size());
  BuildConsoleCharInfo(cells.data(), 1, columns, out.data());
  const ConsoleCharInfo expected[] = {
      {u'A', 0xF0},
      {u'\u00e9', 0xF1},
      {u'\u0436', 0x0F},
      {u' ', 0xF8},
      {u'\u65e5', 0xF4 | kLeadingHalf},
      {u'\u65e5', 0xF4 | kTrailingHalf},
      {u'\xD83C', 0xF2 | kLeadingHalf},
      {u'\xDFB5', 0xF2 | kTrailingHalf},
      {u'?', 0xF0},
      {u'?', 0xF0},
      {u'\xFFFD', 0xF0},
      {u'\xFFFD', 0xF0 | kLeadingHalf},
      {u'\xFFFD', 0xF5 | kTrailingHalf},
  };
  ASSERT_EQ(out.size(), std::size(expected));
  for (std::size_t i = 0; i < out.size(); ++i) {
    EXPECT_EQ(out[i].character, expected[i].character) << "cell " << i;
    EXPECT_EQ(out[i].attributes, expected[i].attributes) << "cell " << i;
  }
}

TEST(ConsoleFrame, RowsAreIndependentAtTheirEdges) {
  // A wide character in the last column has no right half on its row: the
  // first cell of the next row, marked as a half, is a blank of its own.
  const std::vector<FrameCell> cells = {C(U'a'), C(U'\u65e5'), Half(0x1F), C(U'b')};
  std::vector<ConsoleCharInfo> out(4);
  BuildConsoleCharInfo(cells.data(), 2, 2, out.data());
  EXPECT_EQ(out[1].character, u'\u65e5');
  EXPECT_EQ(out[1].attributes, 0xF0) << "no leading flag without its half";
  EXPECT_EQ(out[2].character, u' ');
  EXPECT_EQ(out[2].attributes, 0x1F);
  EXPECT_EQ(out[3].character, u'b');
}

}  // namespace
