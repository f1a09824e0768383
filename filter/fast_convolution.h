// The fast convolution engine: double-precision SIMD dot products, checked
// sample by sample against the writer's rounding so that every output code is
// the one the exact extended-precision engine would give.
#pragma once

#include <cstdint>

// How the fast engine ran on one channel.
struct FastConvolutionReport {
  bool applied = false;           // false: the coefficients ruled it out, the exact engine ran
  std::int64_t exactSamples = 0;  // samples recomputed exactly because they lay near a boundary
};

// The largest difference between this engine's value and the exact engine's
// value of any result element, for these coefficients and 24-bit inputs; a
// negative value when the fast engine cannot be used (non-finite or enormous
// coefficients).
double FastConvolutionBound(const double* h, int m);

// Fast values y[t] = sum over j of h[j] s[t - j x stride], t < count, from
// widened samples s readable from s[-(m - 1) x stride] on: the outputs of one
// channel (stride 1), or of interleaved channels taken together (stride C:
// the samples of frame k's channels stand side by side, and so do its
// outputs).
using FastKernel = void (*)(const double* h, int m, const double* s, std::int64_t stride,
                            std::int64_t count, double* y);

// The fast values as above taken on to 24-bit codes in one pass: sample t
// is output sample firstSample + t, dithered by its own draws; where
// CodeIsSettled(y[t] + d, margin) holds, its code (round(y + d), clamped)
// goes to bytes 3t .. 3t + 2 of `out`; the other indices t go, in ascending
// order, to `unsettled` (their bytes are left to the caller), and their
// number is returned. Writes exactly 3 x count bytes; reads s from
// s[-(m - 1) x stride - kStagePadding] (the doubles before the first
// sample must be finite: zero taps meet them) to s[count - 1 + kStagePadding].
using CodesKernel = std::int64_t (*)(const double* h, int m, const double* s, std::int64_t stride,
                                     std::int64_t count, std::uint64_t firstSample, double margin,
                                     std::uint8_t* out, std::int32_t* unsettled);

// Doubles that a CodesKernel may read past the last sample it codes (its
// last vector tile runs whole) and before the first sample of the history
// (the zero taps that fill its classes of taps).
constexpr std::int64_t kStagePadding = 64;

// A filter made ready for the fast engine: the kernels of the active vector
// level and the margin of the check.
struct FastFilter {
  const double* h = nullptr;
  int m = 0;
  std::int64_t inputFrames = 0;  // n: frames of the signal; the rest are zeros
  double bound = -1.0;           // FastConvolutionBound; negative: every element exactly
  double margin = 0.0;           // bound + the writer's margin + any extra
  FastKernel kernel = nullptr;
  CodesKernel codes = nullptr;
};

FastFilter PrepareFastFilter(const double* h, int m, std::int64_t n, double extraMargin = 0.0);

// One chunk of one channel: y[t] for the outputs k0 + t, t < count (at most
// kChunkFrames), from `stage`, the samples x[k0 - m + 1 .. k0 + count - 1]
// widened to doubles with zeros for frames outside 0 .. n - 1. Each is the
// fast value where CodeIsSettled(y + dither[t], margin) holds, otherwise the
// exact engine's value. Returns how many are exact values.
std::int64_t FilterChunk(const FastFilter& filter, const double* stage, std::int64_t k0,
                         std::int64_t count, const double* dither, double* y);

// One chunk of the streaming pass: the output bytes of frames k0 .. k0 +
// frames - 1 of C = channelCount interleaved channels (3 x C bytes a frame)
// in `out`, from `stage`, the samples of frames k0 - m + 1 .. k0 + frames - 1
// widened to doubles, interleaved, zeros for frames outside 0 .. n - 1, with
// kStagePadding finite doubles before them and kStagePadding readable
// doubles after them. Each sample's code is the
// writer's code of the exact engine's value: the fast code where it is
// settled, otherwise the exact value through the exact conversion (the
// generator at the sample's own state). `unsettled` holds C x frames
// indices of scratch. Returns how many samples took the exact path.
std::int64_t FilterInterleavedChunk(const FastFilter& filter, int channelCount, const double* stage,
                                    std::int64_t k0, std::int64_t frames, std::int32_t* unsettled,
                                    std::uint8_t* out);

// Fills result[0 .. n+m-2] for one channel. Where the fast value could round
// to another output code than the exact value, the exact value is stored
// instead. `channel` and `channelCount` place the channel in the output's
// dither sequence (sample index = frame x channelCount + channel).
// `extraMargin` widens the safety margin (tests use it to force the exact
// path); 0 in the job. Results do not depend on `threads` (0 = automatic).
FastConvolutionReport ConvolveChannelFast(const double* h, int m, const std::int32_t* x,
                                          std::int64_t n, double* result, int channel,
                                          int channelCount, double extraMargin = 0.0,
                                          int threads = 0);

// The exact engine's value of one result element: the terms h[k-i] * x[i]
// added in ascending order of i, each update formed at extended precision and
// stored as a double.
double ExactResultElement(const double* h, int m, const std::int32_t* x, std::int64_t n,
                          std::int64_t k);
