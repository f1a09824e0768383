// The input header: where its fields are found and the tests it must pass.
// Pure: it returns a verdict and shows nothing (wave/wave_dialogue.h shows it).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "wave/riff_chunks.h"

constexpr int kWaveHeaderSize = 44;  // the canonical header; its first sample byte is here

struct WaveFormat {
  // The first five are the first 16 bytes of the "fmt " chunk's body (bytes
  // 20-35 of a canonical header).
  std::int16_t formatTag = 0;      // body bytes 0-1; 1 for extensible PCM too
  std::uint16_t channelCount = 0;  // body bytes 2-3
  std::int32_t sampleRate = 0;     // body bytes 4-7
  std::int32_t byteRate = 0;       // body bytes 8-11
  std::int16_t blockAlign = 0;     // body bytes 12-13
  std::int16_t bitsPerSample = 0;  // body bytes 14-15
  // The extensible form's bits that carry the signal (body bytes 18-19); 0 in
  // every other form.
  std::uint16_t validBitsPerSample = 0;
  // Bytes of sample data that the file holds (unsigned, up to 64 bits in
  // RF64): never more than lie between dataOffset and the end of the file.
  std::uint64_t dataSize = 0;
  std::int64_t dataOffset = kWaveHeaderSize;  // where the first sample byte is
  // Bytes of the file when its header was read: the job reads that file, and
  // a file that holds fewer by then has failed it.
  std::int64_t fileSize = 0;
  std::int64_t sampleCount = 0;  // frames per channel ("Length")
  double durationSeconds = 0.0;  // sampleCount / sampleRate ("Duration")
};

// Why a header is refused, in the order the tests are made.
enum class HeaderVerdict {
  kAccepted,
  kNotWave,        // not "RIFF", "RF64" or "BW64" at 0 and "WAVE" at 8, or no "fmt " and
                   // "data" chunk can be found
  kNotPcm,         // formatTag is not 1, nor the extensible form of PCM
  kNot24Bit,       // bitsPerSample is not 24, or more than 24 bits are said to be valid
  kWrongRate,      // sampleRate is neither 96000 nor 192000
  kNotMonoStereo,  // channelCount is neither 1 nor 2
};

// Finds the header fields, makes the tests in order and, when all pass,
// derives sampleCount and durationSeconds. Pure: shows nothing.
//
// The chunks are walked from byte 12 (riff_chunks.h) to the first "fmt " and
// "data" chunks, in either order; a file whose chunks lead to no such pair is
// NotWave. The data is the bytes the file holds of the data chunk, whatever
// its size field says (riff_chunks.h). A file too short to hold the canonical
// 44-byte header is read from that header's fixed positions, its missing
// bytes as zeros: it holds no sample. The extensible form (format code FFFE,
// an extension of 22 bytes or more whose sub-format is PCM's) is taken as
// format 1. The fields are filled as far as they were found, whatever the
// verdict.
HeaderVerdict DecodeWaveHeader(const WaveSource& source, WaveFormat& format);

// DecodeWaveHeader on `size` bytes in memory, taken as the whole file.
HeaderVerdict DecodeWaveBytes(const std::uint8_t* bytes, std::size_t size, WaveFormat& format);

// DecodeWaveHeader on the open file `input` (kNoFile reads as an empty file,
// which is kNotWave). The file stays open.
HeaderVerdict ReadWaveHeader(FileHandle input, WaveFormat& format);
