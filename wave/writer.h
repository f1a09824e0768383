// The output writer: dithered 24-bit samples behind a 44-byte header.
#pragma once

#include <cstdint>
#include <string>

#include "wave/output_header.h"
#include "wave/wave_format.h"
#include "wave/working_arrays.h"

// The dither generator: a 32-bit linear congruential state, FFFFFFFF when the
// program starts and never reseeded. Each draw advances the state and yields
// (state >> 1) / 2^31, uniform on [0, 1).
struct DitherGenerator {
  std::uint32_t state = 0xFFFFFFFFu;
};
double DrawDither(DitherGenerator& generator);

// The 24-bit code of one filtered value: round(y + r1 + r2 - 1) carried at
// extended precision, saturated to -8388608 .. 8388607; not-a-number gives 0.
std::int32_t ConvertSample(double y, DitherGenerator& generator);

// The data image of `frames` frames of `channelCount` result arrays: 3 bytes a
// sample, frames in order, channels interleaved, each sample converted by
// ConvertSample with the generator's draws in that order.
void EncodeSamplesExact(const double* const* results, int channelCount, std::int64_t frames,
                        DitherGenerator& generator, std::uint8_t* data);

// The same bytes as EncodeSamplesExact from the generator's start state,
// computed a vector at a time: the exact conversion runs only for samples
// whose value lies near a rounding boundary. Returns how many did.
// `extraMargin` widens that neighbourhood (tests use it to force the exact
// conversion everywhere).
std::int64_t EncodeSamplesFast(const double* const* results, int channelCount, std::int64_t frames,
                               std::uint8_t* data, double extraMargin = 0.0);

// Writes the output file whole: header and data to a temporary file in the
// same folder, renamed over `outputFileName` only when every byte is written.
// The image is built in the raw sample block's memory when it is large
// enough (the block is taken over and released).
// On failure: Beep, the "could not be written" box, the temporary file
// removed, any existing file untouched, false.
bool WriteOutputFile(const std::string& outputFileName, const WaveFormat& format,
                     WorkingArrays& arrays, DitherGenerator& generator);

// The two halves of WriteOutputFile, for measuring them apart: the file image
// (header, dithered samples, pad byte) in memory, and the replacing write of
// it, neither of which shows anything.
bool BuildOutputImage(const WaveFormat& format, WorkingArrays& arrays, DitherGenerator& generator,
                      Buffer<std::uint8_t>& image);
bool WriteOutputImage(const std::string& outputFileName, const Buffer<std::uint8_t>& image);
