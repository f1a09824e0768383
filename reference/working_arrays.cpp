#include "reference/working_arrays.h"

#include <limits>

#include "system/files.h"
#include "system/memory.h"
#include "wave/output_header.h"

namespace {

void ReleaseAll(WorkingArrays& arrays) {
  arrays.rawSampleBlock.Release();
  arrays.impulseResponse.Release();
  arrays.monoInput.Release();
  arrays.monoResult.Release();
  arrays.leftInput.Release();
  arrays.leftResult.Release();
  arrays.rightInput.Release();
  arrays.rightResult.Release();
  arrays.resultLength = 0;
}

}  // namespace

// The raw block holds the sample data first and the output image later.
std::int64_t RawBlockBytes(std::int64_t sampleCount, int channelCount, std::int64_t resultLength) {
  const std::int64_t sampleBytes = 3 * sampleCount * channelCount;
  const std::int64_t imageBytes = OutputFileBytes(channelCount, resultLength);
  return sampleBytes > imageBytes ? sampleBytes : imageBytes;
}

std::int64_t WorkingMemoryNeeded(std::int64_t sampleCount, int channelCount, int coefficientCount) {
  // No recording comes near this many frames (a data size is 32-bit); beyond
  // it the sums below could overflow.
  constexpr std::int64_t kMaxFrames = std::int64_t{1} << 48;
  if (sampleCount > kMaxFrames) return std::numeric_limits<std::int64_t>::max();
  const std::int64_t n = sampleCount > 0 ? sampleCount : 0;
  const int c = channelCount > 0 ? channelCount : 0;
  const std::int64_t m = coefficientCount > 0 ? coefficientCount : 0;
  const std::int64_t resultLength = n + m - 1 > 0 ? n + m - 1 : 0;
  // Only mono and stereo jobs have per-channel arrays.
  const std::int64_t arrayChannels = (c == 1 || c == 2) ? c : 0;
  // Everything is allocated at once and the writer needs nothing more: the
  // raw block (which later holds the output image), inputs, results and
  // coefficients.
  return RawBlockBytes(n, c, resultLength) + 4 * n * arrayChannels +
         8 * arrayChannels * resultLength + 8 * m;
}

bool AllocateWorkingArrays(const WaveFormat& format, int coefficientCount, WorkingArrays& arrays) {
  const std::int64_t n = format.sampleCount;
  const int c = format.channelCount;
  const std::int64_t m = coefficientCount;
  bool ok = n >= 0 && m >= 0 && MemoryIsAvailable(WorkingMemoryNeeded(n, c, coefficientCount));
  if (ok) {
    arrays.resultLength = n + m - 1 > 0 ? n + m - 1 : 0;
    ok = arrays.rawSampleBlock.Allocate(RawBlockBytes(n, c, arrays.resultLength)) &&
         arrays.impulseResponse.Allocate(m);
  }
  if (ok && c == 1) {
    ok = arrays.monoInput.Allocate(n) && arrays.monoResult.Allocate(arrays.resultLength);
  } else if (ok && c == 2) {
    ok = arrays.leftInput.Allocate(n) && arrays.leftResult.Allocate(arrays.resultLength) &&
         arrays.rightInput.Allocate(n) && arrays.rightResult.Allocate(arrays.resultLength);
  }
  if (!ok) ReleaseAll(arrays);
  return ok;
}

void ReadSampleData(const std::string& inputFileName, const WaveFormat& format,
                    WorkingArrays& arrays) {
  std::int64_t rawBytes = 3 * format.sampleCount * format.channelCount;
  if (rawBytes > arrays.rawSampleBlock.size()) rawBytes = arrays.rawSampleBlock.size();
  // The data ends with its chunk: what follows is no sample.
  if (format.dataSize < static_cast<std::uint64_t>(rawBytes))
    rawBytes = static_cast<std::int64_t>(format.dataSize);
  if (rawBytes <= 0) return;
  // One read of the whole data section from where the samples start.
  // Whatever the file does not hold stays zero.
  const FileHandle input = OpenFileForReading(inputFileName);
  ReadFileAt(input, format.dataOffset, arrays.rawSampleBlock.data(), rawBytes);
  CloseFile(input);
}

void LoadInputSamples(const std::string& inputFileName, const WaveFormat& format,
                      WorkingArrays& arrays) {
  ReadSampleData(inputFileName, format, arrays);
  DecodeSampleData(format, arrays);
}

void DecodeSampleData(const WaveFormat& format, WorkingArrays& arrays) {
  const std::uint8_t* raw = arrays.rawSampleBlock.data();
  const std::int64_t rawBytes = arrays.rawSampleBlock.size();
  // Frames to decode: never more than the arrays were given room for.
  std::int64_t n = format.sampleCount;
  const int c = format.channelCount;
  if (c == 1 || c == 2) {
    if (n > rawBytes / (3 * c)) n = rawBytes / (3 * c);
  }
  if (c == 1) {
    if (n > arrays.monoInput.size()) n = arrays.monoInput.size();
    std::int32_t* mono = arrays.monoInput.data();
    for (std::int64_t i = 0; i < n; ++i) mono[i] = DecodeSample24(raw + 3 * i);
  } else if (c == 2) {
    if (n > arrays.leftInput.size()) n = arrays.leftInput.size();
    if (n > arrays.rightInput.size()) n = arrays.rightInput.size();
    std::int32_t* left = arrays.leftInput.data();
    std::int32_t* right = arrays.rightInput.data();
    for (std::int64_t i = 0; i < n; ++i) {
      left[i] = DecodeSample24(raw + 6 * i);
      right[i] = DecodeSample24(raw + 6 * i + 3);
    }
  }
}
