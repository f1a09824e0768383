#include "wave/writer.h"

#include <immintrin.h>

#include <algorithm>
#include <cmath>
#include <cstring>

#include "system/threads.h"
#include "system/vector_level.h"
#include "wave/byte_order.h"
#include "wave/dither_stream.h"

// The image of the output file as it will stand on disk: header, dithered
// samples and, after data of odd length, the zero pad byte that RIFF asks for.
bool BuildOutputImage(const WaveFormat& format, WorkingArrays& arrays, DitherGenerator& generator,
                      Buffer<std::uint8_t>& image) {
  const std::int64_t frames = arrays.resultLength > 0 ? arrays.resultLength : 0;
  const OutputHeader header = BuildOutputHeader(format, frames);
  const std::int64_t size = header.size + header.dataBytes + header.padBytes;
  // The raw sample block is read and decoded by now: its pages, already in
  // memory, serve again for the image instead of fresh ones.
  if (arrays.rawSampleBlock.size() >= size) {
    image = std::move(arrays.rawSampleBlock);
    std::memset(image.data() + size - 1, 0, 1);  // the pad byte, when there is one
  } else {
    arrays.rawSampleBlock.Release();
    if (!image.Allocate(size)) return false;
  }
  std::memcpy(image.data(), header.bytes, static_cast<std::size_t>(header.size));

  const int channels = format.channelCount == 1 || format.channelCount == 2 ? format.channelCount : 0;
  std::uint8_t* data = image.data() + header.size;
  if (channels == 0) {
    std::memset(data, 0, static_cast<std::size_t>(size - header.size));
    return true;
  }
  // Arrays shorter than the header says (never so in the reference) are read
  // as dithered silence past their end.
  const Buffer<double>* arraysOf[2] = {channels == 1 ? &arrays.monoResult : &arrays.leftResult,
                                       &arrays.rightResult};
  for (std::int64_t k = 0; k < frames; ++k) {
    for (int c = 0; c < channels; ++c) {
      const Buffer<double>& r = *arraysOf[c];
      StoreCode24(data + 3 * (k * channels + c), ConvertSample(k < r.size() ? r[k] : 0.0, generator));
    }
  }
  return true;
}

DitherGenerator GeneratorAtSample(std::uint64_t sample) {
  return DitherGenerator{ApplyJump(DitherJumpOf(2 * sample), DitherGenerator{}.state)};
}

double DrawDither(DitherGenerator& generator) {
  generator.state = generator.state * 134775813u + 1u;
  return static_cast<double>(generator.state >> 1) / 2147483648.0;
}

std::int32_t ConvertSample(double y, DitherGenerator& generator) {
  // Both draws are taken whatever the value, so that the dither of every
  // later sample stays where it belongs.
  const long double r1 = DrawDither(generator);
  const long double r2 = DrawDither(generator);
  if (std::isnan(y)) return 0;

  // Negative values are raised by 2^24 first (rounded to a 64-bit float, as
  // when stored); this leaves the low 24 bits of the code unchanged.
  const bool raised = y < 0;
  if (raised) y = static_cast<double>(static_cast<long double>(y) + 16777216.0L);
  long double v = r1 + static_cast<long double>(y);
  v = v + r2;
  v = v - 1.0L;
  long double code = std::nearbyint(v);  // ties to even
  if (raised) code -= 16777216.0L;

  // Out of range saturates: a wrapped code would be a full-scale click.
  if (code > 8388607.0L) return 8388607;
  if (code < -8388608.0L) return -8388608;
  return static_cast<std::int32_t>(code);
}

void EncodeSamplesExact(const double* const* results, int channelCount, std::int64_t frames,
                        DitherGenerator& generator, std::uint8_t* data) {
  for (std::int64_t k = 0; k < frames; ++k) {
    for (int c = 0; c < channelCount; ++c) {
      StoreCode24(data + 3 * (k * channelCount + c), ConvertSample(results[c][k], generator));
    }
  }
}

