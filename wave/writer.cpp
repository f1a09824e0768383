#include "wave/writer.h"

#include <fcntl.h>
#include <pthread.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <unistd.h>

#include <immintrin.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cmath>
#include <cstdlib>
#include <cstring>

#include "console/console.h"
#include "wave/byte_order.h"
#include "wave/dither_stream.h"
#include "wave/file_name.h"
#include "wave/parallel.h"
#include "wave/vector_level.h"

// The image of the output file as it will stand on disk: header, dithered
// samples and, after data of odd length, the zero pad byte that RIFF asks for.
bool BuildOutputImage(const WaveFormat& format, WorkingArrays& arrays, DitherGenerator& generator,
                      Buffer<std::uint8_t>& image) {
  const std::int64_t frames = arrays.resultLength > 0 ? arrays.resultLength : 0;
  const std::int64_t size = OutputImageBytes(format.channelCount, frames);
  // The raw sample block is read and decoded by now: its pages, already in
  // memory, serve again for the image instead of fresh ones.
  if (arrays.rawSampleBlock.size() >= size) {
    image = std::move(arrays.rawSampleBlock);
    std::memset(image.data() + size - 1, 0, 1);  // the pad byte, when there is one
  } else {
    arrays.rawSampleBlock.Release();
    if (!image.Allocate(size)) return false;
  }

  const OutputHeader header = BuildOutputHeader(format, frames);
  std::memcpy(image.data(), header.bytes, static_cast<std::size_t>(header.size));

  const int channels = format.channelCount == 1 || format.channelCount == 2 ? format.channelCount : 0;
  const double* results[2] = {nullptr, nullptr};
  bool complete = true;
  if (channels == 1) {
    results[0] = arrays.monoResult.data();
    complete = arrays.monoResult.size() >= frames;
  } else if (channels == 2) {
    results[0] = arrays.leftResult.data();
    results[1] = arrays.rightResult.data();
    complete = arrays.leftResult.size() >= frames && arrays.rightResult.size() >= frames;
  }
  std::uint8_t* data = image.data() + kWaveHeaderSize;
  if (channels == 0) {
    std::memset(data, 0, static_cast<std::size_t>(size - kWaveHeaderSize));
  } else if (complete && generator.state == DitherGenerator{}.state) {
    EncodeSamplesFast(results, channels, frames, data);
    const DitherJump drawn = DitherJumpOf(2 * static_cast<std::uint64_t>(channels * frames));
    generator.state = ApplyJump(drawn, generator.state);
  } else {
    // Arrays shorter than the header says (never so in the job) are read as
    // dithered silence past their end, one sample at a time.
    const Buffer<double>* arraysOf[2] = {channels == 1 ? &arrays.monoResult : &arrays.leftResult,
                                         &arrays.rightResult};
    for (std::int64_t k = 0; k < frames; ++k) {
      for (int c = 0; c < channels; ++c) {
        const Buffer<double>& r = *arraysOf[c];
        StoreCode24(data + 3 * (k * channels + c), ConvertSample(k < r.size() ? r[k] : 0.0, generator));
      }
    }
  }
  return true;
}

