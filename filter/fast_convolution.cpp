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
#include "filter/fast_convolution.h"

#include <immintrin.h>

#include <algorithm>
#include <cmath>

#include "wave/dither_stream.h"
#include "wave/parallel.h"
#include "wave/vector_level.h"
#include "wave/working_arrays.h"

namespace {

constexpr std::int64_t kChunk = 1024;     // outputs per block: fits the L1 cache with its dither

// A block of fast values for outputs [kBegin, kEnd), all of whose terms lie
// inside the input (k - m + 1 >= 0 and k <= n - 1). The kernel first widens
// the samples the block needs, x[kBegin - m + 1 .. kEnd), to doubles in
// `stage` (room for kEnd - kBegin + m - 1 of them, in the cache), so that
// each sample is converted once rather than once per tap.
using InteriorKernel = void (*)(const double* h, int m, const std::int32_t* x, std::int64_t kBegin,
                                std::int64_t kEnd, double* y, double* stage);

void InteriorPlain(const double* h, int m, const std::int32_t* x, std::int64_t kBegin,
                   std::int64_t kEnd, double* y, double* stage) {
  const std::int64_t staged = kEnd - kBegin + m - 1;
  const std::int32_t* from = x + (kBegin - m + 1);
  for (std::int64_t i = 0; i < staged; ++i) stage[i] = static_cast<double>(from[i]);
  const double* s = stage + (m - 1);  // s[t] is x[kBegin + t]
  for (std::int64_t t = 0; t < kEnd - kBegin; ++t) {
    double sum = 0.0;
    for (int j = 0; j < m; ++j) sum += h[j] * s[t - j];
    y[kBegin + t] = sum;
  }
}

__attribute__((target("avx2,fma")))
void InteriorAvx2(const double* h, int m, const std::int32_t* x, std::int64_t kBegin,
                  std::int64_t kEnd, double* y, double* stage) {
  const std::int64_t staged = kEnd - kBegin + m - 1;
  const std::int32_t* from = x + (kBegin - m + 1);
  std::int64_t i = 0;
  for (; i + 4 <= staged; i += 4) {
    _mm256_storeu_pd(stage + i, _mm256_cvtepi32_pd(_mm_loadu_si128(reinterpret_cast<const __m128i*>(from + i))));
  }
  for (; i < staged; ++i) stage[i] = static_cast<double>(from[i]);
  const double* s = stage + (m - 1);
  const std::int64_t count = kEnd - kBegin;
  double* out = y + kBegin;
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
    _mm256_storeu_pd(out + t, a0);
    _mm256_storeu_pd(out + t + 4, a1);
    _mm256_storeu_pd(out + t + 8, a2);
    _mm256_storeu_pd(out + t + 12, a3);
  }
  for (; t + 4 <= count; t += 4) {
    __m256d a0 = _mm256_setzero_pd();
    for (int j = 0; j < m; ++j) a0 = _mm256_fmadd_pd(_mm256_broadcast_sd(h + j), _mm256_loadu_pd(s + t - j), a0);
    _mm256_storeu_pd(out + t, a0);
  }
  for (; t < count; ++t) {
    double sum = 0.0;
    for (int j = 0; j < m; ++j) sum = std::fma(h[j], s[t - j], sum);
    out[t] = sum;
  }
}

// Eight 32-bit integers to doubles (the zero-masked form of the conversion,
// which the compiler's headers do not flag as reading undefined lanes).
__attribute__((target("avx512f,avx2,fma"))) inline __m512d Widen8(__m256i v) {
  return _mm512_maskz_cvtepi32_pd(static_cast<__mmask8>(0xFF), v);
}

__attribute__((target("avx512f,avx2,fma")))
void InteriorAvx512(const double* h, int m, const std::int32_t* x, std::int64_t kBegin,
                    std::int64_t kEnd, double* y, double* stage) {
  const std::int64_t staged = kEnd - kBegin + m - 1;
  const std::int32_t* from = x + (kBegin - m + 1);
  std::int64_t i = 0;
  for (; i + 8 <= staged; i += 8) {
    _mm512_storeu_pd(stage + i, Widen8(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(from + i))));
  }
  for (; i < staged; ++i) stage[i] = static_cast<double>(from[i]);
  const double* s = stage + (m - 1);
  const std::int64_t count = kEnd - kBegin;
  double* out = y + kBegin;
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
    _mm512_storeu_pd(out + t, a0);
    _mm512_storeu_pd(out + t + 8, a1);
    _mm512_storeu_pd(out + t + 16, a2);
    _mm512_storeu_pd(out + t + 24, a3);
  }
  for (; t + 8 <= count; t += 8) {
    __m512d a0 = _mm512_setzero_pd();
    for (int j = 0; j < m; ++j) a0 = _mm512_fmadd_pd(_mm512_set1_pd(h[j]), _mm512_loadu_pd(s + t - j), a0);
    _mm512_storeu_pd(out + t, a0);
  }
  for (; t < count; ++t) {
    double sum = 0.0;
    for (int j = 0; j < m; ++j) sum = std::fma(h[j], s[t - j], sum);
    out[t] = sum;
  }
}

