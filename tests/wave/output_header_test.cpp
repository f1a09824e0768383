// The header in front of the output's sample data: canonical, or RF64 past
// 4 GiB, and always describing the data that follows.
#include <gtest/gtest.h>

#include <cfloat>
#include <cmath>
#include <cstdint>
#include <limits>
#include <ostream>
#include <random>
#include <vector>

#include "wave/output_header.h"
#include "wave_test_support.h"

namespace {

using wavetest::Bytes;
using wavetest::Format;
using wavetest::HeaderOf;

// ---- the output header --------------------------------------------------------------

const Bytes kMonoOddHeader = {
    'R',  'I',  'F',  'F',  0x2E, 0x00, 0x00, 0x00,  // 9 + 36 = 45, odd: 46
    'W',  'A',  'V',  'E',  'f',  'm',  't',  ' ',
    0x10, 0x00, 0x00, 0x00, 0x01, 0x00, 0x01, 0x00,   // PCM, 1 channel
    0x00, 0x77, 0x01, 0x00,                           // 96000
    0x00, 0x65, 0x04, 0x00,                           // 288000
    0x03, 0x00, 0x18, 0x00,                           // block align 3, 24 bits
    'd',  'a',  't',  'a',  0x09, 0x00, 0x00, 0x00};  // 3 frames of 3 bytes

const Bytes kStereoEvenHeader = {
    'R',  'I',  'F',  'F',  0x30, 0x00, 0x00, 0x00,  // 12 + 36 = 48
    'W',  'A',  'V',  'E',  'f',  'm',  't',  ' ',
    0x10, 0x00, 0x00, 0x00, 0x01, 0x00, 0x02, 0x00,   // PCM, 2 channels
    0x00, 0xEE, 0x02, 0x00,                           // 192000
    0x00, 0x94, 0x11, 0x00,                           // 1152000
    0x06, 0x00, 0x18, 0x00,                           // block align 6, 24 bits
    'd',  'a',  't',  'a',  0x0C, 0x00, 0x00, 0x00};  // 2 frames of 6 bytes

TEST(BuildOutputHeader, OddMonoOutput) { EXPECT_EQ(HeaderOf(Format(1, 96000), 3), kMonoOddHeader); }

TEST(BuildOutputHeader, EvenStereoOutput) {
  EXPECT_EQ(HeaderOf(Format(2, 192000), 2), kStereoEvenHeader);
}

std::uint32_t U32At(const Bytes& b, std::size_t at) {
  return static_cast<std::uint32_t>(b[at]) | static_cast<std::uint32_t>(b[at + 1]) << 8 |
         static_cast<std::uint32_t>(b[at + 2]) << 16 | static_cast<std::uint32_t>(b[at + 3]) << 24;
}

TEST(BuildOutputHeader, DescribesTheDataWrittenWhateverTheInputSays) {
  // Block align, byte rate and bits that disagree with the channel count.
  WaveFormat mono = Format(1, 96000);
  mono.byteRate = 12345;
  mono.blockAlign = 4;
  mono.bitsPerSample = 16;
  EXPECT_EQ(HeaderOf(mono, 3), kMonoOddHeader);
  WaveFormat stereo = Format(2, 192000);
  stereo.blockAlign = 3;
  stereo.byteRate = 576000;
  EXPECT_EQ(HeaderOf(stereo, 2), kStereoEvenHeader);
}

// 800000000 stereo frames: 4800000000 bytes of data, past what 32 bits count.
const Bytes kStereoRf64Header = {
    'R',  'F',  '6',  '4',  0xFF, 0xFF, 0xFF, 0xFF, 'W',  'A',  'V',  'E',  'd',  's',  '6',  '4',
    0x1C, 0x00, 0x00, 0x00, 0x48, 0x30, 0x1A, 0x1E, 0x01, 0x00, 0x00, 0x00,  // RIFF size 4800000072
    0x00, 0x30, 0x1A, 0x1E, 0x01, 0x00, 0x00, 0x00,                          // data size 4800000000
    0x00, 0x08, 0xAF, 0x2F, 0x00, 0x00, 0x00, 0x00,                          // 800000000 frames
    0x00, 0x00, 0x00, 0x00,                                                  // no table
    'f',  'm',  't',  ' ',  0x10, 0x00, 0x00, 0x00, 0x01, 0x00, 0x02, 0x00, 0x00, 0xEE, 0x02, 0x00,
    0x00, 0x94, 0x11, 0x00, 0x06, 0x00, 0x18, 0x00, 'd',  'a',  't',  'a',  0xFF, 0xFF, 0xFF, 0xFF};

TEST(BuildOutputHeader, DataPast4GiBTakesTheRf64Form) {
  EXPECT_EQ(HeaderOf(Format(2, 192000), 800000000), kStereoRf64Header);
  // The last mono length whose RIFF size fits: FFFFFFD8 bytes of data.
  const Bytes last = HeaderOf(Format(1, 96000), 1431655752);
  ASSERT_EQ(last.size(), 44u);
  EXPECT_EQ(U32At(last, 40), 0xFFFFFFD8u);
  EXPECT_EQ(U32At(last, 4), 0xFFFFFFFCu);
  // One frame more: FFFFFFDB bytes, and with the pad byte a RIFF size of 2^32 + 36.
  const Bytes next = HeaderOf(Format(1, 96000), 1431655753);
  ASSERT_EQ(next.size(), 80u);
  EXPECT_EQ(U32At(next, 20) | std::uint64_t{U32At(next, 24)} << 32, 0x100000024u);
  EXPECT_EQ(U32At(next, 28) | std::uint64_t{U32At(next, 32)} << 32, 0xFFFFFFDBu);
  // The chunks kept after the data count in the RIFF size: 2 bytes more still
  // fit, 4 take the last length to the RF64 form with its data size as ever.
  EXPECT_EQ(U32At(HeaderOf(Format(1, 96000), 1431655752, 2), 4), 0xFFFFFFFEu);
  const Bytes kept = HeaderOf(Format(1, 96000), 1431655752, 4);
  ASSERT_EQ(kept.size(), 80u);
  EXPECT_EQ(U32At(kept, 20) | std::uint64_t{U32At(kept, 24)} << 32, 0x100000024u);
  EXPECT_EQ(U32At(kept, 28) | std::uint64_t{U32At(kept, 32)} << 32, 0xFFFFFFD8u);
}

}  // namespace
