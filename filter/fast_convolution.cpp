// The fast convolution engine.
//
// Why the bytes stay exact. The writer turns a result value y into the code
// round(y + d + rho) (saturated to 24 bits), where d = r1 + r2 - 1 is the
// sample's dither, known from its position alone, and rho is the writer's own
// rounding error at extended precision, |rho| < 2^-29 (proved beside the
// writer). This engine computes a value y' in double precision, in whatever
// order suits the vector unit, with fused multiply-adds where the processor
// has them. The exact engine would have computed y''. If every value within
// |y' - y''| of y' + d lies strictly between the same two half-integers, the
// writer gives y' and y'' the same code, and y' may stand. Otherwise the
// element is recomputed by the exact procedure and y'' is stored.
//
// The bound on |y' - y''|. For result element k let T = sum |h[k-i]| |x[i]|
// over its at most m terms, u = 2^-53 and e = 2^-64.
//  - y' is a dot product of at most m terms in double, any association, with
//    or without fused multiply-add: |y' - y| <= gamma(m) T, gamma(m) =
//    m u / (1 - m u) (the standard bound for floating-point dot products).
//  - y'' adds the terms one by one; each update rounds the product to
//    extended (1 + e1), the sum to extended (1 + e2) and stores it as double
//    (1 + e3), |e1|, |e2| <= e, |e3| <= u: a recursive sum whose every
//    operation has relative error at most v = (1+e)^2 (1+u) - 1 < u + 3e, so
//    |y'' - y| <= gamma'(m) T, gamma'(m) = m v / (1 - m v).
//  - m <= 32767 makes m v < 4e-12, so |y' - y''| <= 2.01 m u T.
//  - |x[i]| <= 2^23 for 24-bit samples, so T <= 2^23 H with H = sum |h[j]|.
// We take B = 4 m u 2^23 H (1 + 2^-40): twice the bound, with H computed in
// extended precision and raised by far more than its rounding error.
//
// The test. z = y' + d is computed in double; for |z| < 2^24 its rounding
// error is at most 2^-30. Every value y between y' and y'' then gives a
// writer sum y + d + rho within B + 2^-29 + 2^-30 < B + 2^-24 of z. So when z
// lies at least B + 2^-24 from every half-integer, both values round to the
// same integer. When z > 8388608 (or < -8388609) every such sum is above
// 8388607.5 (below -8388608.5) and both codes saturate to the same limit.
//
// Zeros around the signal. The kernels run every output over all m taps,
// reading zeros for the frames before 0 and from n on (a staging buffer
// holds them), so that the edges need no code of their own. This engine
// runs only when every coefficient is finite (FastConvolutionBound), so each
// such term is h[j] x 0 = +-0 exactly, and adding +-0 to a partial sum s
// gives s exactly (at most the sign of a zero sum changes, which no code
// depends on: z = y' + d is the same). So y' is a dot product of the real
// terms alone, in some order, and the bound above holds for it unchanged
// (it counts at most m terms). The exact value never sees the zeros: it adds
// only the terms of real frames, max(0, k - m + 1) .. min(k, n - 1), in
// ascending order, as the exact engine does, where a non-finite coefficient
// times a zero would otherwise add a not-a-number.
#include "filter/fast_convolution.h"

#include <immintrin.h>

#include <algorithm>
#include <cmath>

#include "system/threads.h"
#include "system/vector_level.h"
#include "wave/dither_stream.h"
#include "wave/working_arrays.h"
#include "wave/writer.h"

