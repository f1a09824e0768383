// The fast convolution engine.
//
// Why the bytes stay exact. The exact conversion turns a result value y into
// the code round(y + d + rho) (saturated to 24 bits), where d = r1 + r2 - 1
// is the sample's dither, known from its position alone, and rho is the
// conversion's own rounding error at extended precision, |rho| < 2^-29
// (proved in wave/sample_codes.cpp). This engine computes a value y' in
// double precision, in whatever order suits the vector unit, with fused
// multiply-adds where the processor has them. The exact engine would have
// computed y''. If every value within |y' - y''| of y' + d lies strictly
// between the same two half-integers, the conversion gives y' and y'' the
// same code, and the code of y' may stand. Otherwise the sample's exact value
// is computed and converted exactly.
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
// converted sum y + d + rho within B + 2^-29 + 2^-30 < B + 2^-24 of z. So when z
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
//
// Zero taps. The AVX-512 kernel runs the taps by classes of equal size and
// pads the coefficients with zeros to fill the last ones: each such tap adds
// 0 x s = +-0 to the sum for a finite s, which leaves it as it is (as
// above). Its windows reach up to 7 samples before the first sample of the
// history, which the stage holds as zeros (kStagePadding). Were one of them
// not finite, 0 x s would be a not-a-number, which fails the check and
// takes the exact path: the bytes would stay right, only slower.
//
// Interleaved channels. The pass widens frames of C channels as they stand,
// samples side by side, and the kernels run with stride C: the value of
// sample t is the sum of h[j] s[t - j C], the terms of that sample's own
// channel, frame by frame. Each output is the same dot product of at most m
// terms as before (only its place in memory differs), so the bound holds
// for it; and sample t of the chunk is output sample k0 C + t, the order of
// the dither of the output.
//
// The codes in one pass (CodesKernel). Where the vector kernels form z they
// take the dither as the integer a = (state >> 1) + (second >> 1) - 2^31,
// -2^31 <= a < 2^31, with d = a 2^-31 exactly (wave/dither.h), and compute
// z = fma(a, 2^-31, y'): the product is exact, so the one rounding is that
// of y' + d, and z is the double sum the test above takes. The nearest
// integer is taken by the shift: for |z| < 2^51, r = z + 1.5 x 2^52 (one
// rounding, to nearest even) lies in [2^52, 2^53], where the doubles are the
// integers, so r = 1.5 x 2^52 + round(z) and r - 1.5 x 2^52 = round(z)
// exactly (CodeIsSettled takes the same difference). Clamping r to
// [1.5 x 2^52 - 2^23, 1.5 x 2^52 + 2^23 - 1] (both exact doubles) gives
// 1.5 x 2^52 + c, c the clamped code; such a double's bit pattern holds
// 2^51 + c in its low 52 bits, so its low 24 bits are those of c, the bytes
// written. For z >= 2^51 (or +inf) r exceeds the upper limit, and for
// z <= -2^51 (or -inf) r <= 2^52 lies below the lower one: both are settled
// by saturation and take the limit, as the exact conversion does. A
// not-a-number fails the test and is replaced by the exact path.
#include "filter/fast_convolution.h"

// GCC 12 warns of the undefined vectors inside its own AVX-512 intrinsics
// (its bug 105593); the warning is about the header, not about this code.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#include <immintrin.h>
#pragma GCC diagnostic pop

#include <algorithm>
#include <cmath>
#include <cstring>

#include "processor/vector_level.h"
#include "wave/byte_order.h"
#include "wave/dither.h"
#include "wave/sample_codes.h"

