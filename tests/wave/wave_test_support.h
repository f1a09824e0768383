// Helpers shared by the wave and filter tests: canonical headers, and the
// scratch folders and whole-file reads and writes of tests/test_files.h.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "tests/test_files.h"
#include "tests/wave_files.h"
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
  return wavefiles::CanonicalHeader<Bytes>(channels, rate, dataSize);
}

}  // namespace wavetest
