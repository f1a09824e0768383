// The fast convolution engine: double-precision SIMD dot products taken on to
// 24-bit codes, checked sample by sample against the exact conversion's
// rounding, so that every output code is the one the exact extended-precision
// engine would give; the exact path for every sample the check cannot vouch
// for.
#pragma once

#include <cstdint>

// Outputs handled together: their samples, values and codes stay in the
// first-level cache.
constexpr std::int64_t kChunkFrames = 1024;

// The largest difference between this engine's value and the exact engine's
// value of any result element, for these coefficients and 24-bit inputs; a
// negative value when the fast engine cannot be used (non-finite or enormous
// coefficients).
double FastConvolutionBound(const double* h, int m);

// The fast values y[t] = sum over j of h[j] s[t - j x stride], t < count,
// from widened samples s (interleaved channels taken together: stride C, the
// samples of frame k's channels side by side, and so its outputs), taken on
// to 24-bit codes in one pass: sample t is output sample firstSample + t,
// dithered by its own draws; where CodeIsSettled(y[t] + d, margin) holds, its
// code (round(y + d), clamped) goes to bytes 3t .. 3t + 2 of `out`; the other
// indices t go, in ascending order, to `unsettled` (their bytes are left to
// the caller), and their number is returned. Writes exactly 3 x count bytes;
// reads s from s[-(m - 1) x stride - kStagePadding] (the doubles before the
// first sample must be finite: zero taps meet them) to
// s[count - 1 + kStagePadding].
using CodesKernel = std::int64_t (*)(const double* h, int m, const double* s, std::int64_t stride,
                                     std::int64_t count, std::uint64_t firstSample, double margin,
                                     std::uint8_t* out, std::int32_t* unsettled);

// Doubles that a CodesKernel may read past the last sample it codes (its
// last vector tile runs whole) and before the first sample of the history
// (the zero taps that fill its classes of taps).
constexpr std::int64_t kStagePadding = 64;

// A filter made ready for the fast engine: the kernel of the active vector
// level and the margin of the check.
struct FastFilter {
  const double* h = nullptr;
  int m = 0;
  std::int64_t inputFrames = 0;  // n: frames of the signal; the rest are zeros
  double bound = -1.0;           // FastConvolutionBound; negative: every element exactly
  double margin = 0.0;           // bound + the conversion's margin + any extra
  CodesKernel codes = nullptr;
};

FastFilter PrepareFastFilter(const double* h, int m, std::int64_t n, double extraMargin = 0.0);

// One chunk of the streaming pass: the output bytes of frames k0 .. k0 +
// frames - 1 of C = channelCount interleaved channels (3 x C bytes a frame)
// in `out`, from `stage`, the samples of frames k0 - m + 1 .. k0 + frames - 1
// widened to doubles, interleaved, zeros for frames outside 0 .. n - 1, with
// kStagePadding finite doubles before them and kStagePadding readable
// doubles after them. Each sample's code is the exact conversion's code of
// the exact engine's value: the fast code where it is settled, otherwise the
// exact value through the exact conversion (the generator at the sample's
// own state). `unsettled` holds C x frames indices of scratch. Returns how
// many samples took the exact path.
std::int64_t FilterInterleavedChunk(const FastFilter& filter, int channelCount, const double* stage,
                                    std::int64_t k0, std::int64_t frames, std::int32_t* unsettled,
                                    std::uint8_t* out);
