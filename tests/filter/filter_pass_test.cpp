// The streaming pass against the whole-recording reference procedure, byte
// for byte: block sizes that divide nothing, recordings shorter than a block
// and than the filter, files that end inside a block, exact fallbacks whose
// history lies in earlier blocks, any number of threads, every vector level.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <limits>
#include <numbers>
#include <ostream>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include "filter/filter_pass.h"
#include "pass_test_support.h"
#include "processor/precision.h"
#include "processor/vector_level.h"
#include "wave/dither.h"

namespace {

using passtest::RandomSamples;
using passtest::Recording;
using passtest::SamplesAtRoundingBoundaries;
using passtest::ShippedFilter;
using wavetest::Bytes;

struct StreamCase {
  const char* label;
  int channels;
  std::int64_t frames;        // as the header declares them
  std::int64_t bytesPresent;  // of sample data in the file; -1: all
  char filter;
  std::int64_t blockFrames;
  int threads;
};

void PrintTo(const StreamCase& c, std::ostream* os) { *os << c.label; }

class StreamingPass : public ::testing::TestWithParam<StreamCase> {};

TEST_P(StreamingPass, GivesTheReferenceBytes) {
  const StreamCase& c = GetParam();
  const std::int64_t present =
      c.bytesPresent >= 0 ? (c.bytesPresent + 2) / 3 : c.channels * c.frames;
  const Recording recording(c.channels, c.frames,
                            RandomSamples(static_cast<std::size_t>(present), 5), c.bytesPresent);
  const std::vector<double> h = ShippedFilter(c.filter);
  PassSettings settings;
  settings.blockFrames = c.blockFrames;
  settings.threads = c.threads;
  const Bytes reference = recording.Reference(h);
  const std::int64_t frames = recording.format().sampleCount;
  ASSERT_EQ(frames, c.bytesPresent >= 0
                        ? std::llrint(static_cast<double>(c.bytesPresent) / (3 * c.channels))
                        : c.frames);
  ASSERT_EQ(reference.size(),
            static_cast<std::size_t>(44 + 3 * c.channels * (frames + h.size() - 1) +
                                     (c.channels * (frames + h.size() - 1)) % 2));
  EXPECT_EQ(recording.Pass(h, settings), reference);
}

INSTANTIATE_TEST_SUITE_P(
    Blocks, StreamingPass,
    ::testing::Values(
        StreamCase{"stereo in blocks of 4093 frames, 2 threads", 2, 100000, -1, 'E', 4093, 2},
        StreamCase{"mono in blocks of 997 frames, 3 threads", 1, 50001, -1, 'F', 997, 3},
        StreamCase{"stereo in blocks of 1000 frames, 8 threads", 2, 150007, -1, 'C', 1000, 8},
        StreamCase{"stereo in blocks of one frame", 2, 3001, -1, 'A', 1, 2},
        StreamCase{"blocks shorter than the filter's history", 1, 2000, -1, 'F', 7, 3},
        StreamCase{"mono shorter than one block", 1, 1000, -1, 'B', kPassBlockFrames, 0},
        StreamCase{"stereo shorter than the filter", 2, 5, -1, 'F', kPassBlockFrames, 2},
        StreamCase{"mono shorter than the filter, blocks of 2", 1, 17, -1, 'F', 2, 8},
        StreamCase{"no frames", 2, 0, -1, 'D', kPassBlockFrames, 1},
        StreamCase{"one frame, one thread", 1, 1, -1, 'D', 1, 1},
        // Copies cut short: 12345 whole frames and 4 bytes of the next (its
        // left sample whole, its right sample's low byte, the rest zeros) of
        // the 50000 declared; and a copy cut inside its last frame.
        StreamCase{"file ends in the middle of a block", 2, 50000, 6 * 12345 + 4, 'E', 4096, 2},
        StreamCase{"file ends in the middle of the last block", 1, 9000, 3 * 8999 + 2, 'B', 1024,
                   1},
        StreamCase{"header only", 1, 3000, 0, 'D', 500, 2}),
    [](const ::testing::TestParamInfo<StreamCase>& param) {
      return "Case" + std::to_string(param.index);
    });

// Filters and signals that push the fast engine to its edges: coefficients
// of very different magnitudes, values driven beyond full scale both ways,
// silence, full scale held, and music, where the exact path must stay rare.
struct SignalCase {
  const char* label;
  std::vector<double> h;
  int channels;
  std::vector<std::int32_t> samples;  // interleaved
  std::int64_t mostExact = -1;        // when not negative: samples the exact path may take
  char shippedFilter = 0;             // when given: that filter instead of `h`
};

void PrintTo(const SignalCase& c, std::ostream* os) { *os << c.label; }

std::vector<std::int32_t> SquareWave(std::int64_t count, int halfPeriod) {
  std::vector<std::int32_t> x;
  for (std::int64_t i = 0; i < count; ++i) x.push_back((i / halfPeriod) % 2 ? 8388607 : -8388608);
  return x;
}

// A chord of four tones, a little detuned in the second channel: music at a
// realistic level.
std::vector<std::int32_t> StereoChord(std::int64_t frames, int rate) {
  const double tones[] = {220.0, 277.18, 329.63, 440.0};
  std::vector<std::int32_t> x;
  for (std::int64_t i = 0; i < frames; ++i) {
    for (int c = 0; c < 2; ++c) {
      const double t = static_cast<double>(i) / rate;
      double v = 0;
      for (int n = 0; n < 4; ++n)
        v += std::sin(2 * std::numbers::pi * tones[n] * (1 + 0.001 * c) * t) / (n + 1);
      x.push_back(static_cast<std::int32_t>(std::lround(v * 3.5e6)));
    }
  }
  return x;
}

class SignalPass : public ::testing::TestWithParam<SignalCase> {};

TEST_P(SignalPass, GivesTheReferenceBytes) {
  const SignalCase& c = GetParam();
  const std::int64_t frames = static_cast<std::int64_t>(c.samples.size()) / c.channels;
  const Recording recording(c.channels, frames, c.samples);
  const std::vector<double> h = c.shippedFilter != 0 ? ShippedFilter(c.shippedFilter) : c.h;
  PassOutcome outcome;
  EXPECT_EQ(recording.Pass(h, PassSettings{}, &outcome), recording.Reference(h));
  if (c.mostExact >= 0) {
    EXPECT_LE(outcome.exactSamples, c.mostExact);
  }
}

const std::vector<double> kMixedMagnitudes = {1e-12, 0.75,   -3e-7, 1e-3,     0.25,
                                              5e-16, -0.125, 2e-9,  1.0 / 3.0};

INSTANTIATE_TEST_SUITE_P(
    Signals, SignalPass,
    ::testing::Values(
        SignalCase{"coefficients of very different magnitudes, full scale", kMixedMagnitudes, 1,
                   RandomSamples(50000, 11)},
        SignalCase{"coefficients of very different magnitudes, quiet stereo", kMixedMagnitudes, 2,
                   RandomSamples(2 * 50000, 12, 1000)},
        SignalCase{"large coefficients drive values beyond the limits",
                   {3.0, -2.5, 1.75, 0.5, -4.0},
                   2,
                   RandomSamples(2 * 40000, 13)},
        SignalCase{
            "a full-scale square wave saturates both ways", {1.5, 0.5}, 1, SquareWave(10000, 7)},
        SignalCase{"silence", {0.5, 0.25, 0.125}, 1, std::vector<std::int32_t>(30000, 0)},
        SignalCase{"full scale held in both channels", {1.0}, 2, SquareWave(60000, 1)},
        // The margin is a few 1e-7 of a step: a handful of samples per million.
        SignalCase{"one second of a stereo chord: the exact path rare",
                   {},
                   2,
                   StereoChord(192000, 192000),
                   20,
                   'E'}),
    [](const ::testing::TestParamInfo<SignalCase>& param) {
      return "Case" + std::to_string(param.index);
    });

TEST(StreamingPass, BlockOfOneFrameAndTheNormalBlockGiveTheSameBytes) {
  const Recording recording(2, 20000, RandomSamples(40000, 11));
  const std::vector<double> h = ShippedFilter('E');
  PassSettings single;
  single.blockFrames = 1;
  const Bytes normal = recording.Pass(h, PassSettings{});
  EXPECT_EQ(recording.Pass(h, single), normal);
  EXPECT_EQ(normal, recording.Reference(h));
}

// The samples are read from where the header says they start, by the pass
// and by the reference alike.
TEST(StreamingPass, SamplesAreReadFromTheDataOffset) {
  const std::vector<std::int32_t> x = RandomSamples(2 * 5000, 37);
  const Recording plain(2, 5000, x);
  const Recording shifted(2, 5000, x, -1, Bytes(13, 0xEE));
  const std::vector<double> h = ShippedFilter('C');
  PassSettings settings;
  settings.blockFrames = 777;
  const Bytes expected = plain.Pass(h, settings);
  EXPECT_EQ(shifted.Pass(h, settings), expected);
  EXPECT_EQ(shifted.Reference(h), expected);
}

// Values placed, with the dither of each sample known, within about 2^-24 of
// a rounding boundary (as in the fast engine's own test), so that many
// samples take the exact path; in blocks of one and two frames the history
// of every such sample lies in the blocks before.
TEST(StreamingPass, ExactFallbackWithItsHistoryInEarlierBlocks) {
  const double c = 0.1 * 0x1p-29;
  const std::vector<double> h = {1.0, 0x1p-23, c};
  const std::int64_t frames = 20000;
  const std::vector<std::int32_t> x = SamplesAtRoundingBoundaries(frames, c);
  const Recording recording(1, frames, x);
  const Bytes reference = recording.Reference(h);
  for (std::int64_t blockFrames : {std::int64_t{1}, std::int64_t{2}, kPassBlockFrames}) {
    PassSettings settings;
    settings.blockFrames = blockFrames;
    PassOutcome outcome;
    EXPECT_EQ(recording.Pass(h, settings, &outcome), reference) << blockFrames;
    EXPECT_GT(outcome.exactSamples, frames / 10) << blockFrames;
  }
}

// The same at every vector level, mono and stereo, in blocks whose chunks
// end inside a vector tile: the codes kernels leave the samples near a
// boundary to the exact path wherever they stand in a tile.
TEST(StreamingPass, ExactFallbackAtEveryVectorLevel) {
  const double c = 0.1 * 0x1p-29;
  const std::vector<double> h = {1.0, 0x1p-23, c};
  const std::int64_t frames = 6000;
  const Recording mono(1, frames, SamplesAtRoundingBoundaries(frames, c));
  const std::vector<std::int32_t> left = SamplesAtRoundingBoundaries(frames, c, 2, 0);
  const std::vector<std::int32_t> right = SamplesAtRoundingBoundaries(frames, c, 2, 1);
  std::vector<std::int32_t> interleaved;
  for (std::int64_t k = 0; k < frames; ++k)
    interleaved.insert(interleaved.end(), {left[k], right[k]});
  const Recording stereo(2, frames, interleaved);
  PassSettings settings;
  settings.blockFrames = 1237;
  for (const Recording* recording : {&mono, &stereo}) {
    const Bytes reference = recording->Reference(h);
    for (VectorLevel level : {VectorLevel::kPlain, VectorLevel::kAvx2, VectorLevel::kAvx512}) {
      LimitVectorLevel(level);
      PassOutcome outcome;
      EXPECT_EQ(recording->Pass(h, settings, &outcome), reference) << static_cast<int>(level);
      EXPECT_GT(outcome.exactSamples, recording->format().channelCount * frames / 10)
          << static_cast<int>(level);
    }
    LimitVectorLevel(VectorLevel::kAvx512);
  }
}

TEST(StreamingPass, EveryVectorLevelGivesTheReferenceBytes) {
  const Recording stereo(2, 30011, RandomSamples(60022, 41));
  const Recording mono(1, 5003, RandomSamples(5003, 43));
  const std::vector<double> f = ShippedFilter('F');
  const std::vector<double> loud = {3.0, -2.5, 1.75, 0.5, -4.0};
  const Bytes stereoReference = stereo.Reference(f);
  const Bytes monoReference = mono.Reference(loud);
  PassSettings settings;
  settings.blockFrames = 997;
  for (VectorLevel level : {VectorLevel::kPlain, VectorLevel::kAvx2, VectorLevel::kAvx512}) {
    LimitVectorLevel(level);
    EXPECT_EQ(stereo.Pass(f, settings), stereoReference) << static_cast<int>(level);
    EXPECT_EQ(mono.Pass(loud, settings), monoReference) << static_cast<int>(level);
  }
  LimitVectorLevel(VectorLevel::kAvx512);
}

// Filters around the lengths where the AVX-512 kernel changes its way of
// running the taps: by classes of up to eight taps, the last one filled with
// a zero tap (31 taps for stereo, 63 for mono), or one tap after another (33
// and 65). The samples before a chunk's history that a zero tap meets must
// be finite: a not-a-number there would send every sample near them to the
// exact path, slowly but unseen in the bytes.
TEST(StreamingPass, LongFiltersAtEveryVectorLevel) {
  for (const auto& [channels, taps] :
       {std::pair{2, 31}, std::pair{2, 33}, std::pair{1, 63}, std::pair{1, 65}}) {
    std::vector<double> h;
    for (int j = 0; j < taps; ++j) h.push_back((j % 3 == 1 ? -0.3 : 0.5) * std::pow(0.9, j) / 3.0);
    const Recording recording(channels, 3001,
                              RandomSamples(static_cast<std::size_t>(channels * 3001), 53));
    const Bytes reference = recording.Reference(h);
    PassSettings settings;
    settings.blockFrames = 1500;
    for (VectorLevel level : {VectorLevel::kPlain, VectorLevel::kAvx2, VectorLevel::kAvx512}) {
      LimitVectorLevel(level);
      PassOutcome outcome;
      EXPECT_EQ(recording.Pass(h, settings, &outcome), reference)
          << channels << " channels, " << taps << " taps, level " << static_cast<int>(level);
      EXPECT_LT(outcome.exactSamples, 10) << channels << " channels, " << taps << " taps";
    }
    LimitVectorLevel(VectorLevel::kAvx512);
  }
}

// The zeros before the first frame and after the last are never terms of
// the exact value: a non-finite coefficient times such a zero would make a
// not-a-number of the first and last outputs.
TEST(StreamingPass, NonFiniteCoefficientsAtTheEdges) {
  const double inf = std::numeric_limits<double>::infinity();
  const Recording recording(2, 700, RandomSamples(1400, 13));
  for (const std::vector<double>& h :
       {std::vector<double>{0.5, inf, 0.25}, std::vector<double>{std::nan(""), 1.0},
        std::vector<double>{1e300, 1.0, -1e300}}) {
    PassSettings settings;
    settings.blockFrames = 64;
    PassOutcome outcome;
    EXPECT_EQ(recording.Pass(h, settings, &outcome), recording.Reference(h));
    EXPECT_EQ(outcome.exactSamples, 2 * (700 + static_cast<std::int64_t>(h.size()) - 1));
  }
}

TEST(StreamingPass, ForcedExactEverywhereGivesTheSameBytes) {
  const Recording recording(2, 9000, RandomSamples(18000, 17, 2000000));  // no value saturates
  const std::vector<double> h = ShippedFilter('E');
  PassSettings settings;
  settings.extraMargin = 0.5;
  settings.blockFrames = 4000;
  PassOutcome outcome;
  EXPECT_EQ(recording.Pass(h, settings, &outcome), recording.Reference(h));
  EXPECT_EQ(outcome.exactSamples, 2 * (9000 + 19));
}

// Windows starts each thread with its own x87 mode (53-bit significands under
// wine), so the pass's computing threads must set the extended mode
// themselves. Here every sample takes the exact path (the coefficients are
// far beyond what the fast bound vouches for), and each value is
// (2^30 + 1/2) a - 2^30 a for a = 2^22 + 1: the product needs 54 bits, so at
// 53 bits it loses its half and about half the codes change.
TEST(StreamingPass, ComputingThreadsWorkAtExtendedPrecision) {
  SetExtendedPrecisionMode();  // the calling thread, as the job sets it
  const std::vector<double> h = {0x1p30 + 0.5, -0x1p30};
  const Recording recording(1, 20000, std::vector<std::int32_t>(20000, (1 << 22) + 1));
  const Bytes reference = recording.Reference(h);
  const std::uint16_t extended = X87ControlWord();
  SetX87ControlWord(static_cast<std::uint16_t>((extended & ~0x0300) | 0x0200));  // 53 bits
  const Bytes at53Bits = recording.Reference(h);
  SetX87ControlWord(extended);
  ASSERT_NE(at53Bits, reference) << "the construction does not tell the modes apart";
  PassSettings settings;
  settings.threads = 4;
  settings.blockFrames = 256;
  PassOutcome outcome;
  EXPECT_EQ(recording.Pass(h, settings, &outcome), reference);
  EXPECT_EQ(outcome.exactSamples, 20000 + 1);
}

TEST(StreamingPass, ProgressRisesToTheWholeOutput) {
  const Recording recording(1, 10000, RandomSamples(10000, 19));
  std::vector<std::int64_t> reported;
  PassProgress progress{[](void* context, std::int64_t written, std::int64_t total) {
                          EXPECT_EQ(total, 10000 + 14);
                          static_cast<std::vector<std::int64_t>*>(context)->push_back(written);
                        },
                        &reported};
  PassSettings settings;
  settings.blockFrames = 1000;
  recording.Pass(ShippedFilter('D'), settings, nullptr, progress);
  ASSERT_FALSE(reported.empty());
  for (std::size_t i = 1; i < reported.size(); ++i) EXPECT_GE(reported[i], reported[i - 1]);
  EXPECT_EQ(reported.back(), 10000 + 14);
}

// Memory is a few blocks whatever the recording's length: the same for one
// minute of stereo at 192000 as for the longest recording a header can
// describe, and well under 16 MB.
TEST(StreamingPass, MemoryDoesNotGrowWithTheRecording) {
  WaveFormat minute;
  minute.channelCount = 2;
  minute.sampleCount = 11520000;
  WaveFormat longest = minute;
  longest.sampleCount = 715827882;  // 4294967292 bytes of data
  for (int threads : {1, 2, 8}) {
    PassSettings settings;
    settings.threads = threads;
    EXPECT_EQ(PassMemoryNeeded(minute, 31, settings), PassMemoryNeeded(longest, 31, settings));
    EXPECT_LT(PassMemoryNeeded(longest, 31, settings), std::int64_t{16} << 20) << threads;
  }
}

}  // namespace
