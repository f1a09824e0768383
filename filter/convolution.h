// The convolution engine: direct linear convolution in the time domain.
#pragma once

#include <cstdint>

#include "wave/wave_format.h"
#include "wave/working_arrays.h"

// Scatter form, exactly as the reference defines it: for i ascending, for j
// ascending, result[i + j] = double(long double(h[j]) * x[i] + result[i + j]),
// product and sum each at extended precision. `result` holds n + m - 1
// elements on entry (zeros for a plain run).
void ConvolveChannelExact(const double* h, int m, const std::int32_t* x, std::int64_t n,
                          double* result);

// The job step: convolves every channel into its result array, then releases
// the input arrays and the impulse response.
void ConvolveChannels(const WaveFormat& format, int coefficientCount, WorkingArrays& arrays);
