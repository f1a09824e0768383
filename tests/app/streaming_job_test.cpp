// The real program on long jobs: a recording of mostly silence held in a
// sparse file gives a pass of seconds without taking room on the disk.
// Killed during the pass it leaves nothing; it runs in a few megabytes; it
// shows the pass's percentage while it runs (in process, on a clock of the
// test's), and in a terminal then the screen it always showed.
#include <gtest/gtest.h>

#include <signal.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <filesystem>
#include <iterator>
#include <regex>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "app/job.h"
#include "console/console.h"
#include "console/headless.h"
#include "filter/filter_pass.h"
#include "tests/app/app_test_support.h"
#include "tests/app/tmux_pane.h"
#include "tests/test_files.h"

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
  const std::vector<std::int32_t> sound = {100000, -200000, 300000};
  apptest::WriteFileOfSize(folder / "in.wav", MakeWave(1, 192000, sound, dataBytes),
                           44u + dataBytes);
  WriteFile(folder / "FilterD.dat", apptest::ImpulseText({"1"}, 15, "0.01"));
}

const std::string kKeys = "in.wav\nD\nout.wav\n";
constexpr int kConvolvingRow = 30;  // the 192000 filter question takes two rows

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
  const bool writing =
      apptest::WaitUntil([&] { return apptest::WritingUnnamedFile(pid, work_); }, 60);
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

// ---- progress ----------------------------------------------------------------------

// The job's clock for the progress test: 0.125 s on at every reading (sums
// of it are exact), each reading noted with the number of transient lines
// logged before it and whether the pass had begun ("Convolving..." stands).
struct ClockReading {
  double seconds;
  std::size_t transientLines;
  bool inPass;
};
std::vector<ClockReading> readings;

double SteppingClock() {
  readings.push_back({0.125 * static_cast<double>(readings.size() + 1), TransientLog().size(),
                      ScreenRowText(kConvolvingRow).starts_with("   Convolving...")});
  return readings.back().seconds;
}

double StillClock() { return 0.0; }

// The clock's time when transient line `index` was logged: its last reading before.
double LoggedAt(std::size_t index) {
  double seconds = -1.0;
  for (const ClockReading& reading : readings) {
    if (reading.transientLines == index) seconds = reading.seconds;
  }
  return seconds;
}

class Progress : public apptest::WorkFolderTest {
 protected:
  void TearDown() override {
    UseJobClock(nullptr);
    WorkFolderTest::TearDown();
  }

  // The whole job in this process on the headless console, read by `clock`.
  Screen RunJobWithClock(JobClock clock) {
    readings.clear();
    UseJobClock(clock);
    StartHeadlessConsole(kKeys);
    EXPECT_EQ(RunJob(), 0);
    return CurrentScreen();
  }
};

