// The program in a real terminal: started in an 80 x 41 tmux pane, read back
// with capture-pane as a person sees it (characters and colours), driven with
// send-keys, ended with SIGTERM, and the pane checked for a restored terminal.
#include <gtest/gtest.h>

#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

namespace fs = std::filesystem;

namespace {

// Runs a shell command and returns its standard output.
std::string Capture(const std::string& command) {
  std::string out;
  FILE* pipe = popen(command.c_str(), "r");
  if (pipe == nullptr) return out;
  char buffer[4096];
  std::size_t n;
  while ((n = fread(buffer, 1, sizeof buffer, pipe)) > 0) out.append(buffer, n);
  pclose(pipe);
  return out;
}

std::string Quote(const std::string& text) {
  std::string out = "'";
  for (char c : text) {
    if (c == '\'')
      out += "'\\''";
    else
      out += c;
  }
  return out + "'";
}

// One pane cell as tmux reports it: a character (UTF-8) and SGR colour codes
// (30-37/90-97 and 40-47/100-107; -1 for the terminal's default).
struct PaneCell {
  std::string text = " ";
  int foreground = -1;
  int background = -1;
};

using Pane = std::vector<std::vector<PaneCell>>;

// Reads `capture-pane -p -e -N` output: colours carry over from cell to cell
// and from row to row until changed.
Pane ParsePane(const std::string& captured) {
  Pane pane(1);
  int foreground = -1;
  int background = -1;
  for (std::size_t i = 0; i < captured.size();) {
    char c = captured[i];
    if (c == '\n') {
      pane.emplace_back();
      ++i;
    } else if (c == '\x1b' && i + 1 < captured.size() && captured[i + 1] == '[') {
      std::size_t end = captured.find_first_of("ABCDEFGHJKSTfmhl", i + 2);
      if (end == std::string::npos) break;
      if (captured[end] == 'm') {
        std::vector<int> codes;
        std::string parameters = captured.substr(i + 2, end - i - 2);
        std::size_t at = 0;
        do {
          std::size_t semi = parameters.find(';', at);
          std::string piece = parameters.substr(at, semi == std::string::npos ? std::string::npos : semi - at);
          codes.push_back(piece.empty() ? 0 : std::atoi(piece.c_str()));
          at = semi == std::string::npos ? std::string::npos : semi + 1;
        } while (at != std::string::npos);
        for (int code : codes) {
          if (code == 0) {
            foreground = background = -1;
          } else if (code == 39) {
            foreground = -1;
          } else if (code == 49) {
            background = -1;
          } else if ((code >= 30 && code <= 37) || (code >= 90 && code <= 97)) {
            foreground = code;
          } else if ((code >= 40 && code <= 47) || (code >= 100 && code <= 107)) {
            background = code;
          }
        }
      }
      i = end + 1;
    } else {
      std::size_t length = 1;
      auto lead = static_cast<unsigned char>(c);
      if (lead >= 0xF0)
        length = 4;
      else if (lead >= 0xE0)
        length = 3;
      else if (lead >= 0xC0)
        length = 2;
      pane.back().push_back(PaneCell{captured.substr(i, length), foreground, background});
      i += length;
    }
  }
  return pane;
}

std::string RowText(const Pane& pane, int row) {
  std::string text;
  if (row < 1 || row > static_cast<int>(pane.size())) return text;
  for (const PaneCell& cell : pane[static_cast<std::size_t>(row - 1)]) text += cell.text;
  return text;
}

const PaneCell& CellAt(const Pane& pane, int row, int column) {
  static const PaneCell kMissing{"", -2, -2};
  if (row < 1 || row > static_cast<int>(pane.size())) return kMissing;
  const auto& cells = pane[static_cast<std::size_t>(row - 1)];
  if (column < 1 || column > static_cast<int>(cells.size())) return kMissing;
  return cells[static_cast<std::size_t>(column - 1)];
}

std::string TrimRight(std::string text) {
  while (!text.empty() && (text.back() == ' ' || text.back() == '\n')) text.pop_back();
  return text;
}

// The blank-separated words of `text`.
std::vector<std::string> Words(const std::string& text) {
  std::vector<std::string> words;
  std::string word;
  for (char c : text) {
    if (c == ' ' || c == '\n' || c == ';') {
      if (!word.empty()) words.push_back(word);
      word.clear();
    } else {
      word += c;
    }
  }
  if (!word.empty()) words.push_back(word);
  return words;
}

class TerminalRun : public ::testing::Test {
 protected:
  void SetUp() override {
    if (std::system("command -v tmux >/dev/null 2>&1") != 0)
      FAIL() << "tmux is needed for this test (Debian package tmux)";
    directory = fs::temp_directory_path() / ("ostrivale-terminal-" + std::to_string(getpid()));
    fs::create_directories(directory);
    tmux = "tmux -f /dev/null -L ostrivale-test-" + std::to_string(getpid());
  }

  void TearDown() override {
    if (!tmux.empty()) std::system((tmux + " kill-server >/dev/null 2>&1").c_str());
    std::error_code ignored;
    fs::remove_all(directory, ignored);
  }

  // Starts the program in a detached 80 x 41 pane. When it has ended, the
  // pane's shell reports its status and the terminal modes, then idles.
  void StartProgram() {
    std::string pidFile = (directory / "pid").string();
    std::string inner = "echo $$ > " + Quote(pidFile) + "; exec " + Quote(OSTRIVALE_BINARY);
    std::string pane = "cd " + Quote(directory.string()) + " && sh -c " + Quote(inner) +
                       "; echo EXIT=$?; stty -a; sleep 600";
    std::string command = "TERM=xterm-256color " + tmux +
                          " new-session -d -s job -x 80 -y 41 " + Quote(pane);
    ASSERT_EQ(std::system(command.c_str()), 0) << command;
  }

  std::string CaptureText() { return Capture(tmux + " capture-pane -p -N -t job"); }
  Pane CaptureColours() { return ParsePane(Capture(tmux + " capture-pane -p -e -N -t job")); }
  std::string PaneFormat(const std::string& format) {
    return TrimRight(Capture(tmux + " display-message -p -t job " + Quote(format)));
  }

  // Waits (with a generous limit, as a guard against hangs) until the pane
  // shows `text`.
  bool WaitForText(const std::string& text) {
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (std::chrono::steady_clock::now() < deadline) {
      if (CaptureText().find(text) != std::string::npos) return true;
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return false;
  }

  void SendKeys(const std::string& keys) {
    std::system((tmux + " send-keys -t job " + keys).c_str());
  }

  pid_t ProgramPid() {
    std::ifstream in(directory / "pid");
    long pid = 0;
    in >> pid;
    return static_cast<pid_t>(pid);
  }

  fs::path directory;
  std::string tmux;
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
  pid_t pid = ProgramPid();
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

}  // namespace
