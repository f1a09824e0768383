// The real program on long jobs: a recording of mostly silence held in a
// sparse file gives a pass of seconds without taking room on the disk.
// Killed during the pass it leaves nothing; it runs in a few megabytes; and
// in a terminal it shows the pass's percentage, then the screen it always
// showed.
#include <gtest/gtest.h>

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <cstdint>
#include <filesystem>
#include <regex>
#include <set>
#include <string>
#include <thread>

#include "tests/app/app_test_support.h"
#include "tests/app/tmux_pane.h"

namespace fs = std::filesystem;

namespace {

using apptest::MakeWave;
using apptest::ReadFile;
using apptest::WriteFile;

// Mono at 192000 through filter D (15 taps): 3 bytes a frame.
constexpr std::uint32_t kLongDataBytes = 300000000;  // 100 million frames, some 9 minutes

std::set<std::string> Entries(const fs::path& folder) {
  std::set<std::string> names;
  for (const auto& entry : fs::directory_iterator(folder)) names.insert(entry.path().filename().string());
  return names;
}

class LongJob : public ::testing::Test {
 protected:
  void SetUp() override {
    root_ = testenv::MakeTemporaryFolder("ostrivale-long");
    ASSERT_FALSE(root_.empty()) << "no folder under " << testenv::TemporaryBase();
    work_ = root_ / "work";
    fs::create_directory(work_);
    apptest::WriteFileOfSize(work_ / "in.wav", MakeWave(1, 192000, {100000, -200000, 300000}, kLongDataBytes),
                             44u + kLongDataBytes);
    std::string impulse = "1\r\n";
    for (int i = 1; i < 15; ++i) impulse += "0.01\r\n";
    WriteFile(work_ / "FilterD.dat", impulse);
    WriteFile(root_ / "keys.txt", "in.wav\nD\nout.wav\n");
  }
  void TearDown() override { fs::remove_all(root_); }

  // Starts the program in plain mode in the work folder.
  pid_t Start() {
    const pid_t pid = fork();
    if (pid == 0) {
      if (chdir(work_.c_str()) != 0) _exit(120);
      const int keys = open((root_ / "keys.txt").c_str(), O_RDONLY);
      const int screen = open((root_ / "screen.txt").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
      if (keys < 0 || screen < 0) _exit(121);
      dup2(keys, STDIN_FILENO);
      dup2(screen, STDOUT_FILENO);
      dup2(screen, STDERR_FILENO);
      execl(OSTRIVALE_BINARY, OSTRIVALE_BINARY, static_cast<char*>(nullptr));
      _exit(122);
    }
    return pid;
  }

  fs::path root_;
  fs::path work_;
};

TEST_F(LongJob, KilledDuringThePassLeavesNoFileAndTheOldOneIntact) {
  WriteFile(work_ / "out.wav", "old contents");
  const pid_t pid = Start();
  ASSERT_GT(pid, 0);
  const bool writing = tmuxpane::Session::WaitUntil([&] { return apptest::WritingUnnamedFile(pid, work_); }, 60);
  kill(pid, SIGKILL);
  int status = 0;
  ASSERT_EQ(waitpid(pid, &status, 0), pid);
  ASSERT_TRUE(writing) << "the pass was never seen running: " << ReadFile(root_ / "screen.txt");
  EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL);
  EXPECT_EQ(Entries(work_), (std::set<std::string>{"FilterD.dat", "in.wav", "out.wav"}));
  EXPECT_EQ(ReadFile(work_ / "out.wav"), "old contents");
}

TEST_F(LongJob, RunsInAFewMegabytes) {
  const pid_t pid = Start();
  ASSERT_GT(pid, 0);
  int status = 0;
  rusage usage{};
  ASSERT_EQ(wait4(pid, &status, 0, &usage), pid);
  ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << ReadFile(root_ / "screen.txt");
  EXPECT_EQ(fs::file_size(work_ / "out.wav"), 44u + kLongDataBytes + 3u * 14u);
  // The whole-recording procedure would hold some 1.5 GB here.
  EXPECT_LT(usage.ru_maxrss, 32 * 1024) << "peak resident memory in KiB";
}

// ---- progress in a terminal -----------------------------------------------------

class LongJobInTerminal : public LongJob {
 protected:
  // Long enough for the percentage to show for a second or more.
  void SetUp() override {
    LongJob::SetUp();
    apptest::WriteFileOfSize(work_ / "in.wav", MakeWave(1, 192000, {100000, -200000, 300000}, 1500000000),
                             44u + 1500000000u);
  }

