#include "wave/kept_chunks.h"

#include <cstring>

#include "wave/byte_order.h"

namespace {

// The fixed fields of a bext chunk, before its coding history.
constexpr std::int64_t kBextFixedBytes = 602;

// Bytes copied at a time.
constexpr std::int64_t kPieceBytes = 1 << 16;

// The largest body a chunk's 32-bit size can describe.
constexpr std::int64_t kMostChunkBytes = 0xFFFFFFFF;

constexpr char kDroppedIds[][5] = {"fmt ", "data", "ds64", "fact", "JUNK",
                                   "junk", "PAD ", "FLLR", "PEAK", "levl"};

bool IsKept(const std::uint8_t* id) {
  if (!IsPrintableChunkId(id)) return false;
  for (const char(&dropped)[5] : kDroppedIds) {
    if (ChunkIdIs(id, dropped)) return false;
  }
  return true;
}

struct KeptChunk {
  RiffChunk chunk;
  std::int64_t copied = 0;      // bytes of the body copied as they stand
  bool lineBreakFirst = false;  // the coding history needs a CR LF before the new line
  bool historyLine = false;     // the line is appended (bext)
  std::int64_t outputSize = 0;  // the body's bytes in the output
};

// The end of a bext chunk's coding history: the NUL bytes that writers leave
// after its last line are dropped, so that the new line follows the text.
bool FindHistoryEnd(const WaveSource& input, const RiffChunk& chunk, std::int64_t& end) {
  std::uint8_t piece[4096];
  end = static_cast<std::int64_t>(chunk.size);
  while (end > kBextFixedBytes) {
    const std::int64_t count = end - kBextFixedBytes < 4096 ? end - kBextFixedBytes : 4096;
    if (!ReadWaveSource(input, chunk.body + end - count, piece, count)) return false;
    for (std::int64_t i = count; i > 0; --i, --end) {
      if (piece[i - 1] != 0) return true;
    }
  }
  return true;
}

// How a kept chunk goes to the output. A bext chunk too short to hold its
// fixed fields has no history to add to, and one whose size would pass 32
// bits with the line goes as it stands: no size field may say less than the
// bytes that follow it. False when the input cannot be read.
bool DescribeChunk(const WaveSource& input, const RiffChunk& chunk, std::string_view line,
                   KeptChunk& kept) {
  kept.chunk = chunk;
  kept.copied = static_cast<std::int64_t>(chunk.size);
  kept.outputSize = kept.copied;
  if (!ChunkIdIs(chunk.id, "bext") || kept.copied < kBextFixedBytes) return true;
  std::int64_t historyEnd = 0;
  std::uint8_t last = '\n';
  if (!FindHistoryEnd(input, chunk, historyEnd) ||
      (historyEnd > kBextFixedBytes &&
       !ReadWaveSource(input, chunk.body + historyEnd - 1, &last, 1))) {
    return false;
  }
  const bool lineBreakFirst = last != '\n';
  const std::int64_t outputSize =
      historyEnd + (lineBreakFirst ? 2 : 0) + static_cast<std::int64_t>(line.size());
  if (outputSize > kMostChunkBytes) return true;
  kept.copied = historyEnd;
  kept.lineBreakFirst = lineBreakFirst;
  kept.historyLine = true;
  kept.outputSize = outputSize;
  return true;
}

// Calls `visit` with every kept chunk, in the order of the input, until it
// returns anything but kWritten.
template <typename Visit>
OutputVerdict WalkKeptChunks(const WaveSource& input, std::string_view line, Visit visit) {
  OutputVerdict verdict = OutputVerdict::kWritten;
  auto take = [&](const RiffChunk& chunk) {
    if (!IsKept(chunk.id)) return true;
    KeptChunk kept;
    verdict =
        DescribeChunk(input, chunk, line, kept) ? visit(kept) : OutputVerdict::kInputUnreadable;
    return verdict == OutputVerdict::kWritten;
  };
  if (WalkRiffChunks(input, take) == ChunkWalkEnd::kUnreadable)
    return OutputVerdict::kInputUnreadable;
  return verdict;
}

OutputVerdict AppendPiecesOf(const WaveSource& input, std::int64_t from, std::int64_t count,
                             OutputFile& output) {
  std::uint8_t piece[kPieceBytes];
  for (std::int64_t done = 0; done < count;) {
    const std::int64_t part = count - done < kPieceBytes ? count - done : kPieceBytes;
    if (!ReadWaveSource(input, from + done, piece, part)) return OutputVerdict::kInputUnreadable;
    if (!AppendOutput(output, piece, part)) return OutputVerdict::kOutputUnwritable;
    done += part;
  }
  return OutputVerdict::kWritten;
}

OutputVerdict AppendChunk(const WaveSource& input, const KeptChunk& kept, std::string_view line,
                          OutputFile& output) {
  std::uint8_t head[8];
  std::memcpy(head, kept.chunk.id, 4);
  StoreU32(head + 4, static_cast<std::uint32_t>(kept.outputSize));
  if (!AppendOutput(output, head, 8)) return OutputVerdict::kOutputUnwritable;
  const OutputVerdict body = AppendPiecesOf(input, kept.chunk.body, kept.copied, output);
  if (body != OutputVerdict::kWritten) return body;
  const std::uint8_t lineBreak[2] = {'\r', '\n'};
  const std::uint8_t pad = 0;
  const bool written =
      (!kept.lineBreakFirst || AppendOutput(output, lineBreak, 2)) &&
      (!kept.historyLine || AppendOutput(output, reinterpret_cast<const std::uint8_t*>(line.data()),
                                         static_cast<std::int64_t>(line.size()))) &&
      (kept.outputSize % 2 == 0 || AppendOutput(output, &pad, 1));
  return written ? OutputVerdict::kWritten : OutputVerdict::kOutputUnwritable;
}

std::int64_t OutputBytesOf(const KeptChunk& kept) {
  return 8 + kept.outputSize + kept.outputSize % 2;
}

}  // namespace

std::string CodingHistoryLine(const WaveFormat& format, char filterLetter) {
  std::string line = "A=PCM,F=" + std::to_string(format.sampleRate) + ",W=24,M=";
  line += format.channelCount == 1 ? "mono" : "stereo";
  line += ",T=Ostrivale " OSTRIVALE_VERSION " filter ";
  line += filterLetter;
  line += "\r\n";
  return line;
}

bool CountKeptChunks(const WaveSource& input, std::string_view historyLine, std::int64_t& bytes) {
  bytes = 0;
  const OutputVerdict verdict = WalkKeptChunks(input, historyLine, [&](const KeptChunk& kept) {
    bytes += OutputBytesOf(kept);
    return OutputVerdict::kWritten;
  });
  return verdict == OutputVerdict::kWritten;
}

OutputVerdict AppendKeptChunks(const WaveSource& input, std::string_view historyLine,
                               std::int64_t plannedBytes, OutputFile& output) {
  std::int64_t bytes = 0;
  const OutputVerdict verdict = WalkKeptChunks(input, historyLine, [&](const KeptChunk& kept) {
    bytes += OutputBytesOf(kept);
    if (bytes > plannedBytes) return OutputVerdict::kInputUnreadable;
    return AppendChunk(input, kept, historyLine, output);
  });
  if (verdict != OutputVerdict::kWritten) return verdict;
  return bytes == plannedBytes ? OutputVerdict::kWritten : OutputVerdict::kInputUnreadable;
}