namespace {

// The shift that leaves the nearest integer in a double's low bits, and the
// clamped range of r = z + shift (see the top).
constexpr double kShift = 0x1.8p52;
constexpr double kLowestR = kShift - 8388608.0;
constexpr double kHighestR = kShift + 8388607.0;

// The plain codes kernel: one sample at a time, the value as a plain dot
// product, the dither from one lane, the check and the code as CodeIsSettled
// takes them.
std::int64_t CodesPlain(const double* h, int m, const double* s, std::int64_t stride,
                        std::int64_t count, std::uint64_t firstSample, double margin,
                        std::uint8_t* out, std::int32_t* unsettled) {
  DitherLanes lanes;
  StartDitherLanes(firstSample, 1, 1, lanes);
  std::uint32_t state = lanes.state[0];
  std::int64_t found = 0;
  for (std::int64_t t = 0; t < count; ++t) {
    double y = 0.0;
    for (int j = 0; j < m; ++j) y += h[j] * s[t - j * stride];
    const double z = y + DitherOfLane(state, lanes.secondDraw);
    state = ApplyJump(lanes.advance, state);
    if (!CodeIsSettled(z, margin)) unsettled[found++] = static_cast<std::int32_t>(t);
    double clamped = z;
    if (!(clamped >= -8388608.0)) clamped = -8388608.0;  // also what becomes of not-a-number
    if (clamped > 8388607.0) clamped = 8388607.0;
    // Clamping to integer limits first gives the same code as rounding first.
    StoreCode24(out + 3 * t, static_cast<std::int32_t>((clamped + kShift) - kShift));
  }
  return found;
}

// The constants of the AVX2 codes kernel, and the dither lanes it carries
// from tile to tile.
struct Avx2Codes {
  __m256d shift, limit, top, bottom, lowest, highest, magnitude, scale;
  __m256i drawMultiplier, drawIncrement, advanceMultiplier, advanceIncrement, half;
};

// Eight codes, each in the low bits of a clamped r (four in `low`, four in
// `high`), as 24 bytes at `out`; writes 32.
__attribute__((target("avx2"), always_inline)) inline void StoreEightCodes(__m256d low,
                                                                           __m256d high,
                                                                           std::uint8_t* out) {
  // The low 32 bits of each: c0 c1 c4 c5 | c2 c3 c6 c7, then in order.
  const __m256i words = _mm256_permutevar8x32_epi32(
      _mm256_castps_si256(_mm256_shuffle_ps(_mm256_castpd_ps(low), _mm256_castpd_ps(high), 0x88)),
      _mm256_setr_epi32(0, 1, 4, 5, 2, 3, 6, 7));
  // Three bytes of each word: twelve at the bottom of each half, then the
  // two twelves side by side.
  const __m256i dropHigh = _mm256_setr_epi8(0, 1, 2, 4, 5, 6, 8, 9, 10, 12, 13, 14, -1, -1, -1, -1,
                                            0, 1, 2, 4, 5, 6, 8, 9, 10, 12, 13, 14, -1, -1, -1, -1);
  const __m256i packed = _mm256_permutevar8x32_epi32(_mm256_shuffle_epi8(words, dropHigh),
                                                     _mm256_setr_epi32(0, 1, 2, 4, 5, 6, 7, 7));
  _mm256_storeu_si256(reinterpret_cast<__m256i*>(out), packed);
}

// One tile of 4 x kAcc samples from t: values, dither, check, codes.
// Writes 3 x 4 x kAcc + 8 bytes at `out`; records the unsettled samples
// below `valid`.
template <int kAcc>
__attribute__((target("avx2,fma"), always_inline)) inline void CodesTileAvx2(
    const double* h, int m, const double* s, std::int64_t stride, std::int64_t t,
    std::int64_t valid, const Avx2Codes& k, __m256i* state, std::uint8_t* out,
    std::int32_t* unsettled, std::int64_t& found) {
  __m256d acc[kAcc];
#pragma GCC unroll 8
  for (int a = 0; a < kAcc; ++a) acc[a] = _mm256_setzero_pd();
  const double* p = s + t;
  for (int j = 0; j < m; ++j, p -= stride) {
    const __m256d c = _mm256_broadcast_sd(h + j);
#pragma GCC unroll 8
    for (int a = 0; a < kAcc; ++a) acc[a] = _mm256_fmadd_pd(c, _mm256_loadu_pd(p + 4 * a), acc[a]);
  }
  // z = y' + d, with d = a 2^-31 from each lane's two draws (see the top).
  __m256d z[kAcc];
#pragma GCC unroll 4
  for (int g = 0; g < kAcc / 2; ++g) {
    const __m256i second =
        _mm256_add_epi32(_mm256_mullo_epi32(state[g], k.drawMultiplier), k.drawIncrement);
    const __m256i sum = _mm256_sub_epi32(
        _mm256_add_epi32(_mm256_srli_epi32(state[g], 1), _mm256_srli_epi32(second, 1)), k.half);
    z[2 * g] =
        _mm256_fmadd_pd(_mm256_cvtepi32_pd(_mm256_castsi256_si128(sum)), k.scale, acc[2 * g]);
    z[2 * g + 1] = _mm256_fmadd_pd(_mm256_cvtepi32_pd(_mm256_extracti128_si256(sum, 1)), k.scale,
                                   acc[2 * g + 1]);
    state[g] =
        _mm256_add_epi32(_mm256_mullo_epi32(state[g], k.advanceMultiplier), k.advanceIncrement);
  }
  // The check: clear of every half-integer by the margin; saturation is
  // looked at only where some value is not.
  __m256d r[kAcc];
  __m256d clear[kAcc];
  __m256d allClear = _mm256_castsi256_pd(_mm256_set1_epi64x(-1));
#pragma GCC unroll 8
  for (int a = 0; a < kAcc; ++a) {
    r[a] = _mm256_add_pd(z[a], k.shift);
    const __m256d distance =
        _mm256_and_pd(_mm256_sub_pd(z[a], _mm256_sub_pd(r[a], k.shift)), k.magnitude);
    clear[a] = _mm256_cmp_pd(distance, k.limit, _CMP_LE_OQ);
    allClear = _mm256_and_pd(allClear, clear[a]);
  }
  if (_mm256_movemask_pd(allClear) != 0xF) {
    for (int a = 0; a < kAcc; ++a) {
      const __m256d settled =
          _mm256_or_pd(clear[a], _mm256_or_pd(_mm256_cmp_pd(z[a], k.top, _CMP_GT_OQ),
                                              _mm256_cmp_pd(z[a], k.bottom, _CMP_LT_OQ)));
      const int mask = _mm256_movemask_pd(settled);
      for (int lane = 0; lane < 4; ++lane) {
        const std::int64_t i = t + 4 * a + lane;
        if (!(mask & (1 << lane)) && i < valid) unsettled[found++] = static_cast<std::int32_t>(i);
      }
    }
  }
#pragma GCC unroll 4
  for (int a = 0; a < kAcc; a += 2) {
    StoreEightCodes(_mm256_min_pd(_mm256_max_pd(r[a], k.lowest), k.highest),
                    _mm256_min_pd(_mm256_max_pd(r[a + 1], k.lowest), k.highest), out + 12 * a);
  }
}

template <int kAcc>
__attribute__((target("avx2,fma"))) std::int64_t CodesAvx2(const double* h, int m, const double* s,
                                                           std::int64_t stride, std::int64_t count,
                                                           std::uint64_t firstSample, double margin,
                                                           std::uint8_t* out,
                                                           std::int32_t* unsettled) {
  constexpr int kTile = 4 * kAcc;
  static_assert(kTile <= kStagePadding && kTile <= DitherLanes::kMaxLanes);
  DitherLanes lanes;
  StartDitherLanes(firstSample, 1, kTile, lanes);
  Avx2Codes k;
  k.shift = _mm256_set1_pd(kShift);
  k.limit = _mm256_set1_pd(0.5 - margin);
  k.top = _mm256_set1_pd(8388608.0);
  k.bottom = _mm256_set1_pd(-8388609.0);
  k.lowest = _mm256_set1_pd(kLowestR);
  k.highest = _mm256_set1_pd(kHighestR);
  k.magnitude = _mm256_castsi256_pd(_mm256_set1_epi64x(0x7FFFFFFFFFFFFFFFll));
  k.scale = _mm256_set1_pd(0x1p-31);
  k.drawMultiplier = _mm256_set1_epi32(static_cast<int>(lanes.secondDraw.multiplier));
  k.drawIncrement = _mm256_set1_epi32(static_cast<int>(lanes.secondDraw.increment));
  k.advanceMultiplier = _mm256_set1_epi32(static_cast<int>(lanes.advance.multiplier));
  k.advanceIncrement = _mm256_set1_epi32(static_cast<int>(lanes.advance.increment));
  k.half = _mm256_set1_epi32(static_cast<int>(0x80000000u));
  __m256i state[kAcc / 2];
  for (int g = 0; g < kAcc / 2; ++g) {
    state[g] = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(lanes.state + 8 * g));
  }
  std::int64_t found = 0;
  std::int64_t t = 0;
  // Every tile but the last writes straight into `out`: the 8 bytes it
  // writes past itself are the next tile's.
  for (; t + kTile < count; t += kTile) {
    CodesTileAvx2<kAcc>(h, m, s, stride, t, count, k, state, out + 3 * t, unsettled, found);
  }
  if (t < count) {
    std::uint8_t last[3 * kTile + 8];
    CodesTileAvx2<kAcc>(h, m, s, stride, t, count, k, state, last, unsettled, found);
    std::memcpy(out + 3 * t, last, static_cast<std::size_t>(3 * (count - t)));
  }
  return found;
}

