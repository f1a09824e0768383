// What the terminal is sent for the screen model's frames: colour mapping,
// changed cells only, the cursor, the window on a small terminal, and the
// message box overlay drawn and taken away.
#include <gtest/gtest.h>

#include <string>

#include "console/message_box.h"
#include "console/screen.h"
#include "console/screen_model.h"
#include "system/terminal_frame.h"

namespace {

// The screen as the console room hands it to the binding, drawn on `view`.
bool AppendScreen(std::string& out, TerminalView& view, const Screen& screen, bool cursorAllowed = true) {
  static FrameCell cells[kScreenRows * kScreenColumns];
  ModelFrame(screen, cells);
  return AppendFrame(out, view, cells, screen.row, screen.column, cursorAllowed && screen.cursorVisible);
}

TEST(ColourMapping, ConsoleNumbersToTheSixteenTerminalColours) {
  // black, blue, green, cyan, red, magenta, brown, light grey, then the bright ones.
  const int foreground[16] = {30, 34, 32, 36, 31, 35, 33, 37, 90, 94, 92, 96, 91, 95, 93, 97};
  for (int colour = 0; colour < 16; ++colour) {
    EXPECT_EQ(AnsiForeground(colour), foreground[colour]) << colour;
    EXPECT_EQ(AnsiBackground(colour), foreground[colour] + 10) << colour;
  }
}

class Frame : public ::testing::Test {
 protected:
  void SetUp() override {
    ModelSetColor(screen, 0, 15);
    ModelClear(screen);
    screen.cursorVisible = false;
    SetTerminalSize(view, kScreenRows, kScreenColumns);
  }

  // Draws everything once and returns what a later frame sends.
  std::string Settle() {
    std::string out;
    AppendScreen(out, view, screen);
    return out;
  }

  std::string Next(bool cursorAllowed = true) {
    std::string out;
    AppendScreen(out, view, screen, cursorAllowed);
    return out;
  }

