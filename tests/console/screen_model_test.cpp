// The screen model through the console operations, headless: printing,
// wrapping, scrolling, line ends, clearing, cursor placement and the typed
// line with its Backspace, compared cell by cell with colours.
#include <gtest/gtest.h>

#include <string>

#include "console/console.h"
#include "console/screen.h"

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

TEST_F(ScreenModel, PrintTextStoresEveryByteUninterpreted) {
  PrintText(std::string("a\tb\r\n\xe9", 6));
  EXPECT_EQ(ScreenRowText(1).substr(0, 7), std::string("a\tb\r\n\xe9 ", 7));
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
  PrintText(std::string("caf\xe9 \x1b", 6));
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

TEST(Latin1Names, BecomeUtf8) {
  EXPECT_EQ(Latin1ToUtf8("plain.wav"), "plain.wav");
  EXPECT_EQ(Latin1ToUtf8("\xe9t\xe9.wav"), "\xc3\xa9t\xc3\xa9.wav");
  EXPECT_EQ(Latin1ToUtf8("\xa0\xff"), "\xc2\xa0\xc3\xbf");
}

}  // namespace
