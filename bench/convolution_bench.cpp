// Tap updates per second of the exact convolution engine (the reference),
// for the tap counts of the six filters, on one channel of pseudo-random
// 24-bit samples; exact dithered conversions per second; and the pass's own
// block path (bytes in, dithered bytes out) on stereo, one core, at every
// vector level the processor has.
//   convolution_bench [Google Benchmark flags]
// BM_BlockPath/<taps>/<level>: level 0 plain, 1 AVX2, 2 AVX-512 (lowered
// with LimitVectorLevel); taps/s counts C x frames x taps a second.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <random>
#include <vector>

#include "filter/fast_convolution.h"
#include "filter/filter_pass.h"
#include "processor/vector_level.h"
#include "reference/convolution.h"
#include "reference/output_image.h"
#include "wave/dither.h"

namespace {

constexpr std::int64_t kFrames = 1 << 20;

struct Signal {
  std::vector<double> h;
  std::vector<std::int32_t> x;
};

Signal MakeSignal(int m) {
  Signal s;
  std::mt19937 random(12345);
  std::uniform_real_distribution<double> coefficient(-0.2, 0.6);
  for (int j = 0; j < m; ++j) s.h.push_back(coefficient(random));
  std::uniform_int_distribution<std::int32_t> sample(-4000000, 4000000);
  for (std::int64_t i = 0; i < kFrames; ++i) s.x.push_back(sample(random));
  return s;
}

void SetCounters(benchmark::State& state, int m) {
  state.counters["taps/s"] =
      benchmark::Counter(static_cast<double>(kFrames) * m * static_cast<double>(state.iterations()),
                         benchmark::Counter::kIsRate);
}

void BM_ExactEngine(benchmark::State& state) {
  const int m = static_cast<int>(state.range(0));
  Signal s = MakeSignal(m);
  std::vector<double> result(kFrames + m - 1);
  for (auto _ : state) {
    std::fill(result.begin(), result.end(), 0.0);
    ConvolveChannelExact(s.h.data(), m, s.x.data(), kFrames, result.data());
    benchmark::DoNotOptimize(result.data());
  }
  SetCounters(state, m);
}

// Filtered values of a stereo recording at a realistic level.
std::vector<double> MakeResults() {
  std::mt19937 random(777);
  std::normal_distribution<double> value(0.0, 1.5e6);
  std::vector<double> r(2 * kFrames);
  for (double& v : r) v = value(random);
  return r;
}

void BM_ExactConversion(benchmark::State& state) {
  std::vector<double> r = MakeResults();
  const double* channels[2] = {r.data(), r.data() + kFrames};
  std::vector<std::uint8_t> data(6 * kFrames);
  for (auto _ : state) {
    DitherGenerator generator;
    EncodeSamplesExact(channels, 2, kFrames, generator, data.data());
    benchmark::DoNotOptimize(data.data());
  }
  state.counters["samples/s"] = benchmark::Counter(
      2.0 * kFrames * static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
}

// The block path as the pass runs it on one thread: blocks of
// kPassBlockFrames stereo frames from their input bytes (with the history
// in front) to their output bytes, over kFrames frames of pseudo-random
// samples.
void BM_BlockPath(benchmark::State& state) {
  const int m = static_cast<int>(state.range(0));
  const VectorLevel level = static_cast<VectorLevel>(state.range(1));
  LimitVectorLevel(level);
  if (ActiveVectorLevel() != level) {
    LimitVectorLevel(VectorLevel::kAvx512);
    state.SkipWithError("the processor has no such vector level");
    return;
  }
  constexpr int kChannels = 2;
  // The samples as bytes, the right channel a shifted copy of the left; the
  // coefficients scaled to a gain of at most 1, so that nothing saturates.
  Signal s = MakeSignal(m);
  double gain = 0;
  for (double c : s.h) gain += std::fabs(c);
  for (double& c : s.h) c /= gain;
  std::vector<std::uint8_t> raw(static_cast<std::size_t>(3 * kChannels * (kFrames + 2 * m)), 0);
  for (std::int64_t i = 0; i < kFrames; ++i) {
    for (int c = 0; c < kChannels; ++c) {
      const std::uint32_t v =
          static_cast<std::uint32_t>(s.x[static_cast<std::size_t>((i + 12345 * c) % kFrames)]);
      for (int b = 0; b < 3; ++b)
        raw[static_cast<std::size_t>(3 * (kChannels * (i + m - 1) + c) + b)] =
            static_cast<std::uint8_t>(v >> (8 * b));
    }
  }
  const FastFilter filter = PrepareFastFilter(s.h.data(), m, kFrames);
  std::vector<double> stage(
      static_cast<std::size_t>(kChannels * (kChunkFrames + m - 1) + 2 * kStagePadding));
  std::vector<std::int32_t> unsettled(static_cast<std::size_t>(kChannels * kChunkFrames));
  std::vector<std::uint8_t> output(static_cast<std::size_t>(3 * kChannels * kPassBlockFrames));
  const std::int64_t frames = kFrames + m - 1;
  for (auto _ : state) {
    for (std::int64_t first = 0; first < frames; first += kPassBlockFrames) {
      const std::int64_t count = std::min(kPassBlockFrames, frames - first);
      FilterBlock(filter, kChannels, raw.data() + 3 * kChannels * first, first, count, stage.data(),
                  unsettled.data(), output.data());
      benchmark::DoNotOptimize(output.data());
    }
  }
  LimitVectorLevel(VectorLevel::kAvx512);
  state.counters["taps/s"] =
      benchmark::Counter(static_cast<double>(kChannels) * static_cast<double>(frames) * m *
                             static_cast<double>(state.iterations()),
                         benchmark::Counter::kIsRate);
}

}  // namespace

BENCHMARK(BM_BlockPath)
    ->ArgsProduct({{15, 17, 19, 20, 31}, {0, 1, 2}})
    ->Unit(benchmark::kMillisecond);

BENCHMARK(BM_ExactConversion)->Unit(benchmark::kMillisecond);

BENCHMARK(BM_ExactEngine)
    ->Arg(15)
    ->Arg(17)
    ->Arg(19)
    ->Arg(20)
    ->Arg(31)
    ->Unit(benchmark::kMillisecond);

BENCHMARK_MAIN();
