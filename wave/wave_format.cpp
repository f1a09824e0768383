#include "wave/wave_format.h"

#include <cmath>
#include <cstring>

#include "system/files.h"
#include "wave/byte_order.h"

namespace {

// ---- the bytes of the file ---------------------------------------------------

struct MemoryFile {
  const std::uint8_t* bytes;
};

bool ReadFromMemory(void* context, std::int64_t offset, std::uint8_t* into, std::int64_t count) {
  std::memcpy(into, static_cast<const MemoryFile*>(context)->bytes + offset,
              static_cast<std::size_t>(count));
  return true;
}

bool ReadThroughWindow(void* context, std::int64_t offset, std::uint8_t* into, std::int64_t count) {
  FileWindow& window = *static_cast<FileWindow*>(context);
  constexpr std::int64_t kWindowBytes = sizeof window.bytes;
  if (count > kWindowBytes) return ReadFileAt(window.file, offset, into, count) == count;
  if (offset < window.start || offset + count > window.start + window.held) {
    window.start = offset;
    window.held = ReadFileAt(window.file, offset, window.bytes, kWindowBytes);
    if (count > window.held) return false;
  }
  std::memcpy(into, window.bytes + (offset - window.start), static_cast<std::size_t>(count));
  return true;
}

// ---- where the fields are -----------------------------------------------------

bool IdIs(const std::uint8_t* at, const char (&id)[5]) { return std::memcmp(at, id, 4) == 0; }

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
// 1: its samples are the same; the channel mask is left to the channel count
// and the valid-bits field to the container's 24 bits.
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
  if (extensiblePcm) f.formatTag = 1;
}

// The forms of RIFF file a wave file comes in: the first four bytes.
bool IsRiffForm(const std::uint8_t* header) {
  return IdIs(header, "RIFF") || IdIs(header, "RF64") || IdIs(header, "BW64");
}

// The canonical header, read from fixed positions. A file too short to hold
// it is read that way too, its missing bytes as zeros: no chunk list fits in
// it, so there is nothing to walk, and it holds no sample.
bool IsCanonicalLayout(const std::uint8_t (&header)[kWaveHeaderSize], std::int64_t fileSize) {
  if (fileSize < kWaveHeaderSize) return true;
  return IdIs(header + 12, "fmt ") && LoadU32(header + 16) == 16u && IdIs(header + 36, "data");
}

// What an RF64 or BW64 file's ds64 chunk says about the data.
struct Ds64Sizes {
  bool present = false;
  std::uint64_t riffSize = 0;
  std::uint64_t dataSize = 0;
};

// The size of a data chunk whose 32-bit size field holds `size32` and whose
// body has `room` bytes of the file from its start on.
//
// A real 32-bit size is taken as declared, also when the file ends before
// it: the missing samples read as zeros, as in a canonical file, and such a
// size cannot ask for more than 4 GiB of them.
// FFFFFFFF is no size but a mark. RF64 and BW64 files put it there and keep
// the real size in ds64. A writer that cannot go back over its output (ffmpeg
// into a pipe) leaves it in a RIFF file, canonical or not, or in an RF64 file with a ds64 it
// never filled in (all zeros: no real file has a RIFF size of 0). Taking the
// mark as 4 GiB would show a 4-second recording as two hours of silence, so
// without a real 64-bit size the data is what the file holds: up to its end.
// A 64-bit size is taken only as far as the file holds it: nothing bounds the
// zeros such a size could ask for, and no recording is made of them.
std::uint64_t DataChunkSize(std::uint32_t size32, const Ds64Sizes& ds64, std::uint64_t room) {
  if (size32 != kSizeInDs64) return size32;
  if (ds64.present && ds64.riffSize != 0) return ds64.dataSize < room ? ds64.dataSize : room;
  return room;
}

