// Fuzzes the wave header reader: the 44 bytes decoded from fixed positions,
// short files read through the file system, and, for accepted headers of a
// modest length, the sample loading that follows. Every accepted header must
// give a length that agrees with its data size, every refused one exactly one
// message box, and the loaded samples must be the file's bytes (zero past its
// end).
#include <fcntl.h>
#include <unistd.h>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "console/console_state.h"
#include "wave/wave_format.h"
#include "wave/working_arrays.h"

namespace {

void Check(bool condition, const char* what) {
  if (!condition) {
    std::fprintf(stderr, "invariant broken: %s\n", what);
    std::abort();
  }
}

void RemoveScratch();

const std::string& ScratchPath() {
  static const std::string path = [] {
    char name[64];
    std::snprintf(name, sizeof name, "/tmp/fuzz-header-%d.wav", static_cast<int>(getpid()));
    std::atexit(RemoveScratch);
    return std::string(name);
  }();
  return path;
}

void RemoveScratch() { unlink(ScratchPath().c_str()); }

void WriteScratch(const std::uint8_t* data, std::size_t size) {
  const int fd = open(ScratchPath().c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
  Check(fd >= 0, "scratch file opens");
  std::size_t done = 0;
  while (done < size) {
    const ssize_t n = write(fd, data + done, size - done);
    Check(n > 0, "scratch file written");
    done += static_cast<std::size_t>(n);
  }
  close(fd);
}

std::uint32_t U32(const std::uint8_t* p) {
  return static_cast<std::uint32_t>(p[0]) | static_cast<std::uint32_t>(p[1]) << 8 |
         static_cast<std::uint32_t>(p[2]) << 16 | static_cast<std::uint32_t>(p[3]) << 24;
}

void CheckDecoded(const std::uint8_t (&header)[kWaveHeaderSize], HeaderVerdict verdict,
                  const WaveFormat& f) {
  // The fields are the bytes at their fixed positions, whatever the verdict.
  Check(f.formatTag == static_cast<std::int16_t>(header[20] | header[21] << 8), "formatTag");
  Check(f.channelCount == header[22], "channelCount is byte 22 alone");
  Check(f.sampleRate == static_cast<std::int32_t>(U32(header + 24)), "sampleRate");
  Check(f.dataSize == U32(header + 40), "dataSize");

  const bool wave = std::memcmp(header + 8, "WAVE", 4) == 0;
  const bool rate = f.sampleRate == 96000 || f.sampleRate == 192000;
  const bool channels = f.channelCount == 1 || f.channelCount == 2;
  const bool accept = wave && f.formatTag == 1 && f.bitsPerSample == 24 && rate && channels;
  Check((verdict == HeaderVerdict::Accepted) == accept, "verdict agrees with the fields");
  if (!wave) Check(verdict == HeaderVerdict::NotWave, "identifier tested first");
  if (verdict != HeaderVerdict::Accepted) return;

  // Length: data size over 3 bytes per channel, rounded half to even.
  const std::int64_t bytesPerFrame = 3 * static_cast<std::int64_t>(f.channelCount);
  Check(f.sampleCount >= 0, "length not negative");
  const std::int64_t lower = static_cast<std::int64_t>(f.dataSize) / bytesPerFrame;
  const std::int64_t remainder = static_cast<std::int64_t>(f.dataSize) % bytesPerFrame;
  std::int64_t expected = lower;
  if (2 * remainder > bytesPerFrame || (2 * remainder == bytesPerFrame && lower % 2 == 1)) {
    expected = lower + 1;
  }
  Check(f.sampleCount == expected, "length is the rounded frame count");
  Check(std::isfinite(f.durationSeconds) && f.durationSeconds >= 0.0, "duration finite");
  const double seconds = static_cast<double>(f.sampleCount) / f.sampleRate;
  Check(std::fabs(f.durationSeconds - seconds) <= 1e-12 * (seconds + 1.0), "duration");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  // The header as the reader sees it: what the file holds, zeros after it.
  std::uint8_t header[kWaveHeaderSize] = {};
  std::memcpy(header, data, size < sizeof header ? size : sizeof header);
  WaveFormat decoded;
  const HeaderVerdict verdict = DecodeWaveHeader(header, decoded);
  CheckDecoded(header, verdict, decoded);

  // The same bytes as a file: the reader agrees and shows one box per refusal.
  WriteScratch(data, size);
  StartHeadlessConsole("");
  WaveFormat read;
  const bool accepted = ReadWaveHeader(ScratchPath(), read);
  Check(accepted == (verdict == HeaderVerdict::Accepted), "file and bytes agree");
  Check(MessageBoxLog().size() == (accepted ? 0u : 1u), "one box per refusal");
  Check(BeepCount() == (accepted ? 0 : 1), "one beep per refusal");
  if (!accepted) return 0;
  Check(read.sampleCount == decoded.sampleCount && read.dataSize == decoded.dataSize,
        "file and bytes give the same format");
  ShowFileData(read);

  // Loading, for lengths that allocate quickly: the decoded samples are the
  // file's bytes from offset 44, zero where the file has ended.
  if (read.sampleCount > (1 << 14)) return 0;
  WorkingArrays arrays;
  Check(AllocateWorkingArrays(read, 17, arrays), "small arrays allocate");
  Check(arrays.resultLength == read.sampleCount + 16, "result length N + M - 1");
  LoadInputSamples(ScratchPath(), read, arrays);
  const int c = read.channelCount;
  for (std::int64_t i = 0; i < read.sampleCount; ++i) {
    for (int k = 0; k < c; ++k) {
      std::uint8_t bytes[3] = {};
      for (int b = 0; b < 3; ++b) {
        const std::size_t at = kWaveHeaderSize + static_cast<std::size_t>(3 * (c * i + k) + b);
        if (at < size) bytes[b] = data[at];
      }
      const std::int32_t want = DecodeSample24(bytes);
      const std::int32_t got =
          c == 1 ? arrays.monoInput[i] : (k == 0 ? arrays.leftInput[i] : arrays.rightInput[i]);
      Check(got == want, "sample decoded from the file's bytes");
    }
  }
  return 0;
}