// The same at AVX-512: eight samples a vector, sixteen dither lanes.
struct Avx512Codes {
  __m512d shift, limit, top, bottom, lowest, highest, scale;
  __m512i drawMultiplier, drawIncrement, advanceMultiplier, advanceIncrement, half;
  const double* taps;  // the coefficients padded with zeros, for the taps by classes
};

// Eight codes in the low bits of a clamped r as 24 bytes at `out`; writes 32.
__attribute__((target("avx512f,avx2"), always_inline)) inline void StoreEightCodes512(
    __m512d r, std::uint8_t* out) {
  const __m256i words = _mm512_cvtepi64_epi32(_mm512_castpd_si512(r));
  const __m256i dropHigh = _mm256_setr_epi8(0, 1, 2, 4, 5, 6, 8, 9, 10, 12, 13, 14, -1, -1, -1, -1,
                                            0, 1, 2, 4, 5, 6, 8, 9, 10, 12, 13, 14, -1, -1, -1, -1);
  const __m256i packed = _mm256_permutevar8x32_epi32(_mm256_shuffle_epi8(words, dropHigh),
                                                     _mm256_setr_epi32(0, 1, 2, 4, 5, 6, 7, 7));
  _mm256_storeu_si256(reinterpret_cast<__m256i*>(out), packed);
}

