// ReadLine, WaitKey, message boxes and beeps with scripted keys, headless.
#include <gtest/gtest.h>

#include <algorithm>
#include <ostream>
#include <string>
#include <vector>

#include "console/character_width.h"
#include "console/console.h"
#include "console/headless.h"

namespace {

std::string Blanks(int n) { return std::string(static_cast<std::size_t>(n), ' '); }

std::pair<int, int> Cursor() { return {CurrentScreen().row + 1, CurrentScreen().column + 1}; }

bool SameCells(const Screen& a, const Screen& b) {
  return std::equal(&a.cells[0][0], &a.cells[0][0] + kScreenRows * kScreenColumns, &b.cells[0][0]);
}

TEST(ReadLine, TypedLineWithBackspace) {
  StartHeadlessConsole(
      "ab\x08"
      "c\r");
  SetColor(kBlack, kBrightWhite);
  Locate(8, 18);
  EXPECT_EQ(ReadLine().text, "ac");
  EXPECT_EQ(ScreenRowText(8), Blanks(17) + "ac" + Blanks(61));
  EXPECT_EQ(Cursor(), std::make_pair(9, 1));
}

TEST(ReadLine, BackspaceLeavesABlankInTheCurrentColour) {
  StartHeadlessConsole("ab\x08\r");
  SetColor(kDarkGrey, kBrightWhite);
  EXPECT_EQ(ReadLine().text, "a");
  EXPECT_EQ(ScreenRowText(1).substr(0, 2), "a ");
  EXPECT_EQ(CellForeground(1, 2), kDarkGrey);
  EXPECT_EQ(CellBackground(1, 2), kBrightWhite);
  EXPECT_EQ(CellForeground(1, 3), 7);  // never written
}

TEST(ReadLine, DeleteIsBackspaceToo) {
  StartHeadlessConsole("xy\x7f\x7fz\n");
  EXPECT_EQ(ReadLine().text, "z");
  EXPECT_EQ(ScreenRowText(1), std::string("z").append(79, ' '));
}

TEST(ReadLine, EnterAloneGivesTheEmptyLine) {
  StartHeadlessConsole("\n");
  Locate(8, 18);
  EXPECT_EQ(ReadLine().text, "");
  EXPECT_EQ(Cursor(), std::make_pair(9, 1));
}

TEST(ReadLine, LineIsKeptExactlyAsTyped) {
  StartHeadlessConsole("  a b  \n");
  EXPECT_EQ(ReadLine().text, "  a b  ");
}

TEST(ReadLine, KeysThatTypeNothingChangeNothing) {
  // Backspace on an empty line, Escape, Tab, Ctrl+C, arrows, F1, F5, Home,
  // Alt+x, Alt+e acute, a C1 control, then Enter.
  StartHeadlessConsole(
      "\x7f\x1b\t\x03\x1b[A\x1b[D\x1bOP\x1b[15~\x1b[H\x1bx\x1b\xc3\xa9\xc2\x85\x1b\x1b[B\r");
  SetColor(kBlack, kBrightWhite);
  Locate(8, 18);
  Screen before = CurrentScreen();
  EXPECT_EQ(ReadLine().text, "");
  EXPECT_TRUE(SameCells(before, CurrentScreen()));
}

// Names in several scripts, typed at column 18: kept as typed (UTF-8) and
// echoed one character to a cell, two cells for a wide one.
struct NameCase {
  const char* label;
  std::string name;
  int cells;
};

void PrintTo(const NameCase& c, std::ostream* os) { *os << c.label; }

class TypedNames : public ::testing::TestWithParam<NameCase> {};

TEST_P(TypedNames, AreKeptAndEchoedCellForCell) {
  const NameCase& c = GetParam();
  StartHeadlessConsole(c.name + "\r");
  Locate(8, 18);
  EXPECT_EQ(ReadLine().text, c.name);
  EXPECT_EQ(ScreenRowText(8), Blanks(17) + c.name + Blanks(63 - c.cells));
  // Typed again and taken back character by character: nothing is left.
  std::string keys = c.name;
  for (std::size_t at = 0; at < c.name.size();) {
    NextCharacter(c.name, at);
    keys += "\x7f";
  }
  StartHeadlessConsole(keys + "\r");
  Locate(8, 18);
  EXPECT_EQ(ReadLine().text, "");
  EXPECT_EQ(ScreenRowText(8), Blanks(80));
}

INSTANTIATE_TEST_SUITE_P(
    Scripts, TypedNames,
    ::testing::Values(NameCase{"Latin-1", "caf\xc3\xa9 \xc3\xbf.wav", 10},
                      NameCase{"Central European",
                               "\xc5\x81\xc3\xb3"
                               "d\xc5\xba \xc5\x91.wav",
                               10},
                      NameCase{"Cyrillic", "\xd0\x96\xd0\xb8\xd0\xb7\xd0\xbd\xd1\x8c.wav", 9},
                      NameCase{"Greek", "\xce\xa9\xce\xbc\xce\xad\xce\xb3\xce\xb1.wav", 9},
                      NameCase{"CJK", "\xe9\x8c\xb2\xe9\x9f\xb3 \xe6\x97\xa5\xe6\x9c\xac.wav", 13},
                      NameCase{"emoji", "out \xf0\x9f\x8e\xb5 \xc3\xa9.wav", 12}));

// Backspace takes back a wide character whole, across the row edge too.
struct BackspaceCase {
  const char* label;
  int row;
  int column;
  std::string keys;
  std::string line;
  int firstRow;
  std::vector<std::string> rows;  // rows from `firstRow` on
};

void PrintTo(const BackspaceCase& c, std::ostream* os) { *os << c.label; }

class WideBackspace : public ::testing::TestWithParam<BackspaceCase> {};

TEST_P(WideBackspace, TakesTheCharacterAndBothCells) {
  const BackspaceCase& c = GetParam();
  StartHeadlessConsole(c.keys + "\r");
  Locate(c.row, c.column);
  EXPECT_EQ(ReadLine().text, c.line) << c.label;
  for (std::size_t i = 0; i < c.rows.size(); ++i)
    EXPECT_EQ(ScreenRowText(c.firstRow + static_cast<int>(i)), c.rows[i])
        << c.label << " row " << i;
}

const std::string kSun = "\xe6\x97\xa5";  // U+65E5, two cells

INSTANTIATE_TEST_SUITE_P(
    Cases, WideBackspace,
    ::testing::Values(BackspaceCase{"inside the row",
                                    5,
                                    18,
                                    "a" + kSun +
                                        "\x7f"
                                        "b",
                                    "ab",
                                    5,
                                    {Blanks(17) + "ab" + Blanks(61)}},
                      // The character stood in columns 79-80: the cursor goes back to 79.
                      BackspaceCase{"pair ending in the last column",
                                    5,
                                    79,
                                    kSun + "\x7fz",
                                    "z",
                                    5,
                                    {Blanks(78) + "z ", Blanks(80)}},
                      // One cell was left: it wrapped whole, leaving a gap; taking it back
                      // takes the gap too, and the next character goes into the last column.
                      BackspaceCase{"wrapped with a gap",
                                    5,
                                    79,
                                    "a" + kSun +
                                        "\x7f"
                                        "b",
                                    "ab",
                                    5,
                                    {Blanks(78) + "ab", Blanks(80)}},
                      BackspaceCase{"narrow, then back over the row edge to a wide one",
                                    5,
                                    78,
                                    kSun + "x\x7f\x7f\xc3\xa9",
                                    "\xc3\xa9",
                                    5,
                                    {Blanks(77) + "\xc3\xa9" + Blanks(2), Blanks(80)}},
                      // Enter on the bottom row scrolls once: the row is then row 40.
                      BackspaceCase{"from the pending wrap",
                                    41,
                                    79,
                                    kSun + "\x7fz",
                                    "z",
                                    40,
                                    {Blanks(78) + "z ", Blanks(80)}},
                      // The wide character scrolled to wrap, so its gap went up to row 40;
                      // Backspace returns there, z fills it and Enter scrolls once more.
                      BackspaceCase{"wrapped from the bottom row",
                                    41,
                                    80,
                                    kSun + "\x7fz",
                                    "z",
                                    39,
                                    {Blanks(79) + "z", Blanks(80), Blanks(80)}}));

TEST(ReadLine, ScriptKeepsMarksOfNoWidthAndBytesThatAreNotUtf8) {
  // A decomposed é (e, combining acute) and a Latin-1 byte: kept in the line,
  // the mark without a cell, the byte shown as U+FFFD; Backspace takes either.
  StartHeadlessConsole("e\xcc\x81x\xe9\re\xcc\x81\xe9\x7f\x7f\r");
  EXPECT_EQ(ReadLine().text, "e\xcc\x81x\xe9");
  EXPECT_EQ(ScreenRowText(1).substr(0, 6), "ex\xef\xbf\xbd ");
  EXPECT_EQ(ReadLine().text, "e");
  EXPECT_EQ(ScreenRowText(2).substr(0, 2), "e ");
}

TEST(ReadLine, PlainLineEndsLfCrAndCrLfAreEachOneEnter) {
  StartHeadlessConsole("a\rb\r\nc\nd\n\r");
  EXPECT_EQ(ReadLine().text, "a");
  EXPECT_EQ(ReadLine().text, "b");
  EXPECT_EQ(ReadLine().text, "c");
  EXPECT_EQ(ReadLine().text, "d");
  EXPECT_EQ(ReadLine().text, "");  // LF then CR: two line ends
}

TEST(ReadLine, LineRunsOnAcrossTheRightEdgeAndBackspaceWalksBack) {
  StartHeadlessConsole("abcd\x7f\x7f\x7f\r");
  Locate(5, 79);
  EXPECT_EQ(ReadLine().text, "a");
  EXPECT_EQ(ScreenRowText(5), Blanks(78) + "a ");
  EXPECT_EQ(ScreenRowText(6), Blanks(80));
  EXPECT_EQ(Cursor(), std::make_pair(6, 1));
}

TEST(ReadLine, BackspaceAcrossTheRowBoundaryLeavesCursorInTheLastColumn) {
  StartHeadlessConsole("abc\x7fX\x7f\x7fY\r");
  Locate(5, 79);
  // a(5,79) b(5,80) c(6,1); Backspace: c gone; X at (6,1); two Backspaces:
  // X and b gone, cursor on (5,80); Y there.
  EXPECT_EQ(ReadLine().text, "aY");
  EXPECT_EQ(ScreenRowText(5), Blanks(78) + "aY");
  EXPECT_EQ(ScreenRowText(6), Blanks(80));
}

TEST(ReadLine, BackspaceFromThePendingWrap) {
  StartHeadlessConsole(
      "ab\x7f"
      "c\r");
  Locate(41, 79);
  EXPECT_EQ(ReadLine().text, "ac");
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
  EXPECT_EQ(ReadLine().text, "abc");
  EXPECT_EQ(ScreenRowText(39), Blanks(79) + "a");
  EXPECT_EQ(ScreenRowText(40), "bc" + Blanks(78));
  EXPECT_EQ(ScreenRowText(41), Blanks(80));
}

TEST(ReadLine, TheLimitCountsCharactersNotBytes) {
  std::string keys;
  for (int i = 0; i < 9999; ++i) keys += "\xc5\x91";  // two bytes each
  StartHeadlessConsole(keys + kSun + "\xc3\xa9\r");
  std::string line = ReadLine().text;
  EXPECT_EQ(line.size(), 2 * 9999u + 3u);
  EXPECT_EQ(line.substr(line.size() - 3), kSun);
}

TEST(ReadLine, The10001stCharacterIsNeitherEchoedNorKept) {
  std::string keys(9999, 'a');
  keys += "bc\r";
  StartHeadlessConsole(keys);
  std::string line = ReadLine().text;
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
  std::string line = ReadLine().text;
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

TEST(ReadLine, ScriptLastLineWithoutALineEndIsALine) {
  StartHeadlessConsole("abc\nlast");
  EXPECT_EQ(ReadLine().text, "abc");
  EXPECT_EQ(ReadLine().text, "last");
  StartHeadlessConsole("a\x1b");  // a lone Escape at the end types nothing
  EXPECT_EQ(ReadLine().text, "a");
  StartHeadlessConsole("ab\x7f\x7f");
  EXPECT_EQ(ReadLine().text, "");
}

// The end of input is told to the caller, which reports it naming the prompt.
TEST(ReadLineDeathTest, EndOfInputAtAPromptIsToldAndReportedNamingIt) {
  EXPECT_EXIT(
      {
        StartHeadlessConsole("abc\n");
        const TypedLine first = ReadLine();
        const TypedLine second = ReadLine();
        if (first.text != "abc" || first.inputEnded || !second.inputEnded) std::exit(2);
        ReportInputEnded("   Output file? ");
        std::exit(1);
      },
      ::testing::ExitedWithCode(1), "^ERROR: input ended at the prompt \"Output file\\?\"\n$");
}

TEST(WaitKey, LeavesTheKeyUnread) {
  StartHeadlessConsole("k\r");
  WaitKey();
  EXPECT_EQ(ReadLine().text, "k");
}

TEST(MessageBox, IsLoggedAndReadsNoKey) {
  StartHeadlessConsole("name\r");
  PrintText("screen");
  Screen before = CurrentScreen();
  ShowMessageBox("            File not found.\\n Please enter a valid filename",
                 "              ERROR");
  ASSERT_EQ(MessageBoxLog().size(), 1u);
  EXPECT_EQ(MessageBoxLog()[0].text,
            "            File not found.\\n Please enter a valid filename");
  EXPECT_EQ(MessageBoxLog()[0].title, "              ERROR");
  EXPECT_TRUE(SameCells(before, CurrentScreen()));
  EXPECT_EQ(ReadLine().text, "name");
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
