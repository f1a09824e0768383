// The console as a running process sees it: plain mode over pipes, terminal
// mode on a pseudo-terminal (raw keys, drawing, message box, resize, and the
// terminal restored on every way out).
#include <gtest/gtest.h>

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "console/console.h"
#include "console/console_state.h"

namespace {

// Runs `body` in a child process with a fresh console, then ends it with
// EndProgram(0) (unless the body ends it first).
[[noreturn]] void RunChildBody(void (*body)()) {
  Console() = ConsoleState{};
  body();
  EndProgram(0);
}

std::string ReadAll(int fd) {
  std::string out;
  char buffer[4096];
  for (;;) {
    ssize_t n = read(fd, buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return out;
    out.append(buffer, static_cast<std::size_t>(n));
  }
}

struct PlainRun {
  int status = -1;
  std::string out;
  std::string err;
};

PlainRun RunPlain(const std::string& input, void (*body)()) {
  int in[2];
  int out[2];
  int err[2];
  PlainRun run;
  if (pipe(in) != 0 || pipe(out) != 0 || pipe(err) != 0) return run;
  std::fflush(nullptr);
  pid_t pid = fork();
  if (pid == 0) {
    dup2(in[0], STDIN_FILENO);
    dup2(out[1], STDOUT_FILENO);
    dup2(err[1], STDERR_FILENO);
    for (int fd : {in[0], in[1], out[0], out[1], err[0], err[1]}) close(fd);
    RunChildBody(body);
  }
  close(in[0]);
  close(out[1]);
  close(err[1]);
  signal(SIGPIPE, SIG_IGN);
  ssize_t written = write(in[1], input.data(), input.size());
  EXPECT_EQ(written, static_cast<ssize_t>(input.size()));
  close(in[1]);
  run.out = ReadAll(out[0]);
  run.err = ReadAll(err[0]);
  close(out[0]);
  close(err[0]);
  waitpid(pid, &run.status, 0);
  return run;
}

void PlainDialogue() {
  SetupConsole();
  HideCursor();
  EndLine();
  PrintText("   Ostrivale v1");
  EndLine();
  SetColor(kDarkGrey, kBrightWhite);
  PrintText("   Input file?");
  EndLine();
  SetColor(kBlack, kBrightWhite);
  Locate(3, 18);
  std::string name = ReadLine().text;
  Pause(5);
  Beep();
  ShowMessageBox("  Bad name.  \\n Try again  ", "   ERROR");
  PrintText(name == "caf\xc3\xa9" ? "same" : "different");
  std::string second = ReadLine().text;
  PrintText("[" + second + "]");
  WaitKey();  // at the end of input: returns
}

TEST(PlainMode, FinalScreenOnStandardOutputAndBoxOnStandardError) {
  PlainRun run = RunPlain("caf\xc3\xa9\r\nnext\n", PlainDialogue);
  ASSERT_TRUE(WIFEXITED(run.status));
  EXPECT_EQ(WEXITSTATUS(run.status), 0);
  EXPECT_EQ(run.out, "\n   Ostrivale v1\n   Input file?   caf\xc3\xa9\nsamenext\n[next]\n");
  EXPECT_EQ(run.err, "ERROR: Bad name. Try again\n");
}

void ReadTwoLines() {
  SetupConsole();
  PrintText("Name:");
  PrintText(ReadLine().text);
  PrintText("Second:");
  if (ReadLine().inputEnded) {
    ReportInputEnded("   Second? ");
    std::exit(1);
  }
  PrintText("not reached");
}

TEST(PlainMode, LastLineWithoutLineEndIsALineAndTheEndAtAPromptIsReported) {
  PlainRun run = RunPlain("abc", ReadTwoLines);
  ASSERT_TRUE(WIFEXITED(run.status));
  EXPECT_EQ(WEXITSTATUS(run.status), 1);
  EXPECT_EQ(run.out, "Name:abc\nabcSecond:\n");
  EXPECT_EQ(run.err, "ERROR: input ended at the prompt \"Second?\"\n");
}

void CloseTwice() {
  SetupConsole();
  PrintText("once");
  CloseConsole();
  CloseConsole();
}

TEST(PlainMode, ScreenIsWrittenOnce) {
  PlainRun run = RunPlain("", CloseTwice);
  ASSERT_TRUE(WIFEXITED(run.status));
  EXPECT_EQ(WEXITSTATUS(run.status), 0);
  EXPECT_EQ(run.out, "once\n");
}

// A child on a pseudo-terminal. The test keeps a slave descriptor of its own
// open, to look at the terminal modes and the typed keys still waiting.
class TerminalChild : public ::testing::Test {
 protected:
  void Start(void (*body)()) {
    master = posix_openpt(O_RDWR | O_NOCTTY);
    ASSERT_GE(master, 0);
    ASSERT_EQ(grantpt(master), 0);
    ASSERT_EQ(unlockpt(master), 0);
    std::string slaveName = ptsname(master);
    winsize size{};
    size.ws_row = 41;
    size.ws_col = 80;
    ASSERT_EQ(ioctl(master, TIOCSWINSZ, &size), 0);
    slave = open(slaveName.c_str(), O_RDWR | O_NOCTTY);
    ASSERT_GE(slave, 0);
    ASSERT_EQ(tcgetattr(slave, &original), 0);
    std::fflush(nullptr);
    pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
      setsid();
      int tty = open(slaveName.c_str(), O_RDWR);  // becomes the controlling terminal
      dup2(tty, STDIN_FILENO);
      dup2(tty, STDOUT_FILENO);
      dup2(tty, STDERR_FILENO);
      close(tty);
      close(master);
      close(slave);
      RunChildBody(body);
    }
  }

  void TearDown() override {
    if (pid > 0 && !reaped) {
      kill(pid, SIGKILL);
      waitpid(pid, nullptr, 0);
    }
    if (master >= 0) close(master);
    if (slave >= 0) close(slave);
  }

  // Reads the child's output until `marker` has come (after `from`); false
  // when it does not come within a generous limit.
  bool ReadUntil(const std::string& marker, std::size_t from = 0) {
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (output.find(marker, from) == std::string::npos) {
      if (std::chrono::steady_clock::now() > deadline) return false;
      pollfd fd = {master, POLLIN, 0};
      if (poll(&fd, 1, 100) <= 0) continue;
      char buffer[4096];
      ssize_t n = read(master, buffer, sizeof buffer);
      if (n <= 0) return false;
      output.append(buffer, static_cast<std::size_t>(n));
    }
    return true;
  }

  void Type(const std::string& keys) {
    ASSERT_EQ(write(master, keys.data(), keys.size()), static_cast<ssize_t>(keys.size()));
  }

  int Reap() {
    int status = -1;
    waitpid(pid, &status, 0);
    reaped = true;
    // Whatever the child wrote last.
    pollfd fd = {master, POLLIN, 0};
    while (poll(&fd, 1, 0) > 0) {
      char buffer[4096];
      ssize_t n = read(master, buffer, sizeof buffer);
      if (n <= 0) break;
      output.append(buffer, static_cast<std::size_t>(n));
    }
    return status;
  }

  int WaitingInput() {
    int waiting = -1;
    ioctl(slave, FIONREAD, &waiting);
    return waiting;
  }

  void ExpectModesRestored() {
    termios now{};
    ASSERT_EQ(tcgetattr(slave, &now), 0);
    EXPECT_EQ(now.c_lflag, original.c_lflag);
    EXPECT_EQ(now.c_iflag, original.c_iflag);
    EXPECT_EQ(now.c_oflag, original.c_oflag);
    EXPECT_EQ(now.c_cflag, original.c_cflag);
  }

  static constexpr const char* kRestore = "\x18\x1b[0m\x1b[?7h\x1b[?25h\x1b[?1049l\x1b[23;0t";

  int master = -1;
  int slave = -1;
  pid_t pid = -1;
  bool reaped = false;
  termios original{};
  std::string output;
};

void TypedLineThenKey() {
  SetupConsole();
  HideCursor();
  PrintText("Hello");
  Locate(3, 18);
  std::string line = ReadLine().text;
  PrintText("got:" + line);
  WaitKey();
}

TEST_F(TerminalChild, RawKeysDrawingAndRestoreAtTheEnd) {
  Start(TypedLineThenKey);
  ASSERT_TRUE(ReadUntil("\x1b[3;18H\x1b[?25h")) << output;  // cursor shown for typing
  EXPECT_NE(output.find("\x1b]0;Ostrivale\x07"), std::string::npos);
  EXPECT_NE(output.find("\x1b[?1049h"), std::string::npos);
  EXPECT_NE(output.find("\x1b[8;41;80t"), std::string::npos);
  EXPECT_NE(output.find("\x1b[30;107mHello"), std::string::npos);

  termios raw{};
  ASSERT_EQ(tcgetattr(slave, &raw), 0);
  EXPECT_EQ(raw.c_lflag & (ECHO | ICANON | ISIG | IEXTEN), 0u);
  EXPECT_EQ(raw.c_iflag & (IXON | ICRNL), 0u);

  // Ctrl+C is an ordinary key; an arrow is swallowed whole; a combining mark
  // alone is refused; a wide character is echoed once.
  Type(
      "ab\x7f\x03\x1b[D\xcc\x81"
      "c\xe6\x97\xa5\r");
  ASSERT_TRUE(ReadUntil("got:ac\xe6\x97\xa5")) << output;
  Type("q");  // ends WaitKey and stays unread
  int status = Reap();
  ASSERT_TRUE(WIFEXITED(status)) << status;
  EXPECT_EQ(WEXITSTATUS(status), 0);
  ASSERT_GE(output.size(), std::string(kRestore).size());
  EXPECT_EQ(output.substr(output.size() - std::string(kRestore).size()), kRestore);
  ExpectModesRestored();
  EXPECT_EQ(WaitingInput(), 0);  // the "q" does not spill into the shell
}

void BoxThenLine() {
  SetupConsole();
  PrintText("under the box");
  ShowMessageBox("Something is wrong.\\nSecond line", "  ERROR");
  PrintText("|closed");
  RefreshScreen();
  ReadLine();
}

TEST_F(TerminalChild, MessageBoxClosesWithLoneEscapeAndGivesTheScreenBack) {
  Start(BoxThenLine);
  ASSERT_TRUE(ReadUntil("[ OK ]")) << output;
  EXPECT_NE(output.find(" ERROR "), std::string::npos);
  EXPECT_NE(output.find("Something is wrong."), std::string::npos);
  std::size_t boxEnd = output.size();
  Type("x");  // any other key leaves the box up
  Type("\x1b");
  ASSERT_TRUE(ReadUntil("|closed", boxEnd)) << output.substr(boxEnd);
  // The cells the box covered are drawn again from the screen model.
  std::size_t afterBox = output.find("|closed", boxEnd);
  EXPECT_NE(output.rfind("\x1b[18;", afterBox), std::string::npos);
  EXPECT_LT(output.find("\x1b[18;", boxEnd), afterBox);
  Type("\r");
  int status = Reap();
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0);
}

