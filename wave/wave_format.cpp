#include "wave/wave_format.h"

#include <cmath>
#include <cstring>

#include "wave/byte_order.h"

namespace {

struct MemoryFile {
  const std::uint8_t* bytes;
};

bool ReadFromMemory(void* context, std::int64_t offset, std::uint8_t* into, std::int64_t count) {
  std::memcpy(into, static_cast<const MemoryFile*>(context)->bytes + offset,
              static_cast<std::size_t>(count));
  return true;
}

// ---- where the fields are -----------------------------------------------------

// The longest "fmt " body read: the 16 bytes of every format, the 2 of the
// extension's size and the 22 of the extensible form's extension.
constexpr int kFormatBodyRead = 40;

// The extensible form's sub-format that stands for PCM: the GUID
// 00000001-0000-0010-8000-00AA00389B71 in the order a file holds it.
constexpr std::uint8_t kPcmSubFormat[16] = {0x01, 0x00, 0x00, 0x00, 0x00, 0x00, 0x10, 0x00,
                                            0x80, 0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71};
constexpr std::int16_t kExtensibleTag = -2;  // format code FFFE

// The format fields, from the first 16 of the `size` bytes of a "fmt "
// chunk's body (all of it, or its first 40 bytes). Extensible PCM is format
// 1: its samples are the same; the channel mask is left to the channel count.
// Its valid bits are kept for the test: fewer than the container's are
// samples whose low bits are zero, more are no 24-bit samples at all.
void TakeFormatFields(const std::uint8_t* body, std::uint32_t size, WaveFormat& f) {
  f.formatTag = static_cast<std::int16_t>(LoadU16(body + 0));
  f.channelCount = LoadU16(body + 2);
  f.sampleRate = static_cast<std::int32_t>(LoadU32(body + 4));
  f.byteRate = static_cast<std::int32_t>(LoadU32(body + 8));
  f.blockAlign = static_cast<std::int16_t>(LoadU16(body + 12));
  f.bitsPerSample = static_cast<std::int16_t>(LoadU16(body + 14));
  const bool extensiblePcm = f.formatTag == kExtensibleTag && size >= kFormatBodyRead &&
                             LoadU16(body + 16) >= kFormatBodyRead - 18 &&
                             std::memcmp(body + 24, kPcmSubFormat, sizeof kPcmSubFormat) == 0;
  if (extensiblePcm) {
    f.formatTag = 1;
    f.validBitsPerSample = LoadU16(body + 18);
  }
}

// The forms of RIFF file a wave file comes in: the first four bytes.
bool IsRiffForm(const std::uint8_t* header) {
  return ChunkIdIs(header, "RIFF") || ChunkIdIs(header, "RF64") || ChunkIdIs(header, "BW64");
}

// What the walk of the header reader has found so far.
struct FormatAndData {
  const WaveSource* source;
  WaveFormat* format;
  bool haveFormat = false;
  bool haveData = false;
  bool formatTooShort = false;
};

// Takes the first "fmt " and the first "data" chunk, whatever stands between
// them, and stops once both are found or a "fmt " chunk is too short (under
// 16 bytes, or unreadable) to hold the format.
bool TakeFormatOrData(FormatAndData& walk, const RiffChunk& chunk) {
  WaveFormat& f = *walk.format;
  if (!walk.haveData && ChunkIdIs(chunk.id, "data")) {
    f.dataSize = chunk.size;
    f.dataOffset = chunk.body;
    walk.haveData = true;
  } else if (!walk.haveFormat && ChunkIdIs(chunk.id, "fmt ")) {
    std::uint8_t fields[kFormatBodyRead];
    const auto read =
        static_cast<std::uint32_t>(chunk.size < kFormatBodyRead ? chunk.size : kFormatBodyRead);
    if (chunk.size < 16 || !ReadWaveSource(*walk.source, chunk.body, fields, read)) {
      walk.formatTooShort = true;
      return false;
    }
    TakeFormatFields(fields, read, f);
    walk.haveFormat = true;
  }
  return !(walk.haveFormat && walk.haveData);
}

}  // namespace

HeaderVerdict DecodeWaveHeader(const WaveSource& source, WaveFormat& format) {
  std::uint8_t header[kWaveHeaderSize] = {};
  const std::int64_t present =
      source.fileSize < kWaveHeaderSize ? source.fileSize : kWaveHeaderSize;
  if (!ReadWaveSource(source, 0, header, present)) std::memset(header, 0, sizeof header);

  WaveFormat f;
  f.fileSize = source.fileSize;
  const bool wave = IsRiffForm(header) && ChunkIdIs(header + 8, "WAVE");
  bool chunksFound = true;
  if (source.fileSize < kWaveHeaderSize) {
    // No chunk list fits: the fields where the canonical header has them.
    TakeFormatFields(header + 20, 16, f);
  } else if (wave) {
    FormatAndData walk{&source, &f};
    auto visit = [&walk](const RiffChunk& chunk) { return TakeFormatOrData(walk, chunk); };
    WalkRiffChunks(source, visit);
    chunksFound = walk.haveFormat && walk.haveData && !walk.formatTooShort;
  }
  format = f;

  if (!wave || !chunksFound) return HeaderVerdict::kNotWave;
  if (f.formatTag != 1) return HeaderVerdict::kNotPcm;
  if (f.bitsPerSample != 24 || f.validBitsPerSample > 24) return HeaderVerdict::kNot24Bit;
  if (f.sampleRate != 96000 && f.sampleRate != 192000) return HeaderVerdict::kWrongRate;
  // Other channel counts would decode nothing and give silence reported as a
  // finished job, and a count of 0 would divide by zero below.
  if (f.channelCount != 1 && f.channelCount != 2) return HeaderVerdict::kNotMonoStereo;

  // Length and duration at extended precision; the length is rounded to the
  // nearest whole frame, ties to even (the default rounding mode). The 64-bit
  // significand holds every data size exactly.
  const long double frames = static_cast<long double>(f.dataSize) * 8.0L /
                             static_cast<long double>(f.bitsPerSample * f.channelCount);
  f.sampleCount = static_cast<std::int64_t>(std::nearbyint(frames));
  f.durationSeconds = static_cast<double>(static_cast<long double>(f.sampleCount) /
                                          static_cast<long double>(f.sampleRate));
  format = f;
  return HeaderVerdict::kAccepted;
}

HeaderVerdict DecodeWaveBytes(const std::uint8_t* bytes, std::size_t size, WaveFormat& format) {
  MemoryFile file{bytes};
  const WaveSource source{ReadFromMemory, &file, static_cast<std::int64_t>(size)};
  return DecodeWaveHeader(source, format);
}

HeaderVerdict ReadWaveHeader(FileHandle input, WaveFormat& format) {
  FileWindow window;
  window.file = input;
  return DecodeWaveHeader(FileWaveSource(window), format);
}
