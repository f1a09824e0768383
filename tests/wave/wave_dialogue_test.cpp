// The wave room on the screen: the box of each refused header, the FILE DATA
// block cell by cell.
#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <ostream>
#include <string>

#include "console/console.h"
#include "console/headless.h"
#include "wave/wave_dialogue.h"
#include "wave/wave_format.h"
#include "wave_test_support.h"

namespace {

using wavetest::Bytes;
using wavetest::CanonicalHeader;
using wavetest::PutLe;
using wavetest::PutText;

// ---- the box of each refused header ------------------------------------------

struct BoxCase {
  const char* label;
  std::function<void(Bytes&)> change;
  const char* text;
  const char* title;
};

void PrintTo(const BoxCase& c, std::ostream* os) { *os << c.label; }

class RejectionBoxTest : public ::testing::TestWithParam<BoxCase> {};

TEST_P(RejectionBoxTest, BeepsAndShowsItsOwnBox) {
  Bytes h = CanonicalHeader(2, 96000, 600);
  GetParam().change(h);
  StartHeadlessConsole("");
  WaveFormat f;
  ShowHeaderRefusal(DecodeWaveBytes(h.data(), h.size(), f));
  EXPECT_EQ(BeepCount(), 1);
  ASSERT_EQ(MessageBoxLog().size(), 1u);
  EXPECT_EQ(MessageBoxLog()[0].text, GetParam().text);
  EXPECT_EQ(MessageBoxLog()[0].title, GetParam().title);
}

INSTANTIATE_TEST_SUITE_P(
    Boxes, RejectionBoxTest,
    ::testing::Values(
        BoxCase{"not WAVE", [](Bytes& h) { PutText(h, 8, "WAVf"); }, " This is not a Wave file",
                "          ERROR"},
        BoxCase{"not PCM", [](Bytes& h) { PutLe(h, 20, 3, 2); },
                "This is not a PCM format Wave file", "                 ERROR"},
        BoxCase{"not 24-bit", [](Bytes& h) { PutLe(h, 34, 16, 2); },
                "This is not a 24-bit Wave file", "             ERROR"},
        BoxCase{"wrong rate", [](Bytes& h) { PutLe(h, 24, 48000, 4); },
                "This is not a 96kHz or 192kHz Wave file", "                     ERROR"},
        BoxCase{"three channels", [](Bytes& h) { PutLe(h, 22, 3, 2); },
                "This is not a mono or stereo Wave file", "                    ERROR"},
        BoxCase{"no channels", [](Bytes& h) { PutLe(h, 22, 0, 2); },
                "This is not a mono or stereo Wave file", "                    ERROR"},
        BoxCase{"empty file", [](Bytes& h) { h.clear(); }, " This is not a Wave file",
                "          ERROR"},
        BoxCase{"chunks that lead nowhere", [](Bytes& h) { PutText(h, 36, "LIST"); },
                " This is not a Wave file", "          ERROR"},
        // 30 bytes: everything up to the byte rate; bits per sample reads 0.
        BoxCase{"30-byte header", [](Bytes& h) { h.resize(30); }, "This is not a 24-bit Wave file",
                "             ERROR"}));

TEST(ShowHeaderRefusal, AnAcceptedHeaderShowsNothing) {
  StartHeadlessConsole("");
  ShowHeaderRefusal(HeaderVerdict::kAccepted);
  EXPECT_EQ(BeepCount(), 0);
  EXPECT_TRUE(MessageBoxLog().empty());
}

// ---- the FILE DATA block ----------------------------------------------------

struct FileDataCase {
  const char* label;
  int channels;
  int rate;
  std::int64_t sampleCount;
  double duration;
  const char* rows[5];  // rows 13 to 17
};

void PrintTo(const FileDataCase& c, std::ostream* os) { *os << c.label; }

class FileDataTest : public ::testing::TestWithParam<FileDataCase> {};

std::string Padded(const std::string& text) { return text + std::string(80 - text.size(), ' '); }

TEST_P(FileDataTest, DrawsTheBlockCellByCell) {
  const FileDataCase& c = GetParam();
  WaveFormat f;
  f.formatTag = 1;
  f.channelCount = static_cast<std::uint16_t>(c.channels);
  f.sampleRate = c.rate;
  f.bitsPerSample = 24;
  f.sampleCount = c.sampleCount;
  f.durationSeconds = c.duration;

  StartHeadlessConsole("");
  // Black on white before, so every cell the block writes shows by its colour.
  SetColor(kBlack, kBrightWhite);
  ClearScreen();
  Locate(9, 1);
  ShowFileData(f);

  EXPECT_EQ(CursorRow(), 21);
  EXPECT_EQ(CurrentScreen().column, 0);
  EXPECT_EQ(CurrentScreen().foreground, kDarkGrey);
  EXPECT_EQ(CurrentScreen().background, kBrightWhite);

  std::string expected[42];
  for (std::string& row : expected) row.clear();
  expected[11] = "                 FILE DATA";
  for (int i = 0; i < 5; ++i) expected[13 + i] = c.rows[i];
  for (int row = 1; row <= 41; ++row) {
    EXPECT_EQ(ScreenRowText(row), Padded(expected[row])) << c.label << " row " << row;
    const int length = static_cast<int>(expected[row].size());
    for (int column = 1; column <= 80; ++column) {
      const int want = column <= length ? kDarkGrey : kBlack;
      EXPECT_EQ(CellForeground(row, column), want) << c.label << " at " << row << "," << column;
      EXPECT_EQ(CellBackground(row, column), kBrightWhite);
    }
  }
}

INSTANTIATE_TEST_SUITE_P(
    Blocks, FileDataTest,
    ::testing::Values(
        FileDataCase{
            "short stereo",
            2,
            96000,
            100,
            100.0 / 96000,
            {"                 Channels     2 ", "                 Sample rate  96000 Hz",
             "                 Resolution   24 bits", "                 Length       100 samples",
             "                 Duration     0 seconds"}},
        FileDataCase{"mono 12.86 s",
                     1,
                     96000,
                     1234560,
                     12.86,
                     {"                 Channels     1 ", "                 Sample rate  96000 Hz",
                      "                 Resolution   24 bits",
                      "                 Length       1234560 samples",
                      "                 Duration     12.86 seconds"}},
        FileDataCase{
            "half a second",
            2,
            192000,
            96000,
            0.5,
            {"                 Channels     2 ", "                 Sample rate  192000 Hz",
             "                 Resolution   24 bits", "                 Length       96000 samples",
             "                 Duration     .5 seconds"}},
        FileDataCase{"over 2 GiB of data",
                     1,
                     192000,
                     715827883,
                     715827883.0 / 192000,
                     {"                 Channels     1 ", "                 Sample rate  192000 Hz",
                      "                 Resolution   24 bits",
                      "                 Length       715827883 samples",
                      "                 Duration     3728.27 seconds"}},
        FileDataCase{
            "duration rounded half-way",
            1,
            96000,
            12000,
            0.125,
            {"                 Channels     1 ", "                 Sample rate  96000 Hz",
             "                 Resolution   24 bits", "                 Length       12000 samples",
             "                 Duration     .12 seconds"}}));

}  // namespace
