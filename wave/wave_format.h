// The input header as the tool reads it from fixed byte positions, and the
// FILE DATA block that shows it.
#pragma once

#include <cstdint>
#include <string>

constexpr int kWaveHeaderSize = 44;  // the first sample byte is at this offset

struct WaveFormat {
  std::int16_t formatTag = 0;       // bytes 20-21
  std::uint16_t channelCount = 0;   // byte 22 alone (byte 23 is skipped)
  std::int32_t sampleRate = 0;      // bytes 24-27
  std::int32_t byteRate = 0;        // bytes 28-31
  std::int16_t blockAlign = 0;      // bytes 32-33
  std::int16_t bitsPerSample = 0;   // bytes 34-35
  std::uint64_t dataSize = 0;       // bytes 40-43, unsigned as RIFF defines it
  std::int64_t dataOffset = kWaveHeaderSize;  // where the first sample byte is
  std::int64_t sampleCount = 0;     // frames per channel ("Length")
  double durationSeconds = 0.0;     // sampleCount / sampleRate ("Duration")
};

// Why a header is refused, in the order the tests are made.
enum class HeaderVerdict {
  Accepted,
  NotWave,        // offset 8 is not "WAVE"
  NotPcm,         // formatTag is not 1
  Not24Bit,       // bitsPerSample is not 24
  WrongRate,      // sampleRate is neither 96000 nor 192000
  NotMonoStereo,  // channelCount is neither 1 nor 2
};

// Decodes the 44 header bytes (missing bytes of a short file given as zeros),
// makes the tests in order and, when all pass, derives sampleCount and
// durationSeconds. Pure: shows nothing.
HeaderVerdict DecodeWaveHeader(const std::uint8_t (&header)[kWaveHeaderSize], WaveFormat& format);

// Reads the header of `inputFileName`, closes the file, and either fills
// `format` and returns true, or sounds the beep, shows the rejection box and
// returns false.
bool ReadWaveHeader(const std::string& inputFileName, WaveFormat& format);

// Prints the FILE DATA block at the cursor in dark grey on bright white and
// leaves the cursor on the row of the filter question.
void ShowFileData(const WaveFormat& format);
