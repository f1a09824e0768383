#include "wave/wave_format.h"

#include <cmath>
#include <cstring>

#include "console/console.h"
#include "system/files.h"
#include "wave/byte_order.h"

namespace {

struct Rejection {
  HeaderVerdict verdict;
  const char* text;
  const char* title;
};

// The box shown for each refused header.
constexpr Rejection kRejections[] = {
    {HeaderVerdict::NotWave, " This is not a Wave file", "          ERROR"},
    {HeaderVerdict::NotPcm, "This is not a PCM format Wave file", "                 ERROR"},
    {HeaderVerdict::Not24Bit, "This is not a 24-bit Wave file", "             ERROR"},
    {HeaderVerdict::WrongRate, "This is not a 96kHz or 192kHz Wave file",
     "                     ERROR"},
    {HeaderVerdict::NotMonoStereo, "This is not a mono or stereo Wave file",
     "                    ERROR"},
};

// ---- the bytes of the file ---------------------------------------------------

// Reads the `count` bytes at `offset` of the source; false when any of them
// lies outside the file or cannot be read.
bool ReadAt(const WaveSource& source, std::int64_t offset, std::uint8_t* into, std::int64_t count) {
  if (offset < 0 || count < 0 || offset > source.fileSize || count > source.fileSize - offset) {
    return false;
  }
  return count == 0 || source.readAt(source.context, offset, into, count);
}

struct MemoryFile {
  const std::uint8_t* bytes;
};

bool ReadFromMemory(void* context, std::int64_t offset, std::uint8_t* into, std::int64_t count) {
  std::memcpy(into, static_cast<const MemoryFile*>(context)->bytes + offset,
              static_cast<std::size_t>(count));
  return true;
}

// The input file, read through a window of it kept in memory: a walk over
// many small chunks then costs one system call per window, not one per chunk.
struct FileWindow {
  FileHandle file = kNoFile;
  std::int64_t start = 0;  // file offset of bytes[0]
  std::int64_t held = 0;   // bytes of the window that hold the file
  std::uint8_t bytes[4096] = {};
};

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

// The format fields, from the first 16 bytes of a "fmt " chunk's body.
void TakeFormatFields(const std::uint8_t* body, WaveFormat& f) {
  f.formatTag = static_cast<std::int16_t>(LoadU16(body + 0));
  f.channelCount = body[2];  // body byte 3, the high byte, is not part of it
  f.sampleRate = static_cast<std::int32_t>(LoadU32(body + 4));
  f.byteRate = static_cast<std::int32_t>(LoadU32(body + 8));
  f.blockAlign = static_cast<std::int16_t>(LoadU16(body + 12));
  f.bitsPerSample = static_cast<std::int16_t>(LoadU16(body + 14));
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
// into a pipe) leaves it in a RIFF file, or in an RF64 file with a ds64 it
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
    if (!ReadAt(source, at, head, 8)) return false;
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
      std::uint8_t fields[16];
      if (size32 < 16 || !ReadAt(source, body, fields, 16)) return false;
      TakeFormatFields(fields, f);
      haveFormat = true;
    } else if (sixtyFourBitForm && !ds64.present && IdIs(head, "ds64") && size32 >= 16) {
      std::uint8_t sizes[16];  // the RIFF size, then the data size
      if (!ReadAt(source, body, sizes, 16)) return false;
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

HeaderVerdict DecodeWaveHeader(const WaveSource& source, WaveFormat& format) {
  std::uint8_t header[kWaveHeaderSize] = {};
  const std::int64_t present = source.fileSize < kWaveHeaderSize ? source.fileSize : kWaveHeaderSize;
  if (!ReadAt(source, 0, header, present)) std::memset(header, 0, sizeof header);

  WaveFormat f;
  const bool wave = IdIs(header + 8, "WAVE");
  bool chunksFound = true;
  if (IsCanonicalLayout(header, source.fileSize)) {
    TakeFormatFields(header + 20, f);
    f.dataSize = LoadU32(header + 40);
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

bool ReadWaveHeader(const std::string& inputFileName, WaveFormat& format) {
  HeaderVerdict verdict = HeaderVerdict::NotWave;
  // Only read access: nothing is ever written through this handle. A pipe
  // given as the input reads as nothing instead of hanging the dialogue.
  const FileHandle file = OpenFileForReading(inputFileName);
  if (file != kNoFile) {
    FileWindow window;
    window.file = file;
    const WaveSource source{ReadThroughWindow, &window, FileSizeOf(file)};
    verdict = DecodeWaveHeader(source, format);
    CloseFile(file);  // closed before any box is shown
  } else {
    const WaveSource nothing{ReadFromMemory, nullptr, 0};
    verdict = DecodeWaveHeader(nothing, format);
  }
  if (verdict == HeaderVerdict::Accepted) return true;
  for (const Rejection& r : kRejections) {
    if (r.verdict == verdict) {
      Beep();
      ShowMessageBox(r.text, r.title);
      break;
    }
  }
  return false;
}

void ShowFileData(const WaveFormat& format) {
  SetColor(kDarkGrey, kBrightWhite);
  EndLine();
  EndLine();
  PrintText("                 FILE DATA");
  EndLine();
  EndLine();

  PrintText("                 Channels    ");
  PrintNumber(static_cast<double>(format.channelCount), 7);
  EndLine();

  PrintText("                 Sample rate ");
  PrintNumber(static_cast<double>(format.sampleRate), 15);
  PrintText("Hz");
  EndLine();

  PrintText("                 Resolution  ");
  PrintNumber(static_cast<double>(format.bitsPerSample), 7);
  PrintText("bits");
  EndLine();

  PrintText("                 Length      ");
  PrintNumber(static_cast<double>(format.sampleCount), 15);
  PrintText("samples");
  EndLine();

  PrintText("                 Duration    ");
  PrintNumber(RoundToPlaces(format.durationSeconds, 2), 15);
  PrintText("seconds");
  EndLine();

  EndLine();
  EndLine();
  EndLine();
}