  Screen screen;
  TerminalView view;
};

TEST_F(Frame, FirstFrameClearsAndDrawsEveryCell) {
  std::string out = Settle();
  const std::string start = "\x1b[?25l\x1b[0m\x1b[2J\x1b[1;1H\x1b[30;107m";
  ASSERT_GE(out.size(), start.size());
  EXPECT_EQ(out.substr(0, start.size()), start);
  // One move per row, one colour choice, and every cell a blank.
  std::string rest = out.substr(start.size());
  std::size_t blanks = 0;
  for (char c : rest) blanks += c == ' ';
  EXPECT_EQ(blanks, static_cast<std::size_t>(kScreenRows * kScreenColumns));
  EXPECT_NE(rest.find("\x1b[41;1H"), std::string::npos);
  EXPECT_EQ(rest.find("\x1b[30;107m"), std::string::npos);  // not repeated
}

TEST_F(Frame, NothingChangedSendsNothing) {
  Settle();
  EXPECT_EQ(Next(), "");
}

TEST_F(Frame, OnlyTheChangedCellsAreSent) {
  Settle();
  ModelLocate(screen, 3, 5);
  ModelSetColor(screen, 8, 15);
  ModelPrint(screen, "ab");
  EXPECT_EQ(Next(), "\x1b[3;5H\x1b[90;107mab");
}

TEST_F(Frame, GapsOnARowGetAMoveAndColoursChangeOnlyWhenNeeded) {
  Settle();
  ModelLocate(screen, 2, 1);
  ModelSetColor(screen, 1, 15);
  ModelPrint(screen, "x");
  ModelLocate(screen, 2, 4);
  ModelPrint(screen, "y");
  ModelSetColor(screen, 0, 15);
  ModelPrint(screen, "z");
  EXPECT_EQ(Next(), "\x1b[2;1H\x1b[34;107mx\x1b[2;4Hy\x1b[30;107mz");
}

TEST_F(Frame, CellsAreSentAsUtf8AndControlsAsQuestionMarks) {
  Settle();
  ModelPrint(screen, "\xc3\xa9\x07\xc3\xbf\xc2\x9b");
  EXPECT_EQ(Next(), "\x1b[1;1H\xc3\xa9?\xc3\xbf?");
}

const std::string kSun = "\xe6\x97\xa5";  // U+65E5, two cells

TEST_F(Frame, WideCharacterIsSentOnceAndTheCursorMovesTwoColumns) {
  Settle();
  ModelLocate(screen, 1, 1);
  ModelPrint(screen, "a" + kSun + "b");
  EXPECT_EQ(Next(), "\x1b[1;1Ha" + kSun + "b");
  // A wrap gap is the blank that was there already; the character goes on
  // the next row.
  ModelLocate(screen, 3, 80);
  ModelPrint(screen, kSun);
  EXPECT_EQ(Next(), "\x1b[4;1H" + kSun);
}

TEST_F(Frame, ChangedHalfOfAWidePairRedrawsThePair) {
  ModelLocate(screen, 2, 5);
  ModelPrint(screen, kSun + kSun);  // columns 5-6 and 7-8
  Settle();
  // Over the right half of the first: its left half is blanked in the model.
  ModelLocate(screen, 2, 6);
  ModelPrint(screen, "x");
  EXPECT_EQ(Next(), "\x1b[2;5H x");
  // A right half the terminal no longer shows for sure (a box covered it):
  // the whole pair is sent again from its left half, never the half alone.
  view.valid[1][7] = false;
  EXPECT_EQ(Next(), "\x1b[2;7H" + kSun);
}

TEST_F(Frame, PairCutByTheEdgeOfANarrowTerminalShowsABlank) {
  SetTerminalSize(view, 41, 40);
  Settle();
  ModelLocate(screen, 1, 40);
  ModelPrint(screen, kSun);  // columns 40-41: only the left half is shown
  ModelLocate(screen, 1, 1);
  EXPECT_EQ(Next(), "\x1b[1;40H ");
}

TEST_F(Frame, AttributeOfACellAloneIsAChange) {
  Settle();
  ModelSetColor(screen, 8, 15);
  ModelLocate(screen, 41, 80);
  ModelPrint(screen, " ");  // the character stays a blank, the colour changes
  EXPECT_EQ(Next(), "\x1b[41;80H\x1b[90;107m ");
}

TEST_F(Frame, CursorIsShownAtItsCellOnlyWhileVisible) {
  Settle();
  ModelLocate(screen, 8, 18);
  screen.cursorVisible = true;
  EXPECT_EQ(Next(), "\x1b[8;18H\x1b[?25h");
  EXPECT_EQ(Next(), "");
  ModelPrint(screen, "a");
  EXPECT_EQ(Next(), "\x1b[?25l\x1b[8;18Ha\x1b[8;19H\x1b[?25h");
  screen.cursorVisible = false;
  EXPECT_EQ(Next(), "\x1b[?25l");
  EXPECT_EQ(Next(), "");
}

TEST_F(Frame, CursorStaysHiddenWhenNotAllowed) {
  Settle();
  screen.cursorVisible = true;
  EXPECT_EQ(Next(false), "");
}

TEST_F(Frame, CursorInThePendingWrapSitsOnTheLastCell) {
  Settle();
  ModelLocate(screen, 41, 80);
  ModelPrint(screen, "q");
  screen.cursorVisible = true;
  EXPECT_EQ(Next(), "\x1b[41;80Hq\x1b[41;80H\x1b[?25h");
}

TEST_F(Frame, ScrolledScreenResendsTheRowsThatChanged) {
  ModelLocate(screen, 41, 1);
  ModelPrint(screen, "last");
  Settle();
  ModelEndLine(screen);
  // Row 40 now holds "last" and row 41 is blank: only those cells differ.
  EXPECT_EQ(Next(), "\x1b[40;1Hlast\x1b[41;1H    ");
}

TEST_F(Frame, SmallTerminalShowsThePartHoldingTheCursor) {
  SetTerminalSize(view, 24, 80);
  ModelLocate(screen, 30, 1);
  ModelPrint(screen, "status");
  std::string out;
  EXPECT_TRUE(AppendScreen(out, view, screen));
  // Cursor on model row 30 (after "status"): rows 7..30 are shown.
  EXPECT_EQ(view.topRow, 6);
  EXPECT_NE(out.find("\x1b[24;1Hstatus"), std::string::npos);
  EXPECT_EQ(out.find("\x1b[25;1H"), std::string::npos);

  // The window stays put while the cursor is inside it.
  ModelLocate(screen, 10, 1);
  ModelPrint(screen, "up");
  out.clear();
  EXPECT_FALSE(AppendScreen(out, view, screen));
  EXPECT_EQ(out, "\x1b[4;1Hup");

  // Above it: the window follows, and everything is drawn afresh.
  ModelLocate(screen, 2, 1);
  out.clear();
  EXPECT_TRUE(AppendScreen(out, view, screen));
  EXPECT_EQ(view.topRow, 1);
  EXPECT_NE(out.find("\x1b[9;1Hup"), std::string::npos);
}

TEST_F(Frame, NarrowTerminalFollowsTheCursorColumn) {
  SetTerminalSize(view, 41, 40);
  ModelLocate(screen, 1, 61);
  ModelPrint(screen, "ab");
  std::string out;
  AppendScreen(out, view, screen);
  EXPECT_EQ(view.leftColumn, 23);  // cursor on column 63 is the window's last column
  EXPECT_NE(out.find("\x1b[1;1H\x1b[30;107m" + std::string(37, ' ') + "ab"), std::string::npos);
}

TEST_F(Frame, ResizeDrawsEverythingAgain) {
  Settle();
  SetTerminalSize(view, 41, 80);
  std::string out = Next();
  EXPECT_EQ(out.substr(0, 8), "\x1b[0m\x1b[2J");
  EXPECT_GT(out.size(), static_cast<std::size_t>(kScreenRows * kScreenColumns));
}

constexpr std::string_view kNotFound = "            File not found.\\n Please enter a valid filename";
constexpr std::string_view kTitle = "              ERROR";

std::string Repeat(std::string_view piece, int times) {
  std::string out;
  for (int i = 0; i < times; ++i) out += piece;
  return out;
}

TEST_F(Frame, MessageBoxOverlayIsDrawnRowByRowInItsColours) {
  Settle();
  std::string out;
  AppendScreen(out, view, MessageBoxOverlay(screen, kNotFound, kTitle));
  const std::string horizontal = "\xe2\x94\x80";
  const std::string vertical = "\xe2\x94\x82";
  std::string top = "\x1b[18;23H\x1b[30;47m\xe2\x94\x8c" + Repeat(horizontal, 13) + " ERROR " +
                    Repeat(horizontal, 14) + "\xe2\x94\x90";
  EXPECT_EQ(out.substr(0, top.size()), top);
  EXPECT_NE(out.find("\x1b[20;23H" + vertical + "  " + "            File not found." +
                     std::string(5, ' ') + vertical),
            std::string::npos);
  EXPECT_NE(out.find("\x1b[21;23H" + vertical + "   Please enter a valid filename  " + vertical),
            std::string::npos);
  EXPECT_NE(out.find("\x1b[23;23H" + vertical + std::string(14, ' ') +
                     "\x1b[97;44m[ OK ]\x1b[30;47m" + std::string(14, ' ') + vertical),
            std::string::npos);
  EXPECT_NE(out.find("\x1b[24;23H\xe2\x94\x94" + Repeat(horizontal, 34) + "\xe2\x94\x98"),
            std::string::npos);
  EXPECT_EQ(out.find("\x1b[?25h"), std::string::npos);  // no cursor while the box is up
}

TEST_F(Frame, ScreenUnderTheBoxComesBackAfterIt) {
  ModelLocate(screen, 20, 30);
  ModelPrint(screen, "under");
  Settle();
  std::string out;
  AppendScreen(out, view, MessageBoxOverlay(screen, kNotFound, kTitle));
  out = Next();
  // Only the cells under the box differ from it.
  for (int row = 18; row <= 24; ++row)
    EXPECT_NE(out.find("\x1b[" + std::to_string(row) + ";23H"), std::string::npos) << row;
  EXPECT_NE(out.find("       under"), std::string::npos);
  EXPECT_EQ(out.find("\x1b[17;"), std::string::npos);
  EXPECT_EQ(out.find("\x1b[25;"), std::string::npos);
  EXPECT_EQ(Next(), "");
}

TEST_F(Frame, WideCharacterHalfUnderTheBoxEdgeComesBackWhole) {
  ModelLocate(screen, 20, 22);
  ModelPrint(screen, kSun);  // columns 22-23; the box's left frame is column 23
  Settle();
  std::string out;
  AppendScreen(out, view, MessageBoxOverlay(screen, kNotFound, kTitle));
  // Its left half outside the box is a blank while the box is up.
  EXPECT_NE(out.find("\x1b[20;22H\x1b[30;107m \x1b[30;47m\xe2\x94\x82"), std::string::npos);
  EXPECT_NE(Next().find("\x1b[20;22H" + kSun), std::string::npos);
}

TEST_F(Frame, SmallTerminalFollowsTheBoxButton) {
  SetTerminalSize(view, 12, 80);
  Settle();
  std::string out;
  AppendScreen(out, view, MessageBoxOverlay(screen, kNotFound, kTitle));
  // The hidden cursor stands on the button (row 23): the window moves to hold
  // it, and draws its rows afresh, the box's among them.
  EXPECT_EQ(view.topRow, 11);
  EXPECT_NE(out.find("\x1b[12;1H" + std::string(22, ' ') + "\x1b[30;47m\xe2\x94\x82" +
                     std::string(14, ' ') + "\x1b[97;44m[ OK ]"),
            std::string::npos);
  EXPECT_EQ(out.find("\x1b[13;"), std::string::npos);
}

}  // namespace
