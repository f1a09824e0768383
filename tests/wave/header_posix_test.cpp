// Header reading on POSIX only: a named pipe, descriptors and modes.
#include <dirent.h>
#include <sys/stat.h>

#include <gtest/gtest.h>

#include <string>

#include "console/console.h"
#include "console/headless.h"
#include "tests/test_environment.h"
#include "wave/wave_dialogue.h"
#include "wave/wave_format.h"
#include "wave_test_support.h"

namespace {

using wavetest::Bytes;
using wavetest::CanonicalHeader;
using wavetest::PutLe;

TEST(ReadWaveHeader, PipeIsRejectedWithoutWaiting) {
  wavetest::ScratchFolder folder;
  ASSERT_EQ(mkfifo((folder / "pipe").c_str(), 0644), 0);
  StartHeadlessConsole("");
  WaveFormat f;
  EXPECT_FALSE(ReadWaveHeader(folder / "pipe", f));
  ASSERT_EQ(MessageBoxLog().size(), 1u);
  EXPECT_EQ(MessageBoxLog()[0].text, " This is not a Wave file");
}

int OpenDescriptorCount() {
  int count = 0;
  DIR* dir = opendir("/proc/self/fd");
  if (dir == nullptr) return -1;
  while (readdir(dir) != nullptr) ++count;
  closedir(dir);
  return count;
}

TEST(ReadWaveHeader, LeavesNoFileOpenAndTheFileUnchanged) {
  wavetest::ScratchFolder folder;
  Bytes good = CanonicalHeader(1, 96000, 30);
  good.resize(74, 0x42);
  Bytes bad = good;
  PutLe(bad, 34, 16, 2);
  wavetest::WriteBytes(folder / "good.wav", good);
  wavetest::WriteBytes(folder / "bad.wav", bad);
  chmod((folder / "good.wav").c_str(), 0444);
  StartHeadlessConsole("");
  const int before = OpenDescriptorCount();
  WaveFormat f;
  EXPECT_FALSE(ReadWaveHeader(folder / "bad.wav", f));
  EXPECT_TRUE(ReadWaveHeader(folder / "good.wav", f));
  EXPECT_EQ(OpenDescriptorCount(), before);
  EXPECT_EQ(wavetest::ReadBytes(folder / "good.wav"), good);
  EXPECT_EQ(testenv::FileMode(folder / "good.wav"), 0444u);
}

}  // namespace
