// The program in a real terminal: started in an 80 x 41 tmux pane, read back
// with capture-pane as a person sees it (characters and colours), driven with
// send-keys, ended with SIGTERM, and the pane checked for a restored terminal;
// names in CJK and emoji typed, taken back and opened, with tmux's cursor
// where the screen model has it.
#include <gtest/gtest.h>

#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "tests/app/app_test_support.h"
#include "tests/app/tmux_pane.h"
#include "tests/test_environment.h"

namespace fs = std::filesystem;

namespace {

using tmuxpane::CellAt;
using tmuxpane::Pane;
using tmuxpane::RowText;
using tmuxpane::TrimRight;
using tmuxpane::Words;

class TerminalRun : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!tmuxpane::Session::Available()) FAIL() << "tmux is needed for this test (Debian package tmux)";
    directory = testenv::MakeTemporaryFolder("ostrivale-terminal");
    ASSERT_FALSE(directory.empty()) << "no folder under " << testenv::TemporaryBase();
  }

  void TearDown() override {
    session.Stop();
    std::error_code ignored;
    fs::remove_all(directory, ignored);
  }

  // Starts the program in a detached 80 x 41 pane. When it has ended, the
  // pane's shell reports its status and the terminal modes, then idles.
  void StartProgram() { ASSERT_TRUE(session.Start(directory, OSTRIVALE_BINARY)); }

  std::string CaptureText() { return session.Text(); }
  Pane CaptureColours() { return session.Colours(); }
  std::string PaneFormat(const std::string& format) { return session.Format(format); }
  bool WaitForText(const std::string& text) { return session.WaitForText(text, 20); }
  void SendKeys(const std::string& keys) { session.Keys(keys); }
  void Type(const std::string& text) { session.Literal(text); }
  // tmux's cursor as "row column", both from 0, once it has come to rest there.
  std::string CursorAt(const std::string& expected) {
    tmuxpane::Session::WaitUntil([&] { return PaneFormat("#{cursor_y} #{cursor_x}") == expected; }, 20);
    return PaneFormat("#{cursor_y} #{cursor_x}");
  }

  fs::path directory;
  tmuxpane::Session session;
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
    for (int column : {1, 40, 80}) EXPECT_EQ(CellAt(pane, row, column).background, 107) << row << "," << column;
}

TEST_F(TerminalRun, BannerMissingFileBoxAndRestoreAfterSigterm) {
  StartProgram();
  ASSERT_TRUE(WaitForText("Input file?")) << CaptureText();
  ExpectBannerScreen(CaptureColours());
  EXPECT_EQ(PaneFormat("#{alternate_on}"), "1");

  // The typed name stands in black from column 18 of the prompt row.
  SendKeys("missing.wav");
  ASSERT_TRUE(WaitForText("missing.wav")) << CaptureText();
  Pane typing = CaptureColours();
  EXPECT_EQ(TrimRight(RowText(typing, 8)), "   Input file?   missing.wav");
  EXPECT_EQ(CellAt(typing, 8, 18).foreground, 30);
  EXPECT_EQ(PaneFormat("#{cursor_flag} #{cursor_y} #{cursor_x}"), "1 7 28");

  SendKeys("Enter");
  ASSERT_TRUE(WaitForText("[ OK ]")) << CaptureText();
  std::string boxScreen = CaptureText();
  EXPECT_NE(boxScreen.find("File not found."), std::string::npos);
  EXPECT_NE(boxScreen.find("Please enter a valid filename"), std::string::npos);
  EXPECT_NE(boxScreen.find("ERROR"), std::string::npos);
  // The screen under the box is still there.
  EXPECT_NE(boxScreen.find("   Ostrivale v1"), std::string::npos);

  // Closing the box restarts at the banner screen, the old answer gone.
  SendKeys("Enter");
  auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
  while (CaptureText().find("[ OK ]") != std::string::npos && std::chrono::steady_clock::now() < deadline)
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  ASSERT_TRUE(WaitForText("Input file?"));
  ExpectBannerScreen(CaptureColours());

  // Ended from outside: the terminal comes back as it was.
  pid_t pid = session.ProgramPid();
  ASSERT_GT(pid, 0);
  ASSERT_EQ(kill(pid, SIGTERM), 0);
  ASSERT_TRUE(WaitForText("EXIT=143")) << CaptureText();
  ASSERT_TRUE(WaitForText("eol2")) << CaptureText();  // the end of the stty report
  EXPECT_EQ(PaneFormat("#{alternate_on}"), "0");
  EXPECT_EQ(PaneFormat("#{cursor_flag}"), "1");
  std::string shell = CaptureText();
  EXPECT_EQ(shell.find("Ostrivale v1"), std::string::npos) << shell;
  std::vector<std::string> words = Words(shell);
  for (std::string mode : {"icanon", "echo", "isig", "icrnl", "ixon", "opost", "iexten"}) {
    EXPECT_NE(std::find(words.begin(), words.end(), mode), words.end()) << mode << "\n" << shell;
    EXPECT_EQ(std::find(words.begin(), words.end(), "-" + mode), words.end()) << mode;
  }
  // The shell's own text is in the terminal's default colours again.
  Pane after = CaptureColours();
  for (int row = 1; row <= static_cast<int>(after.size()); ++row) {
    std::string text = RowText(after, row);
    std::size_t at = text.find("EXIT=143");
    if (at == std::string::npos) continue;
    EXPECT_EQ(CellAt(after, row, static_cast<int>(at) + 1).foreground, -1);
    EXPECT_EQ(CellAt(after, row, static_cast<int>(at) + 1).background, -1);
  }
}

