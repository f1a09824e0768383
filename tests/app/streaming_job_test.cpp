// The real program on long jobs: a recording of mostly silence held in a
// sparse file gives a pass of seconds without taking room on the disk.
// Killed during the pass it leaves nothing; it runs in a few megabytes; and
// in a terminal it shows the pass's percentage, then the screen it always
// showed.
#include <gtest/gtest.h>

#include <signal.h>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <regex>
#include <set>
#include <string>

#include "tests/app/app_test_support.h"
#include "tests/app/tmux_pane.h"

namespace fs = std::filesystem;

namespace {

using apptest::Entries;
using apptest::MakeWave;
using apptest::ReadFile;
using apptest::RunResult;
using apptest::WriteFile;

// Mono at 192000 through filter D (15 taps): 3 bytes a frame.
constexpr std::uint32_t kLongDataBytes = 300000000;  // 100 million frames, some 9 minutes

// A recording of `dataBytes` of silence but for three samples, and filter D.
void WriteLongJob(const fs::path& folder, std::uint32_t dataBytes) {
  apptest::WriteFileOfSize(folder / "in.wav", MakeWave(1, 192000, {100000, -200000, 300000}, dataBytes),
                           44u + dataBytes);
  WriteFile(folder / "FilterD.dat", apptest::ImpulseText({"1"}, 15, "0.01"));
}

const std::string kKeys = "in.wav\nD\nout.wav\n";

class LongJob : public apptest::WorkFolderTest {
 protected:
  void SetUp() override {
    WorkFolderTest::SetUp();
    if (!HasFatalFailure()) WriteLongJob(work_, kLongDataBytes);
  }
};

TEST_F(LongJob, KilledDuringThePassLeavesNoFileAndTheOldOneIntact) {
  WriteFile(work_ / "out.wav", "old contents");
  const pid_t pid = Start(kKeys);
  ASSERT_GT(pid, 0) << startFailure_;
  const bool writing = apptest::WaitUntil([&] { return apptest::WritingUnnamedFile(pid, work_); }, 60);
  kill(pid, SIGKILL);
  const RunResult r = Finish(pid);
  ASSERT_TRUE(writing) << "the pass was never seen running: " << r.screen << r.errors;
  EXPECT_EQ(r.signal, SIGKILL);
  EXPECT_EQ(Entries(work_), (std::set<std::string>{"FilterD.dat", "in.wav", "out.wav"}));
  EXPECT_EQ(ReadFile(work_ / "out.wav"), "old contents");
}

TEST_F(LongJob, RunsInAFewMegabytes) {
  const RunResult r = Run(kKeys);
  ASSERT_TRUE(r.finished && r.status == 0) << r.screen << r.errors;
  EXPECT_EQ(fs::file_size(work_ / "out.wav"), 44u + kLongDataBytes + 3u * 14u);
  // The whole-recording procedure would hold some 1.5 GB here.
  EXPECT_LT(r.peakKiB, 32 * 1024) << "peak resident memory in KiB";
}

// ---- progress in a terminal -----------------------------------------------------

class LongJobInTerminal : public tmuxpane::PaneTest {
 protected:
  // Long enough for the percentage to show for a second or more.
  void SetUp() override {
    PaneTest::SetUp();
    if (!HasFatalFailure()) WriteLongJob(work_, 1500000000);
  }

  // Runs the job in an 80 x 41 pane up to its final screen. `whileRunning`
  // is called with the pane's text until it returns true or the job ends.
  tmuxpane::Pane RunInPane(const fs::path& folder, const std::function<bool(const std::string&)>& whileRunning) {
    if (!session_.Start(folder)) {
      ADD_FAILURE() << "tmux did not start";
      return {};
    }
    EXPECT_TRUE(session_.Answer("Input file?", "in.wav") && session_.Answer("(minimum phase)", "D") &&
                session_.Answer("Output file?", "out.wav"));
    apptest::WaitUntil(
        [&] {
          const std::string text = session_.Text();
          return whileRunning(text) || text.find("press any key") != std::string::npos;
        },
        120);
    EXPECT_TRUE(session_.WaitForText("press any key", 120));
    tmuxpane::Pane pane = session_.Colours();
    session_.Keys("Enter");
    session_.Stop();
    return pane;
  }
};

TEST_F(LongJobInTerminal, PercentageOnTheStatusRowThenTheUsualScreen) {
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
  const fs::path shortFolder = io_ / "short";
  fs::create_directory(shortFolder);
  WriteLongJob(shortFolder, 9);
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