// Follows the chunk list from byte 12 (each chunk an id, a 32-bit size and
// its body, padded to even length) until a "fmt " and a "data" chunk are
// found, in either order (RIFF sets none: a data chunk first is taken, and
// the walk goes on past it); every other chunk is stepped over. False when that
// cannot be done: the list ends first, a "fmt " chunk is shorter than 16
// bytes, or a chunk runs past the end of the file before both are found.
// Every step moves on by at least 8 bytes and never past the end of the
// file plus a pad byte, so a size near 2^32 (or 2^64) ends the walk instead
// of reading outside the file or coming round again.
bool WalkChunks(const WaveSource& source, bool sixtyFourBitForm, WaveFormat& f) {
  bool haveFormat = false;
  bool haveData = false;
  Ds64Sizes ds64;
  std::int64_t at = 12;
  for (;;) {
    std::uint8_t head[8];
    if (!ReadWaveSource(source, at, head, 8)) return false;
    const std::int64_t body = at + 8;
    const std::uint64_t room = static_cast<std::uint64_t>(source.fileSize - body);
    const std::uint32_t size32 = LoadU32(head + 4);
    std::uint64_t size = size32;
    if (!haveData && IdIs(head, "data")) {
      size = DataChunkSize(size32, ds64, room);
      f.dataSize = size;
      f.dataOffset = body;
      f.dataEndsWithChunk = true;
      haveData = true;
    } else if (!haveFormat && IdIs(head, "fmt ")) {
      std::uint8_t fields[kFormatBodyRead];
      const std::uint32_t read = size32 < kFormatBodyRead ? size32 : kFormatBodyRead;
      if (size32 < 16 || !ReadWaveSource(source, body, fields, read)) return false;
      TakeFormatFields(fields, read, f);
      haveFormat = true;
    } else if (sixtyFourBitForm && !ds64.present && IdIs(head, "ds64") && size32 >= 16) {
      std::uint8_t sizes[16];  // the RIFF size, then the data size
      if (!ReadWaveSource(source, body, sizes, 16)) return false;
      ds64.present = true;
      ds64.riffSize = LoadU64(sizes);
      ds64.dataSize = LoadU64(sizes + 8);
    }
    if (haveFormat && haveData) return true;
    if (size > room) return false;
    at = body + static_cast<std::int64_t>(size + size % 2);
  }
}

}  // namespace

bool ReadWaveSource(const WaveSource& source, std::int64_t offset, std::uint8_t* into,
                    std::int64_t count) {
  if (offset < 0 || count < 0 || offset > source.fileSize || count > source.fileSize - offset) {
    return false;
  }
  return count == 0 || source.readAt(source.context, offset, into, count);
}

HeaderVerdict DecodeWaveHeader(const WaveSource& source, WaveFormat& format) {
  std::uint8_t header[kWaveHeaderSize] = {};
  const std::int64_t present = source.fileSize < kWaveHeaderSize ? source.fileSize : kWaveHeaderSize;
  if (!ReadWaveSource(source, 0, header, present)) std::memset(header, 0, sizeof header);

  WaveFormat f;
  const bool wave = IsRiffForm(header) && IdIs(header + 8, "WAVE");
  bool chunksFound = true;
  if (IsCanonicalLayout(header, source.fileSize)) {
    TakeFormatFields(header + 20, 16, f);
    const std::uint64_t room = source.fileSize > kWaveHeaderSize ? source.fileSize - kWaveHeaderSize : 0;
    f.dataSize = DataChunkSize(LoadU32(header + 40), Ds64Sizes{}, room);
  } else if (wave) {
    chunksFound = WalkChunks(source, IdIs(header, "RF64") || IdIs(header, "BW64"), f);
  }
  format = f;

  if (!wave || !chunksFound) return HeaderVerdict::NotWave;
  if (f.formatTag != 1) return HeaderVerdict::NotPcm;
  if (f.bitsPerSample != 24) return HeaderVerdict::Not24Bit;
  if (f.sampleRate != 96000 && f.sampleRate != 192000) return HeaderVerdict::WrongRate;
  // Other channel counts would decode nothing and give silence reported as a
  // finished job, and a count of 0 would divide by zero below.
  if (f.channelCount != 1 && f.channelCount != 2) return HeaderVerdict::NotMonoStereo;

  // Length and duration at extended precision; the length is rounded to the
  // nearest whole frame, ties to even (the default rounding mode). The 64-bit
  // significand holds every data size exactly.
  const long double frames = static_cast<long double>(f.dataSize) * 8.0L /
                             static_cast<long double>(f.bitsPerSample * f.channelCount);
  f.sampleCount = static_cast<std::int64_t>(std::nearbyint(frames));
  f.durationSeconds = static_cast<double>(static_cast<long double>(f.sampleCount) /
                                          static_cast<long double>(f.sampleRate));
  format = f;
  return HeaderVerdict::Accepted;
}

HeaderVerdict DecodeWaveBytes(const std::uint8_t* bytes, std::size_t size, WaveFormat& format) {
  MemoryFile file{bytes};
  const WaveSource source{ReadFromMemory, &file, static_cast<std::int64_t>(size)};
  return DecodeWaveHeader(source, format);
}

WaveSource FileWaveSource(FileWindow& window) {
  return WaveSource{ReadThroughWindow, &window, FileSizeOf(window.file)};
}
