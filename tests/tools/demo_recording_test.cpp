// The demo recordings: exact header bytes, sample codes at their limits,
// whole files that repeat byte for byte, and content where it belongs in
// the spectrum.

#include "tools/demo_recording.h"

#include <gtest/gtest.h>

#include <cmath>
#include <complex>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "tests/test_files.h"

namespace {

struct HeaderCase {
  int sampleRate;
  std::uint32_t frameCount;
  std::uint8_t expected[kDemoHeaderSize];
};

const HeaderCase kHeaderCases[] = {
    // 384000 frames * 6 bytes = 2304000 = 0x00232800; RIFF size 0x00232824.
    {96000, 384000, {'R',  'I',  'F',  'F',  0x24, 0x28, 0x23, 0x00, 'W',  'A',  'V',
                     'E',  'f',  'm',  't',  ' ',  0x10, 0x00, 0x00, 0x00, 0x01, 0x00,
                     0x02, 0x00, 0x00, 0x77, 0x01, 0x00, 0x00, 0xCA, 0x08, 0x00, 0x06,
                     0x00, 0x18, 0x00, 'd',  'a',  't',  'a',  0x00, 0x28, 0x23, 0x00}},
    // 768000 frames * 6 bytes = 4608000 = 0x00465000; byte rate 1152000 = 0x00119400.
    {192000, 768000, {'R',  'I',  'F',  'F',  0x24, 0x50, 0x46, 0x00, 'W',  'A',  'V',
                      'E',  'f',  'm',  't',  ' ',  0x10, 0x00, 0x00, 0x00, 0x01, 0x00,
                      0x02, 0x00, 0x00, 0xEE, 0x02, 0x00, 0x00, 0x94, 0x11, 0x00, 0x06,
                      0x00, 0x18, 0x00, 'd',  'a',  't',  'a',  0x00, 0x50, 0x46, 0x00}},
    // A single frame.
    {96000, 1, {'R',  'I',  'F',  'F',  0x2A, 0x00, 0x00, 0x00, 'W',  'A',  'V',
                'E',  'f',  'm',  't',  ' ',  0x10, 0x00, 0x00, 0x00, 0x01, 0x00,
                0x02, 0x00, 0x00, 0x77, 0x01, 0x00, 0x00, 0xCA, 0x08, 0x00, 0x06,
                0x00, 0x18, 0x00, 'd',  'a',  't',  'a',  0x06, 0x00, 0x00, 0x00}},
};

TEST(DemoHeader, CanonicalBytes) {
  for (const HeaderCase& c : kHeaderCases) {
    std::uint8_t header[kDemoHeaderSize];
    BuildDemoHeader(c.sampleRate, c.frameCount, header);
    for (int i = 0; i < kDemoHeaderSize; ++i) {
      EXPECT_EQ(header[i], c.expected[i])
          << "rate " << c.sampleRate << " frames " << c.frameCount << " byte " << i;
    }
  }
}

TEST(DemoSampleCode, RoundsToNearestEvenAndLimits) {
  const struct {
    double value;
    std::int32_t code;
  } cases[] = {
      {0.0, 0},
      {0.5 / 8388608.0, 0},  // a tie goes to the even code
      {1.5 / 8388608.0, 2},
      {2.5 / 8388608.0, 2},
      {-1.5 / 8388608.0, -2},
      {0.4 / 8388608.0, 0},
      {0.6 / 8388608.0, 1},
      {8388607.0 / 8388608.0, 8388607},
      {1.0, 8388607},  // full scale itself is one step too high
      {2.0, 8388607},
      {-1.0, -8388608},
      {-3.0, -8388608},
      {std::nan(""), 0},
  };
  for (const auto& c : cases) EXPECT_EQ(DemoSampleCode(c.value), c.code) << c.value;
}

// Band energies of a Hann-windowed block, by a plain DFT.
struct Bands {
  double total = 0.0;
  double chord = 0.0;       // 0 .. 5 kHz
  double gap = 0.0;         // 20 kHz .. 33 kHz: neither chord nor noise
  double ultrasonic = 0.0;  // 36 kHz .. half the rate
};

Bands MeasureBands(const double* x, int rate) {
  constexpr int kSize = 4096;
  const double pi = std::acos(-1.0);
  std::vector<std::complex<double>> twiddle(kSize);
  for (int i = 0; i < kSize; ++i) twiddle[i] = std::polar(1.0, -2.0 * pi * i / kSize);
  std::vector<double> windowed(kSize);
  for (int n = 0; n < kSize; ++n) windowed[n] = x[n] * (0.5 - 0.5 * std::cos(2.0 * pi * n / kSize));
  Bands bands;
  for (int k = 0; k <= kSize / 2; ++k) {
    std::complex<double> sum = 0.0;
    for (int n = 0; n < kSize; ++n)
      sum += windowed[n] * twiddle[(static_cast<long>(k) * n) % kSize];
    const double power = std::norm(sum);
    const double f = static_cast<double>(k) * rate / kSize;
    bands.total += power;
    if (f <= 5000.0) bands.chord += power;
    if (f >= 20000.0 && f <= 33000.0) bands.gap += power;
    if (f >= 36000.0) bands.ultrasonic += power;
  }
  return bands;
}

// The magnitude at one frequency (Goertzel-like direct sum over a Hann window).
double MagnitudeAt(const double* x, int count, int rate, double frequency) {
  const double pi = std::acos(-1.0);
  std::complex<double> sum = 0.0;
  for (int n = 0; n < count; ++n) {
    const double w = 0.5 - 0.5 * std::cos(2.0 * pi * n / count);
    sum += x[n] * w * std::polar(1.0, -2.0 * pi * frequency * n / rate);
  }
  return std::abs(sum);
}

class DemoSignal : public ::testing::TestWithParam<int> {};

TEST_P(DemoSignal, ChordBelowFiveKilohertzNoiseAboveThirtyNothingBetween) {
  const int rate = GetParam();
  const int frames = rate;  // one second: half A minor, half C major
  std::vector<double> left(frames), right(frames);
  ASSERT_TRUE(MakeDemoSignal(rate, frames, left.data(), right.data()));

  double peak = 0.0;
  double difference = 0.0;
  for (int i = 0; i < frames; ++i) {
    peak = std::fmax(peak, std::fmax(std::fabs(left[i]), std::fabs(right[i])));
    difference = std::fmax(difference, std::fabs(left[i] - right[i]));
  }
  EXPECT_LT(peak, 0.5) << "well below full scale, so filtering cannot clip";
  EXPECT_GT(peak, 0.05) << "and not near silence either";
  EXPECT_GT(difference, 0.001) << "the channels differ";

  for (const std::vector<double>* channel : {&left, &right}) {
    for (int start : {frames / 8, frames * 5 / 8}) {
      const Bands b = MeasureBands(channel->data() + start, rate);
      EXPECT_GT(b.chord / b.total, 0.5);
      EXPECT_GT(b.ultrasonic / b.total, 0.01);
      EXPECT_LT(b.ultrasonic / b.total, 0.5);
      EXPECT_LT(b.gap / b.total, 1e-7) << "nothing between the chord and the noise";
    }
  }

  // A minor first, C major after: A3 (220 Hz) is in the first chord and no
  // harmonic of the second; G4 (392 Hz) the other way round.
  const int block = rate / 4;
  const int first = frames / 8;
  const int second = frames * 5 / 8;
  const double a3Left = MagnitudeAt(left.data() + first, block, rate, 220.0);
  EXPECT_GT(a3Left, 100.0 * MagnitudeAt(left.data() + second, block, rate, 220.0));
  const double g4Right = MagnitudeAt(right.data() + second, block, rate, 391.995 * 1.0007);
  EXPECT_GT(g4Right, 100.0 * MagnitudeAt(right.data() + first, block, rate, 391.995 * 1.0007));
  // The left channel leans to the low notes, the right one to the high notes.
  EXPECT_GT(a3Left, 1.5 * MagnitudeAt(right.data() + first, block, rate, 220.0 * 1.0007));
  EXPECT_GT(g4Right, 1.08 * MagnitudeAt(left.data() + second, block, rate, 391.995));
}

INSTANTIATE_TEST_SUITE_P(BothRates, DemoSignal, ::testing::Values(96000, 192000));

std::string ReadWhole(const std::string& path) {
  std::ifstream in(testfiles::FromUtf8(path), std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

class DemoFile : public ::testing::Test {
 protected:
  testfiles::ScratchFolder scratch_;
  const std::string folder_ = testfiles::Utf8(scratch_.path());
};

TEST_F(DemoFile, WholeFileRepeatsByteForByte) {
  const double seconds = 0.25;
  ASSERT_TRUE(WriteDemoRecording(folder_ + "/a.wav", 96000, seconds));
  ASSERT_TRUE(WriteDemoRecording(folder_ + "/b.wav", 96000, seconds));
  const std::string a = ReadWhole(folder_ + "/a.wav");
  const std::string b = ReadWhole(folder_ + "/b.wav");
  const std::size_t frames = 24000;
  ASSERT_EQ(a.size(), kDemoHeaderSize + frames * 6);
  EXPECT_EQ(a, b);

  std::uint8_t header[kDemoHeaderSize];
  BuildDemoHeader(96000, static_cast<std::uint32_t>(frames), header);
  EXPECT_EQ(a.compare(0, kDemoHeaderSize, reinterpret_cast<const char*>(header), kDemoHeaderSize),
            0);

  // The data are the codes of the signal, left then right, 3 bytes each.
  std::vector<double> left(frames), right(frames);
  ASSERT_TRUE(MakeDemoSignal(96000, static_cast<int>(frames), left.data(), right.data()));
  for (std::size_t i : {std::size_t{0}, std::size_t{1}, frames / 3, frames - 1}) {
    for (int c = 0; c < 2; ++c) {
      const std::size_t at = kDemoHeaderSize + i * 6 + static_cast<std::size_t>(c) * 3;
      std::int32_t code = static_cast<std::uint8_t>(a[at]) |
                          (static_cast<std::uint8_t>(a[at + 1]) << 8) |
                          (static_cast<std::uint8_t>(a[at + 2]) << 16);
      if (code >= 0x800000) code -= 0x1000000;
      EXPECT_EQ(code, DemoSampleCode(c == 0 ? left[i] : right[i]))
          << "frame " << i << " channel " << c;
    }
  }
}

TEST_F(DemoFile, UnwritablePathFails) {
  EXPECT_FALSE(WriteDemoRecording(folder_ + "/missing/a.wav", 96000, 0.01));
  EXPECT_FALSE(WriteDemoRecording(folder_ + "/a.wav", 96000, 0.0))
      << "an empty recording is refused";
}

}  // namespace
