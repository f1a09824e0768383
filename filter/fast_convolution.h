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