namespace {

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

bool WriteReplacingNow(const Target& target, const Buffer<std::uint8_t>& image) {
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

// A signal that ends the program (from outside, or a closed terminal) is held
// while the temporary file exists and delivered once it is renamed or
// removed: an interrupted write never leaves a stray file beside the output.
bool WriteReplacing(const Target& target, const Buffer<std::uint8_t>& image) {
  sigset_t ending;
  sigset_t previous;
  sigemptyset(&ending);
  for (int sig : {SIGTERM, SIGHUP, SIGINT, SIGQUIT}) sigaddset(&ending, sig);
  pthread_sigmask(SIG_BLOCK, &ending, &previous);
  const bool ok = WriteReplacingNow(target, image);
  pthread_sigmask(SIG_SETMASK, &previous, nullptr);
  return ok;
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

void EncodeSamplesExact(const double* const* results, int channelCount, std::int64_t frames,
                        DitherGenerator& generator, std::uint8_t* data) {
  for (std::int64_t k = 0; k < frames; ++k) {
    for (int c = 0; c < channelCount; ++c) {
      StoreCode24(data + 3 * (k * channelCount + c), ConvertSample(results[c][k], generator));
    }
  }
}

// The fast conversion.
//
// ConvertSample computes, for a value y and the draws r1, r2 of its sample,
// round(v) with v formed at extended precision (64-bit significand, unit
// roundoff 2^-64). How far can v be from the real number y + d, d = r1 + r2 - 1?
//  - y >= 0: v = ((r1 + y) + r2) - 1, three roundings of numbers below 2^25 in
//    magnitude wherever the code is not saturated, each off by at most
//    2^(25-64) = 2^-39: |v - (y + d)| <= 3 x 2^-39.
//  - -2^24 < y < 0: first y' = y + 2^24, formed at extended precision and
//    stored as a double: y' lies in (0, 2^24], where half a double ulp is at
//    most 2^-30 (and the extended rounding adds at most 2^-41); then the same
//    three roundings; the code is round(v) - 2^24. So |rho| <= 2^-30 + 2^-41 +
//    3 x 2^-39 < 2^-29.
//  - y <= -2^24 or y beyond 2^24: the code saturates (shown below).
// So the code is round(y + d + rho), |rho| < 2^-29, then saturated. Here
// z = y + d is formed in double: below 2^24 in magnitude its rounding error
// is at most 2^-30. CodeIsSettled(z, 2^-24) holds when z lies 2^-24 or more
// from every half-integer: then y + d + rho, within 2^-29 + 2^-30 of z, lies
// strictly between the same half-integers and rounds to round(z). It holds
// too when z > 8388608 or z < -8388609: then y + d + rho is above 8388607.5
// or below -8388608.5 and the exact code saturates, as round(z) clamped does.
// Every other sample (near a half-integer, or not a number) is converted by
// ConvertSample itself, with the generator set to that sample's state.

namespace {

constexpr std::int64_t kEncodeChunk = 1024;

// Codes of settled values: round(y + d) clamped to the 24-bit range.
void RoundCodesPlain(const double* y, const double* d, std::int64_t count, std::int32_t* codes) {
  for (std::int64_t i = 0; i < count; ++i) {
    double z = y[i] + d[i];
    if (!(z >= -8388608.0)) z = -8388608.0;  // also what becomes of not-a-number
    if (z > 8388607.0) z = 8388607.0;
    // Clamping to integer limits first gives the same code as rounding first.
    codes[i] = static_cast<std::int32_t>((z + 0x1.8p52) - 0x1.8p52);
  }
}

__attribute__((target("avx2"))) void RoundCodesAvx2(const double* y, const double* d,
                                                     std::int64_t count, std::int32_t* codes) {
  const __m256d low = _mm256_set1_pd(-8388608.0);
  const __m256d high = _mm256_set1_pd(8388607.0);
  std::int64_t i = 0;
  for (; i + 4 <= count; i += 4) {
    __m256d z = _mm256_add_pd(_mm256_loadu_pd(y + i), _mm256_loadu_pd(d + i));
    z = _mm256_round_pd(z, _MM_FROUND_TO_NEAREST_INT | _MM_FROUND_NO_EXC);
    z = _mm256_min_pd(_mm256_max_pd(z, low), high);  // not-a-number becomes a limit
    _mm_storeu_si128(reinterpret_cast<__m128i*>(codes + i), _mm256_cvtpd_epi32(z));
  }
  RoundCodesPlain(y + i, d + i, count - i, codes + i);
}

struct EncodeJob {
  const double* const* results;
  int channelCount;
  std::int64_t frames;
  std::uint8_t* data;
  double margin;
  std::int64_t framesPerTask;
  std::int64_t exactSamples[8];
};

void EncodeRange(void* context, int index) {
  EncodeJob& job = *static_cast<EncodeJob*>(context);
  const std::int64_t begin = index * job.framesPerTask;
  const std::int64_t end = std::min(begin + job.framesPerTask, job.frames);
  double dither[kEncodeChunk];
  std::int64_t unsettled[kEncodeChunk];
  std::int32_t codes[kEncodeChunk];
  std::int64_t exactSamples = 0;
  const int channels = job.channelCount;
  for (std::int64_t k0 = begin; k0 < end; k0 += kEncodeChunk) {
    const std::int64_t count = std::min(kEncodeChunk, end - k0);
    for (int c = 0; c < channels; ++c) {
      const double* y = job.results[c] + k0;
      const std::uint64_t firstSample = static_cast<std::uint64_t>(k0) * channels + c;
      FillDitherOffsets(firstSample, channels, count, dither);
      if (ActiveVectorLevel() >= VectorLevel::kAvx2) {
        RoundCodesAvx2(y, dither, count, codes);
      } else {
        RoundCodesPlain(y, dither, count, codes);
      }
      const std::int64_t found = FindUnsettledCodes(y, dither, count, job.margin, unsettled);
      for (std::int64_t u = 0; u < found; ++u) {
        const std::int64_t i = unsettled[u];
        const std::uint64_t sample = firstSample + static_cast<std::uint64_t>(i) * channels;
        DitherGenerator generator{ApplyJump(DitherJumpOf(2 * sample), DitherGenerator{}.state)};
        codes[i] = ConvertSample(y[i], generator);
      }
      exactSamples += found;
      std::uint8_t* out = job.data + 3 * (k0 * channels + c);
      for (std::int64_t i = 0; i < count; ++i) StoreCode24(out + 3 * channels * i, codes[i]);
    }
  }
  job.exactSamples[index] = exactSamples;
}

}  // namespace

std::int64_t EncodeSamplesFast(const double* const* results, int channelCount, std::int64_t frames,
                               std::uint8_t* data, double extraMargin) {
  if (frames <= 0 || channelCount <= 0) return 0;
  const int workers = WorkerCount();
  // Short recordings are not worth a thread.
  const std::int64_t framesPerTask =
      std::max<std::int64_t>(kEncodeChunk * 64, (frames + workers - 1) / workers);
  const int tasks = static_cast<int>((frames + framesPerTask - 1) / framesPerTask);
  EncodeJob job{results, channelCount, frames, data, kWriterRoundingMargin + extraMargin,
                framesPerTask, {}};
  RunParallel(tasks, EncodeRange, &job);
  std::int64_t exactSamples = 0;
  for (int t = 0; t < tasks; ++t) exactSamples += job.exactSamples[t];
  return exactSamples;
}

bool WriteOutputImage(const std::string& outputFileName, const Buffer<std::uint8_t>& image) {
  Target target;
  return FindTarget(FileSystemName(outputFileName), target) && WriteReplacing(target, image);
}

bool WriteOutputFile(const std::string& outputFileName, const WaveFormat& format,
                     WorkingArrays& arrays, DitherGenerator& generator) {
  Buffer<std::uint8_t> image;
  const bool ok = BuildOutputImage(format, arrays, generator, image) &&
                  WriteOutputImage(outputFileName, image);
  image.Release();
  if (!ok) {
    Beep();
    ShowMessageBox("The output file could not be written", "                 ERROR");
  }
  return ok;
}