// One tile of 8 x kAcc samples from t, as CodesTileAvx2. With kTaps = 0 the
// taps run one after another, each over windows that start wherever the tap
// puts them (most of them across a cache line). With kTaps > 0 the stride C
// divides 8 and the taps run by classes: tap j = r + (8 / C) i moves the
// window of class r by i whole vectors, so one window per vector serves
// every tap of the class (kAcc + kTaps - 1 loads instead of kAcc a tap);
// k.taps holds h padded with zeros to 8 / C x kTaps taps (see the top).
template <int kAcc, int kTaps>
__attribute__((target("avx512f,avx2,fma"), always_inline)) inline void CodesTileAvx512(
    const double* h, int m, const double* s, std::int64_t stride, std::int64_t t,
    std::int64_t valid, const Avx512Codes& k, __m512i* state, std::uint8_t* out,
    std::int32_t* unsettled, std::int64_t& found) {
  __m512d acc[kAcc];
#pragma GCC unroll 8
  for (int a = 0; a < kAcc; ++a) acc[a] = _mm512_setzero_pd();
  if constexpr (kTaps == 0) {
    const double* p = s + t;
    for (int j = 0; j < m; ++j, p -= stride) {
      const __m512d c = _mm512_set1_pd(h[j]);
#pragma GCC unroll 8
      for (int a = 0; a < kAcc; ++a)
        acc[a] = _mm512_fmadd_pd(c, _mm512_loadu_pd(p + 8 * a), acc[a]);
    }
  } else {
    const int classes = static_cast<int>(8 / stride);
#pragma GCC unroll 1
    for (int r = 0; r < classes; ++r) {
      // windows[q] starts at sample t - C r + 8 (q - kTaps + 1).
      const double* first = s + t - stride * r - 8 * (kTaps - 1);
      __m512d windows[kAcc + kTaps - 1];
#pragma GCC unroll 16
      for (int q = 0; q < kAcc + kTaps - 1; ++q) windows[q] = _mm512_loadu_pd(first + 8 * q);
#pragma GCC unroll 8
      for (int i = 0; i < kTaps; ++i) {
        const __m512d c = _mm512_set1_pd(k.taps[r + classes * i]);
#pragma GCC unroll 8
        for (int a = 0; a < kAcc; ++a)
          acc[a] = _mm512_fmadd_pd(c, windows[a - i + kTaps - 1], acc[a]);
      }
    }
  }
  __m512d z[kAcc];
#pragma GCC unroll 4
  for (int g = 0; g < kAcc / 2; ++g) {
    const __m512i second =
        _mm512_add_epi32(_mm512_mullo_epi32(state[g], k.drawMultiplier), k.drawIncrement);
    const __m512i sum = _mm512_sub_epi32(
        _mm512_add_epi32(_mm512_srli_epi32(state[g], 1), _mm512_srli_epi32(second, 1)), k.half);
    z[2 * g] =
        _mm512_fmadd_pd(_mm512_cvtepi32_pd(_mm512_castsi512_si256(sum)), k.scale, acc[2 * g]);
    z[2 * g + 1] = _mm512_fmadd_pd(_mm512_cvtepi32_pd(_mm512_extracti64x4_epi64(sum, 1)), k.scale,
                                   acc[2 * g + 1]);
    state[g] =
        _mm512_add_epi32(_mm512_mullo_epi32(state[g], k.advanceMultiplier), k.advanceIncrement);
  }
  __m512d r[kAcc];
  __mmask8 clear[kAcc];
  __mmask8 allClear = 0xFF;
#pragma GCC unroll 8
  for (int a = 0; a < kAcc; ++a) {
    r[a] = _mm512_add_pd(z[a], k.shift);
    const __m512d distance = _mm512_abs_pd(_mm512_sub_pd(z[a], _mm512_sub_pd(r[a], k.shift)));
    clear[a] = _mm512_cmp_pd_mask(distance, k.limit, _CMP_LE_OQ);
    allClear = static_cast<__mmask8>(allClear & clear[a]);
  }
  if (allClear != 0xFF) {
    for (int a = 0; a < kAcc; ++a) {
      const unsigned settled = clear[a] | _mm512_cmp_pd_mask(z[a], k.top, _CMP_GT_OQ) |
                               _mm512_cmp_pd_mask(z[a], k.bottom, _CMP_LT_OQ);
      for (int lane = 0; lane < 8; ++lane) {
        const std::int64_t i = t + 8 * a + lane;
        if (!(settled & (1u << lane)) && i < valid)
          unsettled[found++] = static_cast<std::int32_t>(i);
      }
    }
  }
#pragma GCC unroll 8
  for (int a = 0; a < kAcc; ++a) {
    StoreEightCodes512(_mm512_min_pd(_mm512_max_pd(r[a], k.lowest), k.highest), out + 24 * a);
  }
}

