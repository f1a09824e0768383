// The streaming pass against the whole-recording reference procedure, byte
// for byte: block sizes that divide nothing, recordings shorter than a block
// and than the filter, files that end inside a block, exact fallbacks whose
// history lies in earlier blocks, any number of threads, every vector level.
#include <signal.h>
#include <sys/resource.h>

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstdint>
#include <limits>
#include <ostream>
#include <random>
#include <string>
#include <vector>

#include "console/screen.h"
#include "filter/convolution.h"
#include "filter/filter_choice.h"
#include "filter/filter_pass.h"
#include "filter/impulse_file.h"
#include "tests/wave/wave_test_support.h"
#include "wave/dither_stream.h"
#include "wave/vector_level.h"

namespace {

using wavetest::Bytes;

std::vector<double> ShippedFilter(char letter) {
  const FilterTableEntry* entry = FindFilter(letter);
  std::vector<double> h(entry->coefficientCount);
  FilterChoice choice{letter, std::string(OSTRIVALE_SOURCE_DIR) + "/data/" + entry->impulseFileName,
                      entry->coefficientCount};
  EXPECT_TRUE(LoadImpulseResponse(choice, h.data()));
  return h;
}

std::vector<std::int32_t> RandomSamples(std::size_t count, unsigned seed, std::int32_t amplitude = 8388608) {
  std::mt19937 random(seed);
  std::uniform_int_distribution<std::int32_t> sample(-amplitude, amplitude - 1);
  std::vector<std::int32_t> x(count);
  for (std::int32_t& v : x) v = sample(random);
  return x;
}

// A recording on disk: a header declaring `frames` frames, then the file's
// first `bytesPresent` bytes of the interleaved samples (all of them when
// negative).
class Recording {
 public:
  // `before`: bytes between the header and the samples, where a chunk the
  // header reader steps over would stand.
  Recording(int channels, std::int64_t frames, const std::vector<std::int32_t>& samples,
            std::int64_t bytesPresent = -1, const Bytes& before = {}) {
    StartHeadlessConsole("");
    Bytes file = wavetest::CanonicalHeader(channels, 192000, static_cast<std::uint32_t>(3 * channels * frames));
    file.insert(file.end(), before.begin(), before.end());
    for (std::int32_t v : samples) {
      for (int b = 0; b < 3; ++b) file.push_back(static_cast<std::uint8_t>(static_cast<std::uint32_t>(v) >> (8 * b)));
    }
    if (bytesPresent >= 0) file.resize(static_cast<std::size_t>(kWaveHeaderSize + before.size() + bytesPresent));
    wavetest::WriteBytes(path(), file);
    EXPECT_TRUE(ReadWaveHeader(path(), format_));
    format_.dataOffset = kWaveHeaderSize + static_cast<std::int64_t>(before.size());
  }

  std::string path() const { return folder_ / "in.wav"; }
  const WaveFormat& format() const { return format_; }

  Bytes Reference(const std::vector<double>& h) const {
    Buffer<std::uint8_t> image;
    EXPECT_TRUE(BuildReferenceOutput(path(), format_, h.data(), static_cast<int>(h.size()), image));
    return Bytes(image.data(), image.data() + image.size());
  }

  // The pass into a new file, read back.
  Bytes Pass(const std::vector<double>& h, const PassSettings& settings, PassOutcome* outcome = nullptr,
             const PassProgress& progress = {}) const {
    const int m = static_cast<int>(h.size());
    PassBuffers buffers;
    EXPECT_TRUE(AllocatePassBuffers(format_, m, settings, buffers));
    std::copy(h.begin(), h.end(), buffers.impulseResponse.data());
    InputFile input;
    EXPECT_TRUE(OpenInputFile(path(), input));
    OutputFile output;
    const std::string name = folder_ / "out.wav";
    EXPECT_TRUE(CreateOutputFile(name, output));
    const PassOutcome result = RunFilterPass(format_, m, input, output, buffers, settings, progress);
    CloseInputFile(input);
    EXPECT_TRUE(result.written);
    EXPECT_TRUE(MakeOutputDurable(output) && NameOutputFile(output));
    if (outcome != nullptr) *outcome = result;
    return wavetest::ReadBytes(name);
  }

 private:
  wavetest::ScratchFolder folder_;
  WaveFormat format_;
};

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
  const std::int64_t present = c.bytesPresent >= 0 ? (c.bytesPresent + 2) / 3 : c.channels * c.frames;
  const Recording recording(c.channels, c.frames, RandomSamples(static_cast<std::size_t>(present), 5),
                            c.bytesPresent);
  const std::vector<double> h = ShippedFilter(c.filter);
  PassSettings settings;
  settings.blockFrames = c.blockFrames;
  settings.threads = c.threads;
  const Bytes reference = recording.Reference(h);
  ASSERT_EQ(reference.size(), static_cast<std::size_t>(44 + 3 * c.channels * (c.frames + h.size() - 1) +
                                                       (c.channels * (c.frames + h.size() - 1)) % 2));
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
        // 12345 whole frames and 4 bytes of the next: its left sample whole,
        // its right sample's low byte, then zeros to the 50000 declared.
        StreamCase{"file ends in the middle of a block", 2, 50000, 6 * 12345 + 4, 'E', 4096, 2},
        StreamCase{"file ends in the middle of the last block", 1, 9000, 3 * 8999 + 2, 'B', 1024, 1},
        StreamCase{"header only", 1, 3000, 0, 'D', 500, 2}),
    [](const ::testing::TestParamInfo<StreamCase>& param) { return "Case" + std::to_string(param.index); });

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
  std::vector<std::int32_t> x(frames, 0);
  for (std::int64_t k = 1; k + 1 < frames; ++k) {
    double d[1];
    FillDitherOffsets(static_cast<std::uint64_t>(k + 1), 1, 1, d);
    const double rest = static_cast<double>(x[k - 1]) * c + d[0];
    double want = 0.5 - (rest - std::floor(rest));
    want -= std::floor(want);
    std::int64_t steps = std::llround(want * 0x1p23);
    if (steps >= (1 << 22)) steps -= (1 << 23);
    x[k] = static_cast<std::int32_t>(steps);
  }
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