// The fast conversion.
//
// ConvertSample computes, for a value y and the draws r1, r2 of its sample,
// round(v) with v formed at extended precision (64-bit significand, unit
// roundoff 2^-64). How far can v be from the real number y + d, d = r1 + r2 - 1?
//  - y >= 0: v = ((r1 + y) + r2) - 1, three roundings of numbers below 2^25 in
//    magnitude wherever the code is not saturated, each off by at most
//    2^(25-64) = 2^-39: |v - (y + d)| <= 3 x 2^-39.
//  - -2^24 < y < 0: first y' = y + 2^24, formed at extended precision and
//    stored as a double: y' lies in (0, 2^24], where half a double ulp is at
//    most 2^-30 (and the extended rounding adds at most 2^-41); then the same
//    three roundings; the code is round(v) - 2^24. So |rho| <= 2^-30 + 2^-41 +
//    3 x 2^-39 < 2^-29.
//  - y <= -2^24 or y beyond 2^24: the code saturates (shown below).
// So the code is round(y + d + rho), |rho| < 2^-29, then saturated. Here
// z = y + d is formed in double: below 2^24 in magnitude its rounding error
// is at most 2^-30. CodeIsSettled(z, 2^-24) holds when z lies 2^-24 or more
// from every half-integer: then y + d + rho, within 2^-29 + 2^-30 of z, lies
// strictly between the same half-integers and rounds to round(z). It holds
// too when z > 8388608 or z < -8388609: then y + d + rho is above 8388607.5
// or below -8388608.5 and the exact code saturates, as round(z) clamped does.
// Every other sample (near a half-integer, or not a number) is converted by
// ConvertSample itself, with the generator set to that sample's state.

namespace {

// CodeIsSettled and the code of a settled value in one pass: the nearest
// integer to z = y + d (ties to even) clamped to the 24-bit range, which is
// the code whenever z is settled (see above).
std::int64_t RoundSettledPlain(const double* y, const double* d, std::int64_t count, double margin,
                               std::int32_t* codes, std::int64_t* unsettled) {
  std::int64_t found = 0;
  for (std::int64_t i = 0; i < count; ++i) {
    const double z = y[i] + d[i];
    if (!CodeIsSettled(z, margin)) unsettled[found++] = i;
    double clamped = z;
    if (!(clamped >= -8388608.0)) clamped = -8388608.0;  // also what becomes of not-a-number
    if (clamped > 8388607.0) clamped = 8388607.0;
    // Clamping to integer limits first gives the same code as rounding first.
    codes[i] = static_cast<std::int32_t>((clamped + 0x1.8p52) - 0x1.8p52);
  }
  return found;
}

__attribute__((target("avx2"))) std::int64_t RoundSettledAvx2(const double* y, const double* d,
                                                              std::int64_t count, double margin,
                                                              std::int32_t* codes,
                                                              std::int64_t* unsettled) {
  const __m256d shift = _mm256_set1_pd(0x1.8p52);
  const __m256d limit = _mm256_set1_pd(0.5 - margin);
  const __m256d top = _mm256_set1_pd(8388608.0);
  const __m256d bottom = _mm256_set1_pd(-8388609.0);
  const __m256d low = _mm256_set1_pd(-8388608.0);
  const __m256d high = _mm256_set1_pd(8388607.0);
  const __m256d magnitude = _mm256_castsi256_pd(_mm256_set1_epi64x(0x7FFFFFFFFFFFFFFFll));
  std::int64_t found = 0;
  std::int64_t i = 0;
  for (; i + 4 <= count; i += 4) {
    const __m256d z = _mm256_add_pd(_mm256_loadu_pd(y + i), _mm256_loadu_pd(d + i));
    // The same nearest integer as CodeIsSettled's, by the same shift.
    const __m256d nearest = _mm256_sub_pd(_mm256_add_pd(z, shift), shift);
    const __m256d distance = _mm256_and_pd(_mm256_sub_pd(z, nearest), magnitude);
    const __m256d settled = _mm256_or_pd(
        _mm256_cmp_pd(distance, limit, _CMP_LE_OQ),
        _mm256_or_pd(_mm256_cmp_pd(z, top, _CMP_GT_OQ), _mm256_cmp_pd(z, bottom, _CMP_LT_OQ)));
    // The nearest integer clamped: round(z) clamped wherever |z| < 2^51, and
    // a limit beyond (a not-a-number too, whose code is replaced anyway).
    const __m256d clamped = _mm256_min_pd(_mm256_max_pd(nearest, low), high);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(codes + i), _mm256_cvtpd_epi32(clamped));
    const int mask = _mm256_movemask_pd(settled);
    if (mask != 0xF) {
      for (int lane = 0; lane < 4; ++lane) {
        if (!(mask & (1 << lane))) unsettled[found++] = i + lane;
      }
    }
  }
  const std::int64_t tail = RoundSettledPlain(y + i, d + i, count - i, margin, codes + i, unsettled + found);
  for (std::int64_t u = found; u < found + tail; ++u) unsettled[u] += i;
  return found + tail;
}

}  // namespace

