// The input's metadata on its way to the output: every chunk but those that
// describe the samples ("fmt ", "data", "ds64", "fact"), padding ("JUNK",
// "junk", "PAD ", "FLLR") and level summaries that filtering makes false
// ("PEAK", "levl"). They follow the output's data chunk in the order the
// input holds them, so that the output keeps its canonical header at fixed
// positions and every reader that walks chunks finds them. A "bext" chunk
// (broadcast wave) gets one more line of coding history.
//
// The chunks are copied from the input file a piece at a time: a large one
// costs disk, never memory. The walk stops at the end of the RIFF form, at
// an id that is not four printable characters, and at a chunk that runs past
// the end of the file: what lies beyond is no chunk to copy.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "system/files.h"
#include "wave/wave_format.h"

// The coding-history line of this job, as broadcast wave tools write one:
// "A=PCM,F=192000,W=24,M=stereo,T=Ostrivale 1.0 filter E" and CR LF.
std::string CodingHistoryLine(const WaveFormat& format, char filterLetter);

// Bytes the kept chunks of the accepted input take in the output: their
// heads, bodies (a bext one with `historyLine` added) and pad bytes.
std::int64_t KeptChunkBytes(const WaveSource& input, const WaveFormat& format,
                            std::string_view historyLine);

// Appends the kept chunks to `output`. False when they do not come to
// `plannedBytes` (the input changed since KeptChunkBytes), or a read or a
// write fails.
bool AppendKeptChunks(const WaveSource& input, const WaveFormat& format, std::string_view historyLine,
                      std::int64_t plannedBytes, OutputFile& output);
