// Fuzzes the wave header reader: canonical headers read from fixed positions,
// every other layout walked chunk by chunk (RF64 and BW64 included), the same
// bytes read through the file system, and, for accepted headers of a modest
// length, the sample loading that follows and the output header made for the
// result. Every accepted header must give fields that stand in the file and a
// length that agrees with its data size, the file the verdict of the bytes;
// the loaded samples must be the file's bytes from the start of
// the data (zero past its end); an output header must read back as what it
// describes.
#include <fcntl.h>
#include <unistd.h>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "reference/working_arrays.h"
#include "wave/byte_order.h"
#include "wave/kept_chunks.h"
#include "wave/output_header.h"
#include "wave/wave_format.h"

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

bool IdAt(const std::uint8_t* data, std::size_t size, std::int64_t at, const char* id) {
  return at >= 0 && static_cast<std::uint64_t>(at) + 4 <= size &&
         std::memcmp(data + at, id, 4) == 0;
}

// The fields of a "fmt " body; the extensible form may stand for format 1.
bool FieldsAre(const std::uint8_t* body, const WaveFormat& f) {
  const auto tag = static_cast<std::int16_t>(LoadU16(body));
  return (f.formatTag == tag || (f.formatTag == 1 && tag == -2)) &&
         f.channelCount == LoadU16(body + 2) &&
         f.sampleRate == static_cast<std::int32_t>(LoadU32(body + 4)) &&
         f.byteRate == static_cast<std::int32_t>(LoadU32(body + 8)) &&
         f.blockAlign == static_cast<std::int16_t>(LoadU16(body + 12)) &&
         f.bitsPerSample == static_cast<std::int16_t>(LoadU16(body + 14));
}

void CheckDecoded(const std::uint8_t* data, std::size_t size, HeaderVerdict verdict,
                  const WaveFormat& f) {
  std::uint8_t header[kWaveHeaderSize] = {};
  std::memcpy(header, data, size < sizeof header ? size : sizeof header);
  const bool canonical =
      size < sizeof header ||
      (IdAt(data, size, 12, "fmt ") && LoadU32(header + 16) == 16u && IdAt(data, size, 36, "data"));
  const bool form = std::memcmp(header, "RIFF", 4) == 0 || std::memcmp(header, "RF64", 4) == 0 ||
                    std::memcmp(header, "BW64", 4) == 0;
  const bool wave = form && std::memcmp(header + 8, "WAVE", 4) == 0;
  if (canonical && (wave || size < sizeof header)) {
    // The fields are the bytes at their fixed positions, whatever the verdict;
    // the data is what the file holds of it, all of it for a size of FFFFFFFF.
    Check(
        FieldsAre(header + 20, f) && f.formatTag == static_cast<std::int16_t>(LoadU16(header + 20)),
        "canonical fields at their fixed positions");
    const std::uint32_t size32 = LoadU32(header + 40);
    const std::uint64_t held = size > sizeof header ? size - sizeof header : 0;
    Check(f.dataSize == (size32 != 0xFFFFFFFFu && size32 < held ? size32 : held),
          "canonical dataSize");
    Check(f.dataOffset == kWaveHeaderSize, "canonical samples at 44");
  } else if (verdict != HeaderVerdict::kNotWave) {
    // A walked file: the data chunk's body and a "fmt " chunk's fields.
    Check(IdAt(data, size, f.dataOffset - 8, "data"), "samples start after a data chunk's header");
    Check(f.dataOffset <= static_cast<std::int64_t>(size), "data starts inside the file");
    const std::uint32_t size32 = LoadU32(data + f.dataOffset - 4);
    const std::uint64_t held = size - static_cast<std::uint64_t>(f.dataOffset);
    Check(
        size32 != 0xFFFFFFFFu ? f.dataSize == (size32 < held ? size32 : held) : f.dataSize <= held,
        "a 32-bit size as far as the file holds it, a marked one no more than the file holds");
    bool fieldsFound = false;
    for (std::size_t at = 12; at + 24 <= size && !fieldsFound; ++at) {
      fieldsFound = IdAt(data, size, static_cast<std::int64_t>(at), "fmt ") &&
                    LoadU32(data + at + 4) >= 16u && FieldsAre(data + at + 8, f);
    }
    Check(fieldsFound, "the fields are those of a fmt chunk");
  }

  const bool rate = f.sampleRate == 96000 || f.sampleRate == 192000;
  const bool channels = f.channelCount == 1 || f.channelCount == 2;
  const bool tests =
      f.formatTag == 1 && f.bitsPerSample == 24 && f.validBitsPerSample <= 24 && rate && channels;
  if (!wave) Check(verdict == HeaderVerdict::kNotWave, "identifier tested first");
  if (verdict != HeaderVerdict::kNotWave) {
    Check((verdict == HeaderVerdict::kAccepted) == tests, "verdict agrees with the fields");
  }
  if (verdict != HeaderVerdict::kAccepted) return;

  // Length: data size over 3 bytes per channel, rounded half to even.
  const std::uint64_t bytesPerFrame = 3u * f.channelCount;
  const std::uint64_t lower = f.dataSize / bytesPerFrame;
  const std::uint64_t remainder = f.dataSize % bytesPerFrame;
  std::uint64_t expected = lower;
  if (2 * remainder > bytesPerFrame || (2 * remainder == bytesPerFrame && lower % 2 == 1)) {
    expected = lower + 1;
  }
  Check(f.sampleCount >= 0 && static_cast<std::uint64_t>(f.sampleCount) == expected,
        "length is the rounded frame count");
  Check(std::isfinite(f.durationSeconds) && f.durationSeconds >= 0.0, "duration finite");
  const double seconds = static_cast<double>(f.sampleCount) / f.sampleRate;
  Check(std::fabs(f.durationSeconds - seconds) <= 1e-12 * (seconds + 1.0), "duration");
}

