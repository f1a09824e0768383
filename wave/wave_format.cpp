#include "wave/wave_format.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cmath>
#include <cstring>

#include "console/console.h"
#include "wave/byte_order.h"
#include "wave/file_name.h"

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

// Reads up to `size` bytes from the start of the file; what the file does not
// hold stays as it was (zero). Only read access is asked for: nothing is ever
// written through this descriptor.
void ReadFileStart(const std::string& inputFileName, std::uint8_t* buffer, std::size_t size) {
  const std::string name = FileSystemName(inputFileName);
  if (name.empty()) return;
  // Not blocking: a pipe given as the input reads as nothing instead of
  // hanging the dialogue.
  const int fd = open(name.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return;
  std::size_t done = 0;
  while (done < size) {
    const ssize_t got = pread(fd, buffer + done, size - done, static_cast<off_t>(done));
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) break;
    done += static_cast<std::size_t>(got);
  }
  close(fd);
}

}  // namespace

HeaderVerdict DecodeWaveHeader(const std::uint8_t (&header)[kWaveHeaderSize], WaveFormat& format) {
  WaveFormat f;
  f.formatTag = static_cast<std::int16_t>(LoadU16(header + 20));
  f.channelCount = header[22];  // byte 23, the high byte, is not part of it
  f.sampleRate = static_cast<std::int32_t>(LoadU32(header + 24));
  f.byteRate = static_cast<std::int32_t>(LoadU32(header + 28));
  f.blockAlign = static_cast<std::int16_t>(LoadU16(header + 32));
  f.bitsPerSample = static_cast<std::int16_t>(LoadU16(header + 34));
  f.dataSize = LoadU32(header + 40);
  format = f;

  if (std::memcmp(header + 8, "WAVE", 4) != 0) return HeaderVerdict::NotWave;
  if (f.formatTag != 1) return HeaderVerdict::NotPcm;
  if (f.bitsPerSample != 24) return HeaderVerdict::Not24Bit;
  if (f.sampleRate != 96000 && f.sampleRate != 192000) return HeaderVerdict::WrongRate;
  // Other channel counts would decode nothing and give silence reported as a
  // finished job, and a count of 0 would divide by zero below.
  if (f.channelCount != 1 && f.channelCount != 2) return HeaderVerdict::NotMonoStereo;

  // Length and duration at extended precision; the length is rounded to the
  // nearest whole frame, ties to even (the default rounding mode).
  const long double frames = static_cast<long double>(f.dataSize) * 8.0L /
                             static_cast<long double>(f.bitsPerSample * f.channelCount);
  f.sampleCount = static_cast<std::int64_t>(std::nearbyint(frames));
  f.durationSeconds = static_cast<double>(static_cast<long double>(f.sampleCount) /
                                          static_cast<long double>(f.sampleRate));
  format = f;
  return HeaderVerdict::Accepted;
}

bool ReadWaveHeader(const std::string& inputFileName, WaveFormat& format) {
  std::uint8_t header[kWaveHeaderSize] = {};
  ReadFileStart(inputFileName, header, sizeof header);  // the file is closed again here

  const HeaderVerdict verdict = DecodeWaveHeader(header, format);
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
