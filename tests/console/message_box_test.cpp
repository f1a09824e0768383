// The message box overlay: where the box stands, and the cells it lays over
// a copy of the screen (its bytes on a terminal: terminal_frame_test.cpp).
#include "console/message_box.h"

#include <gtest/gtest.h>

#include <string>

#include "console/screen_model.h"

namespace {

constexpr std::string_view kNotFound = "            File not found.\\n Please enter a valid filename";
constexpr std::string_view kTitle = "              ERROR";

struct PlacementCase {
  std::string text;
  std::string title;
  BoxPlacement expected;  // top, left, height, width
};

TEST(MessageBoxPlacement, CentredOnTheScreenAndCutToIt) {
  const PlacementCase cases[] = {
      // Widest text row 30 characters, two blanks either side, the frame.
      {std::string(kNotFound), std::string(kTitle), {17, 22, 7, 36}},
      // The button is the widest row.
      {"ab", "", {17, 34, 6, 12}},
      // The trimmed title with a blank either side is.
      {"ab", "   A LONG TITLE   ", {17, 30, 6, 20}},
      // Too wide for the screen: as wide as the screen.
      {std::string(90, 'x'), "", {17, 0, 6, 80}},
  };
  for (const PlacementCase& c : cases) {
    const BoxPlacement box = PlaceMessageBox(c.text, c.title);
    EXPECT_EQ(box.top, c.expected.top) << c.text;
    EXPECT_EQ(box.left, c.expected.left) << c.text;
    EXPECT_EQ(box.height, c.expected.height) << c.text;
    EXPECT_EQ(box.width, c.expected.width) << c.text;
  }
}

std::string RowText(const Screen& screen, int row) {
  std::string text;
  for (const Cell& cell : screen.cells[row]) AppendShownCell(text, cell);
  return text;
}

TEST(MessageBoxOverlay, LaysTheBoxOverACopyWithTheCursorHiddenOnTheButton) {
  Screen screen;
  ModelSetColor(screen, 0, 15);
  ModelClear(screen);
  ModelLocate(screen, 9, 1);
  const Screen before = screen;
  const Screen box = MessageBoxOverlay(screen, kNotFound, kTitle);
  EXPECT_EQ(RowText(box, 22).substr(0, 22), std::string(22, ' '));
  EXPECT_EQ(RowText(box, 22).substr(22, 3 + 14 + 6), "\xe2\x94\x82" + std::string(14, ' ') + "[ OK ]");
  EXPECT_EQ(box.cells[22][21].attribute, 0xF0);  // outside the box
  EXPECT_EQ(box.cells[22][22].attribute, 0x70);  // frame: black on light grey
  EXPECT_EQ(box.cells[22][37].attribute, 0x1F);  // button: bright white on blue
  EXPECT_EQ(box.cells[22][43].attribute, 0x70);
  EXPECT_FALSE(box.cursorVisible);
  EXPECT_EQ(box.row, 22);
  EXPECT_EQ(box.column, 37);
  for (int row = 0; row < kScreenRows; ++row)
    EXPECT_EQ(RowText(screen, row), RowText(before, row)) << "the screen itself is untouched";
  EXPECT_EQ(screen.row, 8);
}

TEST(MessageBoxOverlay, WideCharactersInTheTextTakeTwoCells) {
  Screen screen;
  const Screen box = MessageBoxOverlay(screen, "\xe6\x97\xa5x", "");  // U+65E5, two cells
  const BoxPlacement place = PlaceMessageBox("\xe6\x97\xa5x", "");
  const Cell* line = box.cells[place.top + 2] + place.left + 3;
  EXPECT_EQ(line[0].part, CellPart::kWideHead);
  EXPECT_EQ(line[1].part, CellPart::kWideTail);
  EXPECT_EQ(line[2].character, U'x');
}

}  // namespace
