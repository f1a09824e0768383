#include "reference/output_image.h"

#include <cstring>

#include "wave/byte_order.h"
#include "wave/output_header.h"
#include "wave/sample_codes.h"

// The image of the output file as it will stand on disk: header, dithered
// samples and, after data of odd length, the zero pad byte that RIFF asks for.
bool BuildOutputImage(const WaveFormat& format, WorkingArrays& arrays, DitherGenerator& generator,
                      Buffer<std::uint8_t>& image) {
  const std::int64_t frames = arrays.resultLength > 0 ? arrays.resultLength : 0;
  const OutputHeader header = BuildOutputHeader(format, frames);
  const std::int64_t size = header.size + header.dataBytes + header.padBytes;
  // The raw sample block is read and decoded by now: its pages, already in
  // memory, serve again for the image instead of fresh ones.
  if (arrays.rawSampleBlock.size() >= size) {
    image = std::move(arrays.rawSampleBlock);
    std::memset(image.data() + size - 1, 0, 1);  // the pad byte, when there is one
  } else {
    arrays.rawSampleBlock.Release();
    if (!image.Allocate(size)) return false;
  }
  std::memcpy(image.data(), header.bytes, static_cast<std::size_t>(header.size));

  const int channels =
      format.channelCount == 1 || format.channelCount == 2 ? format.channelCount : 0;
  std::uint8_t* data = image.data() + header.size;
  if (channels == 0) {
    std::memset(data, 0, static_cast<std::size_t>(size - header.size));
    return true;
  }
  // Arrays shorter than the header says (never so in the reference) are read
  // as dithered silence past their end.
  const Buffer<double>* arraysOf[2] = {channels == 1 ? &arrays.monoResult : &arrays.leftResult,
                                       &arrays.rightResult};
  for (std::int64_t k = 0; k < frames; ++k) {
    for (int c = 0; c < channels; ++c) {
      const Buffer<double>& r = *arraysOf[c];
      StoreCode24(data + 3 * (k * channels + c),
                  ConvertSample(k < r.size() ? r[k] : 0.0, generator));
    }
  }
  return true;
}

void EncodeSamplesExact(const double* const* results, int channelCount, std::int64_t frames,
                        DitherGenerator& generator, std::uint8_t* data) {
  for (std::int64_t k = 0; k < frames; ++k) {
    for (int c = 0; c < channelCount; ++c) {
      StoreCode24(data + 3 * (k * channelCount + c), ConvertSample(results[c][k], generator));
    }
  }
}
