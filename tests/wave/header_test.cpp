#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <functional>
#include <ostream>
#include <string>

#include "wave/byte_order.h"
#include "wave/wave_format.h"
#include "wave_test_support.h"

namespace {

using wavetest::Bytes;
using wavetest::CanonicalHeader;
using wavetest::PutLe;
using wavetest::PutText;

HeaderVerdict Decode(const Bytes& bytes, WaveFormat& format) {
  return DecodeWaveBytes(bytes.data(), bytes.size(), format);
}

// `file`, followed by zeros up to the size the source declares.
bool ReadFileAndZeros(void* context, std::int64_t offset, std::uint8_t* into, std::int64_t count) {
  const Bytes& file = *static_cast<const Bytes*>(context);
  for (std::int64_t i = 0; i < count; ++i) {
    const auto at = static_cast<std::size_t>(offset + i);
    into[i] = at < file.size() ? file[at] : 0;
  }
  return true;
}

// A canonical header decoded as the file that holds the data it declares.
HeaderVerdict DecodeWhole(const Bytes& header, WaveFormat& format) {
  const std::int64_t size =
      kWaveHeaderSize + static_cast<std::int64_t>(LoadU32(header.data() + 40));
  return DecodeWaveHeader(WaveSource{ReadFileAndZeros, const_cast<Bytes*>(&header), size}, format);
}

// ---- order of the tests and what each looks at ----------------------------

struct VerdictCase {
  const char* label;
  std::function<void(Bytes&)> change;
  HeaderVerdict expected;
};

void PrintTo(const VerdictCase& c, std::ostream* os) { *os << c.label; }

class HeaderVerdictTest : public ::testing::TestWithParam<VerdictCase> {};

TEST_P(HeaderVerdictTest, GivesVerdict) {
  Bytes h = CanonicalHeader(2, 96000, 600);
  GetParam().change(h);
  WaveFormat format;
  EXPECT_EQ(Decode(h, format), GetParam().expected) << GetParam().label;
}

INSTANTIATE_TEST_SUITE_P(
    Order, HeaderVerdictTest,
    ::testing::Values(
        VerdictCase{"canonical stereo 96000", [](Bytes&) {}, HeaderVerdict::kAccepted},
        VerdictCase{"mono 192000",
                    [](Bytes& h) {
                      PutLe(h, 22, 1, 2);
                      PutLe(h, 24, 192000, 4);
                    },
                    HeaderVerdict::kAccepted},
        VerdictCase{"RF64 at 0", [](Bytes& h) { PutText(h, 0, "RF64"); }, HeaderVerdict::kAccepted},
        VerdictCase{"BW64 at 0", [](Bytes& h) { PutText(h, 0, "BW64"); }, HeaderVerdict::kAccepted},
        VerdictCase{"RIFX (big-endian samples)", [](Bytes& h) { PutText(h, 0, "RIFX"); },
                    HeaderVerdict::kNotWave},
        VerdictCase{"JUNK at 0", [](Bytes& h) { PutText(h, 0, "JUNK"); }, HeaderVerdict::kNotWave},
        VerdictCase{"other ids at 12 and 36 are walked: no fmt, no data",
                    [](Bytes& h) {
                      PutText(h, 12, "xxxx");
                      PutText(h, 36, "yyyy");
                    },
                    HeaderVerdict::kNotWave},
        VerdictCase{"lower-case wave", [](Bytes& h) { PutText(h, 8, "wave"); },
                    HeaderVerdict::kNotWave},
        VerdictCase{"WAVE one byte off", [](Bytes& h) { PutText(h, 8, "WAVF"); },
                    HeaderVerdict::kNotWave},
        VerdictCase{"not WAVE beats every other fault",
                    [](Bytes& h) {
                      PutText(h, 8, "AVI ");
                      PutLe(h, 20, 3, 2);
                      PutLe(h, 34, 8, 2);
                      PutLe(h, 24, 44100, 4);
                      PutLe(h, 22, 0, 2);
                    },
                    HeaderVerdict::kNotWave},
        VerdictCase{"8-bit with code 3 is not PCM",
                    [](Bytes& h) {
                      PutLe(h, 20, 3, 2);
                      PutLe(h, 34, 8, 2);
                    },
                    HeaderVerdict::kNotPcm},
        VerdictCase{"extensible format without its extension",
                    [](Bytes& h) { PutLe(h, 20, 0xFFFE, 2); }, HeaderVerdict::kNotPcm},
        VerdictCase{"code 0x0101 is not 1", [](Bytes& h) { PutLe(h, 20, 0x0101, 2); },
                    HeaderVerdict::kNotPcm},
        VerdictCase{"16-bit at 44100 is not 24-bit",
                    [](Bytes& h) {
                      PutLe(h, 34, 16, 2);
                      PutLe(h, 24, 44100, 4);
                    },
                    HeaderVerdict::kNot24Bit},
        VerdictCase{"bits 24 + 256", [](Bytes& h) { PutLe(h, 34, 24 + 256, 2); },
                    HeaderVerdict::kNot24Bit},
        VerdictCase{"rate one above 96000", [](Bytes& h) { PutLe(h, 24, 96001, 4); },
                    HeaderVerdict::kWrongRate},
        VerdictCase{"rate 48000", [](Bytes& h) { PutLe(h, 24, 48000, 4); },
                    HeaderVerdict::kWrongRate},
        VerdictCase{"rate 96000 + 2^32 high bits", [](Bytes& h) { h[27] = 1; },
                    HeaderVerdict::kWrongRate},
        VerdictCase{"rate tested before channels",
                    [](Bytes& h) {
                      PutLe(h, 24, 44100, 4);
                      PutLe(h, 22, 3, 2);
                    },
                    HeaderVerdict::kWrongRate},
        VerdictCase{"no channels", [](Bytes& h) { PutLe(h, 22, 0, 2); },
                    HeaderVerdict::kNotMonoStereo},
        VerdictCase{"three channels", [](Bytes& h) { PutLe(h, 22, 3, 2); },
                    HeaderVerdict::kNotMonoStereo},
        VerdictCase{"255 channels", [](Bytes& h) { PutLe(h, 22, 255, 2); },
                    HeaderVerdict::kNotMonoStereo},
        VerdictCase{"256 channels", [](Bytes& h) { PutLe(h, 22, 256, 2); },
                    HeaderVerdict::kNotMonoStereo},
        VerdictCase{"257 channels, not its low byte 1", [](Bytes& h) { PutLe(h, 22, 257, 2); },
                    HeaderVerdict::kNotMonoStereo},
        VerdictCase{"258 channels, not its low byte 2", [](Bytes& h) { PutLe(h, 22, 258, 2); },
                    HeaderVerdict::kNotMonoStereo},
        VerdictCase{"all zero", [](Bytes& h) { h.assign(h.size(), 0); }, HeaderVerdict::kNotWave}));

// ---- fields at their fixed positions ---------------------------------------

TEST(DecodeWaveHeader, ReadsEveryFieldAtItsFixedPosition) {
  Bytes h = CanonicalHeader(2, 192000, 0);
  PutLe(h, 28, 0x87654321, 4);  // byte rate, negative as signed
  PutLe(h, 32, 0xFFFF, 2);      // block align -1
  PutLe(h, 40, 0x0000F00D, 4);
  WaveFormat f;
  ASSERT_EQ(DecodeWhole(h, f), HeaderVerdict::kAccepted);
  EXPECT_EQ(f.formatTag, 1);
  EXPECT_EQ(f.channelCount, 2);
  EXPECT_EQ(f.sampleRate, 192000);
  EXPECT_EQ(f.byteRate, static_cast<std::int32_t>(0x87654321u));
  EXPECT_EQ(f.blockAlign, -1);
  EXPECT_EQ(f.bitsPerSample, 24);
  EXPECT_EQ(f.dataSize, 0xF00Du);
}

TEST(DecodeWaveHeader, IgnoresBytesOutsideTheFields) {
  Bytes a = CanonicalHeader(1, 96000, 3000);
  Bytes b = a;
  // (Bytes 12-19 and 36-39 are not among them: they tell a canonical header.)
  for (int offset : {4, 5, 6, 7}) {
    b[static_cast<std::size_t>(offset)] = static_cast<std::uint8_t>(0xA5 ^ offset);
  }
  WaveFormat fa, fb;
  ASSERT_EQ(DecodeWhole(a, fa), HeaderVerdict::kAccepted);
  ASSERT_EQ(DecodeWhole(b, fb), HeaderVerdict::kAccepted);
  EXPECT_EQ(fb.channelCount, 1);
  EXPECT_EQ(fb.dataSize, 3000u);
  EXPECT_EQ(fb.sampleCount, 1000);
  EXPECT_EQ(fa.sampleCount, fb.sampleCount);
}

// ---- layouts that are walked chunk by chunk ----------------------------------

using wavefiles::Chunk;
using wavefiles::WaveFile;

Bytes WithoutPadByte(Bytes chunk) {
  chunk.pop_back();
  return chunk;
}

// A "fmt " body: the 16 bytes of a stereo 96000 canonical header with the
// given channel field, format code and bits, then `extra` zero bytes.
Bytes Fmt(std::size_t extra = 0, std::uint64_t channelField = 2, std::uint64_t formatTag = 1,
          std::uint64_t bits = 24) {
  Bytes h = CanonicalHeader(2, 96000, 0);
  PutLe(h, 20, formatTag, 2);
  PutLe(h, 22, channelField, 2);
  PutLe(h, 34, bits, 2);
  Bytes body(16 + extra, 0);
  std::copy(h.begin() + 20, h.begin() + 36, body.begin());
  return body;
}

// The sub-formats of the extensible form, as a file holds them.
constexpr std::uint8_t kPcmGuid[16] = {0x01, 0, 0, 0,    0, 0,    0x10, 0,
                                       0x80, 0, 0, 0xAA, 0, 0x38, 0x9B, 0x71};
constexpr std::uint8_t kFloatGuid[16] = {0x03, 0, 0, 0,    0, 0,    0x10, 0,
                                         0x80, 0, 0, 0xAA, 0, 0x38, 0x9B, 0x71};

// An extensible "fmt " body of 40 bytes, stereo 96000 in 24-bit containers
// with 20 valid bits (which the reader leaves aside) and a channel mask.
Bytes Extensible(const std::uint8_t (&subFormat)[16], std::uint64_t extensionSize = 22,
                 std::uint64_t channelField = 2) {
  Bytes body = Fmt(24, channelField, 0xFFFE);
  PutLe(body, 16, extensionSize, 2);
  PutLe(body, 18, 20, 2);
  PutLe(body, 20, 3, 4);
  std::copy(subFormat, subFormat + 16, body.begin() + 24);
  return body;
}

Bytes Ds64(std::uint64_t riffSize, std::uint64_t dataSize) {
  return wavefiles::Ds64<Bytes>(riffSize, dataSize, dataSize / 6);
}

const Bytes kTwoFrames = {1, 0, 0, 2, 0, 0, 3, 0, 0, 4, 0, 0};  // stereo
const Bytes kListInfo = {'I', 'N', 'F', 'O', 'I', 'S', 'F', 'T', 14,  0,   0,   0, 'L', 'a',
                         'v', 'f', '5', '9', '.', '2', '7', '.', '1', '0', '0', 0};  // 26 bytes
constexpr std::int64_t kSixGigabytes = 6000000000;
constexpr std::uint32_t kMark = 0xFFFFFFFFu;

struct LayoutCase {
  const char* label;
  Bytes file;
  HeaderVerdict verdict;
  std::int64_t sampleCount = 0;  // Length shown; the rest is stereo 96000 24-bit
  std::int64_t dataOffset = 0;
  std::int64_t fileSize = 0;  // when larger than `file`: zeros up to it
};

void PrintTo(const LayoutCase& c, std::ostream* os) { *os << c.label; }

class LayoutTest : public ::testing::TestWithParam<LayoutCase> {};

TEST_P(LayoutTest, ShowsTheRecordingOrTheFirstTestsBox) {
  const LayoutCase& c = GetParam();
  const auto held = static_cast<std::int64_t>(c.file.size());
  const WaveSource source{ReadFileAndZeros, const_cast<Bytes*>(&c.file),
                          c.fileSize > held ? c.fileSize : held};
  WaveFormat f;
  ASSERT_EQ(DecodeWaveHeader(source, f), c.verdict);
  if (c.verdict == HeaderVerdict::kAccepted) {
    EXPECT_EQ(f.channelCount, 2);
    EXPECT_EQ(f.sampleRate, 96000);
    EXPECT_EQ(f.bitsPerSample, 24);
    EXPECT_EQ(f.sampleCount, c.sampleCount);
    EXPECT_DOUBLE_EQ(f.durationSeconds, static_cast<double>(c.sampleCount) / 96000.0);
    EXPECT_EQ(f.dataOffset, c.dataOffset);
  }
  if (c.fileSize > held) return;

  // The file on disk gives the same.
  wavetest::ScratchFolder folder;
  wavetest::WriteBytes(folder / "in.wav", c.file);
  WaveFormat read;
  EXPECT_EQ(wavetest::ReadHeaderOf(folder / "in.wav", read), c.verdict);
  EXPECT_EQ(read.sampleCount, f.sampleCount);
  EXPECT_EQ(read.dataOffset, f.dataOffset);
}

INSTANTIATE_TEST_SUITE_P(
    Layouts, LayoutTest,
    ::testing::Values(LayoutCase{"fmt of 18 bytes",
                                 WaveFile("RIFF",
                                          {Chunk("fmt ", Fmt(2)), Chunk("data", kTwoFrames)}),
                                 HeaderVerdict::kAccepted, 2, 46},
                      LayoutCase{
                          "fmt of 40 bytes with format 1",
                          WaveFile("RIFF", {Chunk("fmt ", Fmt(24)), Chunk("data", kTwoFrames)}),
                          HeaderVerdict::kAccepted, 2, 68},
                      LayoutCase{
                          "extensible PCM, fmt of 40, and fact (sox, ffmpeg, libsndfile)",
                          WaveFile("RIFF", {Chunk("fmt ", Extensible(kPcmGuid)),
                                            Chunk("fact", Bytes(4, 2)), Chunk("data", kTwoFrames)}),
                          HeaderVerdict::kAccepted, 2, 80},
                      LayoutCase{"RF64 extensible PCM (ffmpeg -rf64 always)",
                                 WaveFile("RF64", {Chunk("ds64", Ds64(80 - 8 + 12 + 24, 12)),
                                                   Chunk("fmt ", Extensible(kPcmGuid)),
                                                   Chunk("data", kTwoFrames, kMark)}),
                                 HeaderVerdict::kAccepted, 2, 104},
                      LayoutCase{"extensible floating point",
                                 WaveFile("RIFF", {Chunk("fmt ", Extensible(kFloatGuid)),
                                                   Chunk("data", kTwoFrames)}),
                                 HeaderVerdict::kNotPcm},
                      LayoutCase{"extensible PCM whose extension is 20 bytes",
                                 WaveFile("RIFF", {Chunk("fmt ", Extensible(kPcmGuid, 20)),
                                                   Chunk("data", kTwoFrames)}),
                                 HeaderVerdict::kNotPcm},
                      LayoutCase{"extensible PCM cut after its extension size",
                                 WaveFile("RIFF", {Chunk("fmt ",
                                                         [] {
                                                           Bytes b = Extensible(kPcmGuid);
                                                           b.resize(30);
                                                           return b;
                                                         }()),
                                                   Chunk("data", kTwoFrames)}),
                                 HeaderVerdict::kNotPcm},
                      LayoutCase{"extensible PCM with 257 channels",
                                 WaveFile("RIFF", {Chunk("fmt ", Extensible(kPcmGuid, 22, 257)),
                                                   Chunk("data", kTwoFrames)}),
                                 HeaderVerdict::kNotMonoStereo},
                      LayoutCase{"LIST between fmt and data (ffmpeg)",
                                 WaveFile("RIFF", {Chunk("fmt ", Fmt()), Chunk("LIST", kListInfo),
                                                   Chunk("data", kTwoFrames)}),
                                 HeaderVerdict::kAccepted, 2, 78},
                      LayoutCase{
                          "canonical with data size FFFFFFFF (a writer into a pipe): to the end",
                          [] {
                            Bytes f = CanonicalHeader(2, 96000, kMark);
                            f.insert(f.end(), kTwoFrames.begin(), kTwoFrames.end());
                            return f;
                          }(),
                          HeaderVerdict::kAccepted, 2, 44},
                      LayoutCase{"RIFX with walked chunks (big-endian samples)",
                                 WaveFile("RIFX", {Chunk("fmt ", Fmt()), Chunk("LIST", kListInfo),
                                                   Chunk("data", kTwoFrames)}),
                                 HeaderVerdict::kNotWave},
                      LayoutCase{"fact between fmt and data",
                                 WaveFile("RIFF", {Chunk("fmt ", Fmt()), Chunk("fact", Bytes(4, 2)),
                                                   Chunk("data", kTwoFrames)}),
                                 HeaderVerdict::kAccepted, 2, 56},
                      LayoutCase{
                          "bext first (broadcast wave)",
                          WaveFile("RIFF", {Chunk("bext", Bytes(602, 'b')), Chunk("fmt ", Fmt()),
                                            Chunk("data", kTwoFrames)}),
                          HeaderVerdict::kAccepted, 2, 654},
                      LayoutCase{
                          "JUNK first",
                          WaveFile("RIFF", {Chunk("JUNK", Bytes(28, 0)), Chunk("fmt ", Fmt()),
                                            Chunk("data", kTwoFrames)}),
                          HeaderVerdict::kAccepted, 2, 80},
                      LayoutCase{
                          "odd-sized chunk with its pad byte",
                          WaveFile("RIFF", {Chunk("fmt ", Fmt()), Chunk("iXML", Bytes(5, 'x')),
                                            Chunk("data", kTwoFrames)}),
                          HeaderVerdict::kAccepted, 2, 58},
                      LayoutCase{"odd-sized chunk without its pad byte",
                                 WaveFile("RIFF", {Chunk("fmt ", Fmt()),
                                                   WithoutPadByte(Chunk("iXML", Bytes(5, 'x'))),
                                                   Chunk("data", kTwoFrames)}),
                                 HeaderVerdict::kNotWave},
                      LayoutCase{
                          "data before fmt",
                          WaveFile("RIFF", {Chunk("data", kTwoFrames), Chunk("fmt ", Fmt())}),
                          HeaderVerdict::kAccepted, 2, 20},
                      LayoutCase{
                          "16-bit behind a LIST: the tests as ever",
                          WaveFile("RIFF", {Chunk("fmt ", Fmt(0, 2, 1, 16)),
                                            Chunk("LIST", kListInfo), Chunk("data", kTwoFrames)}),
                          HeaderVerdict::kNot24Bit},
                      LayoutCase{"RF64 with ds64",
                                 WaveFile("RF64",
                                          {Chunk("ds64", Ds64(80 - 8 + 12, 12)),
                                           Chunk("fmt ", Fmt()), Chunk("data", kTwoFrames, kMark)}),
                                 HeaderVerdict::kAccepted, 2, 80},
                      LayoutCase{
                          "BW64 of 6 GB: length from the 64-bit size",
                          WaveFile("BW64",
                                   {Chunk("ds64", Ds64(80 - 8 + kSixGigabytes, kSixGigabytes)),
                                    Chunk("fmt ", Fmt()), Chunk("data", Bytes{}, kMark)}),
                          HeaderVerdict::kAccepted, 1000000000, 80, 80 + kSixGigabytes},
                      LayoutCase{
                          "RF64 whose ds64 size runs past the end: what the file holds",
                          WaveFile("RF64",
                                   {Chunk("ds64", Ds64(80 - 8 + kSixGigabytes, kSixGigabytes)),
                                    Chunk("fmt ", Fmt()), Chunk("data", kTwoFrames, kMark)}),
                          HeaderVerdict::kAccepted, 2, 80},
                      LayoutCase{
                          "RF64 with a ds64 never filled in (ffmpeg into a pipe): to the end",
                          WaveFile("RF64", {Chunk("ds64", Ds64(0, 0)), Chunk("fmt ", Fmt()),
                                            Chunk("data", kTwoFrames, kMark)}),
                          HeaderVerdict::kAccepted, 2, 80},
                      LayoutCase{"RIFF data size FFFFFFFF (ffmpeg into a pipe): to the end",
                                 WaveFile("RIFF", {Chunk("fmt ", Fmt()), Chunk("LIST", kListInfo),
                                                   Chunk("data", kTwoFrames, kMark)}),
                                 HeaderVerdict::kAccepted, 2, 78},
                      LayoutCase{
                          "walked data longer than the file (a cut copy): what it holds",
                          WaveFile("RIFF", {Chunk("fmt ", Fmt(2)), Chunk("data", kTwoFrames, 600)}),
                          HeaderVerdict::kAccepted, 2, 46},
                      LayoutCase{"canonical data longer than the file (a cut copy): what it holds",
                                 [] {
                                   Bytes f = CanonicalHeader(2, 96000, 600);
                                   f.insert(f.end(), kTwoFrames.begin(), kTwoFrames.end());
                                   return f;
                                 }(),
                                 HeaderVerdict::kAccepted, 2, 44},
                      LayoutCase{
                          "a cut copy ending inside its third frame: 15 bytes, 2.5 frames, to the even 2",
                          [] {
                            Bytes f = CanonicalHeader(2, 96000, 600);
                            f.resize(44 + 15, 7);
                            return f;
                          }(),
                          HeaderVerdict::kAccepted, 2, 44},
                      LayoutCase{"extensible PCM whose 32 valid bits pass its 24-bit container",
                                 WaveFile("RIFF", {Chunk("fmt ",
                                                         [] {
                                                           Bytes b = Extensible(kPcmGuid);
                                                           PutLe(b, 18, 32, 2);
                                                           return b;
                                                         }()),
                                                   Chunk("data", kTwoFrames)}),
                                 HeaderVerdict::kNot24Bit},
                      LayoutCase{
                          "chunk running past the end before data",
                          WaveFile("RIFF", {Chunk("fmt ", Fmt()), Chunk("LIST", kListInfo, 100),
                                            Chunk("data", kTwoFrames)}),
                          HeaderVerdict::kNotWave},
                      LayoutCase{
                          "chunk size near 2^32 before fmt",
                          WaveFile("RIFF", {Chunk("JUNK", Bytes(28, 0), 0xFFFFFFFE),
                                            Chunk("fmt ", Fmt()), Chunk("data", kTwoFrames)}),
                          HeaderVerdict::kNotWave},
                      LayoutCase{
                          "data first, running past the end: no fmt after it",
                          WaveFile("RIFF", {Chunk("data", kTwoFrames, 600), Chunk("fmt ", Fmt())}),
                          HeaderVerdict::kNotWave},
                      LayoutCase{"no data chunk",
                                 WaveFile("RIFF", {Chunk("fmt ", Fmt()), Chunk("LIST", kListInfo)}),
                                 HeaderVerdict::kNotWave},
                      LayoutCase{
                          "no fmt chunk",
                          WaveFile("RIFF", {Chunk("LIST", kListInfo), Chunk("data", kTwoFrames)}),
                          HeaderVerdict::kNotWave},
                      LayoutCase{"fmt of 14 bytes",
                                 WaveFile("RIFF", {Chunk("fmt ",
                                                         [] {
                                                           Bytes b = Fmt();
                                                           b.resize(14);
                                                           return b;
                                                         }()),
                                                   Chunk("data", kTwoFrames)}),
                                 HeaderVerdict::kNotWave}));

// ---- length and duration ----------------------------------------------------

struct LengthCase {
  std::uint32_t dataSize;
  int channels;
  int rate;
  std::int64_t sampleCount;
  double duration;
};

void PrintTo(const LengthCase& c, std::ostream* os) {
  *os << c.dataSize << " bytes, " << c.channels << " channels";
}

class LengthTest : public ::testing::TestWithParam<LengthCase> {};

TEST_P(LengthTest, DerivesLengthAndDuration) {
  const LengthCase& c = GetParam();
  WaveFormat f;
  ASSERT_EQ(DecodeWhole(CanonicalHeader(c.channels, c.rate, c.dataSize), f),
            HeaderVerdict::kAccepted);
  EXPECT_EQ(f.dataSize, c.dataSize);
  EXPECT_EQ(f.sampleCount, c.sampleCount) << c.dataSize << " bytes, " << c.channels << " ch";
  EXPECT_DOUBLE_EQ(f.durationSeconds, c.duration);
}

INSTANTIATE_TEST_SUITE_P(
    Rounding, LengthTest,
    ::testing::Values(LengthCase{9, 2, 96000, 2, 2.0 / 96000},     // 1.5 -> 2
                      LengthCase{3, 2, 96000, 0, 0.0},             // 0.5 -> 0
                      LengthCase{15, 2, 96000, 2, 2.0 / 96000},    // 2.5 -> 2
                      LengthCase{21, 2, 96000, 4, 4.0 / 96000},    // 3.5 -> 4
                      LengthCase{10, 1, 96000, 3, 3.0 / 96000},    // 3.33 -> 3
                      LengthCase{11, 1, 192000, 4, 4.0 / 192000},  // 3.67 -> 4
                      LengthCase{0, 1, 96000, 0, 0.0},
                      LengthCase{600, 2, 96000, 100, 100.0 / 96000},
                      LengthCase{1152000, 2, 96000, 192000, 2.0},
                      LengthCase{3703680, 1, 96000, 1234560, 12.86},
                      // Sizes of 2 GiB and more are positive.
                      LengthCase{0x80000000u, 1, 192000, 715827883, 715827883.0 / 192000},
                      LengthCase{0xFFFFFFFEu, 1, 96000, 1431655765, 1431655765.0 / 96000},
                      // 4294967289 / 6 = 715827881.5: a tie, to the even 715827882.
                      LengthCase{0xFFFFFFF9u, 2, 192000, 715827882, 715827882.0 / 192000}));

TEST(DecodeWaveHeader, DurationIsTheExtendedQuotientStoredOnce) {
  WaveFormat f;
  ASSERT_EQ(DecodeWhole(CanonicalHeader(1, 96000, 3 * 1000003), f), HeaderVerdict::kAccepted);
  const long double q = 1000003.0L / 96000.0L;
  EXPECT_EQ(f.durationSeconds, static_cast<double>(q));
}

// ---- reading from files ----------------------------------------------------

TEST(ReadWaveHeader, AcceptsAndFillsTheRecord) {
  wavetest::ScratchFolder folder;
  Bytes file = CanonicalHeader(2, 192000, 600);
  file.resize(file.size() + 600, 0x11);
  wavetest::WriteBytes(folder / "in.wav", file);
  WaveFormat f;
  ASSERT_EQ(wavetest::ReadHeaderOf(folder / "in.wav", f), HeaderVerdict::kAccepted);
  EXPECT_EQ(f.channelCount, 2);
  EXPECT_EQ(f.sampleRate, 192000);
  EXPECT_EQ(f.sampleCount, 100);
}

TEST(ReadWaveHeader, MissingBytesOfAShortHeaderReadAsZero) {
  wavetest::ScratchFolder folder;
  Bytes h = CanonicalHeader(1, 96000, 600);
  // Up to the bits field: accepted, data size zero.
  wavetest::WriteBytes(folder / "a.wav", Bytes(h.begin(), h.begin() + 36));
  // Two bytes of the data size present (58 02 00 00 = 600): no byte of it held.
  wavetest::WriteBytes(folder / "b.wav", Bytes(h.begin(), h.begin() + 42));
  WaveFormat f;
  ASSERT_EQ(wavetest::ReadHeaderOf(folder / "a.wav", f), HeaderVerdict::kAccepted);
  EXPECT_EQ(f.dataSize, 0u);
  EXPECT_EQ(f.sampleCount, 0);
  ASSERT_EQ(wavetest::ReadHeaderOf(folder / "b.wav", f), HeaderVerdict::kAccepted);
  EXPECT_EQ(f.dataSize, 0u);
  EXPECT_EQ(f.sampleCount, 0);
}

TEST(ReadWaveHeader, FileThatCannotBeOpenedIsNotAWaveFile) {
  wavetest::ScratchFolder folder;
  for (const std::string& name : {folder / "missing.wav", std::string(),
                                  testfiles::Utf8(folder.path()), std::string("in*.wav")}) {
    WaveFormat f;
    EXPECT_EQ(wavetest::ReadHeaderOf(name, f), HeaderVerdict::kNotWave) << name;
  }
}

TEST(ReadWaveHeader, RepairedFileIsReadAfresh) {
  wavetest::ScratchFolder folder;
  Bytes h = CanonicalHeader(2, 96000, 600);
  PutLe(h, 24, 44100, 4);
  wavetest::WriteBytes(folder / "in.wav", h);
  WaveFormat f;
  EXPECT_EQ(wavetest::ReadHeaderOf(folder / "in.wav", f), HeaderVerdict::kWrongRate);
  Bytes repaired = CanonicalHeader(1, 192000, 30);
  repaired.resize(44 + 30);
  wavetest::WriteBytes(folder / "in.wav", repaired);
  ASSERT_EQ(wavetest::ReadHeaderOf(folder / "in.wav", f), HeaderVerdict::kAccepted);
  EXPECT_EQ(f.channelCount, 1);
  EXPECT_EQ(f.sampleRate, 192000);
  EXPECT_EQ(f.sampleCount, 10);
}

}  // namespace