  // Runs the job in an 80 x 41 pane up to its final screen. `whileRunning`
  // is called with the pane's text until it returns true or the job ends.
  tmuxpane::Pane RunInPane(const fs::path& folder, const std::function<bool(const std::string&)>& whileRunning) {
    tmuxpane::Session session;
    // The pane before may still be closing under the same server name.
    if (!tmuxpane::Session::WaitUntil([&] { return session.Start(folder, OSTRIVALE_BINARY); }, 10)) {
      ADD_FAILURE() << "tmux did not start";
      return {};
    }
    EXPECT_TRUE(session.WaitForText("Input file?"));
    session.Literal("in.wav");
    session.Keys("Enter");
    EXPECT_TRUE(session.WaitForText("(minimum phase)"));
    session.Literal("D");
    session.Keys("Enter");
    EXPECT_TRUE(session.WaitForText("Output file?"));
    session.Literal("out.wav");
    session.Keys("Enter");
    tmuxpane::Session::WaitUntil(
        [&] {
          const std::string text = session.Text();
          return whileRunning(text) || text.find("press any key") != std::string::npos;
        },
        120);
    EXPECT_TRUE(session.WaitForText("press any key", 120));
    tmuxpane::Pane pane = session.Colours();
    session.Keys("Enter");
    session.Stop();
    return pane;
  }
};

TEST_F(LongJobInTerminal, PercentageOnTheStatusRowThenTheUsualScreen) {
  if (!tmuxpane::Session::Available()) FAIL() << "tmux is needed (Debian package tmux)";
  const std::regex percentage("   Convolving\\.\\.\\. ([0-9]{1,3})%");
  std::set<int> seen;
  const tmuxpane::Pane longPane = RunInPane(work_, [&](const std::string& text) {
    std::smatch match;
    if (std::regex_search(text, match, percentage)) seen.insert(std::stoi(match[1]));
    return false;  // watch the whole pass
  });
  if (seen.empty()) {
    // Only a pass of more than half a second shows it.
    double seconds = 0;
    for (int row = 1; row <= static_cast<int>(longPane.size()); ++row) {
      const std::string text = tmuxpane::RowText(longPane, row);
      const std::size_t at = text.find("Job completed in");
      if (at != std::string::npos) seconds = std::atof(text.c_str() + at + 16);
    }
    if (seconds < 1.0) GTEST_SKIP() << "the job took only " << seconds << " s here";
    FAIL() << "no percentage was shown during a job of " << seconds << " s";
  }
  EXPECT_LE(*seen.rbegin(), 100);

  // The same dialogue on a short recording shows no percentage: every cell
  // of the final screens is the same, but for the length, the duration and
  // the time taken.
  const fs::path shortFolder = root_ / "short";
  fs::create_directory(shortFolder);
  WriteFile(shortFolder / "in.wav", MakeWave(1, 192000, {100000, -200000, 300000}));
  fs::copy_file(work_ / "FilterD.dat", shortFolder / "FilterD.dat");
  const tmuxpane::Pane shortPane = RunInPane(shortFolder, [](const std::string&) { return false; });
  ASSERT_GE(longPane.size(), 41u);
  ASSERT_GE(shortPane.size(), 41u);
  int convolvingRow = 0;
  for (int row = 1; row <= 41; ++row) {
    const std::string text = tmuxpane::TrimRight(tmuxpane::RowText(longPane, row));
    if (text == "   Convolving...") convolvingRow = row;
    if (text.find("Length") != std::string::npos || text.find("Duration") != std::string::npos ||
        text.find("Job completed in") != std::string::npos) {
      continue;
    }
    EXPECT_EQ(tmuxpane::RowCells(longPane, row, 80), tmuxpane::RowCells(shortPane, row, 80)) << "row " << row;
  }
  EXPECT_EQ(convolvingRow, 30);
}

}  // namespace
