// A tmux pane for tests of the program in a real terminal: a private tmux
// server, a detached session whose pane runs a shell command, send-keys to
// type, capture-pane to read the screen back (characters and colours),
// resize-window, and the pane's own state (alternate screen, cursor); and the
// fixture that runs the program in such a pane in a work folder of its own.
#pragma once

#include <gtest/gtest.h>

#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "tests/app/app_test_support.h"

namespace tmuxpane {

// Runs a shell command and returns its standard output.
inline std::string Capture(const std::string& command) {
  std::string out;
  FILE* pipe = popen(command.c_str(), "r");
  if (pipe == nullptr) return out;
  char buffer[4096];
  std::size_t n;
  while ((n = fread(buffer, 1, sizeof buffer, pipe)) > 0) out.append(buffer, n);
  pclose(pipe);
  return out;
}

using apptest::Quote;
using apptest::WaitUntil;

inline std::string TrimRight(std::string text) {
  while (!text.empty() && (text.back() == ' ' || text.back() == '\n')) text.pop_back();
  return text;
}

// The blank-separated words of `text`.
inline std::vector<std::string> Words(const std::string& text) {
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

// One pane cell as tmux reports it: a character (UTF-8) and SGR colour codes
// (30-37/90-97 and 40-47/100-107; -1 for the terminal's default).
struct PaneCell {
  std::string text = " ";
  int foreground = -1;
  int background = -1;
  bool operator==(const PaneCell&) const = default;
};

using Pane = std::vector<std::vector<PaneCell>>;

// Reads `capture-pane -p -e -N` output: colours carry over from cell to cell
// and from row to row until changed.
inline Pane ParsePane(const std::string& captured) {
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
          std::string piece =
              parameters.substr(at, semi == std::string::npos ? std::string::npos : semi - at);
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
  if (!pane.empty() && pane.back().empty()) pane.pop_back();  // after the last line end
  return pane;
}

inline std::string RowText(const Pane& pane, int row) {
  std::string text;
  if (row < 1 || row > static_cast<int>(pane.size())) return text;
  for (const PaneCell& cell : pane[static_cast<std::size_t>(row - 1)]) text += cell.text;
  return text;
}

// The cell at (row, column), both from 1; colours -2 where tmux sent none.
inline const PaneCell& CellAt(const Pane& pane, int row, int column) {
  static const PaneCell kMissing{"", -2, -2};
  if (row < 1 || row > static_cast<int>(pane.size())) return kMissing;
  const auto& cells = pane[static_cast<std::size_t>(row - 1)];
  if (column < 1 || column > static_cast<int>(cells.size())) return kMissing;
  return cells[static_cast<std::size_t>(column - 1)];
}

// The cells of `row` from column 1 to `columns`, blanks in the default
// colours where tmux left the row short.
inline std::vector<PaneCell> RowCells(const Pane& pane, int row, int columns) {
  std::vector<PaneCell> cells;
  if (row >= 1 && row <= static_cast<int>(pane.size()))
    cells = pane[static_cast<std::size_t>(row - 1)];
  cells.resize(static_cast<std::size_t>(columns));
  return cells;
}

// A private tmux server with one session, "job", whose pane runs `command`
// in `directory` with the program's pid written to `directory`/pid. When the
// program ends the pane reports EXIT=<status> and `stty -a`, then idles.
class Session {
 public:
  Session() = default;
  Session(const Session&) = delete;
  Session& operator=(const Session&) = delete;
  ~Session() { Stop(); }

  static bool Available() { return std::system("command -v tmux >/dev/null 2>&1") == 0; }

  // Starts `program` in an `columns` x `rows` pane. False when tmux refused.
  bool Start(const std::filesystem::path& directory, const std::string& program = OSTRIVALE_BINARY,
             int columns = 80, int rows = 41) {
    directory_ = directory;
    // A server of its own for every start: a new session on the socket of a
    // server that kill-server is still taking down fails now and then.
    static int started = 0;
    socketName_ =
        "ostrivale-hardening-" + std::to_string(getpid()) + "-" + std::to_string(++started);
    tmux_ = "tmux -f /dev/null -L " + socketName_;
    const std::string pidFile = (directory / "pid").string();
    const std::string inner = "echo $$ > " + Quote(pidFile) + "; exec " + Quote(program);
    const std::string pane = "cd " + Quote(directory.string()) + " && sh -c " + Quote(inner) +
                             "; echo EXIT=$?; stty -a; sleep 600";
    const std::string command = "TERM=xterm-256color " + tmux_ + " new-session -d -s job -x " +
                                std::to_string(columns) + " -y " + std::to_string(rows) + " " +
                                Quote(pane);
    return std::system(command.c_str()) == 0;
  }

  void Stop() {
    if (tmux_.empty()) return;
    std::system((tmux_ + " kill-server >/dev/null 2>&1").c_str());
    // A killed server leaves its socket file behind in tmux's folder.
    const char* base = std::getenv("TMUX_TMPDIR");
    const std::string folder = std::string(base != nullptr && *base != '\0' ? base : "/tmp") +
                               "/tmux-" + std::to_string(getuid());
    unlink((folder + "/" + socketName_).c_str());
    tmux_.clear();
  }

  std::string Text() { return Capture(tmux_ + " capture-pane -p -N -t job"); }
  Pane Colours() { return ParsePane(Capture(tmux_ + " capture-pane -p -e -N -t job")); }
  std::string Format(const std::string& format) {
    return TrimRight(Capture(tmux_ + " display-message -p -t job " + Quote(format)));
  }

  // Waits until the pane shows `text`; the limit only guards against a hang.
  bool WaitForText(const std::string& text, int seconds = 30) {
    return WaitUntil([&] { return Text().find(text) != std::string::npos; }, seconds);
  }

  // send-keys with tmux key names (Enter, BSpace) or literal text (-l).
  void Keys(const std::string& keys) { std::system((tmux_ + " send-keys -t job " + keys).c_str()); }
  void Literal(const std::string& text) {
    std::system((tmux_ + " send-keys -t job -l " + Quote(text)).c_str());
  }

  // Waits until the pane shows `prompt`, then types `answer` and Enter.
  // False when the prompt never came.
  bool Answer(const std::string& prompt, const std::string& answer) {
    if (!WaitForText(prompt)) return false;
    Literal(answer);
    Keys("Enter");
    return true;
  }

  bool Resize(int columns, int rows) {
    const std::string command = tmux_ + " resize-window -t job -x " + std::to_string(columns) +
                                " -y " + std::to_string(rows) + " >/dev/null 2>&1";
    return std::system(command.c_str()) == 0;
  }

  pid_t ProgramPid() {
    std::ifstream in(directory_ / "pid");
    long pid = 0;
    in >> pid;
    return static_cast<pid_t>(pid);
  }

 private:
  std::filesystem::path directory_;
  std::string socketName_;
  std::string tmux_;
};

// The program in a pane of its own, in the work folder of WorkFolderTest.
class PaneTest : public apptest::WorkFolderTest {
 protected:
  void SetUp() override {
    if (!Session::Available()) FAIL() << "tmux is needed (Debian package tmux)";
    WorkFolderTest::SetUp();
  }
  void TearDown() override {
    session_.Stop();
    WorkFolderTest::TearDown();
  }

  // Starts the program in an 80 x 41 pane and waits for its first prompt.
  bool StartAtInputPrompt() { return session_.Start(work_) && session_.WaitForText("Input file?"); }

  // After the program was ended by `signal`: the shell is back on the main
  // screen, with the cursor shown and echo and canonical input on again.
  void ExpectTerminalRestored(int signal) {
    const std::string exit = "EXIT=" + std::to_string(128 + signal);
    ASSERT_TRUE(session_.WaitForText(exit)) << session_.Text();
    ASSERT_TRUE(session_.WaitForText("eol2")) << session_.Text();  // the end of stty -a
    EXPECT_EQ(session_.Format("#{alternate_on}"), "0");
    EXPECT_EQ(session_.Format("#{cursor_flag}"), "1");
    const std::string shell = session_.Text();
    EXPECT_EQ(shell.find("Ostrivale v1"), std::string::npos) << shell;
    const std::vector<std::string> words = Words(shell);
    for (const std::string mode : {"icanon", "echo", "isig", "icrnl", "ixon", "opost", "iexten"}) {
      EXPECT_NE(std::find(words.begin(), words.end(), mode), words.end()) << mode << "\n" << shell;
      EXPECT_EQ(std::find(words.begin(), words.end(), "-" + mode), words.end()) << mode;
    }
  }

  Session session_;
};

}  // namespace tmuxpane
