#include "wave/kept_chunks.h"

#include <cstring>

#include "wave/byte_order.h"

namespace {

// The fixed fields of a bext chunk, before its coding history.
constexpr std::int64_t kBextFixedBytes = 602;

// Bytes copied at a time.
constexpr std::int64_t kPieceBytes = 1 << 16;

constexpr char kDroppedIds[][5] = {"fmt ", "data", "ds64", "fact", "JUNK",
                                   "junk", "PAD ", "FLLR", "PEAK", "levl"};

bool IdIs(const std::uint8_t* at, const char* id) { return std::memcmp(at, id, 4) == 0; }

bool IsDropped(const std::uint8_t* id) {
  for (const char* dropped : kDroppedIds) {
    if (IdIs(id, dropped)) return true;
  }
  return false;
}

// A chunk id is four characters from blank to tilde.
bool IsChunkId(const std::uint8_t* id) {
  for (int i = 0; i < 4; ++i) {
    if (id[i] < 0x20 || id[i] > 0x7E) return false;
  }
  return true;
}

struct KeptChunk {
  std::uint8_t id[4];
  std::int64_t body = 0;        // where its body starts in the input
  std::int64_t size = 0;        // the body's bytes in the input
  std::int64_t copied = 0;      // bytes of the body copied as they stand
  bool lineBreakFirst = false;  // the coding history needs a CR LF before the new line
  bool historyLine = false;     // the line is appended (bext)
  std::int64_t outputSize = 0;  // the body's bytes in the output
};

// Where the RIFF form ends: where its 32-bit size says, when that is a size
// and the file holds it, else at the end of the file (an RF64 file, a
// writer into a pipe that never filled it in).
std::int64_t FormEnd(const WaveSource& input) {
  std::uint8_t head[8];
  if (!ReadWaveSource(input, 0, head, 8) || !IdIs(head, "RIFF")) return input.fileSize;
  const std::uint32_t size = LoadU32(head + 4);
  if (size == kSizeInDs64 || size < 4 || 8 + static_cast<std::int64_t>(size) > input.fileSize) {
    return input.fileSize;
  }
  return 8 + static_cast<std::int64_t>(size);
}

// The end of a bext chunk's coding history: the NUL bytes that writers leave
// after its last line are dropped, so that the new line follows the text.
std::int64_t HistoryEnd(const WaveSource& input, const KeptChunk& chunk, bool& ok) {
  std::uint8_t piece[4096];
  std::int64_t end = chunk.size;
  while (end > kBextFixedBytes) {
    const std::int64_t count = end - kBextFixedBytes < 4096 ? end - kBextFixedBytes : 4096;
    if (!ReadWaveSource(input, chunk.body + end - count, piece, count)) {
      ok = false;
      return end;
    }
    for (std::int64_t i = count; i > 0; --i, --end) {
      if (piece[i - 1] != 0) return end;
    }
  }
  return kBextFixedBytes;
}

KeptChunk DescribeChunk(const WaveSource& input, const std::uint8_t* head, std::int64_t body,
                        std::string_view line, bool& ok) {
  KeptChunk chunk;
  std::memcpy(chunk.id, head, 4);
  chunk.body = body;
  chunk.size = LoadU32(head + 4);
  chunk.copied = chunk.size;
  chunk.outputSize = chunk.size;
  // A bext chunk too short to hold its fixed fields has no history to add to.
  if (IdIs(head, "bext") && chunk.size >= kBextFixedBytes) {
    chunk.copied = HistoryEnd(input, chunk, ok);
    std::uint8_t last = '\n';
    if (chunk.copied > kBextFixedBytes && !ReadWaveSource(input, body + chunk.copied - 1, &last, 1)) ok = false;
    chunk.lineBreakFirst = last != '\n';
    chunk.historyLine = true;
    chunk.outputSize = chunk.copied + (chunk.lineBreakFirst ? 2 : 0) + static_cast<std::int64_t>(line.size());
  }
  return chunk;
}

// Calls `visit` with every kept chunk, in the order of the input. False when
// the input could not be read where it must be.
template <typename Visit>
bool WalkKeptChunks(const WaveSource& input, const WaveFormat& format, std::string_view line, Visit visit) {
  const std::int64_t end = FormEnd(input);
  bool ok = true;
  std::int64_t at = 12;
  while (ok && end - at >= 8) {
    std::uint8_t head[8];
    if (!ReadWaveSource(input, at, head, 8)) return false;
    const std::int64_t body = at + 8;
    // The samples: as long as the header reader found them to be.
    std::uint64_t size = LoadU32(head + 4);
    if (body == format.dataOffset) {
      size = format.dataSize;
    } else if (!IsChunkId(head)) {
      return true;
    }
    if (size > static_cast<std::uint64_t>(end - body)) return true;
    if (body != format.dataOffset && !IsDropped(head)) {
      const KeptChunk chunk = DescribeChunk(input, head, body, line, ok);
      ok = ok && visit(chunk);
    }
    at = body + static_cast<std::int64_t>(size + size % 2);
  }
  return ok;
}

bool AppendPiecesOf(const WaveSource& input, std::int64_t from, std::int64_t count, OutputFile& output) {
  std::uint8_t piece[kPieceBytes];
  for (std::int64_t done = 0; done < count;) {
    const std::int64_t part = count - done < kPieceBytes ? count - done : kPieceBytes;
    if (!ReadWaveSource(input, from + done, piece, part) || !AppendOutput(output, piece, part)) return false;
    done += part;
  }
  return true;
}

bool AppendChunk(const WaveSource& input, const KeptChunk& chunk, std::string_view line, OutputFile& output) {
  std::uint8_t head[8];
  std::memcpy(head, chunk.id, 4);
  StoreU32(head + 4, static_cast<std::uint32_t>(chunk.outputSize));
  const std::uint8_t lineBreak[2] = {'\r', '\n'};
  const std::uint8_t pad = 0;
  return AppendOutput(output, head, 8) && AppendPiecesOf(input, chunk.body, chunk.copied, output) &&
         (!chunk.lineBreakFirst || AppendOutput(output, lineBreak, 2)) &&
         (!chunk.historyLine ||
          AppendOutput(output, reinterpret_cast<const std::uint8_t*>(line.data()),
                       static_cast<std::int64_t>(line.size()))) &&
         (chunk.outputSize % 2 == 0 || AppendOutput(output, &pad, 1));
}

std::int64_t OutputBytesOf(const KeptChunk& chunk) { return 8 + chunk.outputSize + chunk.outputSize % 2; }

}  // namespace

std::string CodingHistoryLine(const WaveFormat& format, char filterLetter) {
  std::string line = "A=PCM,F=" + std::to_string(format.sampleRate) + ",W=24,M=";
  line += format.channelCount == 1 ? "mono" : "stereo";
  line += ",T=Ostrivale " OSTRIVALE_VERSION " filter ";
  line += filterLetter;
  line += "\r\n";
  return line;
}

std::int64_t KeptChunkBytes(const WaveSource& input, const WaveFormat& format,
                            std::string_view historyLine) {
  std::int64_t bytes = 0;
  WalkKeptChunks(input, format, historyLine, [&](const KeptChunk& chunk) {
    bytes += OutputBytesOf(chunk);
    return true;
  });
  return bytes;
}

bool AppendKeptChunks(const WaveSource& input, const WaveFormat& format, std::string_view historyLine,
                      std::int64_t plannedBytes, OutputFile& output) {
  std::int64_t bytes = 0;
  const bool copied = WalkKeptChunks(input, format, historyLine, [&](const KeptChunk& chunk) {
    bytes += OutputBytesOf(chunk);
    return bytes <= plannedBytes && AppendChunk(input, chunk, historyLine, output);
  });
  return copied && bytes == plannedBytes;
}
