// ReadLine, WaitKey, message boxes and beeps with scripted keys, headless.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "console/console.h"
#include "console/screen.h"

namespace {

std::string Blanks(int n) { return std::string(static_cast<std::size_t>(n), ' '); }

std::pair<int, int> Cursor() { return {CurrentScreen().row + 1, CurrentScreen().column + 1}; }

bool SameCells(const Screen& a, const Screen& b) {
  return std::memcmp(a.cells, b.cells, sizeof a.cells) == 0;
}

TEST(ReadLine, TypedLineWithBackspace) {
  StartHeadlessConsole("ab\x08" "c\r");
  SetColor(kBlack, kBrightWhite);
  Locate(8, 18);
  EXPECT_EQ(ReadLine(), "ac");
  EXPECT_EQ(ScreenRowText(8), Blanks(17) + "ac" + Blanks(61));
  EXPECT_EQ(Cursor(), std::make_pair(9, 1));
}

TEST(ReadLine, BackspaceLeavesABlankInTheCurrentColour) {
  StartHeadlessConsole("ab\x08\r");
  SetColor(kDarkGrey, kBrightWhite);
  EXPECT_EQ(ReadLine(), "a");
  EXPECT_EQ(ScreenRowText(1).substr(0, 2), "a ");
  EXPECT_EQ(CellForeground(1, 2), kDarkGrey);
  EXPECT_EQ(CellBackground(1, 2), kBrightWhite);
  EXPECT_EQ(CellForeground(1, 3), 7);  // never written
}

TEST(ReadLine, DeleteIsBackspaceToo) {
  StartHeadlessConsole("xy\x7f\x7fz\n");
  EXPECT_EQ(ReadLine(), "z");
  EXPECT_EQ(ScreenRowText(1), "z" + Blanks(79));
}

TEST(ReadLine, EnterAloneGivesTheEmptyLine) {
  StartHeadlessConsole("\n");
  Locate(8, 18);
  EXPECT_EQ(ReadLine(), "");
  EXPECT_EQ(Cursor(), std::make_pair(9, 1));
}

TEST(ReadLine, LineIsKeptExactlyAsTyped) {
  StartHeadlessConsole("  a b  \n");
  EXPECT_EQ(ReadLine(), "  a b  ");
}

TEST(ReadLine, KeysThatTypeNothingChangeNothing) {
  // Backspace on an empty line, Escape, Tab, Ctrl+C, arrows, F1, F5, Home,
  // Alt+x, a character outside Latin-1, then Enter.
  StartHeadlessConsole(
      "\x7f\x1b\t\x03\x1b[A\x1b[D\x1bOP\x1b[15~\x1b[H\x1bx\xe2\x82\xac\x1b\x1b[B\r");
  SetColor(kBlack, kBrightWhite);
  Locate(8, 18);
  Screen before = CurrentScreen();
  EXPECT_EQ(ReadLine(), "");
  EXPECT_TRUE(SameCells(before, CurrentScreen()));
}

TEST(ReadLine, Latin1CharactersTypedAsUtf8) {
  StartHeadlessConsole("caf\xc3\xa9 \xc3\xbf\n");
  EXPECT_EQ(ReadLine(), "caf\xe9 \xff");
  EXPECT_EQ(ScreenRowText(1).substr(0, 7), "caf\xe9 \xff ");
}

TEST(ReadLine, PlainLineEndsLfCrAndCrLfAreEachOneEnter) {
  StartHeadlessConsole("a\rb\r\nc\nd\n\r");
  EXPECT_EQ(ReadLine(), "a");
  EXPECT_EQ(ReadLine(), "b");
  EXPECT_EQ(ReadLine(), "c");
  EXPECT_EQ(ReadLine(), "d");
  EXPECT_EQ(ReadLine(), "");  // LF then CR: two line ends
}

TEST(ReadLine, LineRunsOnAcrossTheRightEdgeAndBackspaceWalksBack) {
  StartHeadlessConsole("abcd\x7f\x7f\x7f\r");
  Locate(5, 79);
  EXPECT_EQ(ReadLine(), "a");
  EXPECT_EQ(ScreenRowText(5), Blanks(78) + "a ");
  EXPECT_EQ(ScreenRowText(6), Blanks(80));
  EXPECT_EQ(Cursor(), std::make_pair(6, 1));
}

TEST(ReadLine, BackspaceAcrossTheRowBoundaryLeavesCursorInTheLastColumn) {
  StartHeadlessConsole("abc\x7fX\x7f\x7fY\r");
  Locate(5, 79);
  // a(5,79) b(5,80) c(6,1); Backspace: c gone; X at (6,1); two Backspaces:
  // X and b gone, cursor on (5,80); Y there.
  EXPECT_EQ(ReadLine(), "aY");
  EXPECT_EQ(ScreenRowText(5), Blanks(78) + "aY");
  EXPECT_EQ(ScreenRowText(6), Blanks(80));
}

TEST(ReadLine, BackspaceFromThePendingWrap) {
  StartHeadlessConsole("ab\x7f" "c\r");
  Locate(41, 79);
  EXPECT_EQ(ReadLine(), "ac");
  // "ab" ends in the pending wrap; Backspace blanks the last cell and leaves
  // the cursor on it, "c" goes there (pending wrap again), Enter scrolls twice.
  EXPECT_EQ(ScreenRowText(39), Blanks(78) + "ac");
  EXPECT_EQ(ScreenRowText(40), Blanks(80));
  EXPECT_EQ(ScreenRowText(41), Blanks(80));
  EXPECT_EQ(Cursor(), std::make_pair(41, 1));
}

TEST(ReadLine, TypingPastTheBottomRowScrolls) {
  StartHeadlessConsole("abc\r");
  Locate(41, 80);
  EXPECT_EQ(ReadLine(), "abc");
  EXPECT_EQ(ScreenRowText(39), Blanks(79) + "a");
  EXPECT_EQ(ScreenRowText(40), "bc" + Blanks(78));
  EXPECT_EQ(ScreenRowText(41), Blanks(80));
}

TEST(ReadLine, The10001stCharacterIsNeitherEchoedNorKept) {
  std::string keys(9999, 'a');
  keys += "bc\r";
  StartHeadlessConsole(keys);
  std::string line = ReadLine();
  ASSERT_EQ(line.size(), 10000u);
  EXPECT_EQ(line.back(), 'b');
  // 10000 characters from the top left end in the bottom right cell (the
  // pending wrap): Enter scrolls twice. An echoed 'c' would have scrolled
  // once more and stood at the start of row 40.
  EXPECT_EQ(ScreenRowText(39), std::string(79, 'a') + "b");
  EXPECT_EQ(ScreenRowText(40), Blanks(80));
  EXPECT_EQ(ScreenRowText(41), Blanks(80));
}

TEST(ReadLine, BackspaceAtTheCapMakesRoomAgain) {
  std::string keys(10000, 'a');
  keys += "x\x7fy\r";
  StartHeadlessConsole(keys);
  std::string line = ReadLine();
  ASSERT_EQ(line.size(), 10000u);
  EXPECT_EQ(line.substr(9998), "ay");
}

TEST(ReadLine, HiddenCursorIsHiddenAgainAfterwards) {
  StartHeadlessConsole("a\rb\r");
  HideCursor();
  ReadLine();
  EXPECT_FALSE(CurrentScreen().cursorVisible);
  StartHeadlessConsole("a\r");
  ReadLine();
  EXPECT_TRUE(CurrentScreen().cursorVisible);
}

TEST(ReadLineDeathTest, EndOfInputEndsTheProgramWithStatusOne) {
  EXPECT_EXIT(
      {
        StartHeadlessConsole("abc");
        ReadLine();
        std::exit(0);
      },
      ::testing::ExitedWithCode(1), "");
}

TEST(ReadLineDeathTest, LoneEscapeAtTheEndOfInputIsStillTheEnd) {
  EXPECT_EXIT(
      {
        StartHeadlessConsole("a\x1b");
        ReadLine();
        std::exit(0);
      },
      ::testing::ExitedWithCode(1), "");
}

TEST(WaitKey, LeavesTheKeyUnread) {
  StartHeadlessConsole("k\r");
  WaitKey();
  EXPECT_EQ(ReadLine(), "k");
}

TEST(MessageBox, IsLoggedAndReadsNoKey) {
  StartHeadlessConsole("name\r");
  PrintText("screen");
  Screen before = CurrentScreen();
  ShowMessageBox("            File not found.\\n Please enter a valid filename", "              ERROR");
  ASSERT_EQ(MessageBoxLog().size(), 1u);
  EXPECT_EQ(MessageBoxLog()[0].text, "            File not found.\\n Please enter a valid filename");
  EXPECT_EQ(MessageBoxLog()[0].title, "              ERROR");
  EXPECT_TRUE(SameCells(before, CurrentScreen()));
  EXPECT_EQ(ReadLine(), "name");
}

TEST(MessageBox, LogStartsEmptyWithEachHeadlessConsole) {
  StartHeadlessConsole("");
  ShowMessageBox("a", "b");
  StartHeadlessConsole("");
  EXPECT_TRUE(MessageBoxLog().empty());
}

TEST(Beep, IsCounted) {
  StartHeadlessConsole("");
  EXPECT_EQ(BeepCount(), 0);
  Beep();
  Pause(1);
  Beep();
  EXPECT_EQ(BeepCount(), 2);
}

}  // namespace
