// Helpers shared by the wave and filter tests: canonical headers, and the
// scratch folders and whole-file reads and writes of tests/test_files.h.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "tests/test_files.h"
#include "tests/wave_files.h"
#include "wave/output_header.h"
#include "wave/wave_format.h"

namespace wavetest {

using testfiles::Bytes;
using testfiles::ReadBytes;
using testfiles::ScratchFolder;
using testfiles::WriteBytes;

inline void PutLe(Bytes& bytes, std::size_t offset, std::uint64_t value, int width) {
  for (int i = 0; i < width; ++i)
    bytes[offset + static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(value >> (8 * i));
}

inline void PutText(Bytes& bytes, std::size_t offset, const char* text) {
  for (std::size_t i = 0; text[i] != 0; ++i) bytes[offset + i] = static_cast<std::uint8_t>(text[i]);
}

// The canonical 44-byte header of a 24-bit PCM file.
inline Bytes CanonicalHeader(int channels, int rate, std::uint32_t dataSize) {
  return wavefiles::CanonicalHeader<Bytes>(channels, rate, dataSize);
}

// The conversion with wrap-around, step by step, with its own generator: what
// every in-range value must still give.
inline std::int32_t WrappingConversion(double y, std::uint32_t& state) {
  state = state * 134775813u + 1u;
  const long double r1 = static_cast<long double>(state >> 1) / 2147483648.0L;
  state = state * 134775813u + 1u;
  const long double r2 = static_cast<long double>(state >> 1) / 2147483648.0L;
  if (y < 0) y = static_cast<double>(static_cast<long double>(y) + 16777216.0L);
  long double v = r1 + static_cast<long double>(y);
  v = v + r2;
  v = v - 1.0L;
  const long long whole = std::llrint(v);
  const std::uint32_t low = static_cast<std::uint32_t>(whole) & 0xFFFFFFu;
  return low >= 0x800000u ? static_cast<std::int32_t>(low) - 16777216
                          : static_cast<std::int32_t>(low);
}

// A 24-bit PCM format of `channels` at `rate`, its fields consistent.
inline WaveFormat Format(int channels, int rate) {
  WaveFormat f;
  f.formatTag = 1;
  f.channelCount = static_cast<std::uint16_t>(channels);
  f.sampleRate = rate;
  f.byteRate = rate * 3 * channels;
  f.blockAlign = static_cast<std::int16_t>(3 * channels);
  f.bitsPerSample = 24;
  return f;
}

// The header of the file named `name`, opened for it and closed again.
inline HeaderVerdict ReadHeaderOf(const std::string& name, WaveFormat& format) {
  const FileHandle file = OpenFileForReading(name);
  const HeaderVerdict verdict = ReadWaveHeader(file, format);
  CloseFile(file);
  return verdict;
}

inline Bytes HeaderOf(const WaveFormat& f, std::int64_t frames, std::int64_t trailingBytes = 0) {
  const OutputHeader header = BuildOutputHeader(f, frames, trailingBytes);
  return Bytes(header.bytes, header.bytes + header.size);
}

}  // namespace wavetest
