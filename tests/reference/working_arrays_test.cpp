#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <ostream>
#include <string>

#include "reference/working_arrays.h"
#include "system/memory.h"
#include "tests/test_buffers.h"
#include "tests/wave/wave_test_support.h"

namespace {

using testbuffers::AllZero;

using wavetest::Bytes;

// ---- memory needed and allocation ---------------------------------------------

TEST(WorkingMemoryNeeded, CountsThePeakOfTheJob) {
  // N = 1000, C = 2, M = 31: the raw block sized for the output image that
  // later takes its place (44 + 3*2*1030, more than the 6000 sample bytes),
  // inputs 4*1000*2, results 8*2*1030, coefficients 8*31.
  EXPECT_EQ(WorkingMemoryNeeded(1000, 2, 31), 6224 + 8000 + 16480 + 248);
  // One minute of stereo at 192000 with 31 taps: about 3.5e8 bytes.
  EXPECT_EQ(WorkingMemoryNeeded(11520000, 2, 31), 69120224LL + 92160000LL + 184320480LL + 248LL);
  // Mono, no frames: the image of M - 1 frames, results of M - 1 zeros and
  // the coefficients.
  EXPECT_EQ(WorkingMemoryNeeded(0, 1, 15), 86 + 8 * 14 + 8 * 15);
  // No frames and no taps: the output header alone.
  EXPECT_EQ(WorkingMemoryNeeded(0, 2, 0), 44);
  // The longest recording a 32-bit size allows, in 64-bit arithmetic: an odd
  // data length, so the image holds a pad byte, and more than 4 GiB of it,
  // so the image's header takes the 80-byte RF64 form.
  const std::int64_t n = 1431655765;  // 0xFFFFFFFF / 3
  EXPECT_EQ(WorkingMemoryNeeded(n, 1, 31), (80 + 3 * (n + 30) + 1) + 4 * n + 8 * (n + 30) + 248);
}

TEST(AllocateWorkingArrays, MonoArraysInTheirSizes) {
  WaveFormat f;
  f.channelCount = 1;
  f.sampleCount = 10;
  WorkingArrays a;
  ASSERT_TRUE(AllocateWorkingArrays(f, 15, a));
  EXPECT_EQ(a.resultLength, 24);
  EXPECT_EQ(a.rawSampleBlock.size(), 44 + 3 * 24);  // room for the output image
  EXPECT_EQ(a.impulseResponse.size(), 15);
  EXPECT_EQ(a.monoInput.size(), 10);
  EXPECT_EQ(a.monoResult.size(), 24);
  EXPECT_EQ(a.leftInput.size() + a.leftResult.size() + a.rightInput.size() + a.rightResult.size(),
            0);
  EXPECT_TRUE(AllZero(a.rawSampleBlock) && AllZero(a.impulseResponse) && AllZero(a.monoInput) &&
              AllZero(a.monoResult));
}

TEST(AllocateWorkingArrays, StereoArraysInTheirSizes) {
  WaveFormat f;
  f.channelCount = 2;
  f.sampleCount = 500000;
  WorkingArrays a;
  ASSERT_TRUE(AllocateWorkingArrays(f, 31, a));
  EXPECT_EQ(a.resultLength, 500030);
  EXPECT_EQ(a.rawSampleBlock.size(), 44 + 6 * 500030);
  EXPECT_EQ(a.impulseResponse.size(), 31);
  EXPECT_EQ(a.monoInput.size() + a.monoResult.size(), 0);
  EXPECT_EQ(a.leftInput.size(), 500000);
  EXPECT_EQ(a.rightInput.size(), 500000);
  EXPECT_EQ(a.leftResult.size(), 500030);
  EXPECT_EQ(a.rightResult.size(), 500030);
  EXPECT_TRUE(AllZero(a.leftResult) && AllZero(a.rightResult) && AllZero(a.rawSampleBlock));
}

TEST(AllocateWorkingArrays, NoFramesLeavesResultsOfTapsMinusOne) {
  WaveFormat f;
  f.channelCount = 1;
  f.sampleCount = 0;
  WorkingArrays a;
  ASSERT_TRUE(AllocateWorkingArrays(f, 15, a));
  EXPECT_EQ(a.resultLength, 14);
  EXPECT_EQ(a.rawSampleBlock.size(), 44 + 3 * 14);
  EXPECT_EQ(a.monoInput.size(), 0);
  EXPECT_EQ(a.monoResult.size(), 14);
}

void ExpectMemoryRefused(const WorkingArrays& a) {
  EXPECT_EQ(a.resultLength, 0);
  EXPECT_EQ(a.rawSampleBlock.size() + a.impulseResponse.size() + a.monoInput.size() +
                a.monoResult.size() + a.leftInput.size() + a.leftResult.size() +
                a.rightInput.size() + a.rightResult.size(),
            0);
}

TEST(AllocateWorkingArrays, RefusesAJobBeyondTheAvailableMemory) {
  WaveFormat f;
  f.channelCount = 2;
  f.sampleCount = std::int64_t{1} << 40;  // some 30 TB of working memory
  WorkingArrays a;
  EXPECT_FALSE(AllocateWorkingArrays(f, 31, a));
  ExpectMemoryRefused(a);
}

TEST(AllocateWorkingArrays, RefusesAJobOverTheAvailableMemoryThatCouldBeMapped) {
  // Half as much again as is available, in arrays each well under it: the
  // system would map every one of them without complaint, and kill the
  // process later when the pages were touched.
  const std::int64_t available = AvailableMemoryBytes();
  if (available <= 0) GTEST_SKIP() << "the system does not tell the memory available";
  WaveFormat f;
  f.channelCount = 2;
  f.sampleCount = available / 20;  // about 30 bytes a frame: 1.5 x available
  ASSERT_GT(WorkingMemoryNeeded(f.sampleCount, 2, 31), available);
  WorkingArrays a;
  EXPECT_FALSE(AllocateWorkingArrays(f, 31, a));
  ExpectMemoryRefused(a);
}

// ---- loading samples ---------------------------------------------------------

struct Loaded {
  WorkingArrays arrays;
  WaveFormat format;
};

// Writes `header` followed by `data`, allocates for N frames of C channels
// and loads.
void LoadFrom(const Bytes& header, const Bytes& data, int channels, std::int64_t frames,
              Loaded& out, std::int64_t dataOffset = kWaveHeaderSize) {
  wavetest::ScratchFolder folder;
  Bytes file = header;
  file.insert(file.end(), data.begin(), data.end());
  wavetest::WriteBytes(folder / "in.wav", file);
  out.format.channelCount = static_cast<std::uint16_t>(channels);
  out.format.sampleCount = frames;
  out.format.dataOffset = dataOffset;
  out.format.dataSize = data.size() - static_cast<std::size_t>(dataOffset - kWaveHeaderSize);
  ASSERT_TRUE(AllocateWorkingArrays(out.format, 15, out.arrays));
  LoadInputSamples(folder / "in.wav", out.format, out.arrays);
  // The raw block stays for the writer, which builds the output image in it.
  EXPECT_GE(out.arrays.rawSampleBlock.size(), 3 * frames * channels);
}

TEST(LoadInputSamples, MonoRecordsInOrder) {
  Loaded l;
  LoadFrom(wavetest::CanonicalHeader(1, 96000, 9),
           {0x01, 0x00, 0x00, 0xFF, 0xFF, 0xFF, 0x00, 0x00, 0x80}, 1, 3, l);
  ASSERT_EQ(l.arrays.monoInput.size(), 3);
  EXPECT_EQ(l.arrays.monoInput[0], 1);
  EXPECT_EQ(l.arrays.monoInput[1], -1);
  EXPECT_EQ(l.arrays.monoInput[2], -8388608);
}

TEST(LoadInputSamples, StereoFramesInterleaved) {
  Loaded l;
  LoadFrom(wavetest::CanonicalHeader(2, 96000, 12),
           {0x01, 0x00, 0x00, 0x02, 0x00, 0x00, 0xFF, 0xFF, 0x7F, 0xFE, 0xFF, 0xFF}, 2, 2, l);
  EXPECT_EQ(l.arrays.leftInput[0], 1);
  EXPECT_EQ(l.arrays.rightInput[0], 2);
  EXPECT_EQ(l.arrays.leftInput[1], 8388607);
  EXPECT_EQ(l.arrays.rightInput[1], -2);
}

TEST(LoadInputSamples, PartialLastRecordIsNeverNegativeAndTheRestIsZero) {
  Loaded l;
  // Record 1 has two of its bytes: FF FF and a missing high byte -> 65535.
  LoadFrom(wavetest::CanonicalHeader(1, 96000, 15), {0x05, 0x00, 0x00, 0xFF, 0xFF}, 1, 5, l);
  ASSERT_EQ(l.arrays.monoInput.size(), 5);
  EXPECT_EQ(l.arrays.monoInput[0], 5);
  EXPECT_EQ(l.arrays.monoInput[1], 65535);
  EXPECT_EQ(l.arrays.monoInput[2], 0);
  EXPECT_EQ(l.arrays.monoInput[3], 0);
  EXPECT_EQ(l.arrays.monoInput[4], 0);
}

TEST(LoadInputSamples, HeaderOnlyFileGivesSilence) {
  Loaded l;
  LoadFrom(wavetest::CanonicalHeader(2, 96000, 600), {}, 2, 100, l);
  EXPECT_TRUE(AllZero(l.arrays.leftInput));
  EXPECT_TRUE(AllZero(l.arrays.rightInput));
}

TEST(LoadInputSamples, DataIsTakenFromOffset44WhateverTheHeaderSays) {
  // A LIST chunk stands where the data should: its bytes are decoded.
  Bytes header = wavetest::CanonicalHeader(1, 96000, 0);
  wavetest::PutText(header, 36, "LIST");
  wavetest::PutLe(header, 40, 6, 4);
  Loaded l;
  LoadFrom(header, {'I', 'N', 'F', 'O', 0x00, 0x00}, 1, 2, l);
  EXPECT_EQ(l.arrays.monoInput[0], 'I' + 256 * 'N' + 65536 * 'F');
  EXPECT_EQ(l.arrays.monoInput[1], 'O');
}

TEST(LoadInputSamples, DataIsTakenFromWhereTheFormatSaysItStarts) {
  // Three bytes of another chunk between the header and the samples.
  Loaded l;
  LoadFrom(wavetest::CanonicalHeader(1, 96000, 6),
           {0xAA, 0xBB, 0xCC, 0x02, 0x00, 0x00, 0xFE, 0xFF, 0xFF}, 1, 2, l, kWaveHeaderSize + 3);
  EXPECT_EQ(l.arrays.monoInput[0], 2);
  EXPECT_EQ(l.arrays.monoInput[1], -2);
}

TEST(LoadInputSamples, BytesAfterTheLastRecordAreNotRead) {
  Loaded l;
  LoadFrom(wavetest::CanonicalHeader(1, 96000, 3), {0x07, 0x00, 0x00, 0x99, 0x99, 0x99}, 1, 1, l);
  ASSERT_EQ(l.arrays.monoInput.size(), 1);
  EXPECT_EQ(l.arrays.monoInput[0], 7);
  EXPECT_EQ(l.arrays.monoResult.size(), 15);
}

TEST(LoadInputSamples, LargeStereoFileRoundTrips) {
  const std::int64_t frames = 300000;  // 1.8 MB of data: a mapped block
  Bytes data(static_cast<std::size_t>(6 * frames));
  auto value = [](std::int64_t i, int channel) {
    return static_cast<std::int32_t>(((i * 7919 + channel * 104729) % 16777216) - 8388608);
  };
  for (std::int64_t i = 0; i < frames; ++i) {
    for (int ch = 0; ch < 2; ++ch) {
      const std::uint32_t bits = static_cast<std::uint32_t>(value(i, ch)) & 0xFFFFFFu;
      for (int b = 0; b < 3; ++b) {
        data[static_cast<std::size_t>(6 * i + 3 * ch + b)] =
            static_cast<std::uint8_t>(bits >> (8 * b));
      }
    }
  }
  Loaded l;
  LoadFrom(wavetest::CanonicalHeader(2, 192000, static_cast<std::uint32_t>(data.size())), data, 2,
           frames, l);
  int mismatches = 0;
  for (std::int64_t i = 0; i < frames; ++i) {
    if (l.arrays.leftInput[i] != value(i, 0) || l.arrays.rightInput[i] != value(i, 1)) ++mismatches;
  }
  EXPECT_EQ(mismatches, 0);
}

TEST(LoadInputSamples, UnreadableFileGivesSilence) {
  WaveFormat f;
  f.channelCount = 1;
  f.sampleCount = 4;
  WorkingArrays a;
  ASSERT_TRUE(AllocateWorkingArrays(f, 15, a));
  LoadInputSamples("/nonexistent/folder/in.wav", f, a);
  ASSERT_EQ(a.monoInput.size(), 4);
  EXPECT_TRUE(AllZero(a.monoInput));
}

}  // namespace
