// The input file's bytes and its chunk list. One walk, with one set of rules
// for ids, sizes, pad bytes and where the list ends, serves the header reader
// (which looks for the format and the samples) and the metadata that travels
// to the output (which copies the chunks it keeps): both see the same chunks.
#pragma once

#include <cstdint>

#include "system/files.h"

// A 32-bit size field holding this is no size: RF64 and BW64 files keep the
// real size in their ds64 chunk.
constexpr std::uint32_t kSizeInDs64 = 0xFFFFFFFFu;

// Where the header reader and the metadata copy take their bytes from: the
// input file, or bytes in memory for tests and the fuzzer. `readAt` copies
// the `count` bytes at `offset` to `into` and returns false when it could not
// read them all: the file failed, or holds fewer bytes than it did.
struct WaveSource {
  bool (*readAt)(void* context, std::int64_t offset, std::uint8_t* into, std::int64_t count);
  void* context;
  std::int64_t fileSize;  // bytes in the file when it was opened; nothing at or past it is read
};

// Reads the `count` bytes at `offset` of the source; false when any of them
// lies outside the file or cannot be read.
bool ReadWaveSource(const WaveSource& source, std::int64_t offset, std::uint8_t* into,
                    std::int64_t count);

// The input file as a WaveSource, read through a window of it kept in memory:
// a walk over many small chunks then costs one system call per window, not
// one per chunk. Set `file` before use; the window does not close it. The
// source's size is the file's now, or `checkedSize` (the size the header was
// read at, which a file cut since then no longer holds).
struct FileWindow {
  FileHandle file = kNoFile;
  std::int64_t start = 0;  // file offset of bytes[0]
  std::int64_t held = 0;   // bytes of the window that hold the file
  std::uint8_t bytes[4096] = {};
};
WaveSource FileWaveSource(FileWindow& window);
WaveSource FileWaveSource(FileWindow& window, std::int64_t checkedSize);

// `id` (four bytes) is `name`.
bool ChunkIdIs(const std::uint8_t* id, const char (&name)[5]);

// A chunk id is four characters from blank to tilde; anything else is no
// chunk a reader can name (zeros a recorder left, the bytes of a damaged file).
bool IsPrintableChunkId(const std::uint8_t* id);

struct RiffChunk {
  std::uint8_t id[4] = {};
  std::int64_t body = 0;   // file offset of its body; its id and size stand in the 8 bytes before
  std::uint64_t size = 0;  // its body's bytes (see WalkRiffChunks)
};

// How a walk ended.
enum class ChunkWalkEnd {
  kStopped,     // the visitor stopped it
  kListEnded,   // fewer than 8 bytes follow the last chunk (and its pad byte)
  kRanPastEnd,  // a chunk's size runs past the end of the file: nothing from it on is a chunk
  kUnreadable,  // the source failed where the file holds bytes
};

// Returns true to go on to the next chunk, false to stop the walk.
using ChunkVisitor = bool (*)(void* context, const RiffChunk& chunk);

// Walks the chunk list of a RIFF, RF64 or BW64 file from byte 12 to the end
// of the file, calling `visit` with each chunk in file order. Each chunk is an
// id, a 32-bit size and its body, padded to even length; the walk steps over
// any chunk by its size, whatever its id. A chunk's size is its size field,
// but for a data chunk's:
//   - FFFFFFFF in an RF64 or BW64 file is the data size of its ds64 chunk
//     (the first one, met before the data); without a ds64, or with one never
//     filled in (RIFF size 0: a writer into a pipe), and in a RIFF file, the
//     mark means the data runs to the end of the file;
//   - any size is cut to the bytes the file holds: a copy cut short has the
//     samples it holds, not silence made up for the rest.
// A chunk of any other kind whose size runs past the end of the file ends the
// walk (kRanPastEnd) without being visited. Every step moves on by at least 8
// bytes, so a size near 2^32 (or 2^64) ends the walk instead of coming round.
ChunkWalkEnd WalkRiffChunks(const WaveSource& source, ChunkVisitor visit, void* context);

// The same with any callable `bool visit(const RiffChunk&)`.
template <typename Visit>
ChunkWalkEnd WalkRiffChunks(const WaveSource& source, Visit& visit) {
  return WalkRiffChunks(
      source,
      [](void* context, const RiffChunk& chunk) { return (*static_cast<Visit*>(context))(chunk); },
      &visit);
}