std::int64_t RoundSettledCodes(const double* y, const double* d, std::int64_t count, double margin,
                               std::int32_t* codes, std::int64_t* unsettled) {
  return ActiveVectorLevel() >= VectorLevel::kAvx2
             ? RoundSettledAvx2(y, d, count, margin, codes, unsettled)
             : RoundSettledPlain(y, d, count, margin, codes, unsettled);
}

std::int64_t EncodeChunk(const double* y, const double* dither, std::int64_t count, double margin,
                         std::uint64_t firstSample, int channelCount, std::uint8_t* out) {
  std::int32_t codes[kChunkFrames];
  std::int64_t unsettled[kChunkFrames];
  const std::int64_t found = RoundSettledCodes(y, dither, count, margin, codes, unsettled);
  for (std::int64_t u = 0; u < found; ++u) {
    const std::int64_t i = unsettled[u];
    DitherGenerator generator = GeneratorAtSample(firstSample + static_cast<std::uint64_t>(i) * channelCount);
    codes[i] = ConvertSample(y[i], generator);
  }
  const std::int64_t stride = 3 * static_cast<std::int64_t>(channelCount);
  for (std::int64_t i = 0; i < count; ++i) StoreCode24(out + stride * i, codes[i]);
  return found;
}

namespace {

struct EncodeJob {
  const double* const* results;
  int channelCount;
  std::uint8_t* data;
  double margin;
  std::int64_t exactSamples[kMaxWorkerThreads];
};

void EncodeRange(void* context, int index, std::int64_t begin, std::int64_t end) {
  EncodeJob& job = *static_cast<EncodeJob*>(context);
  double dither[kChunkFrames];
  std::int64_t exactSamples = 0;
  const int channels = job.channelCount;
  for (std::int64_t k0 = begin; k0 < end; k0 += kChunkFrames) {
    const std::int64_t count = std::min(kChunkFrames, end - k0);
    for (int c = 0; c < channels; ++c) {
      const std::uint64_t firstSample = static_cast<std::uint64_t>(k0) * channels + c;
      FillDitherOffsets(firstSample, channels, count, dither);
      exactSamples += EncodeChunk(job.results[c] + k0, dither, count, job.margin, firstSample,
                                  channels, job.data + 3 * (k0 * channels + c));
    }
  }
  job.exactSamples[index] = exactSamples;
}

}  // namespace

std::int64_t EncodeSamplesFast(const double* const* results, int channelCount, std::int64_t frames,
                               std::uint8_t* data, double extraMargin) {
  if (frames <= 0 || channelCount <= 0) return 0;
  EncodeJob job{results, channelCount, data, kWriterRoundingMargin + extraMargin, {}};
  // Short recordings are not worth a thread.
  const int runs = RunRangesInParallel(frames, 0, kChunkFrames * 64, EncodeRange, &job);
  std::int64_t exactSamples = 0;
  for (int t = 0; t < runs; ++t) exactSamples += job.exactSamples[t];
  return exactSamples;
}
