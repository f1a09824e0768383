// The reference procedure's output: every result value converted in order
// by the exact conversion, behind the header, in memory.
#pragma once

#include <cstdint>

#include "reference/working_arrays.h"
#include "system/memory.h"
#include "wave/dither.h"
#include "wave/wave_format.h"

// The data image of `frames` frames of `channelCount` result arrays: 3 bytes a
// sample, frames in order, channels interleaved, each sample converted by
// ConvertSample with the generator's draws in that order.
void EncodeSamplesExact(const double* const* results, int channelCount, std::int64_t frames,
                        DitherGenerator& generator, std::uint8_t* data);

// The output file image: header, every sample converted in order by
// ConvertSample, and the pad byte after data of odd length. The raw sample
// block's memory is taken over when it is large enough. False when no memory
// can be had for it.
bool BuildOutputImage(const WaveFormat& format, WorkingArrays& arrays, DitherGenerator& generator,
                      Buffer<std::uint8_t>& image);