InteriorKernel ChooseKernel() {
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

// A fast value near the ends of the signal, where some terms fall outside.
double EdgeValue(const double* h, int m, const std::int32_t* x, std::int64_t n, std::int64_t k) {
  std::int64_t first = std::max<std::int64_t>(0, k - m + 1);
  std::int64_t last = std::min<std::int64_t>(k, n - 1);
  double sum = 0.0;
  for (std::int64_t i = first; i <= last; ++i) sum += h[k - i] * static_cast<double>(x[i]);
  return sum;
}

struct ChannelJob {
  InteriorKernel kernel;
  const double* h;
  int m;
  const std::int32_t* x;
  std::int64_t n;
  double* result;
  int channel;
  int channelCount;
  double margin;
};

// Computes, checks and where needed recomputes outputs [kBegin, kEnd).
std::int64_t ConvolveRange(const ChannelJob& job, std::int64_t kBegin, std::int64_t kEnd) {
  double dither[kChunk];
  std::int64_t unsettled[kChunk];
  // The widened samples of one block; on the stack for the filters of the
  // table, from the heap for longer ones.
  constexpr int kStackTaps = 256;
  double stackStage[kChunk + kStackTaps];
  Buffer<double> heapStage;
  double* stage = stackStage;
  if (job.m > kStackTaps) {
    if (!heapStage.Allocate(kChunk + job.m)) {
      // No memory for it: every element the exact way, which needs none.
      for (std::int64_t k = kBegin; k < kEnd; ++k) {
        job.result[k] = ExactResultElement(job.h, job.m, job.x, job.n, k);
      }
      return kEnd - kBegin;
    }
    stage = heapStage.data();
  }
  std::int64_t exactSamples = 0;
  const std::int64_t interiorBegin = job.m - 1;  // first output with every term inside
  const std::int64_t interiorEnd = job.n;        // one past the last
  for (std::int64_t c0 = kBegin; c0 < kEnd; c0 += kChunk) {
    const std::int64_t c1 = std::min(c0 + kChunk, kEnd);
    const std::int64_t a = std::max(c0, interiorBegin);
    const std::int64_t b = std::min(c1, interiorEnd);
    if (a < b) {
      job.kernel(job.h, job.m, job.x, a, b, job.result, stage);
      for (std::int64_t k = c0; k < a; ++k) job.result[k] = EdgeValue(job.h, job.m, job.x, job.n, k);
      for (std::int64_t k = b; k < c1; ++k) job.result[k] = EdgeValue(job.h, job.m, job.x, job.n, k);
    } else {
      for (std::int64_t k = c0; k < c1; ++k) job.result[k] = EdgeValue(job.h, job.m, job.x, job.n, k);
    }
    FillDitherOffsets(static_cast<std::uint64_t>(c0) * job.channelCount + job.channel,
                      job.channelCount, c1 - c0, dither);
    const std::int64_t found =
        FindUnsettledCodes(job.result + c0, dither, c1 - c0, job.margin, unsettled);
    for (std::int64_t u = 0; u < found; ++u) {
      const std::int64_t k = c0 + unsettled[u];
      job.result[k] = ExactResultElement(job.h, job.m, job.x, job.n, k);
    }
    exactSamples += found;
  }
  return exactSamples;
}

// One thread's share of a channel: a contiguous run of outputs.
struct RangeTasks {
  const ChannelJob* job;
  std::int64_t perTask;
  std::int64_t resultLength;
  std::int64_t exactSamples[8];
};

void RunRange(void* context, int index) {
  RangeTasks* tasks = static_cast<RangeTasks*>(context);
  const std::int64_t begin = index * tasks->perTask;
  const std::int64_t end = std::min(begin + tasks->perTask, tasks->resultLength);
  tasks->exactSamples[index] = begin < end ? ConvolveRange(*tasks->job, begin, end) : 0;
}

}  // namespace

double ExactResultElement(const double* h, int m, const std::int32_t* x, std::int64_t n,
                          std::int64_t k) {
  std::int64_t first = std::max<std::int64_t>(0, k - m + 1);
  std::int64_t last = std::min<std::int64_t>(k, n - 1);
  double value = 0.0;
  for (std::int64_t i = first; i <= last; ++i) {
    long double product = static_cast<long double>(h[k - i]) * static_cast<long double>(x[i]);
    value = static_cast<double>(product + static_cast<long double>(value));
  }
  return value;
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

FastConvolutionReport ConvolveChannelFast(const double* h, int m, const std::int32_t* x,
                                          std::int64_t n, double* result, int channel,
                                          int channelCount, double extraMargin, int threads) {
  FastConvolutionReport report;
  const std::int64_t resultLength = n + m - 1;
  if (m <= 0 || resultLength <= 0) return report;
  const double bound = FastConvolutionBound(h, m);
  if (bound < 0) {
    // Not a filter the bound can vouch for: every element exactly.
    for (std::int64_t k = 0; k < resultLength; ++k) result[k] = ExactResultElement(h, m, x, n, k);
    report.exactSamples = resultLength;
    return report;
  }
  ChannelJob job{ChooseKernel(), h, m, x, n, result, channel, channelCount, bound + kWriterRoundingMargin + extraMargin};
  report.applied = true;

  if (threads <= 0) threads = WorkerCount();
  threads = std::clamp(threads, 1, 8);
  // Short channels are not worth a thread.
  const std::int64_t perTask =
      std::max<std::int64_t>(kChunk * 64, (resultLength + threads - 1) / threads);
  const int taskCount = static_cast<int>((resultLength + perTask - 1) / perTask);
  RangeTasks tasks{&job, perTask, resultLength, {}};
  RunParallel(taskCount, RunRange, &tasks);
  for (int t = 0; t < taskCount; ++t) report.exactSamples += tasks.exactSamples[t];
  return report;
}
