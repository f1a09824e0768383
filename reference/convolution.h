// The exact convolution engine, plain on purpose, and the whole-recording
// reference procedure built on it: what the streaming pass is held against.
#pragma once

#include <cstdint>
#include <string>

#include "reference/working_arrays.h"
#include "wave/wave_format.h"

// Scatter form, exactly as the reference defines it: for i ascending, for j
// ascending, result[i + j] = double(long double(h[j]) * x[i] + result[i + j]),
// product and sum each at extended precision. `result` holds n + m - 1
// elements on entry (zeros for a plain run).
void ConvolveChannelExact(const double* h, int m, const std::int32_t* x, std::int64_t n,
                          double* result);

// The reference procedure's convolution step: convolves every channel into its
// result array by ConvolveChannelExact, then releases the input arrays and
// the impulse response.
void ConvolveChannels(const WaveFormat& format, int coefficientCount, WorkingArrays& arrays);

// The whole-recording reference procedure: every working array allocated,
// the samples loaded, each channel convolved in scatter form, then every
// sample converted by the exact conversion behind the header, into `image`.
// It holds some 15 bytes a sample, so the job streams instead
// (filter_pass.h); tests and the benchmark compare the job's bytes with
// these. False when the memory is refused.
bool BuildReferenceOutput(const std::string& inputFileName, const WaveFormat& format,
                          const double* h, int m, Buffer<std::uint8_t>& image);
