#include "wave/output_header.h"

#include <cstring>

#include "wave/byte_order.h"

namespace {

constexpr int kDs64BodySize = 28;  // RIFF size, data size, sample count, table length 0

// "fmt " and its 16-byte body, which describe 24-bit PCM in `channels` channels.
void PutFormatChunk(std::uint8_t* at, std::uint16_t channels, std::uint32_t sampleRate) {
  const std::uint16_t blockAlign = static_cast<std::uint16_t>(3u * channels);
  std::memcpy(at + 0, "fmt ", 4);
  StoreU32(at + 4, 16u);
  StoreU16(at + 8, 1u);  // PCM
  StoreU16(at + 10, channels);
  StoreU32(at + 12, sampleRate);
  StoreU32(at + 16, sampleRate * blockAlign);
  StoreU16(at + 20, blockAlign);
  StoreU16(at + 22, 24u);
}

}  // namespace

std::int64_t OutputFileBytes(int channelCount, std::int64_t resultLength) {
  WaveFormat format;
  format.channelCount = static_cast<std::uint16_t>(channelCount);
  const OutputHeader header = BuildOutputHeader(format, resultLength);
  return header.size + header.dataBytes + header.padBytes;
}

OutputHeader BuildOutputHeader(const WaveFormat& format, std::int64_t resultLength,
                               std::int64_t trailingBytes) {
  OutputHeader out;
  std::uint8_t* header = out.bytes;
  const std::uint16_t channels = format.channelCount;
  const std::uint64_t frames = resultLength > 0 ? static_cast<std::uint64_t>(resultLength) : 0u;
  // Exact below 2^54 frames (3 x C is at most 765, under 2^10), far beyond
  // any recording the job can hold.
  const std::uint64_t dataBytes = 3u * channels * frames;
  const std::uint64_t padBytes = dataBytes % 2;
  const std::uint64_t trailing = trailingBytes > 0 ? static_cast<std::uint64_t>(trailingBytes) : 0u;
  const std::uint32_t sampleRate = static_cast<std::uint32_t>(format.sampleRate);
  out.dataBytes = static_cast<std::int64_t>(dataBytes);
  out.padBytes = static_cast<int>(padBytes);

  // The RIFF size counts everything after its own field, pad byte included.
  const std::uint64_t riffSize = kWaveHeaderSize - 8 + dataBytes + padBytes + trailing;
  if (riffSize <= 0xFFFFFFFFu) {
    out.size = kWaveHeaderSize;
    std::memcpy(header + 0, "RIFF", 4);
    StoreU32(header + 4, static_cast<std::uint32_t>(riffSize));
    std::memcpy(header + 8, "WAVE", 4);
    PutFormatChunk(header + 12, channels, sampleRate);
    std::memcpy(header + 36, "data", 4);
    StoreU32(header + 40, static_cast<std::uint32_t>(dataBytes));
    return out;
  }

  // RF64: the 32-bit sizes hold the mark, the real ones stand in ds64, the
  // first chunk. No table of further sizes: only the data chunk is that long.
  out.size = kMaxOutputHeaderSize;
  std::memcpy(header + 0, "RF64", 4);
  StoreU32(header + 4, kSizeInDs64);
  std::memcpy(header + 8, "WAVE", 4);
  std::memcpy(header + 12, "ds64", 4);
  StoreU32(header + 16, kDs64BodySize);
  StoreU64(header + 20, kMaxOutputHeaderSize - 8 + dataBytes + padBytes + trailing);
  StoreU64(header + 28, dataBytes);
  StoreU64(header + 36, frames);  // sample count: frames per channel
  StoreU32(header + 44, 0u);      // table length
  PutFormatChunk(header + 48, channels, sampleRate);
  std::memcpy(header + 72, "data", 4);
  StoreU32(header + 76, kSizeInDs64);
  return out;
}