namespace {

void InteriorPlain(const double* h, int m, const double* s, std::int64_t count, double* y) {
  for (std::int64_t t = 0; t < count; ++t) {
    double sum = 0.0;
    for (int j = 0; j < m; ++j) sum += h[j] * s[t - j];
    y[t] = sum;
  }
}

__attribute__((target("avx2,fma")))
void InteriorAvx2(const double* h, int m, const double* s, std::int64_t count, double* y) {
  std::int64_t t = 0;
  for (; t + 16 <= count; t += 16) {
    __m256d a0 = _mm256_setzero_pd(), a1 = _mm256_setzero_pd();
    __m256d a2 = _mm256_setzero_pd(), a3 = _mm256_setzero_pd();
    for (int j = 0; j < m; ++j) {
      const __m256d c = _mm256_broadcast_sd(h + j);
      const double* p = s + t - j;
      a0 = _mm256_fmadd_pd(c, _mm256_loadu_pd(p), a0);
      a1 = _mm256_fmadd_pd(c, _mm256_loadu_pd(p + 4), a1);
      a2 = _mm256_fmadd_pd(c, _mm256_loadu_pd(p + 8), a2);
      a3 = _mm256_fmadd_pd(c, _mm256_loadu_pd(p + 12), a3);
    }
    _mm256_storeu_pd(y + t, a0);
    _mm256_storeu_pd(y + t + 4, a1);
    _mm256_storeu_pd(y + t + 8, a2);
    _mm256_storeu_pd(y + t + 12, a3);
  }
  for (; t + 4 <= count; t += 4) {
    __m256d a0 = _mm256_setzero_pd();
    for (int j = 0; j < m; ++j) a0 = _mm256_fmadd_pd(_mm256_broadcast_sd(h + j), _mm256_loadu_pd(s + t - j), a0);
    _mm256_storeu_pd(y + t, a0);
  }
  for (; t < count; ++t) {
    double sum = 0.0;
    for (int j = 0; j < m; ++j) sum = std::fma(h[j], s[t - j], sum);
    y[t] = sum;
  }
}

__attribute__((target("avx512f,avx2,fma")))
void InteriorAvx512(const double* h, int m, const double* s, std::int64_t count, double* y) {
  std::int64_t t = 0;
  for (; t + 32 <= count; t += 32) {
    __m512d a0 = _mm512_setzero_pd(), a1 = _mm512_setzero_pd();
    __m512d a2 = _mm512_setzero_pd(), a3 = _mm512_setzero_pd();
    for (int j = 0; j < m; ++j) {
      const __m512d c = _mm512_set1_pd(h[j]);
      const double* p = s + t - j;
      a0 = _mm512_fmadd_pd(c, _mm512_loadu_pd(p), a0);
      a1 = _mm512_fmadd_pd(c, _mm512_loadu_pd(p + 8), a1);
      a2 = _mm512_fmadd_pd(c, _mm512_loadu_pd(p + 16), a2);
      a3 = _mm512_fmadd_pd(c, _mm512_loadu_pd(p + 24), a3);
    }
    _mm512_storeu_pd(y + t, a0);
    _mm512_storeu_pd(y + t + 8, a1);
    _mm512_storeu_pd(y + t + 16, a2);
    _mm512_storeu_pd(y + t + 24, a3);
  }
  for (; t + 8 <= count; t += 8) {
    __m512d a0 = _mm512_setzero_pd();
    for (int j = 0; j < m; ++j) a0 = _mm512_fmadd_pd(_mm512_set1_pd(h[j]), _mm512_loadu_pd(s + t - j), a0);
    _mm512_storeu_pd(y + t, a0);
  }
  for (; t < count; ++t) {
    double sum = 0.0;
    for (int j = 0; j < m; ++j) sum = std::fma(h[j], s[t - j], sum);
    y[t] = sum;
  }
}

FastKernel ChooseKernel() {
  switch (ActiveVectorLevel()) {
    case VectorLevel::kAvx512:
      return InteriorAvx512;
    case VectorLevel::kAvx2:
      return InteriorAvx2;
    case VectorLevel::kPlain:
      break;
  }
  return InteriorPlain;
}

// The exact engine's value of output k from samples s, s[i - k0] being
// x[i] (the input itself with k0 = 0, or samples widened from a block): only
// the terms of real frames, in ascending order (see the top).
template <typename Sample>
double ExactSum(const double* h, int m, const Sample* s, std::int64_t k0, std::int64_t n,
                std::int64_t k) {
  const std::int64_t first = std::max<std::int64_t>(0, k - m + 1);
  const std::int64_t last = std::min<std::int64_t>(k, n - 1);
  double value = 0.0;
  for (std::int64_t i = first; i <= last; ++i) {
    const long double product = static_cast<long double>(h[k - i]) * static_cast<long double>(s[i - k0]);
    value = static_cast<double>(product + static_cast<long double>(value));
  }
  return value;
}

struct ChannelJob {
  const FastFilter* filter;
  const std::int32_t* x;
  double* result;
  int channel;
  int channelCount;
};

// Computes, checks and where needed recomputes outputs [kBegin, kEnd).
std::int64_t ConvolveRange(const ChannelJob& job, std::int64_t kBegin, std::int64_t kEnd) {
  const FastFilter& filter = *job.filter;
  const int m = filter.m;
  const std::int64_t n = filter.inputFrames;
  double dither[kChunkFrames];
  // The widened samples of one chunk; on the stack for the filters of the
  // table, from the heap for longer ones.
  constexpr int kStackTaps = 256;
  double stackStage[kChunkFrames + kStackTaps];
  Buffer<double> heapStage;
  double* stage = stackStage;
  if (m > kStackTaps) {
    if (!heapStage.Allocate(kChunkFrames + m)) {
      // No memory for it: every element the exact way, which needs none.
      for (std::int64_t k = kBegin; k < kEnd; ++k) {
        job.result[k] = ExactResultElement(filter.h, m, job.x, n, k);
      }
      return kEnd - kBegin;
    }
    stage = heapStage.data();
  }
  std::int64_t exactSamples = 0;
  for (std::int64_t k0 = kBegin; k0 < kEnd; k0 += kChunkFrames) {
    const std::int64_t count = std::min(kChunkFrames, kEnd - k0);
    // stage[i] = x[k0 - m + 1 + i], zero outside the signal.
    for (std::int64_t i = 0; i < count + m - 1; ++i) {
      const std::int64_t frame = k0 - m + 1 + i;
      stage[i] = frame >= 0 && frame < n ? static_cast<double>(job.x[frame]) : 0.0;
    }
    const std::uint64_t firstSample = static_cast<std::uint64_t>(k0) * job.channelCount + job.channel;
    FillDitherOffsets(firstSample, job.channelCount, count, dither);
    exactSamples += FilterChunk(filter, stage, k0, count, dither, job.result + k0);
  }
  return exactSamples;
}

// One thread's share of a channel: a contiguous run of outputs.
struct RangeTasks {
  const ChannelJob* job;
  std::int64_t exactSamples[kMaxWorkerThreads];
};

void RunRange(void* context, int index, std::int64_t begin, std::int64_t end) {
  RangeTasks* tasks = static_cast<RangeTasks*>(context);
  tasks->exactSamples[index] = ConvolveRange(*tasks->job, begin, end);
}

}  // namespace

