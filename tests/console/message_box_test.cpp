// The message box overlay: where the box stands, and the cells it lays over
// a copy of the screen.
#include "console/message_box.h"

#include <gtest/gtest.h>

#include <string>

#include "console/screen_model.h"

namespace {

constexpr std::string_view kNotFound =
    "            File not found.\\n Please enter a valid filename";
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

constexpr std::string_view kHorizontal = "\xe2\x94\x80";

std::string Repeat(std::string_view piece, int times) {
  std::string out;
  for (int i = 0; i < times; ++i) out += piece;
  return out;
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
  for (int column : {22, 58}) {  // a wide character half under the frame (columns 22 and 57)
    ModelLocate(screen, 20, column);
    ModelPrint(screen, "\xe6\x97\xa5");
  }
  ModelLocate(screen, 9, 1);
  const Screen before = screen;
  const Screen box = MessageBoxOverlay(screen, kNotFound, kTitle);
  const std::string vertical = "\xe2\x94\x82";
  const std::string rows[] = {
      // rows 17-23, columns 22-57; the other half of the wide ones a blank
      std::string("\xe2\x94\x8c") + Repeat(kHorizontal, 13) + " ERROR " + Repeat(kHorizontal, 14) +
          "\xe2\x94\x90",
      vertical + std::string(34, ' ') + vertical,
      vertical + "  " + "            File not found." + std::string(5, ' ') + vertical,
      vertical + "   Please enter a valid filename  " + vertical,
      vertical + std::string(34, ' ') + vertical,
      vertical + "              [ OK ]              " + vertical,
      std::string("\xe2\x94\x94") + Repeat(kHorizontal, 34) + "\xe2\x94\x98"};
  for (int row = 17; row <= 23; ++row)
    EXPECT_EQ(RowText(box, row), std::string(22, ' ') + rows[row - 17] + std::string(22, ' '))
        << row;
  EXPECT_EQ(box.cells[19][21].attribute, 0xF0);  // outside the box
  EXPECT_EQ(box.cells[19][58].attribute, 0xF0);
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
