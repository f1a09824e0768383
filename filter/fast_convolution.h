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

// Fast values y[0 .. count) of the outputs k0 .. k0 + count - 1 from widened
// samples s, s[t] = x[k0 + t], readable from s[-(m - 1)] on.
using FastKernel = void (*)(const double* h, int m, const double* s, std::int64_t count, double* y);

// A filter made ready for the fast engine: the kernel of the active vector
// level and the margin of the check.
struct FastFilter {
  const double* h = nullptr;
  int m = 0;
  std::int64_t inputFrames = 0;  // n: frames of the signal; the rest are zeros
  double bound = -1.0;           // FastConvolutionBound; negative: every element exactly
  double margin = 0.0;           // bound + the writer's margin + any extra
  FastKernel kernel = nullptr;
};

FastFilter PrepareFastFilter(const double* h, int m, std::int64_t n, double extraMargin = 0.0);

// One chunk of one channel: y[t] for the outputs k0 + t, t < count (at most
// kChunkFrames), from `stage`, the samples x[k0 - m + 1 .. k0 + count - 1]
// widened to doubles with zeros for frames outside 0 .. n - 1. Each is the
// fast value where CodeIsSettled(y + dither[t], margin) holds, otherwise the
// exact engine's value. Returns how many are exact values.
std::int64_t FilterChunk(const FastFilter& filter, const double* stage, std::int64_t k0,
                         std::int64_t count, const double* dither, double* y);

// The same chunk taken on to its output codes: codes[t] is the writer's code
// of output k0 + t, which is sample firstSample + t x channelCount of the
// output (`dither` holds their offsets). Settled fast values are rounded;
// every other one is the exact value through the exact conversion. Returns
// how many took that exact path.
std::int64_t FilterChunkCodes(const FastFilter& filter, const double* stage, std::int64_t k0,
                              std::int64_t count, const double* dither, std::uint64_t firstSample,
                              int channelCount, std::int32_t* codes);

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
