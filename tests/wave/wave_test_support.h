// Helpers shared by the wave and filter tests: canonical headers, and the
// scratch folders and whole-file reads and writes of tests/test_files.h.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "tests/test_files.h"
#include "wave/wave_format.h"

namespace wavetest {

using testfiles::Bytes;
using testfiles::ReadBytes;
using testfiles::ScratchFolder;
using testfiles::WriteBytes;

inline void PutLe(Bytes& bytes, std::size_t offset, std::uint64_t value, int width) {
  for (int i = 0; i < width; ++i) bytes[offset + static_cast<std::size_t>(i)] =
      static_cast<std::uint8_t>(value >> (8 * i));
}

inline void PutText(Bytes& bytes, std::size_t offset, const char* text) {
  for (std::size_t i = 0; text[i] != 0; ++i) bytes[offset + i] = static_cast<std::uint8_t>(text[i]);
}

// The canonical 44-byte header of a 24-bit PCM file.
inline Bytes CanonicalHeader(int channels, int rate, std::uint32_t dataSize) {
  Bytes h(kWaveHeaderSize, 0);
  PutText(h, 0, "RIFF");
  PutLe(h, 4, dataSize + 36u, 4);
  PutText(h, 8, "WAVE");
  PutText(h, 12, "fmt ");
  PutLe(h, 16, 16, 4);
  PutLe(h, 20, 1, 2);
  PutLe(h, 22, static_cast<std::uint64_t>(channels), 2);
  PutLe(h, 24, static_cast<std::uint64_t>(rate), 4);
  PutLe(h, 28, static_cast<std::uint64_t>(rate) * 3u * static_cast<std::uint64_t>(channels), 4);
  PutLe(h, 32, 3u * static_cast<std::uint64_t>(channels), 2);
  PutLe(h, 34, 24, 2);
  PutText(h, 36, "data");
  PutLe(h, 40, dataSize, 4);
  return h;
}

}  // namespace wavetest
