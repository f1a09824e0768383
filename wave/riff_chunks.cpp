#include "wave/riff_chunks.h"

#include <cstring>

#include "wave/byte_order.h"

namespace {

bool ReadThroughWindow(void* context, std::int64_t offset, std::uint8_t* into, std::int64_t count) {
  FileWindow& window = *static_cast<FileWindow*>(context);
  constexpr std::int64_t kWindowBytes = sizeof window.bytes;
  if (count > kWindowBytes) return ReadFileAt(window.file, offset, into, count) == count;
  if (offset < window.start || offset + count > window.start + window.held) {
    const std::int64_t got = ReadFileAt(window.file, offset, window.bytes, kWindowBytes);
    window.start = offset;
    window.held = got > 0 ? got : 0;
    if (count > window.held) return false;
  }
  std::memcpy(into, window.bytes + (offset - window.start), static_cast<std::size_t>(count));
  return true;
}

// What an RF64 or BW64 file's ds64 chunk says about the data.
struct Ds64Sizes {
  bool present = false;
  std::uint64_t riffSize = 0;
  std::uint64_t dataSize = 0;
};

// The size of a data chunk whose size field holds `size32` and whose body has
// `room` bytes of the file from its start on. FFFFFFFF is no size but a mark:
// RF64 and BW64 files put it there and keep the real size in ds64; a writer
// that cannot go back over its output (ffmpeg into a pipe) leaves it in a
// RIFF file, or in an RF64 file whose ds64 it never filled in (all zeros: no
// real file has a RIFF size of 0). Taking the mark as 4 GiB would show a
// 4-second recording as two hours of silence, so without a real 64-bit size
// the data is what the file holds. Whatever the size says, the samples are
// the bytes the file holds: a copy cut short (or a header that promises more
// than was ever written) gives what is there.
std::uint64_t DataChunkSize(std::uint32_t size32, const Ds64Sizes& ds64, std::uint64_t room) {
  std::uint64_t size = size32;
  if (size32 == kSizeInDs64) size = ds64.present && ds64.riffSize != 0 ? ds64.dataSize : room;
  return size < room ? size : room;
}

}  // namespace

bool ReadWaveSource(const WaveSource& source, std::int64_t offset, std::uint8_t* into,
                    std::int64_t count) {
  if (offset < 0 || count < 0 || offset > source.fileSize || count > source.fileSize - offset) {
    return false;
  }
  return count == 0 || source.readAt(source.context, offset, into, count);
}

WaveSource FileWaveSource(FileWindow& window) {
  return FileWaveSource(window, FileSizeOf(window.file));
}

WaveSource FileWaveSource(FileWindow& window, std::int64_t checkedSize) {
  return WaveSource{ReadThroughWindow, &window, checkedSize};
}

bool ChunkIdIs(const std::uint8_t* id, const char (&name)[5]) {
  return std::memcmp(id, name, 4) == 0;
}

bool IsPrintableChunkId(const std::uint8_t* id) {
  for (int i = 0; i < 4; ++i) {
    if (id[i] < 0x20 || id[i] > 0x7E) return false;
  }
  return true;
}

ChunkWalkEnd WalkRiffChunks(const WaveSource& source, ChunkVisitor visit, void* context) {
  std::uint8_t form[4];
  if (!ReadWaveSource(source, 0, form, 4)) return ChunkWalkEnd::kListEnded;
  const bool sixtyFourBitForm = ChunkIdIs(form, "RF64") || ChunkIdIs(form, "BW64");
  Ds64Sizes ds64;
  for (std::int64_t at = 12; source.fileSize - at >= 8;) {
    std::uint8_t head[8];
    if (!ReadWaveSource(source, at, head, 8)) return ChunkWalkEnd::kUnreadable;
    RiffChunk chunk;
    std::memcpy(chunk.id, head, 4);
    chunk.body = at + 8;
    const std::uint64_t room = static_cast<std::uint64_t>(source.fileSize - chunk.body);
    const std::uint32_t size32 = LoadU32(head + 4);
    chunk.size = ChunkIdIs(chunk.id, "data") ? DataChunkSize(size32, ds64, room) : size32;
    if (chunk.size > room) return ChunkWalkEnd::kRanPastEnd;
    if (sixtyFourBitForm && !ds64.present && ChunkIdIs(chunk.id, "ds64") && chunk.size >= 16) {
      std::uint8_t sizes[16];  // the RIFF size, then the data size
      if (!ReadWaveSource(source, chunk.body, sizes, 16)) return ChunkWalkEnd::kUnreadable;
      ds64.present = true;
      ds64.riffSize = LoadU64(sizes);
      ds64.dataSize = LoadU64(sizes + 8);
    }
    if (!visit(context, chunk)) return ChunkWalkEnd::kStopped;
    at = chunk.body + static_cast<std::int64_t>(chunk.size + chunk.size % 2);
  }
  return ChunkWalkEnd::kListEnded;
}
