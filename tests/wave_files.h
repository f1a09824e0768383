// Wave files for the tests, built with the program's own header writer and
// byte helpers: canonical headers (any data size, for the reader's tests),
// chunks and chunk lists in any layout. Each works on std::string and on
// byte vectors alike.
#pragma once

#include <algorithm>
#include <cstdint>
#include <initializer_list>
#include <vector>

#include "wave/byte_order.h"
#include "wave/output_header.h"
#include "wave/wave_format.h"

namespace wavefiles {

template <typename Text>
std::uint8_t* At(Text& text, std::size_t offset) {
  return reinterpret_cast<std::uint8_t*>(text.data()) + offset;
}

// The RIFF size of a whole file in memory: everything after its first 8 bytes.
template <typename Text>
void SetRiffSize(Text& file) {
  StoreU32(At(file, 4), static_cast<std::uint32_t>(file.size() - 8));
}

// The canonical 44-byte header of 24-bit PCM declaring `dataSize` bytes of data.
template <typename Text>
Text CanonicalHeader(int channels, int rate, std::uint32_t dataSize) {
  WaveFormat format;
  format.channelCount = static_cast<std::uint16_t>(channels);
  format.sampleRate = rate;
  const OutputHeader header = BuildOutputHeader(format, 0);
  Text text(header.bytes, header.bytes + header.size);
  StoreU32(At(text, 4), dataSize + 36u);
  StoreU32(At(text, 40), dataSize);
  return text;
}

// A chunk: its id, a 32-bit size (the body's unless given), the body and the
// pad byte after a body of odd length.
template <typename Text>
Text Chunk(const char* id, const Text& body, std::int64_t size = -1) {
  Text chunk(8 + body.size() + body.size() % 2, 0);
  for (int i = 0; i < 4; ++i)
    chunk[static_cast<std::size_t>(i)] = static_cast<typename Text::value_type>(id[i]);
  StoreU32(At(chunk, 4),
           static_cast<std::uint32_t>(size >= 0 ? static_cast<std::uint64_t>(size) : body.size()));
  std::copy(body.begin(), body.end(), chunk.begin() + 8);  // the pad byte stays 0
  return chunk;
}

// `chunks` behind `form` ("RIFF", "RF64", ...), the RIFF size and "WAVE".
template <typename Text>
Text WaveFile(const char* form, std::initializer_list<Text> chunks) {
  Text file(12, 0);
  for (int i = 0; i < 4; ++i) {
    file[static_cast<std::size_t>(i)] = static_cast<typename Text::value_type>(form[i]);
    file[static_cast<std::size_t>(8 + i)] = static_cast<typename Text::value_type>("WAVE"[i]);
  }
  for (const Text& chunk : chunks) file.insert(file.end(), chunk.begin(), chunk.end());
  SetRiffSize(file);
  return file;
}

// A ds64 body: the RIFF size, the data size, the frames, no table.
template <typename Text>
Text Ds64(std::uint64_t riffSize, std::uint64_t dataSize, std::uint64_t frames) {
  Text body(28, 0);
  StoreU64(At(body, 0), riffSize);
  StoreU64(At(body, 8), dataSize);
  StoreU64(At(body, 16), frames);
  return body;
}

// Interleaved 24-bit samples, as a data chunk's body holds them.
template <typename Text>
Text Samples(const std::vector<std::int32_t>& samples) {
  Text bytes(3 * samples.size(), 0);
  for (std::size_t i = 0; i < samples.size(); ++i) StoreCode24(At(bytes, 3 * i), samples[i]);
  return bytes;
}

}  // namespace wavefiles