double ExactResultElement(const double* h, int m, const std::int32_t* x, std::int64_t n,
                          std::int64_t k) {
  return ExactSum(h, m, x, 0, n, k);
}

double FastConvolutionBound(const double* h, int m) {
  long double magnitude = 0.0L;
  for (int j = 0; j < m; ++j) {
    if (!std::isfinite(h[j])) return -1.0;
    magnitude += std::fabs(static_cast<long double>(h[j]));
  }
  long double bound = 4.0L * m * 0x1p-53L * 0x1p23L * magnitude * (1.0L + 0x1p-40L);
  // Beyond a quarter the test could no longer separate neighbouring codes
  // (and such coefficients are no filter): the exact engine takes over.
  if (!(bound < 0.25L)) return -1.0;
  return static_cast<double>(bound * (1.0L + 0x1p-40L));
}

FastFilter PrepareFastFilter(const double* h, int m, std::int64_t n, double extraMargin) {
  FastFilter filter;
  filter.h = h;
  filter.m = m;
  filter.inputFrames = n > 0 ? n : 0;
  filter.bound = m > 0 ? FastConvolutionBound(h, m) : -1.0;
  filter.margin = filter.bound + kWriterRoundingMargin + extraMargin;
  filter.kernel = ChooseKernel();
  return filter;
}

