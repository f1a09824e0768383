// The header in front of the output's sample data.
#pragma once

#include <cstdint>

#include "wave/wave_format.h"

// Room for the largest header the writer makes.
constexpr int kMaxOutputHeaderSize = 80;

struct OutputHeader {
  std::uint8_t bytes[kMaxOutputHeaderSize] = {};
  int size = 0;  // bytes in use; the sample data follows them directly
};

// The header for `resultLength` frames of `format.channelCount` channels.
OutputHeader BuildOutputHeader(const WaveFormat& format, std::int64_t resultLength);
