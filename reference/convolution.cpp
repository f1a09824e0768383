// The exact convolution engine. It is kept plain on purpose: every result is
// defined by this loop order and this rounding, and faster engines are
// checked against it.

#include "reference/convolution.h"

#include <algorithm>
#include <cstring>

#include "reference/output_image.h"

void ConvolveChannelExact(const double* h, int m, const std::int32_t* x, std::int64_t n,
                          double* result) {
  for (std::int64_t i = 0; i < n; ++i) {
    const long double sample = x[i];
    double* out = result + i;
    for (int j = 0; j < m; ++j) {
      // Product and sum each rounded to a 64-bit significand, the sum then
      // rounded to double when it is stored.
      const long double product = static_cast<long double>(h[j]) * sample;
      const long double sum = product + static_cast<long double>(out[j]);
      out[j] = static_cast<double>(sum);
    }
  }
}

namespace {

// The frames that can be convolved without reaching past any of the arrays:
// the job allocates them to fit, and a mismatch must not write outside them.
std::int64_t FramesThatFit(std::int64_t sampleCount, std::int64_t inputSize,
                           std::int64_t resultSize, int m) {
  std::int64_t n = std::min(sampleCount, inputSize);
  n = std::min(n, resultSize - m + 1);
  return std::max<std::int64_t>(n, 0);
}

}  // namespace

void ConvolveChannels(const WaveFormat& format, int coefficientCount, WorkingArrays& arrays) {
  const int m = static_cast<int>(
      std::clamp<std::int64_t>(coefficientCount, 0, arrays.impulseResponse.size()));
  const double* h = arrays.impulseResponse.data();

  if (format.channelCount == 1) {
    const std::int64_t n =
        FramesThatFit(format.sampleCount, arrays.monoInput.size(), arrays.monoResult.size(), m);
    ConvolveChannelExact(h, m, arrays.monoInput.data(), n, arrays.monoResult.data());
    arrays.monoInput.Release();
    arrays.impulseResponse.Release();
  } else if (format.channelCount == 2) {
    // Each update touches one channel only, so running the channels one after
    // the other gives the same values as interleaving them frame by frame.
    const std::int64_t nLeft =
        FramesThatFit(format.sampleCount, arrays.leftInput.size(), arrays.leftResult.size(), m);
    const std::int64_t nRight =
        FramesThatFit(format.sampleCount, arrays.rightInput.size(), arrays.rightResult.size(), m);
    ConvolveChannelExact(h, m, arrays.leftInput.data(), nLeft, arrays.leftResult.data());
    arrays.leftInput.Release();
    ConvolveChannelExact(h, m, arrays.rightInput.data(), nRight, arrays.rightResult.data());
    arrays.rightInput.Release();
    arrays.impulseResponse.Release();
  }
}

bool BuildReferenceOutput(const std::string& inputFileName, const WaveFormat& format,
                          const double* h, int m, Buffer<std::uint8_t>& image) {
  WorkingArrays arrays;
  if (!AllocateWorkingArrays(format, m, arrays)) return false;
  if (m > 0)
    std::memcpy(arrays.impulseResponse.data(), h, sizeof(double) * static_cast<std::size_t>(m));
  LoadInputSamples(inputFileName, format, arrays);
  ConvolveChannels(format, m, arrays);
  DitherGenerator generator;
  return BuildOutputImage(format, arrays, generator, image);
}