template <int kTaps>
__attribute__((target("avx512f,avx2,fma"))) std::int64_t CodesLoopAvx512(
    const double* h, int m, const double* s, std::int64_t stride, std::int64_t count,
    std::uint64_t firstSample, double margin, const double* taps, std::uint8_t* out,
    std::int32_t* unsettled) {
  constexpr int kAcc = 8;
  constexpr int kTile = 8 * kAcc;
  static_assert(kTile <= kStagePadding && kTile <= DitherLanes::kMaxLanes);
  DitherLanes lanes;
  StartDitherLanes(firstSample, 1, kTile, lanes);
  Avx512Codes k;
  k.shift = _mm512_set1_pd(kShift);
  k.limit = _mm512_set1_pd(0.5 - margin);
  k.top = _mm512_set1_pd(8388608.0);
  k.bottom = _mm512_set1_pd(-8388609.0);
  k.lowest = _mm512_set1_pd(kLowestR);
  k.highest = _mm512_set1_pd(kHighestR);
  k.scale = _mm512_set1_pd(0x1p-31);
  k.drawMultiplier = _mm512_set1_epi32(static_cast<int>(lanes.secondDraw.multiplier));
  k.drawIncrement = _mm512_set1_epi32(static_cast<int>(lanes.secondDraw.increment));
  k.advanceMultiplier = _mm512_set1_epi32(static_cast<int>(lanes.advance.multiplier));
  k.advanceIncrement = _mm512_set1_epi32(static_cast<int>(lanes.advance.increment));
  k.half = _mm512_set1_epi32(static_cast<int>(0x80000000u));
  k.taps = taps;
  __m512i state[kAcc / 2];
  for (int g = 0; g < kAcc / 2; ++g) state[g] = _mm512_loadu_si512(lanes.state + 16 * g);
  std::int64_t found = 0;
  std::int64_t t = 0;
  for (; t + kTile < count; t += kTile) {
    CodesTileAvx512<kAcc, kTaps>(h, m, s, stride, t, count, k, state, out + 3 * t, unsettled,
                                 found);
  }
  if (t < count) {
    std::uint8_t last[3 * kTile + 8];
    CodesTileAvx512<kAcc, kTaps>(h, m, s, stride, t, count, k, state, last, unsettled, found);
    std::memcpy(out + 3 * t, last, static_cast<std::size_t>(3 * (count - t)));
  }
  return found;
}

