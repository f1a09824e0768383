// The whole job on one recording, step by step, with the time of each step:
//   job_breakdown <input.wav> <filter letter> <output.wav> [exact]
// Run it in a folder that holds the impulse files. With "exact", the
// convolution and the conversion run the exact reference procedures.
#include <time.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "console/console.h"
#include "filter/convolution.h"
#include "filter/filter_choice.h"
#include "filter/impulse_file.h"
#include "wave/wave_format.h"
#include "wave/working_arrays.h"
#include "wave/writer.h"

namespace {

double Now() {
  timespec t{};
  clock_gettime(CLOCK_MONOTONIC, &t);
  return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) * 1e-9;
}

struct Steps {
  const char* names[8];
  double seconds[8];
  int count = 0;
  double last = Now();
  void Mark(const char* name) {
    const double now = Now();
    names[count] = name;
    seconds[count] = now - last;
    ++count;
    last = now;
  }
};

void ConvolveExactly(const WaveFormat& format, int m, WorkingArrays& arrays) {
  const double* h = arrays.impulseResponse.data();
  const std::int64_t n = format.sampleCount;
  if (format.channelCount == 1) {
    ConvolveChannelExact(h, m, arrays.monoInput.data(), n, arrays.monoResult.data());
  } else {
    ConvolveChannelExact(h, m, arrays.leftInput.data(), n, arrays.leftResult.data());
    ConvolveChannelExact(h, m, arrays.rightInput.data(), n, arrays.rightResult.data());
  }
  arrays.monoInput.Release();
  arrays.leftInput.Release();
  arrays.rightInput.Release();
  arrays.impulseResponse.Release();
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 4) {
    std::fprintf(stderr, "usage: job_breakdown <input.wav> <letter> <output.wav> [exact]\n");
    return 2;
  }
  const bool exact = argc > 4 && std::strcmp(argv[4], "exact") == 0;
  const FilterTableEntry* entry = FindFilter(argv[2][0]);
  WaveFormat format;
  if (entry == nullptr || !ReadWaveHeader(argv[1], format)) return 1;
  FilterChoice choice{entry->letter, entry->impulseFileName, entry->coefficientCount};
  const int m = choice.coefficientCount;

  Steps steps;
  WorkingArrays arrays;
  if (!AllocateWorkingArrays(format, m, arrays)) return 1;
  steps.Mark("allocate");
  if (!LoadImpulseResponse(choice, arrays.impulseResponse.data())) return 1;
  ReadSampleData(argv[1], format, arrays);
  steps.Mark("read");
  DecodeSampleData(format, arrays);
  steps.Mark("decode");
  if (exact) {
    ConvolveExactly(format, m, arrays);
  } else {
    ConvolveChannels(format, m, arrays);
  }
  steps.Mark("convolve");
  DitherGenerator generator;
  Buffer<std::uint8_t> image;
  if (exact) {
    // The reference conversion, one sample after the other, into a block of
    // its own once the raw block is given back.
    arrays.rawSampleBlock.Release();
    image.Allocate(OutputImageBytes(format.channelCount, arrays.resultLength));
    const OutputHeader header = BuildOutputHeader(format, arrays.resultLength);
    std::memcpy(image.data(), header.bytes, static_cast<std::size_t>(header.size));
    const double* results[2] = {format.channelCount == 1 ? arrays.monoResult.data() : arrays.leftResult.data(),
                                arrays.rightResult.data()};
    EncodeSamplesExact(results, format.channelCount, arrays.resultLength, generator,
                       image.data() + header.size);
  } else if (!BuildOutputImage(format, arrays, generator, image)) {
    return 1;
  }
  steps.Mark("convert");
  if (!WriteOutputImage(argv[3], image)) return 1;
  steps.Mark("write");

  double total = 0;
  for (int i = 0; i < steps.count; ++i) total += steps.seconds[i];
  std::printf("%s engine, %lld frames x %d channels, filter %c (%d taps)\n", exact ? "exact" : "fast",
              static_cast<long long>(format.sampleCount), format.channelCount, choice.letter, m);
  for (int i = 0; i < steps.count; ++i) {
    std::printf("  %-9s %8.3f s  %5.1f %%\n", steps.names[i], steps.seconds[i],
                100.0 * steps.seconds[i] / total);
  }
  std::printf("  %-9s %8.3f s\n", "total", total);
  return 0;
}