void LineOnly() {
  SetupConsole();
  Locate(30, 1);
  PrintText("row thirty");
  ReadLine();
}

TEST_F(TerminalChild, ResizeRedrawsThePartHoldingTheCursor) {
  Start(LineOnly);
  ASSERT_TRUE(ReadUntil("row thirty")) << output;
  std::size_t before = output.size();
  winsize size{};
  size.ws_row = 20;
  size.ws_col = 80;
  ASSERT_EQ(ioctl(master, TIOCSWINSZ, &size), 0);
  // Rows 11..30 are shown: row 30 is the terminal's last row.
  ASSERT_TRUE(ReadUntil("\x1b[20;1H", before)) << output.substr(before);
  ASSERT_TRUE(ReadUntil("row thirty", before)) << output.substr(before);
  EXPECT_NE(output.find("\x1b[2J", before), std::string::npos);
  EXPECT_NE(output.find("\x1b[20;11H\x1b[?25h", before), std::string::npos);
  Type("\r");
  Reap();
}

void SleepLong() {
  SetupConsole();
  PrintText("Sleeping");
  RefreshScreen();
  Pause(60000);
}

class EndingSignal : public TerminalChild, public ::testing::WithParamInterface<int> {};

TEST_P(EndingSignal, RestoresTheTerminalAndDiscardsTypedKeys) {
  Start(SleepLong);
  ASSERT_TRUE(ReadUntil("Sleeping")) << output;
  Type("typed ahead");
  pollfd waiting = {slave, POLLIN, 0};  // the keys reach the terminal's input queue
  ASSERT_EQ(poll(&waiting, 1, 20000), 1);
  ASSERT_GT(WaitingInput(), 0);
  kill(pid, GetParam());
  int status = Reap();
  ASSERT_TRUE(WIFSIGNALED(status)) << status;
  EXPECT_EQ(WTERMSIG(status), GetParam());
  ASSERT_GE(output.size(), std::string(kRestore).size());
  EXPECT_EQ(output.substr(output.size() - std::string(kRestore).size()), kRestore);
  ExpectModesRestored();
  EXPECT_EQ(WaitingInput(), 0);
}

INSTANTIATE_TEST_SUITE_P(Signals, EndingSignal, ::testing::Values(SIGTERM, SIGHUP, SIGINT));

}  // namespace
