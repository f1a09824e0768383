// Header reading on POSIX only: a named pipe, descriptors and modes.
#include <dirent.h>
#include <sys/stat.h>

#include <gtest/gtest.h>

#include <string>

#include "tests/test_environment.h"
#include "wave/wave_format.h"
#include "wave_test_support.h"

namespace {

using wavetest::Bytes;
using wavetest::CanonicalHeader;
using wavetest::PutLe;

TEST(ReadWaveHeader, PipeIsRejectedWithoutWaiting) {
  wavetest::ScratchFolder folder;
  ASSERT_EQ(mkfifo((folder / "pipe").c_str(), 0644), 0);
  WaveFormat f;
  EXPECT_EQ(wavetest::ReadHeaderOf(folder / "pipe", f), HeaderVerdict::kNotWave);
}

int OpenDescriptorCount() {
  int count = 0;
  DIR* dir = opendir("/proc/self/fd");
  if (dir == nullptr) return -1;
  while (readdir(dir) != nullptr) ++count;
  closedir(dir);
  return count;
}

// The reader reads through the handle it is given: it opens nothing of its
// own and changes nothing.
TEST(ReadWaveHeader, OpensNoFileAndLeavesTheFileUnchanged) {
  wavetest::ScratchFolder folder;
  Bytes good = CanonicalHeader(1, 96000, 30);
  good.resize(74, 0x42);
  Bytes bad = good;
  PutLe(bad, 34, 16, 2);
  wavetest::WriteBytes(folder / "good.wav", good);
  wavetest::WriteBytes(folder / "bad.wav", bad);
  chmod((folder / "good.wav").c_str(), 0444);
  const FileHandle badFile = OpenFileForReading(folder / "bad.wav");
  const FileHandle goodFile = OpenFileForReading(folder / "good.wav");
  const int before = OpenDescriptorCount();
  WaveFormat f;
  EXPECT_EQ(ReadWaveHeader(badFile, f), HeaderVerdict::kNot24Bit);
  EXPECT_EQ(ReadWaveHeader(goodFile, f), HeaderVerdict::kAccepted);
  EXPECT_EQ(OpenDescriptorCount(), before);
  CloseFile(badFile);
  CloseFile(goodFile);
  EXPECT_EQ(wavetest::ReadBytes(folder / "good.wav"), good);
  EXPECT_EQ(testenv::FileMode(folder / "good.wav"), 0444u);
}

}  // namespace
