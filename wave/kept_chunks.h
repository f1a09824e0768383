// The input's metadata on its way to the output: every chunk but those that
// describe the samples ("fmt ", "data", "ds64", "fact"), padding ("JUNK",
// "junk", "PAD ", "FLLR") and level summaries that filtering makes false
// ("PEAK", "levl"). They follow the output's data chunk in the order the
// input holds them, so that the output keeps its canonical header at fixed
// positions and every reader that walks chunks finds them. A "bext" chunk
// (broadcast wave) gets one more line of coding history.
//
// The chunks are those of the header reader's walk (riff_chunks.h), to the
// end of the file or to a chunk that runs past it; one whose id is not four
// printable characters is stepped over and not copied: no reader could name
// it, and it is most often the zeros a recorder left after its data. They
// are copied from the input file a piece at a time: a large one costs disk,
// never memory.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "system/files.h"
#include "wave/riff_chunks.h"
#include "wave/wave_format.h"

// The coding-history line of this job, as broadcast wave tools write one:
// "A=PCM,F=192000,W=24,M=stereo,T=Ostrivale 1.0 filter E" and CR LF.
std::string CodingHistoryLine(const WaveFormat& format, char filterLetter);

// What became of a step that reads the input file and writes the output.
enum class OutputVerdict {
  kWritten,
  kInputUnreadable,   // a read failed, or the input holds fewer bytes than when it was checked
  kOutputUnwritable,  // a write failed, or an ending event waits (ending.h)
};

// Sets `bytes` to what the kept chunks of the input take in the output:
// their heads, bodies (a bext one with `historyLine` added, unless its size
// would then pass 32 bits) and pad bytes. False when the input cannot be read.
bool CountKeptChunks(const WaveSource& input, std::string_view historyLine, std::int64_t& bytes);

// Appends the kept chunks to `output`. kInputUnreadable also when they do not
// come to `plannedBytes` (the input changed since CountKeptChunks).
OutputVerdict AppendKeptChunks(const WaveSource& input, std::string_view historyLine,
                               std::int64_t plannedBytes, OutputFile& output);
