// The header in front of the output's sample data.
#pragma once

#include <cstdint>

#include "wave/wave_format.h"

// Room for the largest header the writer makes: the RF64 form.
constexpr int kMaxOutputHeaderSize = 80;

struct OutputHeader {
  std::uint8_t bytes[kMaxOutputHeaderSize] = {};
  int size = 0;                // bytes in use; the sample data follows them directly
  std::int64_t dataBytes = 0;  // the sample data: 3 x C x resultLength
  int padBytes = 0;            // the zero byte RIFF asks for after data of odd length
};

// The header for `resultLength` frames of 24-bit samples in
// `format.channelCount` channels at `format.sampleRate`. It describes the
// data that follows it whatever the input's header said: block align 3 x C,
// byte rate rate x 3 x C, data size 3 x C x resultLength. The RIFF size
// counts the zero pad byte that follows data of odd length, and the
// `trailingBytes` of the chunks that follow the data chunk. When that size
// does not fit in 32 bits, the header takes the RF64 form (80 bytes) with the
// sizes in a ds64 chunk; otherwise it is the canonical 44-byte header.
OutputHeader BuildOutputHeader(const WaveFormat& format, std::int64_t resultLength,
                               std::int64_t trailingBytes = 0);

// The whole output file, header, data and pad byte, for `resultLength`
// frames of `channelCount` channels.
std::int64_t OutputFileBytes(int channelCount, std::int64_t resultLength);
