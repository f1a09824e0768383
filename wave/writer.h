// The output writer: filtered values to dithered 24-bit samples, exactly and
// a vector at a time, and the output file image of the reference procedure.
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

// The generator as it stands before the two draws of output sample `sample`
// (frame x channels + channel), counted from the program's start.
DitherGenerator GeneratorAtSample(std::uint64_t sample);

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

// The code of every value whose dithered sum z = y[i] + d[i] is settled
// (CodeIsSettled(z, margin)): round(z), ties to even, clamped to
// -8388608 .. 8388607, in codes[i]; the other indices, in ascending order,
// in `unsettled` (their codes must come from ConvertSample). Returns how
// many are unsettled.
std::int64_t RoundSettledCodes(const double* y, const double* d, std::int64_t count, double margin,
                               std::int32_t* codes, std::int64_t* unsettled);

// One chunk of EncodeSamplesFast: the codes of `count` (at most kChunkFrames)
// values y of one channel, samples firstSample + i x channelCount of the
// output, whose dither offsets `dither` holds (FillDitherOffsets), each the
// rounded y + d unless CodeIsSettled(y + d, margin) fails, when ConvertSample
// gives it. Stored as 3-byte records 3 x channelCount bytes apart from
// `out`. Returns how many were converted the exact way.
std::int64_t EncodeChunk(const double* y, const double* dither, std::int64_t count, double margin,
                         std::uint64_t firstSample, int channelCount, std::uint8_t* out);

// The reference procedure's output file image, in memory: header, every
// sample converted in order by ConvertSample, and the pad byte after data of
// odd length. The raw sample block's memory is taken over when it is large
// enough. False when no memory can be had for it.
bool BuildOutputImage(const WaveFormat& format, WorkingArrays& arrays, DitherGenerator& generator,
                      Buffer<std::uint8_t>& image);
