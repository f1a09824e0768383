#include "wave/output_header.h"

#include <cstring>

#include "wave/byte_order.h"

OutputHeader BuildOutputHeader(const WaveFormat& format, std::int64_t resultLength) {
  OutputHeader out;
  std::uint8_t* header = out.bytes;
  out.size = kWaveHeaderSize;
  // Sizes are the low 32 bits of their products, as the header holds them.
  const std::uint32_t outputDataSize = static_cast<std::uint32_t>(
      static_cast<std::uint64_t>(static_cast<std::int64_t>(format.blockAlign)) *
      static_cast<std::uint64_t>(resultLength));
  std::uint32_t riffSize = outputDataSize + 36u;
  if (riffSize % 2 != 0) riffSize += 1u;

  std::memcpy(header + 0, "RIFF", 4);
  StoreU32(header + 4, riffSize);
  std::memcpy(header + 8, "WAVE", 4);
  std::memcpy(header + 12, "fmt ", 4);
  StoreU32(header + 16, 16u);
  StoreU16(header + 20, 1u);
  StoreU16(header + 22, format.channelCount);
  StoreU32(header + 24, static_cast<std::uint32_t>(format.sampleRate));
  StoreU32(header + 28, static_cast<std::uint32_t>(format.byteRate));
  StoreU16(header + 32, static_cast<std::uint16_t>(format.blockAlign));
  StoreU16(header + 34, static_cast<std::uint16_t>(format.bitsPerSample));
  std::memcpy(header + 36, "data", 4);
  StoreU32(header + 40, outputDataSize);
  return out;
}
