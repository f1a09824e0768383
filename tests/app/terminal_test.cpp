// The program in a real terminal: started in an 80 x 41 tmux pane, read back
// with capture-pane as a person sees it (characters and colours), driven with
// send-keys, ended with SIGTERM, and the pane checked for a restored terminal;
// names in CJK and emoji typed, taken back and opened, with tmux's cursor
// where the screen model has it.
#include <gtest/gtest.h>

#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "tests/app/app_test_support.h"
#include "tests/app/tmux_pane.h"

namespace fs = std::filesystem;

namespace {

using apptest::WaitUntil;
using tmuxpane::CellAt;
using tmuxpane::Pane;
using tmuxpane::RowText;
using tmuxpane::TrimRight;
using tmuxpane::Words;

class TerminalRun : public tmuxpane::PaneTest {
 protected:
  // tmux's cursor as "row column", both from 0, once it has come to rest there.
  std::string CursorAt(const std::string& expected) {
    WaitUntil([&] { return session_.Format("#{cursor_y} #{cursor_x}") == expected; }, 20);
    return session_.Format("#{cursor_y} #{cursor_x}");
  }
};

void ExpectBannerScreen(const Pane& pane) {
  ASSERT_GE(pane.size(), 41u);
  EXPECT_EQ(TrimRight(RowText(pane, 1)), "");
  EXPECT_EQ(TrimRight(RowText(pane, 2)), "   Ostrivale v1");
  EXPECT_EQ(RowText(pane, 3).substr(0, 3), "   ");
  EXPECT_NE(TrimRight(RowText(pane, 3)), "");
  EXPECT_EQ(RowText(pane, 4).substr(0, 3), "   ");
  EXPECT_NE(TrimRight(RowText(pane, 4)), "");
  for (int row = 5; row <= 7; ++row) EXPECT_EQ(TrimRight(RowText(pane, row)), "") << row;
  EXPECT_EQ(TrimRight(RowText(pane, 8)), "   Input file?");
  for (int row = 9; row <= 41; ++row) EXPECT_EQ(TrimRight(RowText(pane, row)), "") << row;
  // Banner black on bright white, prompt dark grey, the whole screen bright white.
  EXPECT_EQ(CellAt(pane, 2, 4).foreground, 30);
  EXPECT_EQ(CellAt(pane, 2, 4).background, 107);
  EXPECT_EQ(CellAt(pane, 8, 4).foreground, 90);
  EXPECT_EQ(CellAt(pane, 8, 4).background, 107);
  for (int row : {1, 20, 41})
    for (int column : {1, 40, 80})
      EXPECT_EQ(CellAt(pane, row, column).background, 107) << row << "," << column;
}

TEST_F(TerminalRun, BannerMissingFileBoxAndRestoreAfterSigterm) {
  ASSERT_TRUE(StartAtInputPrompt()) << session_.Text();
  ExpectBannerScreen(session_.Colours());
  EXPECT_EQ(session_.Format("#{alternate_on}"), "1");

  // The typed name stands in black from column 18 of the prompt row.
  session_.Keys("missing.wav");
  ASSERT_TRUE(session_.WaitForText("missing.wav")) << session_.Text();
  Pane typing = session_.Colours();
  EXPECT_EQ(TrimRight(RowText(typing, 8)), "   Input file?   missing.wav");
  EXPECT_EQ(CellAt(typing, 8, 18).foreground, 30);
  EXPECT_EQ(session_.Format("#{cursor_flag} #{cursor_y} #{cursor_x}"), "1 7 28");

  session_.Keys("Enter");
  ASSERT_TRUE(session_.WaitForText("[ OK ]")) << session_.Text();
  std::string boxScreen = session_.Text();
  EXPECT_NE(boxScreen.find("File not found."), std::string::npos);
  EXPECT_NE(boxScreen.find("Please enter a valid filename"), std::string::npos);
  EXPECT_NE(boxScreen.find("ERROR"), std::string::npos);
  // The screen under the box is still there.
  EXPECT_NE(boxScreen.find("   Ostrivale v1"), std::string::npos);

  // Closing the box restarts at the banner screen, the old answer gone.
  session_.Keys("Enter");
  ASSERT_TRUE(WaitUntil([&] { return session_.Text().find("[ OK ]") == std::string::npos; }))
      << session_.Text();
  ASSERT_TRUE(session_.WaitForText("Input file?"));
  ExpectBannerScreen(session_.Colours());

  // Ended from outside: the terminal comes back as it was.
  pid_t pid = session_.ProgramPid();
  ASSERT_GT(pid, 0);
  ASSERT_EQ(kill(pid, SIGTERM), 0);
  ExpectTerminalRestored(SIGTERM);
  if (HasFatalFailure()) return;
  // The shell's own text is in the terminal's default colours again.
  Pane after = session_.Colours();
  for (int row = 1; row <= static_cast<int>(after.size()); ++row) {
    std::string text = RowText(after, row);
    std::size_t at = text.find("EXIT=143");
    if (at == std::string::npos) continue;
    EXPECT_EQ(CellAt(after, row, static_cast<int>(at) + 1).foreground, -1);
    EXPECT_EQ(CellAt(after, row, static_cast<int>(at) + 1).background, -1);
  }
}

const std::string kSun = "\xe6\x97\xa5";       // U+65E5, two cells
const std::string kBook = "\xe6\x9c\xac";      // U+672C, two cells
const std::string kNote = "\xf0\x9f\x8e\xb5";  // U+1F3B5, two cells

TEST_F(TerminalRun, CjkAndEmojiNamesAreTypedTakenBackAndOpened) {
  const std::string input = "\xe9\x8c\xb2\xe9\x9f\xb3 " + kSun + kBook + ".wav";  // 13 cells
  apptest::WriteFile(work_ / input, apptest::MakeWave(1, 96000, {100, -100, 2000}));
  apptest::WriteFile(work_ / "FilterB.dat", apptest::ImpulseText({"65536"}, 19, "0", "\n"));
  ASSERT_TRUE(StartAtInputPrompt()) << session_.Text();

  session_.Literal(input);
  ASSERT_TRUE(session_.WaitForText(input)) << session_.Text();
  EXPECT_EQ(TrimRight(RowText(session_.Colours(), 8)), "   Input file?   " + input);
  EXPECT_EQ(CursorAt("7 30"), "7 30");  // column 18 + 13 cells, from 0
  // ".wav" and the wide character before it taken back, then typed again.
  session_.Keys("BSpace BSpace BSpace BSpace BSpace");
  EXPECT_EQ(CursorAt("7 24"), "7 24");
  EXPECT_EQ(TrimRight(RowText(session_.Colours(), 8)),
            "   Input file?   \xe9\x8c\xb2\xe9\x9f\xb3 " + kSun);
  session_.Literal(kBook + ".wav");
  EXPECT_EQ(CursorAt("7 30"), "7 30");
  session_.Keys("Enter");
  ASSERT_TRUE(session_.Answer("Select whether", "B") && session_.WaitForText("Output file?"))
      << session_.Text();

  const std::string output = kNote + " \xe5\x87\xba\xe5\x8a\x9b \xc3\xa9.wav";  // 13 cells
  session_.Literal(output);
  ASSERT_TRUE(session_.WaitForText(output)) << session_.Text();
  EXPECT_EQ(CursorAt("22 30"), "22 30");
  session_.Keys("Enter");
  ASSERT_TRUE(session_.WaitForText("press any key")) << session_.Text();
  EXPECT_EQ(apptest::ReadFile(work_ / output).substr(0, 4), "RIFF");
  session_.Keys("q");
  ASSERT_TRUE(session_.WaitForText("EXIT=0")) << session_.Text();
}

TEST_F(TerminalRun, WideCharacterWrapsWholeAtTheRightEdgeAndComesBack) {
  ASSERT_TRUE(StartAtInputPrompt()) << session_.Text();
  // "ab" in columns 18-19, thirty wide characters in 20-79: the next one
  // finds one cell left and goes to the next row whole.
  std::string line = "ab";
  for (int i = 0; i < 30; ++i) line += kSun;
  session_.Literal(line + kBook);
  ASSERT_TRUE(session_.WaitForText(kBook)) << session_.Text();
  Pane pane = session_.Colours();
  EXPECT_EQ(TrimRight(RowText(pane, 8)), "   Input file?   " + line);
  EXPECT_EQ(TrimRight(RowText(pane, 9)), kBook);
  EXPECT_EQ(CursorAt("8 2"), "8 2");
  session_.Keys("BSpace");
  EXPECT_EQ(CursorAt("7 79"), "7 79");  // back in the cell the wide character left
  session_.Literal("z");
  ASSERT_TRUE(session_.WaitForText(line + "z")) << session_.Text();
  EXPECT_EQ(TrimRight(RowText(session_.Colours(), 9)), "");
  EXPECT_EQ(CursorAt("8 0"), "8 0");
}

}  // namespace