// The zeros before the first frame and after the last are never terms of
// the exact value: a non-finite coefficient times such a zero would make a
// not-a-number of the first and last outputs.
TEST(StreamingPass, NonFiniteCoefficientsAtTheEdges) {
  const double inf = std::numeric_limits<double>::infinity();
  const Recording recording(2, 700, RandomSamples(1400, 13));
  for (const std::vector<double>& h : {std::vector<double>{0.5, inf, 0.25}, std::vector<double>{std::nan(""), 1.0},
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

// ---- failures ------------------------------------------------------------------------

// The buffers are a few megabytes; under a limit that leaves less than one
// they are refused with the memory box, and nothing is kept.
int AllocateUnderAddressSpaceLimit() {
  StartHeadlessConsole("");
  rlimit limit{};
  limit.rlim_cur = static_cast<rlim_t>(wavetest::AddressSpaceInUse() + (std::int64_t{1} << 20));
  limit.rlim_max = limit.rlim_cur;
  if (setrlimit(RLIMIT_AS, &limit) != 0) return 2;
  WaveFormat format;
  format.channelCount = 2;
  format.sampleCount = 11520000;
  PassBuffers buffers;
  if (AllocatePassBuffers(format, 20, PassSettings{}, buffers)) return 3;
  if (BeepCount() != 1 || MessageBoxLog().size() != 1) return 4;
  if (MessageBoxLog()[0].text != "Not enough memory for this recording" ||
      MessageBoxLog()[0].title != "                 ERROR") {
    return 5;
  }
  return buffers.raw.size() + buffers.output.size() + buffers.impulseResponse.size() == 0 ? 0 : 6;
}

TEST(StreamingPass, RefusedMemoryGetsTheMemoryBox) {
#if defined(__SANITIZE_ADDRESS__)
  GTEST_SKIP() << "AddressSanitizer reserves terabytes of address space: no RLIMIT_AS under it";
#endif
  EXPECT_EQ(wavetest::RunInChild(AllocateUnderAddressSpaceLimit), 0);
}

int PassUnderFileSizeLimit(const Recording& recording, const std::string& name) {
  rlimit limit{};
  limit.rlim_cur = 100000;  // the output needs some 1.2 MB
  limit.rlim_max = RLIM_INFINITY;
  if (setrlimit(RLIMIT_FSIZE, &limit) != 0) return 2;
  const std::vector<double> h = ShippedFilter('E');
  PassBuffers buffers;
  PassSettings settings;
  settings.blockFrames = 4096;
  if (!AllocatePassBuffers(recording.format(), 20, settings, buffers)) return 3;
  std::copy(h.begin(), h.end(), buffers.impulseResponse.data());
  InputFile input;
  OpenInputFile(recording.path(), input);
  OutputFile output;
  if (!CreateOutputFile(name, output)) return 4;
  const PassOutcome outcome = RunFilterPass(recording.format(), 20, input, output, buffers, settings);
  AbandonOutputFile(output);
  return outcome.written ? 5 : 0;
}

TEST(StreamingPass, WriteFailingPartWayStopsThePass) {
  const Recording recording(2, 200000, RandomSamples(400000, 23));
  wavetest::ScratchFolder folder;
  EXPECT_EQ(wavetest::RunInChild([&] { return PassUnderFileSizeLimit(recording, folder / "out.wav"); }), 0);
  EXPECT_TRUE(folder.Entries().empty());
}

// Under a hidden name (no unnamed files here), an ending signal that
// arrives during the pass stops it; abandoning the file then lets the
// signal end the program with nothing left.
int TerminatedDuringThePass(const Recording& recording, const std::string& name) {
  PassBuffers buffers;
  PassSettings settings;
  settings.blockFrames = 1024;
  if (!AllocatePassBuffers(recording.format(), 15, settings, buffers)) return 2;
  InputFile input;
  OpenInputFile(recording.path(), input);
  OutputFile output;
  if (!CreateOutputFile(name, output, OutputNaming::kHiddenName)) return 3;
  raise(SIGTERM);
  const PassOutcome outcome = RunFilterPass(recording.format(), 15, input, output, buffers, settings);
  if (outcome.written) return 4;
  AbandonOutputFile(output);
  return 5;  // not reached: the signal ends the child here
}

TEST(StreamingPass, HeldEndingSignalStopsThePass) {
  const Recording recording(1, 100000, RandomSamples(100000, 29));
  wavetest::ScratchFolder folder;
  EXPECT_EQ(wavetest::RunInChild([&] { return TerminatedDuringThePass(recording, folder / "out.wav"); }),
            1000 + SIGTERM);
  EXPECT_TRUE(folder.Entries().empty());
}

}  // namespace
