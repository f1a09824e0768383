#include "wave/writer.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cmath>
#include <cstdlib>
#include <cstring>

#include "console/console.h"
#include "wave/file_name.h"

namespace {

void PutU32(std::uint8_t* p, std::uint32_t v) {
  p[0] = static_cast<std::uint8_t>(v);
  p[1] = static_cast<std::uint8_t>(v >> 8);
  p[2] = static_cast<std::uint8_t>(v >> 16);
  p[3] = static_cast<std::uint8_t>(v >> 24);
}

void PutU16(std::uint8_t* p, std::uint16_t v) {
  p[0] = static_cast<std::uint8_t>(v);
  p[1] = static_cast<std::uint8_t>(v >> 8);
}

void PutCode24(std::uint8_t* p, std::int32_t code) {
  const std::uint32_t bits = static_cast<std::uint32_t>(code);
  p[0] = static_cast<std::uint8_t>(bits);
  p[1] = static_cast<std::uint8_t>(bits >> 8);
  p[2] = static_cast<std::uint8_t>(bits >> 16);
}

// A value of a result array, or 0 past its end (a channel whose array was
// never filled is written as dithered silence rather than read out of bounds).
double ResultAt(const Buffer<double>& result, std::int64_t k) {
  return k < result.size() ? result[k] : 0.0;
}

// The whole output file as it will stand on disk: header, dithered samples
// and, after data of odd length, the zero pad byte that RIFF asks for.
bool BuildFileImage(const WaveFormat& format, const WorkingArrays& arrays,
                    DitherGenerator& generator, Buffer<std::uint8_t>& image) {
  const std::int64_t frames = arrays.resultLength > 0 ? arrays.resultLength : 0;
  const std::int64_t dataBytes = 3 * static_cast<std::int64_t>(format.channelCount) * frames;
  const std::int64_t padBytes = dataBytes % 2;
  if (!image.Allocate(kWaveHeaderSize + dataBytes + padBytes)) return false;

  std::uint8_t header[kWaveHeaderSize];
  BuildOutputHeader(format, frames, header);
  std::memcpy(image.data(), header, sizeof header);

  std::uint8_t* out = image.data() + kWaveHeaderSize;
  if (format.channelCount == 1) {
    for (std::int64_t k = 0; k < frames; ++k) {
      PutCode24(out + 3 * k, ConvertSample(ResultAt(arrays.monoResult, k), generator));
    }
  } else if (format.channelCount == 2) {
    for (std::int64_t k = 0; k < frames; ++k) {
      PutCode24(out + 6 * k, ConvertSample(ResultAt(arrays.leftResult, k), generator));
      PutCode24(out + 6 * k + 3, ConvertSample(ResultAt(arrays.rightResult, k), generator));
    }
  }
  // Any other channel count leaves the samples as zero bytes.
  return true;
}

bool WriteAll(int fd, const std::uint8_t* bytes, std::int64_t count) {
  std::int64_t done = 0;
  while (done < count) {
    const ssize_t put = write(fd, bytes + done, static_cast<std::size_t>(count - done));
    if (put < 0 && errno == EINTR) continue;
    if (put <= 0) return false;  // a write that makes no progress: disk full
    done += put;
  }
  return true;
}

mode_t NewFileMode() {
  const mode_t mask = umask(0);
  umask(mask);
  return static_cast<mode_t>(0666 & ~mask);
}

// The file that will be replaced: the typed name, or what it links to.
// False when the name cannot be a regular file's.
struct Target {
  std::string path;
  bool exists = false;
  struct stat status {};
};

bool FindTarget(const std::string& name, Target& target) {
  if (name.empty() || name.back() == '/') return false;
  struct stat status {};
  if (lstat(name.c_str(), &status) != 0) {
    if (errno != ENOENT) return false;  // a folder on the way is missing or not a folder
    target.path = name;
    target.exists = false;
    return true;
  }
  target.path = name;
  if (S_ISLNK(status.st_mode)) {
    // Write where the link points, so the link stays a link.
    char* resolved = realpath(name.c_str(), nullptr);
    if (resolved == nullptr) return false;
    target.path = resolved;
    std::free(resolved);
    if (stat(target.path.c_str(), &status) != 0) return false;
  }
  // Only a regular file is replaced: never a folder, a device or a pipe.
  if (!S_ISREG(status.st_mode)) return false;
  // A file we may not write keeps its protection, even though the folder
  // would let us put a new file in its place.
  if (access(target.path.c_str(), W_OK) != 0) return false;
  target.exists = true;
  target.status = status;
  return true;
}

bool WriteReplacing(const Target& target, const Buffer<std::uint8_t>& image) {
  const std::string::size_type slash = target.path.rfind('/');
  const std::string folder =
      slash == std::string::npos ? std::string() : target.path.substr(0, slash + 1);
  std::string temporary = folder + ".ostrivale-XXXXXX";
  const int fd = mkostemp(temporary.data(), O_CLOEXEC);
  if (fd < 0) return false;

  // Beyond a file size limit a write must fail with EFBIG, not end the
  // program on SIGXFSZ with the temporary file left behind.
  struct sigaction ignore {};
  struct sigaction previous {};
  ignore.sa_handler = SIG_IGN;
  sigemptyset(&ignore.sa_mask);
  sigaction(SIGXFSZ, &ignore, &previous);

  bool ok = WriteAll(fd, image.data(), image.size());
  if (ok && target.exists) {
    // Keep the replaced file's owner (when allowed) and its permissions; set-id
    // bits are not carried over to content they were never meant for.
    if (fchown(fd, target.status.st_uid, target.status.st_gid) != 0) {
      // Not ours to give away: the file stays ours, as a new one would be.
    }
    ok = fchmod(fd, target.status.st_mode & 0777) == 0;
    // The new content must be on disk before the name moves to it, or a
    // crash could leave neither the old file nor the new one.
    ok = ok && fsync(fd) == 0;
  } else if (ok) {
    ok = fchmod(fd, NewFileMode()) == 0;
  }
  ok = (close(fd) == 0) && ok;
  ok = ok && rename(temporary.c_str(), target.path.c_str()) == 0;
  sigaction(SIGXFSZ, &previous, nullptr);

  if (!ok) {
    unlink(temporary.c_str());
    return false;
  }
  if (target.exists) {
    // Make the rename itself durable; the data is complete either way.
    const int dirFd = open(folder.empty() ? "." : folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dirFd >= 0) {
      fsync(dirFd);
      close(dirFd);
    }
  }
  return true;
}

}  // namespace

