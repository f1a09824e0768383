// The input header: where its fields are found and the tests it must pass.
// Pure: it returns a verdict and shows nothing (wave/wave_dialogue.h shows it).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "system/files.h"

constexpr int kWaveHeaderSize = 44;  // the canonical header; its first sample byte is here

// A 32-bit size field holding this is no size: RF64 and BW64 files keep the
// real size in their ds64 chunk.
constexpr std::uint32_t kSizeInDs64 = 0xFFFFFFFFu;

struct WaveFormat {
  // The first five are the first 16 bytes of the "fmt " chunk's body (bytes
  // 20-35 of a canonical header).
  std::int16_t formatTag = 0;       // body bytes 0-1; 1 for extensible PCM too
  std::uint16_t channelCount = 0;   // body bytes 2-3
  std::int32_t sampleRate = 0;      // body bytes 4-7
  std::int32_t byteRate = 0;        // body bytes 8-11
  std::int16_t blockAlign = 0;      // body bytes 12-13
  std::int16_t bitsPerSample = 0;   // body bytes 14-15
  std::uint64_t dataSize = 0;       // bytes of sample data (unsigned, up to 64 bits in RF64)
  std::int64_t dataOffset = kWaveHeaderSize;  // where the first sample byte is
  // True when the data chunk was found by walking the chunks: the bytes after
  // its last one belong to other chunks and are no samples. A canonical file
  // reads its frames on from byte 44 whatever follows.
  bool dataEndsWithChunk = false;
  std::int64_t sampleCount = 0;     // frames per channel ("Length")
  double durationSeconds = 0.0;     // sampleCount / sampleRate ("Duration")
};

// Why a header is refused, in the order the tests are made.
enum class HeaderVerdict {
  Accepted,
  NotWave,        // not "RIFF", "RF64" or "BW64" at 0 and "WAVE" at 8, or no "fmt " and
                  // "data" chunk can be found
  NotPcm,         // formatTag is not 1, nor the extensible form of PCM
  Not24Bit,       // bitsPerSample is not 24
  WrongRate,      // sampleRate is neither 96000 nor 192000
  NotMonoStereo,  // channelCount is neither 1 nor 2
};

// Where the header decoder takes its bytes from: the input file, or bytes in
// memory for tests and the fuzzer. `readAt` copies the `count` bytes at
// `offset` to `into` and returns false when it could not read them all.
struct WaveSource {
  bool (*readAt)(void* context, std::int64_t offset, std::uint8_t* into, std::int64_t count);
  void* context;
  std::int64_t fileSize;  // bytes in the file; nothing at or past it is read
};

// Reads the `count` bytes at `offset` of the source; false when any of them
// lies outside the file or cannot be read.
bool ReadWaveSource(const WaveSource& source, std::int64_t offset, std::uint8_t* into,
                    std::int64_t count);

// Finds the header fields, makes the tests in order and, when all pass,
// derives sampleCount and durationSeconds. Pure: shows nothing.
//
// A canonical header ("fmt " at 12 with size 16, "data" at 36), and a file
// too short to hold one, are read from fixed positions with missing bytes as
// zeros and the samples at byte 44. Any other layout is walked chunk by chunk
// from byte 12 to its "fmt " and "data" chunks, with the 64-bit sizes of the
// ds64 chunk in an RF64 or BW64 file; a file whose chunks cannot be followed
// there is NotWave. A data size of FFFFFFFF that no ds64 size stands for
// means the data runs to the end of the file, in every layout. The
// extensible form (format code FFFE, an extension of 22 bytes or more whose
// sub-format is PCM's) is taken as format 1. The fields are filled as far as
// they were found, whatever the verdict.
HeaderVerdict DecodeWaveHeader(const WaveSource& source, WaveFormat& format);

// DecodeWaveHeader on `size` bytes in memory, taken as the whole file.
HeaderVerdict DecodeWaveBytes(const std::uint8_t* bytes, std::size_t size, WaveFormat& format);

// The input file as a WaveSource, read through a window of it kept in memory:
// a walk over many small chunks then costs one system call per window, not
// one per chunk. Set `file` before use; the window does not close it.
struct FileWindow {
  FileHandle file = kNoFile;
  std::int64_t start = 0;  // file offset of bytes[0]
  std::int64_t held = 0;   // bytes of the window that hold the file
  std::uint8_t bytes[4096] = {};
};
WaveSource FileWaveSource(FileWindow& window);
