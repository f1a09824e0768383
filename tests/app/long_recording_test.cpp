// One hour of random stereo at 96000 samples per second, filtered by the real
// program with filter F (31 taps), checked sample by sample against the exact
// procedure: every result element formed term by term at extended precision
// and every code through the exact dithered conversion, streamed over the
// files so that the check needs little memory of its own.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "filter/filter_dialogue.h"
#include "filter/impulse_file.h"
#include "tests/app/app_test_support.h"
#include "wave/byte_order.h"
#include "wave/dither.h"
#include "wave/sample_codes.h"

namespace fs = std::filesystem;

namespace {

constexpr int kRate = 96000;
constexpr std::int64_t kFrames = std::int64_t{3600} * kRate;

// Random 24-bit samples, the whole range, from a fixed seed.
bool WriteRandomRecording(const fs::path& path) {
  std::FILE* f = std::fopen(path.c_str(), "wb");
  if (f == nullptr) return false;
  const auto header = wavefiles::CanonicalHeader<std::vector<std::uint8_t>>(2, kRate, kFrames * 6);
  bool ok = std::fwrite(header.data(), 1, header.size(), f) == header.size();
  std::vector<std::uint8_t> block(6 << 20);
  std::uint64_t state = 0x9E3779B97F4A7C15ull;
  for (std::int64_t done = 0; ok && done < kFrames * 6;) {
    const std::int64_t n =
        std::min<std::int64_t>(static_cast<std::int64_t>(block.size()), kFrames * 6 - done);
    for (std::int64_t i = 0; i < n; ++i) {
      state ^= state << 13;
      state ^= state >> 7;
      state ^= state << 17;
      block[i] = static_cast<std::uint8_t>(state >> 24);
    }
    ok =
        std::fwrite(block.data(), 1, static_cast<std::size_t>(n), f) == static_cast<std::size_t>(n);
    done += n;
  }
  return std::fclose(f) == 0 && ok;
}

// The samples of `channel` in out.wav that differ from the exact engine's
// codes for hour.wav: each element formed as the exact engine forms it (only
// the terms of frames inside the recording, in ascending order) and
// converted with the generator at the sample's own place.
std::int64_t DifferingCodes(const fs::path& dir, const std::vector<double>& h, int channel) {
  const int m = static_cast<int>(h.size());
  std::FILE* in = std::fopen((dir / "hour.wav").c_str(), "rb");
  std::FILE* out = std::fopen((dir / "out.wav").c_str(), "rb");
  if (in == nullptr || out == nullptr) {
    ADD_FAILURE() << "the recording or the output does not open";
    return -1;
  }
  const std::int64_t resultLength = kFrames + m - 1;
  std::fseek(in, 44, SEEK_SET);
  std::fseek(out, 44, SEEK_SET);
  // A sliding window of the input: the last m - 1 frames before each block
  // and the block itself.
  constexpr std::int64_t kBlock = 1 << 16;
  std::vector<std::int32_t> window(static_cast<std::size_t>(m - 1 + kBlock), 0);
  std::vector<std::uint8_t> inBytes(6 * kBlock), outBytes(6 * kBlock);
  DitherGenerator generator = GeneratorAtSample(static_cast<std::uint64_t>(channel));
  const DitherJump toNextFrame = DitherJumpOf(4);
  std::int64_t differing = 0;
  for (std::int64_t k0 = 0; k0 < resultLength; k0 += kBlock) {
    const std::int64_t count = std::min(kBlock, resultLength - k0);
    const std::int64_t inFrames = std::max<std::int64_t>(0, std::min(count, kFrames - k0));
    if (std::fread(inBytes.data(), 6, static_cast<std::size_t>(inFrames), in) !=
            static_cast<std::size_t>(inFrames) ||
        std::fread(outBytes.data(), 6, static_cast<std::size_t>(count), out) !=
            static_cast<std::size_t>(count)) {
      ADD_FAILURE() << "short read at frame " << k0;
      break;
    }
    for (std::int64_t i = 0; i < count; ++i) {
      window[static_cast<std::size_t>(m - 1 + i)] =
          i < inFrames ? DecodeSample24(inBytes.data() + 6 * i + 3 * channel) : 0;
    }
    for (std::int64_t i = 0; i < count; ++i) {
      const std::int64_t k = k0 + i;
      double value = 0.0;
      const std::int64_t first = std::max<std::int64_t>(0, k - m + 1);
      const std::int64_t last = std::min<std::int64_t>(k, kFrames - 1);
      for (std::int64_t f = first; f <= last; ++f) {
        const long double product =
            static_cast<long double>(h[static_cast<std::size_t>(k - f)]) *
            static_cast<long double>(window[static_cast<std::size_t>(m - 1 + (f - k0))]);
        value = static_cast<double>(product + static_cast<long double>(value));
      }
      DitherGenerator here = generator;
      const std::int32_t code = ConvertSample(value, here);
      generator.state = ApplyJump(toNextFrame, generator.state);
      const std::int32_t written = DecodeSample24(outBytes.data() + 6 * i + 3 * channel);
      if (code != written && differing++ < 5) {
        ADD_FAILURE() << "frame " << k << " channel " << channel << ": exact " << code
                      << ", written " << written;
      }
    }
    std::copy(window.begin() + count, window.begin() + count + m - 1, window.begin());
  }
  std::fclose(in);
  std::fclose(out);
  return differing;
}

class LongRecording : public apptest::WorkFolderTest {};

TEST_F(LongRecording, OneHourOfStereoMatchesTheExactProcedure) {
  if (apptest::kAddressSanitizer) GTEST_SKIP() << "too long and too large under the sanitizers";
  const fs::path& dir = work_;
  if (fs::space(dir).available < (std::uint64_t{5} << 30)) GTEST_SKIP() << "needs 5 GB of disk";

  ASSERT_TRUE(WriteRandomRecording(dir / "hour.wav"));
  fs::copy_file(fs::path(OSTRIVALE_SOURCE_DIR) / "data" / "FilterF.dat", dir / "FilterF.dat");
  const apptest::RunResult r = Run("hour.wav\nF\nout.wav\n", {.guardSeconds = 500});
  ASSERT_TRUE(r.finished && r.status == 0)
      << "status " << r.status << ", signal " << r.signal << ": " << r.errors;

  // The filter as the program reads it.
  const FilterTableEntry* entry = FindFilter('F');
  std::vector<double> h(entry->coefficientCount);
  FilterChoice choice{'F', (dir / "FilterF.dat").string(), entry->coefficientCount};
  ASSERT_EQ(LoadImpulseResponse(choice, h.data()), ImpulseVerdict::kRead);
  const int m = entry->coefficientCount;

  ASSERT_EQ(fs::file_size(dir / "out.wav"),
            static_cast<std::uintmax_t>(44 + 6 * (kFrames + m - 1)));
  // The two channels checked side by side, one a thread.
  std::int64_t differing[2] = {0, 0};
  std::thread right([&] { differing[1] = DifferingCodes(dir, h, 1); });
  differing[0] = DifferingCodes(dir, h, 0);
  right.join();
  EXPECT_EQ(differing[0], 0);
  EXPECT_EQ(differing[1], 0);
}

}  // namespace