// A pass of 65 blocks read by a clock that steps 0.125 s: its percentage
// after "Convolving..." from half a second into the pass, then every quarter
// of a second, never going back; gone again before "Done"; and a final
// screen like that of a pass that showed none, but for the time taken.
TEST_F(Progress, PercentageAfterConvolvingFromHalfASecondGoneBeforeDone) {
  const testfiles::InFolder inWorkFolder(work_);
  WriteLongJob(work_, 3 * 64 * kPassBlockFrames);
  const Screen still = RunJobWithClock(StillClock);
  EXPECT_TRUE(TransientLog().empty());
  const Screen stepped = RunJobWithClock(SteppingClock);
  const std::vector<TransientRecord> log = TransientLog();
  ASSERT_GE(log.size(), 3u);
  const auto passStart = std::find_if(readings.begin(), readings.end(),
                                      [](const ClockReading& r) { return r.inPass; });
  ASSERT_NE(passStart, readings.end());
  int first = -1;
  int last = -1;
  for (std::size_t i = 0; i < log.size(); ++i) {
    const TransientRecord& line = log[i];
    // The screen under it ends at "Convolving...": no "Done" yet.
    EXPECT_EQ(std::count(line.screen.begin(), line.screen.end(), '\n'), kConvolvingRow) << i;
    EXPECT_TRUE(line.screen.ends_with("\n   Convolving...\n")) << i;
    EXPECT_EQ(line.row, kConvolvingRow);
    EXPECT_EQ(line.column, 17);
    if (i + 1 == log.size()) {
      EXPECT_EQ(line.text, "") << "the last is the clearing";
      break;
    }
    EXPECT_EQ(line.foreground, kDarkGrey);
    EXPECT_EQ(line.background, kBrightWhite);
    std::smatch percentage;
    ASSERT_TRUE(std::regex_match(line.text, percentage, std::regex(" ([0-9]{1,3})%"))) << line.text;
    const int shown = std::stoi(percentage[1]);
    EXPECT_GE(shown, last) << i;
    last = shown;
    if (first < 0) first = shown;
    EXPECT_DOUBLE_EQ(LoggedAt(i), i == 0 ? passStart->seconds + 0.5 : LoggedAt(i - 1) + 0.25) << i;
  }
  EXPECT_LT(first, last);
  EXPECT_LE(last, 100);
  for (int row = 1; row <= kScreenRows; ++row) {
    if (row == kConvolvingRow + 9) continue;  // "Job completed in N seconds"
    const auto& cells = still.cells[row - 1];
    EXPECT_TRUE(std::equal(std::begin(cells), std::end(cells), std::begin(stepped.cells[row - 1])))
        << row;
  }
  EXPECT_TRUE(ScreenRowText(kConvolvingRow + 9).starts_with("   Job completed in "))
      << PlainScreenText();
}

// The job in a real terminal, stopped in its pass for longer than the
// progress line's delay: once let go, it draws the percentage over the
// status row and takes it away again, and the final screen is cell for cell
// that of a job too short to show it, but for the length, the duration and
// the time taken.
class LongJobInTerminal : public tmuxpane::PaneTest {
 protected:
  void SetUp() override {
    PaneTest::SetUp();
    if (!HasFatalFailure()) WriteLongJob(work_, kLongDataBytes);
  }

  // Runs the job in an 80 x 41 pane up to its final screen; with
  // `stopInPass`, stopped once its pass has written a block, until the job's
  // clock (the system's monotonic one) has passed the delay, then let go.
  tmuxpane::Pane RunInPane(const fs::path& folder, bool stopInPass) {
    if (!session_.Start(folder)) {
      ADD_FAILURE() << "tmux did not start";
      return {};
    }
    EXPECT_TRUE(session_.Answer("Input file?", "in.wav") &&
                session_.Answer("(minimum phase)", "D") &&
                session_.Answer("Output file?", "out.wav"));
    if (stopInPass) {
      const pid_t pid = session_.ProgramPid();
      EXPECT_TRUE(apptest::WaitUntil([&] {
        return apptest::UnnamedFileSize(pid, folder) >= 3 * kPassBlockFrames;
      })) << session_.Text();
      // The pass began before that block; the job's clock runs on while the
      // program is stopped, and past this its next report draws the percentage.
      const auto beyondTheDelay = std::chrono::steady_clock::now() + std::chrono::milliseconds(600);
      kill(pid, SIGSTOP);
      std::this_thread::sleep_until(beyondTheDelay);
      kill(pid, SIGCONT);
    }
    EXPECT_TRUE(session_.WaitForText("press any key", 120));
    tmuxpane::Pane pane = session_.Colours();
    session_.Keys("Enter");
    session_.Stop();
    return pane;
  }
};

TEST_F(LongJobInTerminal, PercentageDrawnAndTakenAwayLeavesTheUsualScreen) {
  const tmuxpane::Pane longPane = RunInPane(work_, true);
  const fs::path shortFolder = io_ / "short";
  fs::create_directory(shortFolder);
  WriteLongJob(shortFolder, 9);
  const tmuxpane::Pane shortPane = RunInPane(shortFolder, false);
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
    EXPECT_EQ(tmuxpane::RowCells(longPane, row, 80), tmuxpane::RowCells(shortPane, row, 80))
        << "row " << row;
  }
  EXPECT_EQ(convolvingRow, kConvolvingRow);
}

}  // namespace