// The taps by classes where the stride divides 8 and each class has at most
// eight taps (m <= 64 for mono, 32 for stereo): the windows and the
// accumulators then stay in the 32 vector registers. Otherwise tap by tap.
std::int64_t CodesAvx512(const double* h, int m, const double* s, std::int64_t stride,
                         std::int64_t count, std::uint64_t firstSample, double margin,
                         std::uint8_t* out, std::int32_t* unsettled) {
  constexpr int kMostTaps = 8;
  const int classes = stride <= 8 && 8 % stride == 0 ? static_cast<int>(8 / stride) : 0;
  const int taps = classes > 0 ? (m + classes - 1) / classes : 0;
  double padded[8 * kMostTaps] = {};
  if (classes > 0 && taps <= kMostTaps) std::copy(h, h + m, padded);
  auto run = [&](auto loop) {
    return loop(h, m, s, stride, count, firstSample, margin, padded, out, unsettled);
  };
  switch (classes > 0 ? taps : 0) {
    case 1:
      return run(CodesLoopAvx512<1>);
    case 2:
      return run(CodesLoopAvx512<2>);
    case 3:
      return run(CodesLoopAvx512<3>);
    case 4:
      return run(CodesLoopAvx512<4>);
    case 5:
      return run(CodesLoopAvx512<5>);
    case 6:
      return run(CodesLoopAvx512<6>);
    case 7:
      return run(CodesLoopAvx512<7>);
    case 8:
      return run(CodesLoopAvx512<8>);
    default:
      return run(CodesLoopAvx512<0>);
  }
}

CodesKernel ChooseCodesKernel() {
  switch (ActiveVectorLevel()) {
    case VectorLevel::kAvx512:
      return CodesAvx512;
    case VectorLevel::kAvx2:
      return CodesAvx2<8>;
    case VectorLevel::kPlain:
      break;
  }
  return CodesPlain;
}

// The exact engine's value of output k from samples s, s[(i - first) x
// stride] being x[i] (the input itself with first = 0 and stride 1, or
// samples widened from a block): only the terms of real frames, in
// ascending order (see the top).
template <typename Sample>
double ExactSum(const double* h, int m, const Sample* s, std::int64_t stride, std::int64_t first,
                std::int64_t n, std::int64_t k) {
  const std::int64_t from = std::max<std::int64_t>(0, k - m + 1);
  const std::int64_t to = std::min<std::int64_t>(k, n - 1);
  double value = 0.0;
  for (std::int64_t i = from; i <= to; ++i) {
    const long double product =
        static_cast<long double>(h[k - i]) * static_cast<long double>(s[(i - first) * stride]);
    value = static_cast<double>(product + static_cast<long double>(value));
  }
  return value;
}

}  // namespace

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
  filter.margin = filter.bound + kConversionMargin + extraMargin;
  filter.codes = ChooseCodesKernel();
  return filter;
}

std::int64_t FilterInterleavedChunk(const FastFilter& filter, int channelCount, const double* stage,
                                    std::int64_t k0, std::int64_t frames, std::int32_t* unsettled,
                                    std::uint8_t* out) {
  const int m = filter.m;
  const std::int64_t stride = channelCount;
  const std::int64_t count = frames * stride;
  const std::uint64_t firstSample =
      static_cast<std::uint64_t>(k0) * static_cast<std::uint64_t>(stride);
  std::int64_t found = 0;
  if (filter.bound < 0) {
    // Not a filter the bound can vouch for: every sample exactly.
    for (std::int64_t t = 0; t < count; ++t) unsettled[found++] = static_cast<std::int32_t>(t);
  } else {
    found = filter.codes(filter.h, m, stage + (m - 1) * stride, stride, count, firstSample,
                         filter.margin, out, unsettled);
  }
  // The others: the exact value of the sample's own channel, converted
  // exactly with the generator at the sample's own state.
  for (std::int64_t u = 0; u < found; ++u) {
    const std::int64_t t = unsettled[u];
    const std::int64_t frame = k0 + t / stride;
    const double value =
        ExactSum(filter.h, m, stage + t % stride, stride, k0 - m + 1, filter.inputFrames, frame);
    DitherGenerator generator = GeneratorAtSample(firstSample + static_cast<std::uint64_t>(t));
    StoreCode24(out + 3 * t, ConvertSample(value, generator));
  }
  return found;
}