const std::string kSun = "\xe6\x97\xa5";     // U+65E5, two cells
const std::string kBook = "\xe6\x9c\xac";    // U+672C, two cells
const std::string kNote = "\xf0\x9f\x8e\xb5";  // U+1F3B5, two cells

TEST_F(TerminalRun, CjkAndEmojiNamesAreTypedTakenBackAndOpened) {
  const std::string input = "\xe9\x8c\xb2\xe9\x9f\xb3 " + kSun + kBook + ".wav";  // 13 cells
  apptest::WriteFile(directory / input, apptest::MakeWave(1, 96000, {100, -100, 2000}));
  std::string impulse = "65536\n";
  for (int i = 1; i < 19; ++i) impulse += "0\n";
  apptest::WriteFile(directory / "FilterB.dat", impulse);
  StartProgram();
  ASSERT_TRUE(WaitForText("Input file?")) << CaptureText();

  Type(input);
  ASSERT_TRUE(WaitForText(input)) << CaptureText();
  EXPECT_EQ(TrimRight(RowText(CaptureColours(), 8)), "   Input file?   " + input);
  EXPECT_EQ(CursorAt("7 30"), "7 30");  // column 18 + 13 cells, from 0
  // ".wav" and the wide character before it taken back, then typed again.
  SendKeys("BSpace BSpace BSpace BSpace BSpace");
  EXPECT_EQ(CursorAt("7 24"), "7 24");
  EXPECT_EQ(TrimRight(RowText(CaptureColours(), 8)),
            "   Input file?   \xe9\x8c\xb2\xe9\x9f\xb3 " + kSun);
  Type(kBook + ".wav");
  EXPECT_EQ(CursorAt("7 30"), "7 30");
  SendKeys("Enter");
  ASSERT_TRUE(WaitForText("Select whether")) << CaptureText();
  Type("B");
  SendKeys("Enter");
  ASSERT_TRUE(WaitForText("Output file?")) << CaptureText();

  const std::string output = kNote + " \xe5\x87\xba\xe5\x8a\x9b \xc3\xa9.wav";  // 13 cells
  Type(output);
  ASSERT_TRUE(WaitForText(output)) << CaptureText();
  EXPECT_EQ(CursorAt("22 30"), "22 30");
  SendKeys("Enter");
  ASSERT_TRUE(WaitForText("press any key")) << CaptureText();
  EXPECT_EQ(apptest::ReadFile(directory / output).substr(0, 4), "RIFF");
  SendKeys("q");
  ASSERT_TRUE(WaitForText("EXIT=0")) << CaptureText();
}

TEST_F(TerminalRun, WideCharacterWrapsWholeAtTheRightEdgeAndComesBack) {
  StartProgram();
  ASSERT_TRUE(WaitForText("Input file?")) << CaptureText();
  // "ab" in columns 18-19, thirty wide characters in 20-79: the next one
  // finds one cell left and goes to the next row whole.
  std::string line = "ab";
  for (int i = 0; i < 30; ++i) line += kSun;
  Type(line + kBook);
  ASSERT_TRUE(WaitForText(kBook)) << CaptureText();
  Pane pane = CaptureColours();
  EXPECT_EQ(TrimRight(RowText(pane, 8)), "   Input file?   " + line);
  EXPECT_EQ(TrimRight(RowText(pane, 9)), kBook);
  EXPECT_EQ(CursorAt("8 2"), "8 2");
  SendKeys("BSpace");
  EXPECT_EQ(CursorAt("7 79"), "7 79");  // back in the cell the wide character left
  Type("z");
  ASSERT_TRUE(WaitForText(line + "z")) << CaptureText();
  EXPECT_EQ(TrimRight(RowText(CaptureColours(), 9)), "");
  EXPECT_EQ(CursorAt("8 0"), "8 0");
}

}  // namespace