double DrawDither(DitherGenerator& generator) {
  generator.state = generator.state * 134775813u + 1u;
  return static_cast<double>(generator.state >> 1) / 2147483648.0;
}

std::int32_t ConvertSample(double y, DitherGenerator& generator) {
  // Both draws are taken whatever the value, so that the dither of every
  // later sample stays where it belongs.
  const long double r1 = DrawDither(generator);
  const long double r2 = DrawDither(generator);
  if (std::isnan(y)) return 0;

  // Negative values are raised by 2^24 first (rounded to a 64-bit float, as
  // when stored); this leaves the low 24 bits of the code unchanged.
  const bool raised = y < 0;
  if (raised) y = static_cast<double>(static_cast<long double>(y) + 16777216.0L);
  long double v = r1 + static_cast<long double>(y);
  v = v + r2;
  v = v - 1.0L;
  long double code = std::nearbyint(v);  // ties to even
  if (raised) code -= 16777216.0L;

  // Out of range saturates: a wrapped code would be a full-scale click.
  if (code > 8388607.0L) return 8388607;
  if (code < -8388608.0L) return -8388608;
  return static_cast<std::int32_t>(code);
}

void BuildOutputHeader(const WaveFormat& format, std::int64_t resultLength,
                       std::uint8_t (&header)[kWaveHeaderSize]) {
  // Sizes are the low 32 bits of their products, as the header holds them.
  const std::uint32_t outputDataSize = static_cast<std::uint32_t>(
      static_cast<std::uint64_t>(static_cast<std::int64_t>(format.blockAlign)) *
      static_cast<std::uint64_t>(resultLength));
  std::uint32_t riffSize = outputDataSize + 36u;
  if (riffSize % 2 != 0) riffSize += 1u;

  std::memcpy(header + 0, "RIFF", 4);
  PutU32(header + 4, riffSize);
  std::memcpy(header + 8, "WAVE", 4);
  std::memcpy(header + 12, "fmt ", 4);
  PutU32(header + 16, 16u);
  PutU16(header + 20, 1u);
  PutU16(header + 22, format.channelCount);
  PutU32(header + 24, static_cast<std::uint32_t>(format.sampleRate));
  PutU32(header + 28, static_cast<std::uint32_t>(format.byteRate));
  PutU16(header + 32, static_cast<std::uint16_t>(format.blockAlign));
  PutU16(header + 34, static_cast<std::uint16_t>(format.bitsPerSample));
  std::memcpy(header + 36, "data", 4);
  PutU32(header + 40, outputDataSize);
}

bool WriteOutputFile(const std::string& outputFileName, const WaveFormat& format,
                     const WorkingArrays& arrays, DitherGenerator& generator) {
  Target target;
  Buffer<std::uint8_t> image;
  const bool ok = FindTarget(FileSystemName(outputFileName), target) &&
                  BuildFileImage(format, arrays, generator, image) &&
                  WriteReplacing(target, image);
  image.Release();
  if (!ok) {
    Beep();
    ShowMessageBox("The output file could not be written", "                 ERROR");
  }
  return ok;
}
