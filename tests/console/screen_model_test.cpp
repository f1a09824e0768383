// The screen model through the console operations, headless: printing,
// wrapping, scrolling, line ends, clearing, cursor placement and the typed
// line with its Backspace, compared cell by cell with colours.
#include <gtest/gtest.h>

#include <ostream>
#include <string>
#include <vector>

#include "console/console.h"
#include "console/headless.h"

namespace {

constexpr int kLastRow = kScreenRows;
constexpr int kLastColumn = kScreenColumns;

std::string Blanks(int n) { return std::string(static_cast<std::size_t>(n), ' '); }

char CellChar(int row, int column) {
  return static_cast<char>(CurrentScreen().cells[row - 1][column - 1].character);
}

// The cursor as (row, column), 1-based.
std::pair<int, int> Cursor() { return {CurrentScreen().row + 1, CurrentScreen().column + 1}; }

class ScreenModel : public ::testing::Test {
 protected:
  void SetUp() override { StartHeadlessConsole(""); }
};

TEST_F(ScreenModel, FreshScreenIsLightGreyOnBlackWithVisibleCursor) {
  EXPECT_EQ(ScreenRowText(1), Blanks(80));
  EXPECT_EQ(CellForeground(1, 1), 7);
  EXPECT_EQ(CellBackground(41, 80), 0);
  EXPECT_TRUE(CurrentScreen().cursorVisible);
  PrintText("a");
  EXPECT_EQ(CellForeground(1, 1), 7);
  EXPECT_EQ(CellBackground(1, 1), 0);
}

TEST_F(ScreenModel, SetupConsoleLeavesBlackOnBrightWhiteAndClearScreen) {
  PrintText("leftover");
  SetupConsole();
  EXPECT_EQ(ScreenRowText(1), Blanks(80));
  for (int row : {1, 20, 41}) {
    EXPECT_EQ(CellForeground(row, 80), kBlack);
    EXPECT_EQ(CellBackground(row, 80), kBrightWhite);
  }
  EXPECT_EQ(Cursor(), std::make_pair(1, 1));
  EXPECT_TRUE(CurrentScreen().cursorVisible);
}

TEST_F(ScreenModel, SetColorIgnoresComponentsOutsideTheRange) {
  SetColor(3, 12);
  SetColor(16, 5);
  PrintText("a");
  SetColor(9, -1);
  PrintText("b");
  SetColor(-7, 99);
  PrintText("c");
  EXPECT_EQ(CellForeground(1, 1), 3);
  EXPECT_EQ(CellBackground(1, 1), 5);
  EXPECT_EQ(CellForeground(1, 2), 9);
  EXPECT_EQ(CellBackground(1, 2), 5);
  EXPECT_EQ(CellForeground(1, 3), 9);
  EXPECT_EQ(CellBackground(1, 3), 5);
}

TEST_F(ScreenModel, CellsKeepTheirColoursWhenTheColourChanges) {
  SetColor(kDarkGrey, kBrightWhite);
  PrintText("ab");
  SetColor(kBlue, kBrightWhite);
  PrintText("c");
  EXPECT_EQ(CellForeground(1, 1), kDarkGrey);
  EXPECT_EQ(CellForeground(1, 2), kDarkGrey);
  EXPECT_EQ(CellForeground(1, 3), kBlue);
}

TEST_F(ScreenModel, PrintTextStoresEveryCharacterUninterpreted) {
  PrintText("a\tb\r\n\xc3\xa9");
  EXPECT_EQ(ScreenRowText(1).substr(0, 8), "a\tb\r\n\xc3\xa9 ");
  EXPECT_EQ(Cursor(), std::make_pair(1, 7));
}

TEST_F(ScreenModel, TextWrapsToTheNextRow) {
  Locate(3, 79);
  PrintText("abc");
  EXPECT_EQ(CellChar(3, 79), 'a');
  EXPECT_EQ(CellChar(3, 80), 'b');
  EXPECT_EQ(CellChar(4, 1), 'c');
  EXPECT_EQ(Cursor(), std::make_pair(4, 2));
  EXPECT_FALSE(CurrentScreen().pendingWrap);
}

TEST_F(ScreenModel, TextEndingInTheLastColumnThenEndLineLeavesOneEmptyRow) {
  Locate(5, 78);
  PrintText("abc");
  EXPECT_EQ(Cursor(), std::make_pair(6, 1));
  EndLine();
  EXPECT_EQ(Cursor(), std::make_pair(7, 1));
  EXPECT_EQ(ScreenRowText(6), Blanks(80));
}

TEST_F(ScreenModel, LastCellOfTheBottomRowLeavesThePendingWrap) {
  Locate(kLastRow, 79);
  PrintText("ab");
  EXPECT_EQ(Cursor(), std::make_pair(kLastRow, kLastColumn));
  EXPECT_TRUE(CurrentScreen().pendingWrap);
  EXPECT_EQ(CellChar(kLastRow, 80), 'b');
  EXPECT_EQ(CursorRow(), kLastRow);
}

TEST_F(ScreenModel, NextCharacterAfterPendingWrapScrollsFirst) {
  Locate(1, 1);
  PrintText("top");
  Locate(kLastRow, 79);
  PrintText("ab");
  SetColor(2, 4);
  PrintText("c");
  EXPECT_FALSE(CurrentScreen().pendingWrap);
  EXPECT_EQ(Cursor(), std::make_pair(kLastRow, 2));
  EXPECT_EQ(ScreenRowText(1), Blanks(80));  // "top" scrolled away
  EXPECT_EQ(ScreenRowText(kLastRow - 1), Blanks(78) + "ab");
  EXPECT_EQ(ScreenRowText(kLastRow), std::string("c").append(79, ' '));
  // The new bottom row is blank in the colour current at the scroll.
  EXPECT_EQ(CellForeground(kLastRow, 80), 2);
  EXPECT_EQ(CellBackground(kLastRow, 80), 4);
  EXPECT_EQ(CellForeground(kLastRow - 1, 80), 7);
}

TEST_F(ScreenModel, EndLineMovesToColumnOneOfTheNextRow) {
  Locate(10, 30);
  EndLine();
  EXPECT_EQ(Cursor(), std::make_pair(11, 1));
}

TEST_F(ScreenModel, EndLineOnTheBottomRowScrollsOnce) {
  Locate(kLastRow, 5);
  PrintText("x");
  SetColor(kBlack, kBrightWhite);
  EndLine();
  EXPECT_EQ(Cursor(), std::make_pair(kLastRow, 1));
  EXPECT_EQ(ScreenRowText(kLastRow - 1), Blanks(4) + "x" + Blanks(75));
  EXPECT_EQ(ScreenRowText(kLastRow), Blanks(80));
  EXPECT_EQ(CellBackground(kLastRow, 1), kBrightWhite);
  EXPECT_EQ(CellBackground(kLastRow - 1, 1), 0);
}

TEST_F(ScreenModel, EndLineAfterPendingWrapScrollsTwice) {
  Locate(kLastRow, 80);
  PrintText("x");
  ASSERT_TRUE(CurrentScreen().pendingWrap);
  EndLine();
  EXPECT_FALSE(CurrentScreen().pendingWrap);
  EXPECT_EQ(Cursor(), std::make_pair(kLastRow, 1));
  EXPECT_EQ(ScreenRowText(kLastRow - 2), Blanks(79) + "x");
  EXPECT_EQ(ScreenRowText(kLastRow - 1), Blanks(80));
  EXPECT_EQ(ScreenRowText(kLastRow), Blanks(80));
}

struct LocateCase {
  int row;
  int column;
  int expectedRow;
  int expectedColumn;
};

class LocateOutOfRange : public ::testing::TestWithParam<LocateCase> {};

TEST_P(LocateOutOfRange, KeepsTheComponentThatIsOutOfRange) {
  StartHeadlessConsole("");
  Locate(3, 10);
  Locate(GetParam().row, GetParam().column);
  EXPECT_EQ(Cursor(), std::make_pair(GetParam().expectedRow, GetParam().expectedColumn));
}

INSTANTIATE_TEST_SUITE_P(Cases, LocateOutOfRange,
                         ::testing::Values(LocateCase{0, 18, 3, 18}, LocateCase{-1, 1, 3, 1},
                                           LocateCase{42, 5, 3, 5}, LocateCase{41, 80, 41, 80},
                                           LocateCase{7, 0, 7, 10}, LocateCase{7, 81, 7, 10},
                                           LocateCase{1, 1, 1, 1}, LocateCase{0, 0, 3, 10},
                                           LocateCase{100, -100, 3, 10}));

TEST_F(ScreenModel, LocateClearsThePendingWrap) {
  Locate(kLastRow, 80);
  PrintText("x");
  ASSERT_TRUE(CurrentScreen().pendingWrap);
  Locate(0, 0);
  EXPECT_FALSE(CurrentScreen().pendingWrap);
  PrintText("y");  // overwrites the last cell instead of scrolling
  EXPECT_EQ(ScreenRowText(kLastRow), Blanks(79) + "y");
  EXPECT_EQ(ScreenRowText(kLastRow - 1), Blanks(80));
}

TEST_F(ScreenModel, ClearScreenFillsWithTheCurrentColourAndHomesTheCursor) {
  PrintText("some text");
  Locate(kLastRow, 80);
  PrintText("x");
  SetColor(8, 1);
  ClearScreen();
  EXPECT_EQ(Cursor(), std::make_pair(1, 1));
  EXPECT_FALSE(CurrentScreen().pendingWrap);
  for (int row = 1; row <= kLastRow; ++row) {
    ASSERT_EQ(ScreenRowText(row), Blanks(80)) << row;
    for (int column = 1; column <= kLastColumn; ++column) {
      ASSERT_EQ(CellForeground(row, column), 8);
      ASSERT_EQ(CellBackground(row, column), 1);
    }
  }
}

TEST_F(ScreenModel, HideCursorHides) {
  HideCursor();
  EXPECT_FALSE(CurrentScreen().cursorVisible);
}

TEST_F(ScreenModel, PrintNumberWritesTheDisplayFormAtTheCursor) {
  SetColor(kBlack, kBrightWhite);
  Locate(38, 1);
  PrintText("   Job completed in");
  PrintNumber(RoundToPlaces(12.3749, 2), 15);
  PrintText("seconds");
  EXPECT_EQ(ScreenRowText(38), "   Job completed in 12.37 seconds" + Blanks(47));
  EXPECT_EQ(CellForeground(38, 20), kBlack);
}

TEST_F(ScreenModel, HarnessAccessorsRejectPositionsOffTheScreen) {
  EXPECT_EQ(ScreenRowText(0), "");
  EXPECT_EQ(ScreenRowText(42), "");
  EXPECT_EQ(CellForeground(0, 1), -1);
  EXPECT_EQ(CellBackground(1, 81), -1);
}

TEST_F(ScreenModel, PlainScreenTextDropsTrailingBlanksAndEmptyRows) {
  Locate(2, 4);
  PrintText("Hello   ");
  Locate(5, 1);
  PrintText("caf\xc3\xa9 \x1b");
  Locate(9, 1);
  PrintText("   ");
  EXPECT_EQ(PlainScreenText(), "\n   Hello\n\n\ncaf\xc3\xa9 ?\n");
}

TEST_F(ScreenModel, PlainScreenTextOfABlankScreenIsEmpty) { EXPECT_EQ(PlainScreenText(), ""); }

TEST_F(ScreenModel, PlainScreenTextKeepsAFullLastRow) {
  Locate(41, 1);
  PrintText(std::string(80, 'z'));
  std::string text = PlainScreenText();
  EXPECT_EQ(text, std::string(40, '\n') + std::string(80, 'z') + "\n");
}

// Wide characters: two cells (head and tail), wrapping to the next row as a
// whole when one cell is left (that cell becomes a blank wrap gap), and on the
// bottom row scrolling first. Marks of no width take no cell.
struct WideCase {
  const char* label;
  int row;
  int column;
  std::string text;
  std::vector<std::string> rows;  // the rows from `row` on, trailing blanks dropped
  std::pair<int, int> cursor;
  bool pendingWrap;
};

void PrintTo(const WideCase& c, std::ostream* os) { *os << c.label; }

class WideCharacters : public ::testing::TestWithParam<WideCase> {};

std::string TrimmedRow(int row) {
  std::string text = ScreenRowText(row);
  return text.substr(0, text.find_last_not_of(' ') + 1);
}

TEST_P(WideCharacters, TakeTheirCellsAndWrapWhole) {
  const WideCase& c = GetParam();
  StartHeadlessConsole("");
  Locate(c.row, c.column);
  PrintText(c.text);
  for (std::size_t i = 0; i < c.rows.size(); ++i)
    EXPECT_EQ(TrimmedRow(c.row + static_cast<int>(i)), c.rows[i]) << c.label << " row " << i;
  EXPECT_EQ(Cursor(), c.cursor) << c.label;
  EXPECT_EQ(CurrentScreen().pendingWrap, c.pendingWrap) << c.label;
}

const std::string kSun = "\xe6\x97\xa5";  // U+65E5, wide

INSTANTIATE_TEST_SUITE_P(
    Cases, WideCharacters,
    ::testing::Values(
        WideCase{"CJK in the row",
                 3,
                 10,
                 "\xe6\x97\xa5\xe6\x9c\xac.wav",
                 {Blanks(9) + "\xe6\x97\xa5\xe6\x9c\xac.wav"},
                 {3, 18},
                 false},
        WideCase{"emoji among Latin-1",
                 3,
                 1,
                 "\xf0\x9f\x8e\xb5 \xc3\xa9",
                 {"\xf0\x9f\x8e\xb5 \xc3\xa9"},
                 {3, 5},
                 false},
        WideCase{"ends in the last column", 3, 79, kSun, {Blanks(78) + kSun, ""}, {4, 1}, false},
        WideCase{"one cell left: wraps whole",
                 3,
                 79,
                 "a" + kSun,
                 {Blanks(78) + "a", kSun},
                 {4, 3},
                 false},
        WideCase{"bottom row, last two cells: pending wrap",
                 41,
                 79,
                 kSun,
                 {Blanks(78) + kSun},
                 {41, 80},
                 true},
        WideCase{"bottom row, one cell left: scrolls", 41, 80, kSun, {kSun}, {41, 3}, false},
        WideCase{"a mark of no width takes no cell", 1, 1, "e\xcc\x81x", {"ex"}, {1, 3}, false},
        WideCase{"a byte that is not UTF-8 shows as U+FFFD",
                 1,
                 1,
                 "a\xe9"
                 "b",
                 {"a\xef\xbf\xbd"
                  "b"},
                 {1, 4},
                 false}));

TEST_F(ScreenModel, WrapGapIsABlankInTheCurrentColour) {
  Locate(3, 80);
  SetColor(kBlue, kBrightWhite);
  PrintText(kSun);
  const Cell& gap = CurrentScreen().cells[2][79];
  EXPECT_EQ(gap.character, U' ');
  EXPECT_EQ(gap.part, CellPart::kWrapGap);
  EXPECT_EQ(CellForeground(3, 80), kBlue);
  EXPECT_EQ(CurrentScreen().cells[3][0].part, CellPart::kWideHead);
  EXPECT_EQ(CurrentScreen().cells[3][1].part, CellPart::kWideTail);
  EXPECT_EQ(CurrentScreen().cells[3][1].character, U'\u65E5');
}

TEST_F(ScreenModel, WritingOverHalfAWideCharacterBlanksTheOtherHalf) {
  Locate(3, 10);
  PrintText("\xe6\x97\xa5\xe6\x9c\xac");  // columns 10-11 and 12-13
  SetColor(kBlue, kBrightWhite);
  Locate(3, 11);
  PrintText("x");  // over the right half of the first
  EXPECT_EQ(TrimmedRow(3), Blanks(9) + " x\xe6\x9c\xac");
  EXPECT_EQ(CellForeground(3, 10), 7);  // the blanked half keeps its colour
  Locate(3, 13);
  PrintText(kSun);  // over the right half of the second and the cell after it
  EXPECT_EQ(TrimmedRow(3), Blanks(9) + " x " + kSun);
  EXPECT_EQ(CurrentScreen().cells[2][11].part, CellPart::kWhole);
}

TEST_F(ScreenModel, ScrollingKeepsWideCharactersAndPlainTextShowsThemOnce) {
  Locate(41, 80);
  PrintText(kSun + "x");
  EndLine();
  EXPECT_EQ(CurrentScreen().cells[38][79].part, CellPart::kWrapGap);
  EXPECT_EQ(CurrentScreen().cells[39][1].part, CellPart::kWideTail);
  EXPECT_EQ(PlainScreenText(), std::string(39, '\n') + kSun + "x\n");
}

}  // namespace
