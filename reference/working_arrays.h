// The working memory of the whole-recording reference procedure: the raw
// sample block, the impulse response and one input and one result array per
// channel, some 15 bytes a sample. The program streams instead
// (filter/filter_pass.h); the tests and the benchmarks hold its output
// against this reference, which only they link.
#pragma once

#include <cstdint>
#include <string>

#include "system/memory.h"
#include "wave/byte_order.h"
#include "wave/wave_format.h"

struct WorkingArrays {
  std::int64_t resultLength = 0;  // ResultLength = N + M - 1
  // RawSampleBlock: the 3 x N x C bytes of sample data; sized to hold the
  // output file image too, which the writer builds in it afterwards.
  Buffer<std::uint8_t> rawSampleBlock;
  Buffer<double> impulseResponse;   // ImpulseResponse: M coefficients
  Buffer<std::int32_t> monoInput;   // MonoInput (C = 1)
  Buffer<double> monoResult;        // MonoResult (C = 1)
  Buffer<std::int32_t> leftInput;   // LeftInput (C = 2)
  Buffer<double> leftResult;        // LeftResult (C = 2)
  Buffer<std::int32_t> rightInput;  // RightInput (C = 2)
  Buffer<double> rightResult;       // RightResult (C = 2)
};

// Bytes the reference procedure needs at its peak for N frames of C
// channels and M taps.
std::int64_t WorkingMemoryNeeded(std::int64_t sampleCount, int channelCount, int coefficientCount);

// Allocates every working array in order. When the memory the system reports
// available cannot hold the job, or an allocation is refused: nothing
// allocated, false.
bool AllocateWorkingArrays(const WaveFormat& format, int coefficientCount, WorkingArrays& arrays);

// Reads the sample data in one piece from format.dataOffset into the raw
// block (bytes missing at the end of the file read as zero) and decodes it
// into the input arrays. The raw block stays, for the output image.
void LoadInputSamples(const std::string& inputFileName, const WaveFormat& format,
                      WorkingArrays& arrays);

// The two halves of LoadInputSamples, for measuring them apart.
void ReadSampleData(const std::string& inputFileName, const WaveFormat& format,
                    WorkingArrays& arrays);
void DecodeSampleData(const WaveFormat& format, WorkingArrays& arrays);
