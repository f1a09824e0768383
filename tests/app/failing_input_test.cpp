// A whole job run in this process on the headless console, its input read
// through the file layer's read seam: a read that fails (a failing disk) or
// comes up short (the file cut by another program meanwhile), in the pass or
// in the metadata after it, ends the job with the input's box, nothing under
// the output's name and the old file untouched.
#include <gtest/gtest.h>

#include <cctype>
#include <cstdint>
#include <filesystem>
#include <ostream>
#include <set>
#include <string>
#include <vector>

#include "app/job.h"
#include "console/headless.h"
#include "system/files.h"
#include "tests/app/app_test_support.h"
#include "tests/test_files.h"

namespace fs = std::filesystem;

namespace {

constexpr std::int64_t kFailFrom = 1 << 20;  // the first megabyte reads

// What the seam does to reads from kFailFrom on.
enum class Fault { kError, kCut };
Fault fault = Fault::kError;
std::string inputPath;

bool FaultyRead(FileHandle, std::int64_t offset) {
  if (offset < kFailFrom) return true;
  if (fault == Fault::kError) return false;
  fs::resize_file(inputPath, kFailFrom);  // then read what is left
  return true;
}

struct Case {
  const char* label;
  Fault fault;
  std::int64_t listBytes;  // a LIST chunk after the data, read from kFailFrom on when data is short
};

void PrintTo(const Case& c, std::ostream* os) { *os << c.label; }

class FailingInput : public apptest::WorkFolderTest, public ::testing::WithParamInterface<Case> {
 protected:
  void TearDown() override {
    ObserveReads(nullptr);
    WorkFolderTest::TearDown();
  }
};

TEST_P(FailingInput, EndsTheJobWithTheInputBoxAndLeavesTheOldFile) {
  const Case& c = GetParam();
  const testfiles::InFolder inWorkFolder(work_);
  // Two megabytes of stereo samples, or a few frames and a LIST that reaches past kFailFrom.
  const std::size_t frames = c.listBytes > 0 ? 100 : 2 * kFailFrom / 6;
  std::vector<std::int32_t> samples(2 * frames);
  for (std::size_t i = 0; i < samples.size(); ++i)
    samples[i] = static_cast<std::int32_t>(i % 5000) - 2500;
  std::string file = apptest::MakeWave(2, 96000, samples);
  if (c.listBytes > 0)
    file += wavefiles::Chunk("LIST", std::string(static_cast<std::size_t>(c.listBytes), 'i'));
  wavefiles::SetRiffSize(file);
  apptest::WriteFile("in.wav", file);
  WriteIdentityImpulse('F', "1", 31);
  apptest::WriteFile("out.wav", "the old output");

  fault = c.fault;
  inputPath = (work_ / "in.wav").string();
  ObserveReads(FaultyRead);
  StartHeadlessConsole("in.wav\nF\nout.wav\n");
  EXPECT_EQ(RunJob(nullptr), 1);

  EXPECT_EQ(BeepCount(), 1);
  ASSERT_EQ(MessageBoxLog().size(), 1u);
  EXPECT_EQ(MessageBoxLog()[0].text, "The input file could not be read");
  EXPECT_EQ(MessageBoxLog()[0].title, "               ERROR");
  EXPECT_EQ(ScreenRowText(29).substr(0, 16), "   Convolving...");
  EXPECT_EQ(ScreenRowText(30).find("Done"), std::string::npos);
  EXPECT_EQ(apptest::ReadFile("out.wav"), "the old output");
  EXPECT_EQ(apptest::Entries(work_), (std::set<std::string>{"FilterF.dat", "in.wav", "out.wav"}));
}

INSTANTIATE_TEST_SUITE_P(
    Reads, FailingInput,
    ::testing::Values(Case{"the disk fails in the pass", Fault::kError, 0},
                      Case{"the file is cut in the pass", Fault::kCut, 0},
                      Case{"the disk fails in the metadata", Fault::kError, kFailFrom + 8000},
                      Case{"the file is cut in the metadata", Fault::kCut, kFailFrom + 8000}),
    [](const ::testing::TestParamInfo<Case>& test) {
      std::string name;
      for (const char* p = test.param.label; *p != 0; ++p) {
        if (std::isalnum(static_cast<unsigned char>(*p))) name += *p;
      }
      return name;
    });

}  // namespace