std::int64_t FilterChunk(const FastFilter& filter, const double* stage, std::int64_t k0,
                         std::int64_t count, const double* dither, double* y) {
  const int m = filter.m;
  const double* s = stage + (m - 1);  // s[t] is x[k0 + t]
  if (filter.bound < 0) {
    // Not a filter the bound can vouch for: every element exactly.
    for (std::int64_t t = 0; t < count; ++t) {
      y[t] = ExactSum(filter.h, m, s, k0, filter.inputFrames, k0 + t);
    }
    return count;
  }
  filter.kernel(filter.h, m, s, count, y);
  std::int64_t unsettled[kChunkFrames];
  std::int32_t codes[kChunkFrames];  // not needed here: the values are kept
  const std::int64_t found = RoundSettledCodes(y, dither, count, filter.margin, codes, unsettled);
  for (std::int64_t u = 0; u < found; ++u) {
    const std::int64_t t = unsettled[u];
    y[t] = ExactSum(filter.h, m, s, k0, filter.inputFrames, k0 + t);
  }
  return found;
}

std::int64_t FilterChunkCodes(const FastFilter& filter, const double* stage, std::int64_t k0,
                              std::int64_t count, const double* dither, std::uint64_t firstSample,
                              int channelCount, std::int32_t* codes) {
  const int m = filter.m;
  const double* s = stage + (m - 1);  // s[t] is x[k0 + t]
  std::int64_t unsettled[kChunkFrames];
  std::int64_t found = 0;
  if (filter.bound < 0) {
    // Not a filter the bound can vouch for: every element exactly.
    for (std::int64_t t = 0; t < count; ++t) unsettled[found++] = t;
  } else {
    double y[kChunkFrames];
    filter.kernel(filter.h, m, s, count, y);
    // A settled fast value has the code round(y' + d), which the exact value
    // would have too (see the top): one test serves both.
    found = RoundSettledCodes(y, dither, count, filter.margin, codes, unsettled);
  }
  if (found == 0) return 0;
  // The others: the exact value, converted exactly with the generator at
  // the sample's own state.
  for (std::int64_t u = 0; u < found; ++u) {
    const std::int64_t t = unsettled[u];
    DitherGenerator generator = GeneratorAtSample(firstSample + static_cast<std::uint64_t>(t) * channelCount);
    codes[t] = ConvertSample(ExactSum(filter.h, m, s, k0, filter.inputFrames, k0 + t), generator);
  }
  return found;
}

FastConvolutionReport ConvolveChannelFast(const double* h, int m, const std::int32_t* x,
                                          std::int64_t n, double* result, int channel,
                                          int channelCount, double extraMargin, int threads) {
  FastConvolutionReport report;
  const std::int64_t resultLength = n + m - 1;
  if (m <= 0 || resultLength <= 0) return report;
  const FastFilter filter = PrepareFastFilter(h, m, n, extraMargin);
  report.applied = filter.bound >= 0;
  ChannelJob job{&filter, x, result, channel, channelCount};
  RangeTasks tasks{&job, {}};
  // Short channels are not worth a thread.
  const int runs = RunRangesInParallel(resultLength, threads, kChunkFrames * 64, RunRange, &tasks);
  for (int t = 0; t < runs; ++t) report.exactSamples += tasks.exactSamples[t];
  return report;
}
