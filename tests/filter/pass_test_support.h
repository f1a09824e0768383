// What the tests of the streaming pass share: recordings on disk, their
// reference bytes and their pass, and the shipped filters.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include "filter/filter_pass.h"
#include "filter/impulse_file.h"
#include "reference/convolution.h"
#include "system/files.h"
#include "tests/wave/wave_test_support.h"
#include "wave/dither.h"

namespace passtest {

using wavetest::Bytes;

inline std::vector<double> ShippedFilter(char letter) {
  const FilterTableEntry* entry = FindFilter(letter);
  std::vector<double> h(entry->coefficientCount);
  FilterChoice choice{letter, std::string(OSTRIVALE_SOURCE_DIR) + "/data/" + entry->impulseFileName,
                      entry->coefficientCount};
  EXPECT_EQ(LoadImpulseResponse(choice, h.data()), ImpulseVerdict::kRead);
  return h;
}

// Samples of one channel (`channel` of `channels`) for the filter
// {1, 2^-23, c} (c well below 2^-23, so that its products round differently
// in the fast and the exact engines) such that output k + 1 = x[k+1] +
// x[k] 2^-23 + x[k-1] c, dithered, lands within about 2^-24 of a
// half-integer: x[k] sets the fraction. Many of these samples must take the
// exact path.
inline std::vector<std::int32_t> SamplesAtRoundingBoundaries(std::int64_t frames, double c,
                                                             int channels = 1, int channel = 0) {
  std::vector<std::int32_t> x(static_cast<std::size_t>(frames), 0);
  for (std::int64_t k = 1; k + 1 < frames; ++k) {
    const SampleDither dither =
        DitherOfSample(static_cast<std::uint64_t>((k + 1) * channels + channel));
    const double rest = static_cast<double>(x[k - 1]) * c + ((dither.r1 + dither.r2) - 1.0);
    double want = 0.5 - (rest - std::floor(rest));  // fraction of x[k] 2^-23 wanted
    want -= std::floor(want);
    std::int64_t steps = std::llround(want * 0x1p23);
    if (steps >= (1 << 22)) steps -= (1 << 23);  // same fraction, inside the 24-bit range
    x[k] = static_cast<std::int32_t>(steps);
  }
  return x;
}

inline std::vector<std::int32_t> RandomSamples(std::size_t count, unsigned seed,
                                               std::int32_t amplitude = 8388608) {
  std::mt19937 random(seed);
  std::uniform_int_distribution<std::int32_t> sample(-amplitude, amplitude - 1);
  std::vector<std::int32_t> x(count);
  for (std::int32_t& v : x) v = sample(random);
  return x;
}

// A recording on disk: a header declaring `frames` frames, then the file's
// first `bytesPresent` bytes of the interleaved samples (all of them when
// negative: a copy cut short holds fewer, and its length is what it holds).
class Recording {
 public:
  // `before`: bytes between the header and the samples, where a chunk the
  // header reader steps over would stand.
  Recording(int channels, std::int64_t frames, const std::vector<std::int32_t>& samples,
            std::int64_t bytesPresent = -1, const Bytes& before = {}) {
    Bytes file = wavetest::CanonicalHeader(channels, 192000,
                                           static_cast<std::uint32_t>(3 * channels * frames));
    file.insert(file.end(), before.begin(), before.end());
    for (std::int32_t v : samples) {
      for (int b = 0; b < 3; ++b)
        file.push_back(static_cast<std::uint8_t>(static_cast<std::uint32_t>(v) >> (8 * b)));
    }
    if (bytesPresent >= 0)
      file.resize(static_cast<std::size_t>(kWaveHeaderSize + before.size() + bytesPresent));
    wavetest::WriteBytes(path(), file);
    EXPECT_EQ(wavetest::ReadHeaderOf(path(), format_), HeaderVerdict::kAccepted);
    format_.dataOffset = kWaveHeaderSize + static_cast<std::int64_t>(before.size());
    format_.dataSize = std::min<std::uint64_t>(
        format_.dataSize, file.size() - static_cast<std::size_t>(format_.dataOffset));
  }

  std::string path() const { return folder_ / "in.wav"; }
  const WaveFormat& format() const { return format_; }

  Bytes Reference(const std::vector<double>& h) const {
    Buffer<std::uint8_t> image;
    EXPECT_TRUE(BuildReferenceOutput(path(), format_, h.data(), static_cast<int>(h.size()), image));
    return Bytes(image.data(), image.data() + image.size());
  }

  // The pass into a new file, read back.
  Bytes Pass(const std::vector<double>& h, const PassSettings& settings,
             PassOutcome* outcome = nullptr, const PassProgress& progress = {}) const {
    const int m = static_cast<int>(h.size());
    PassBuffers buffers;
    EXPECT_TRUE(AllocatePassBuffers(format_, m, settings, buffers));
    std::copy(h.begin(), h.end(), buffers.impulseResponse.data());
    const FileHandle input = OpenFileForReading(path());
    EXPECT_NE(input, kNoFile);
    OutputFile output;
    const std::string name = folder_ / "out.wav";
    EXPECT_TRUE(CreateOutputFile(name, output));
    const PassOutcome result =
        RunFilterPass(format_, m, input, output, buffers, settings, progress);
    CloseFile(input);
    EXPECT_EQ(result.verdict, OutputVerdict::kWritten);
    EXPECT_TRUE(MakeOutputDurable(output) && NameOutputFile(output));
    if (outcome != nullptr) *outcome = result;
    return wavetest::ReadBytes(name);
  }

 private:
  wavetest::ScratchFolder folder_;
  WaveFormat format_;
};

}  // namespace passtest
