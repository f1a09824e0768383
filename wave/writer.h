// The output writer: dithered 24-bit samples behind a 44-byte header.
#pragma once

#include <cstdint>
#include <string>

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

// The 44-byte output header for `resultLength` frames.
void BuildOutputHeader(const WaveFormat& format, std::int64_t resultLength,
                       std::uint8_t (&header)[kWaveHeaderSize]);

// Writes the output file whole: header and data to a temporary file in the
// same folder, renamed over `outputFileName` only when every byte is written.
// On failure: Beep, the "could not be written" box, the temporary file
// removed, any existing file untouched, false.
bool WriteOutputFile(const std::string& outputFileName, const WaveFormat& format,
                     const WorkingArrays& arrays, DitherGenerator& generator);