bool ReadFromBytes(void* context, std::int64_t offset, std::uint8_t* into, std::int64_t count) {
  std::memcpy(into, static_cast<const std::uint8_t*>(context) + offset,
              static_cast<std::size_t>(count));
  return true;
}

WaveSource DecodeSource(const std::uint8_t* data, std::size_t size) {
  return WaveSource{ReadFromBytes, const_cast<std::uint8_t*>(data),
                    static_cast<std::int64_t>(size)};
}

// An output header followed by zeros: a file of `fileSize` bytes.
struct HeaderThenZeros {
  const OutputHeader* header;
};

bool ReadHeaderThenZeros(void* context, std::int64_t offset, std::uint8_t* into,
                         std::int64_t count) {
  const OutputHeader& header = *static_cast<HeaderThenZeros*>(context)->header;
  for (std::int64_t i = 0; i < count; ++i) {
    into[i] = offset + i < header.size ? header.bytes[offset + i] : 0;
  }
  return true;
}

// The header for `frames` frames reads back as a file of that many frames.
void CheckOutputHeader(const WaveFormat& input, std::int64_t frames) {
  const OutputHeader header = BuildOutputHeader(input, frames);
  const std::uint64_t dataBytes = 3u * input.channelCount * static_cast<std::uint64_t>(frames);
  const bool wide = kWaveHeaderSize - 8 + dataBytes + dataBytes % 2 > 0xFFFFFFFFu;
  Check(header.size == (wide ? kMaxOutputHeaderSize : kWaveHeaderSize),
        "RF64 form only when needed");
  HeaderThenZeros file{&header};
  const WaveSource source{ReadHeaderThenZeros, &file,
                          header.size + static_cast<std::int64_t>(dataBytes + dataBytes % 2)};
  WaveFormat back;
  Check(DecodeWaveHeader(source, back) == HeaderVerdict::kAccepted, "output header accepted");
  Check(back.channelCount == input.channelCount && back.sampleRate == input.sampleRate,
        "output channels and rate");
  Check(back.blockAlign == 3 * input.channelCount &&
            back.byteRate == input.sampleRate * 3 * input.channelCount,
        "output block align and byte rate describe the data");
  Check(back.dataSize == dataBytes && back.sampleCount == frames, "output sizes");
  Check(back.dataOffset == header.size, "samples follow the output header");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  WaveFormat decoded;
  const HeaderVerdict verdict = DecodeWaveBytes(data, size, decoded);
  CheckDecoded(data, size, verdict, decoded);

  // The same bytes as a file: the reader agrees.
  WriteScratch(data, size);
  WaveFormat read;
  const int fd = open(ScratchPath().c_str(), O_RDONLY | O_CLOEXEC);
  Check(fd >= 0, "scratch file opens for reading");
  const HeaderVerdict fromFile = ReadWaveHeader(fd, read);
  close(fd);
  Check(fromFile == verdict, "file and bytes agree");
  if (verdict != HeaderVerdict::kAccepted) return 0;
  Check(read.sampleCount == decoded.sampleCount && read.dataSize == decoded.dataSize &&
            read.dataOffset == decoded.dataOffset,
        "file and bytes give the same format");

  // The metadata that would follow the output's data: whole chunks, each of
  // even length, no more than the file holds beside a coding-history line
  // (with a line break) for each chunk of at least 602 bytes.
  const std::string line = CodingHistoryLine(read, 'E');
  std::int64_t kept = 0;
  Check(CountKeptChunks(DecodeSource(data, size), line, kept), "bytes in memory always read");
  Check(kept >= 0 && kept % 2 == 0, "kept chunks are whole chunks");
  Check(kept <= static_cast<std::int64_t>(size) + static_cast<std::int64_t>(size / 610 + 1) *
                                                      (static_cast<std::int64_t>(line.size()) + 3),
        "kept chunks come from the file");

  // Output headers: for this length and for one far past 4 GiB of data.
  CheckOutputHeader(read, read.sampleCount + 16);
  CheckOutputHeader(read, (std::int64_t{1} << 31) + static_cast<std::int64_t>(size));

  // Loading, for lengths that allocate quickly: the decoded samples are the
  // file's bytes from the start of the data, zero where the data chunk has
  // ended (a frame it cuts short is not completed from what follows it).
  if (read.sampleCount > (1 << 14)) return 0;
  std::int64_t end = static_cast<std::int64_t>(size);
  if (read.dataSize < static_cast<std::uint64_t>(end - read.dataOffset)) {
    end = read.dataOffset + static_cast<std::int64_t>(read.dataSize);
  }
  WorkingArrays arrays;
  Check(AllocateWorkingArrays(read, 17, arrays), "small arrays allocate");
  Check(arrays.resultLength == read.sampleCount + 16, "result length N + M - 1");
  LoadInputSamples(ScratchPath(), read, arrays);
  const int c = read.channelCount;
  for (std::int64_t i = 0; i < read.sampleCount; ++i) {
    for (int k = 0; k < c; ++k) {
      std::uint8_t bytes[3] = {};
      for (int b = 0; b < 3; ++b) {
        const std::int64_t at = read.dataOffset + 3 * (c * i + k) + b;
        if (at < end) bytes[b] = data[at];
      }
      const std::int32_t want = DecodeSample24(bytes);
      const std::int32_t got =
          c == 1 ? arrays.monoInput[i] : (k == 0 ? arrays.leftInput[i] : arrays.rightInput[i]);
      Check(got == want, "sample decoded from the file's bytes");
    }
  }
  return 0;
}
