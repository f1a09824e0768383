// The job's streaming pass on one recording, and what its parts cost alone:
//   job_breakdown <input.wav> <letter> <output.wav> [blockFrames [threads]]
//   job_breakdown <input.wav> <letter> <output.wav> exact
//   job_breakdown <input.wav> <letter> <output.wav> steps [rounds]
//   job_breakdown <input.wav> <letter> <output.wav> job [blockFrames [threads]]
// Any of them with --level=plain, --level=avx2 or --level=avx512 first: the
// vector level lowered to that (the processor's best by default).
// Run it in a folder that holds the impulse files; <output.wav> must not
// exist yet. The parts, each timed on its own:
//   read      the input's blocks read into one buffer set (the pass's reads)
//   compute   every block filtered from memory, on the threads (no I/O)
//   write     the output's bytes appended to a new unnamed file, abandoned
//   pass      the whole job as it runs: buffers, output file, pass, the
//             file flushed to the disk, named, its folder flushed
//   replace   the same job once more over the file the pass just made:
//             the hidden name and the rename of a replacement included
// Under eatmydata the flushes cost nothing: the difference is their cost.
// With "exact", the whole-recording reference procedure instead: arrays,
// scatter convolution, exact conversion, one write. With "steps", the steps
// of one block on one thread, each timed on its own chunk by chunk, the
// recording in memory (see the tables below). With "job", only the job's
// own work as the program does it after its dialogue (header, buffers,
// impulse file, pass, durable output under its name), silently: for timing
// the job from outside at a lowered vector level.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "filter/filter_pass.h"
#include "filter/impulse_file.h"
#include "filter/parallel_tasks.h"
#include "processor/vector_level.h"
#include "reference/convolution.h"
#include "reference/output_image.h"
#include "reference/working_arrays.h"
#include "system/files.h"
#include "wave/dither.h"
#include "wave/sample_codes.h"
#include "wave/sample_frames.h"
#include "wave/wave_format.h"

namespace {

double Now() {
  return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

// Peak resident memory of the process so far, in MiB.
double PeakResidentMiB() {
  std::FILE* f = std::fopen("/proc/self/status", "r");
  if (f == nullptr) return -1;
  char line[256];
  long long kib = -1;
  while (std::fgets(line, sizeof line, f) != nullptr) {
    if (std::sscanf(line, "VmHWM: %lld kB", &kib) == 1) break;
  }
  std::fclose(f);
  return static_cast<double>(kib) / 1024.0;
}

struct Job {
  const char* input;
  const char* output;
  WaveFormat format;
  FilterChoice choice;
  PassSettings settings;
};

bool RunPass(const Job& job, PassOutcome* outcome = nullptr) {
  PassBuffers buffers;
  if (!AllocatePassBuffers(job.format, job.choice.coefficientCount, job.settings, buffers))
    return false;
  if (LoadImpulseResponse(job.choice, buffers.impulseResponse.data()) != ImpulseVerdict::kRead)
    return false;
  const FileHandle input = OpenFileForReading(job.input);
  OutputFile output;
  if (!CreateOutputFile(job.output, output)) {
    CloseFile(input);
    return false;
  }
  const PassOutcome result =
      RunFilterPass(job.format, job.choice.coefficientCount, input, output, buffers, job.settings);
  CloseFile(input);
  if (outcome != nullptr) *outcome = result;
  if (result.verdict != OutputVerdict::kWritten || !MakeOutputDurable(output) ||
      !NameOutputFile(output)) {
    AbandonOutputFile(output);
    return false;
  }
  return true;
}

double TimeReads(const Job& job, const PassBuffers& buffers) {
  const double start = Now();
  const FileHandle input = OpenFileForReading(job.input);
  const std::int64_t frameBytes = 3 * static_cast<std::int64_t>(job.format.channelCount);
  Buffer<std::uint8_t> block;
  block.Allocate(buffers.rawSetBytes);
  for (std::int64_t first = 0; first < job.format.sampleCount; first += buffers.blockFrames) {
    const std::int64_t frames = std::min(buffers.blockFrames, job.format.sampleCount - first);
    ReadFileAt(input, job.format.dataOffset + first * frameBytes, block.data(),
               frames * frameBytes);
  }
  CloseFile(input);
  return Now() - start;
}

// Every block filtered from the recording held in memory (zeros around it),
// block b on thread b mod T.
struct ComputeTasks {
  const FastFilter* filter;
  int channels;
  const std::uint8_t* raw;  // frames -(M - 1) .. N + M - 2
  std::int64_t resultLength;
  std::int64_t blockFrames;
  int threads;
  Buffer<std::uint8_t>* outputs;
  Buffer<double>* stages;
  Buffer<std::int32_t>* unsettled;
};

void ComputeShare(void* context, int index) {
  ComputeTasks& tasks = *static_cast<ComputeTasks*>(context);
  const std::int64_t frameBytes = 3 * static_cast<std::int64_t>(tasks.channels);
  const std::int64_t blocks = (tasks.resultLength + tasks.blockFrames - 1) / tasks.blockFrames;
  for (std::int64_t b = index; b < blocks; b += tasks.threads) {
    const std::int64_t first = b * tasks.blockFrames;
    const std::int64_t count = std::min(tasks.blockFrames, tasks.resultLength - first);
    FilterBlock(*tasks.filter, tasks.channels, tasks.raw + first * frameBytes, first, count,
                tasks.stages[index].data(), tasks.unsettled[index].data(),
                tasks.outputs[index].data());
  }
}

double TimeCompute(const Job& job, const PassBuffers& buffers) {
  const int m = job.choice.coefficientCount;
  const std::int64_t n = job.format.sampleCount;
  const std::int64_t resultLength = n + m - 1;
  const int channels = job.format.channelCount;
  const std::int64_t frameBytes = 3 * static_cast<std::int64_t>(channels);
  Buffer<std::uint8_t> recording;
  recording.Allocate(frameBytes * (resultLength + m - 1));
  const FileHandle input = OpenFileForReading(job.input);
  ReadFileAt(input, job.format.dataOffset, recording.data() + frameBytes * (m - 1), frameBytes * n);
  CloseFile(input);
  const FastFilter filter = PrepareFastFilter(buffers.impulseResponse.data(), m, n);
  Buffer<std::uint8_t> outputs[8];
  Buffer<double> stages[8];
  Buffer<std::int32_t> unsettled[8];
  for (int t = 0; t < buffers.threads; ++t) {
    outputs[t].Allocate(buffers.outputSetBytes);
    stages[t].Allocate(channels * (kChunkFrames + m - 1) + 2 * kStagePadding);
    unsettled[t].Allocate(channels * kChunkFrames);
  }
  ComputeTasks tasks{&filter,         channels, recording.data(), resultLength, buffers.blockFrames,
                     buffers.threads, outputs,  stages,           unsettled};
  const double start = Now();
  RunTasksInParallel(buffers.threads, ComputeShare, &tasks);
  return Now() - start;
}

double TimeWrites(const Job& job, const PassBuffers& buffers) {
  const std::int64_t frameBytes = 3 * static_cast<std::int64_t>(job.format.channelCount);
  const std::int64_t resultLength = job.format.sampleCount + job.choice.coefficientCount - 1;
  Buffer<std::uint8_t> block;
  block.Allocate(buffers.outputSetBytes);
  std::memset(block.data(), 0x5A, static_cast<std::size_t>(block.size()));
  const double start = Now();
  OutputFile output;
  if (!CreateOutputFile(job.output, output)) return -1;
  for (std::int64_t first = 0; first < resultLength; first += buffers.blockFrames) {
    const std::int64_t frames = std::min(buffers.blockFrames, resultLength - first);
    AppendOutput(output, block.data(), frames * frameBytes);
  }
  AbandonOutputFile(output);
  return Now() - start;
}

// The recording's input bytes in memory as the blocks see them: frames
// -(M - 1) .. N + M - 2, zeros outside 0 .. N - 1.
Buffer<std::uint8_t> RecordingInMemory(const Job& job) {
  const int m = job.choice.coefficientCount;
  const std::int64_t n = job.format.sampleCount;
  const std::int64_t frameBytes = 3 * static_cast<std::int64_t>(job.format.channelCount);
  Buffer<std::uint8_t> recording;
  recording.Allocate(frameBytes * (n + 2 * (m - 1)));
  const FileHandle input = OpenFileForReading(job.input);
  ReadFileAt(input, job.format.dataOffset, recording.data() + frameBytes * (m - 1), frameBytes * n);
  CloseFile(input);
  return recording;
}

double Median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  const std::size_t half = values.size() / 2;
  return values.size() % 2 ? values[half] : (values[half - 1] + values[half]) / 2;
}

// The steps of one block before and after the block path was fused: one
// minute of stereo at 192000 samples per second (pink noise), filter E,
// blocks of 65536 frames, chunks of 1024 frames; one thread; the steps mode
// of the program before (commit 4afde78) and after, taken in turn, twice
// each at every level, 9 rounds a run, load average 1.3 to 1.8 on the
// 2-processor AVX-512 machine; ns per sample, the mean of the two runs:
//   before                          plain    AVX2   AVX-512
//   decode/widen (deinterleaving)    1.11    0.16    0.16
//   dither (one pass per channel)    0.84    0.32    0.32
//   taps                             6.10    1.37    0.87
//   settled check + rounding         1.20    0.40    0.39
//   exact fallbacks                  0.00    0.00    0.00   (11 samples, 0.3 us each)
//   encode/store                     0.69    0.13    0.12
//   block path as it runs           10.34    2.32    1.89
//   G taps/s (one core)              1.94    8.64   10.63
//   after
//   decode/widen (as the bytes lie)  0.84    0.13    0.09
//   taps+dither+check+round+encode   7.66    1.48    0.71
//   exact fallbacks                  0.00    0.00    0.00   (11 samples, 0.22 us each)
//   block path as it runs            8.86    1.61    0.78
//   G taps/s (one core)              2.26   12.44   25.92
// Before, the taps were half the time at AVX2 and AVX-512 and the passes
// around them the other half. After, the fused step is the block path. At
// AVX2 its taps are five fused multiply-adds a sample (the value kernel,
// which runs them alike, takes 1.16 ns of its 1.48), near the two a cycle
// the processor can start. At AVX-512 tap by tap, most window loads
// crossed a cache line and held the taps at about half that peak (0.80
// ns); by classes (fast_convolution.cpp) a third of the loads remain, none
// repeated. The plain level (baseline SSE2) is kept correct, not fast: its
// taps are scalar.
//
// The steps of the block path, each timed on its own around every chunk,
// the recording in memory, on the calling thread alone, in several rounds.
// The machine is shared: a step that another process interrupts in one round
// runs undisturbed in the others, so each step of each chunk counts with its
// median over the rounds, and a step's figure is the sum of those medians.
// Each block's input is first copied into a buffer of its own (untimed), as
// the pass's read puts it into a buffer set: the steps find it in the cache
// as they do in the pass. The steps are those of FilterBlock: the widening,
// then the fused codes kernel (taps, dither, settled check, rounding and
// encoding in one pass over the chunk), then the exact path of the samples
// it leaves unsettled (their count times the time one takes).
enum Step { kWiden, kCodes, kFallback, kStepCount };
const char* const kStepNames[kStepCount] = {"decode/widen", "taps+dither+check+round+encode",
                                            "exact fallbacks"};

// Seconds by round, then by (chunk, step) or by block.
struct StepClock {
  std::vector<std::vector<double>> steps;
  std::vector<std::vector<double>> blocks;
  std::int64_t fallbacks = 0;
};

void TimeStepsOnce(const Job& job, const FastFilter& filter, const std::uint8_t* recording,
                   std::int64_t blockFrames, StepClock& clock) {
  const int channels = job.format.channelCount;
  const int m = filter.m;
  const std::int64_t frameBytes = 3 * static_cast<std::int64_t>(channels);
  const std::int64_t resultLength = job.format.sampleCount + m - 1;
  std::vector<double> stage(
      static_cast<std::size_t>(channels * (kChunkFrames + m - 1) + 2 * kStagePadding));
  std::vector<std::int32_t> unsettled(static_cast<std::size_t>(channels * kChunkFrames));
  std::vector<std::uint8_t> output(static_cast<std::size_t>(frameBytes * blockFrames));
  std::vector<std::uint8_t> block(static_cast<std::size_t>(frameBytes * (blockFrames + m - 1)));
  std::vector<double>& steps = clock.steps.emplace_back();
  std::int64_t fallbacks = 0;
  double* chunkSteps = nullptr;
  auto timed = [&](Step step, auto&& work) {
    const double start = Now();
    work();
    chunkSteps[step] += Now() - start;
  };
  for (std::int64_t first = 0; first < resultLength; first += blockFrames) {
    const std::int64_t count = std::min(blockFrames, resultLength - first);
    std::memcpy(block.data(), recording + first * frameBytes,
                static_cast<std::size_t>(frameBytes * (count + m - 1)));
    const std::uint8_t* raw = block.data();
    for (std::int64_t done = 0; done < count; done += kChunkFrames) {
      const std::int64_t chunk = std::min(kChunkFrames, count - done);
      const std::int64_t k0 = first + done;
      steps.resize(steps.size() + kStepCount, 0.0);
      chunkSteps = steps.data() + steps.size() - kStepCount;
      double* samples = stage.data() + kStagePadding;  // after the zeros the kernels may read
      timed(kWiden,
            [&] { WidenSamples24(raw + frameBytes * done, channels * (chunk + m - 1), samples); });
      const double* s = samples + (m - 1) * channels;
      timed(kCodes, [&] {
        fallbacks += filter.codes(filter.h, m, s, channels, chunk * channels,
                                  static_cast<std::uint64_t>(k0) * channels, filter.margin,
                                  output.data() + frameBytes * done, unsettled.data());
      });
    }
  }
  clock.fallbacks = fallbacks;
  // The block path as it runs, block by block.
  std::vector<double>& blocks = clock.blocks.emplace_back();
  for (std::int64_t first = 0; first < resultLength; first += blockFrames) {
    const std::int64_t count = std::min(blockFrames, resultLength - first);
    std::memcpy(block.data(), recording + first * frameBytes,
                static_cast<std::size_t>(frameBytes * (count + m - 1)));
    const double start = Now();
    FilterBlock(filter, channels, block.data(), first, count, stage.data(), unsettled.data(),
                output.data());
    blocks.push_back(Now() - start);
  }
}

// The sum over the entries (those of `step` out of every `stride`) of each
// entry's median over the rounds.
double SumOfMedians(const std::vector<std::vector<double>>& rounds, std::size_t step,
                    std::size_t stride) {
  double sum = 0;
  std::vector<double> values(rounds.size());
  for (std::size_t i = step; i < rounds[0].size(); i += stride) {
    for (std::size_t r = 0; r < rounds.size(); ++r) values[r] = rounds[r][i];
    sum += Median(values);
  }
  return sum;
}

// Seconds that one sample's exact path takes (exact value, exact
// conversion): a stretch of blocks with every sample forced onto it, the
// fastest of three runs.
double ExactSecondsPerSample(const Job& job, const std::uint8_t* recording, const double* h) {
  const int channels = job.format.channelCount;
  const int m = job.choice.coefficientCount;
  const FastFilter forced = PrepareFastFilter(h, m, job.format.sampleCount, 0.5);
  const std::int64_t frames = std::min<std::int64_t>(16384, job.format.sampleCount + m - 1);
  std::vector<double> stage(
      static_cast<std::size_t>(channels * (kChunkFrames + m - 1) + 2 * kStagePadding));
  std::vector<std::int32_t> unsettled(static_cast<std::size_t>(channels * kChunkFrames));
  std::vector<std::uint8_t> output(static_cast<std::size_t>(3 * channels * frames));
  double best = 1e9;
  for (int run = 0; run < 3; ++run) {
    const double start = Now();
    const std::int64_t exact = FilterBlock(forced, channels, recording, 0, frames, stage.data(),
                                           unsettled.data(), output.data());
    best = std::min(best, (Now() - start) / static_cast<double>(std::max<std::int64_t>(exact, 1)));
  }
  return best;
}

int RunSteps(const Job& job, const PassBuffers& buffers, int rounds) {
  const int m = job.choice.coefficientCount;
  const Buffer<std::uint8_t> recording = RecordingInMemory(job);
  const FastFilter filter =
      PrepareFastFilter(buffers.impulseResponse.data(), m, job.format.sampleCount);
  const double exactSeconds =
      ExactSecondsPerSample(job, recording.data(), buffers.impulseResponse.data());
  StepClock clock;
  for (int round = 0; round < rounds; ++round) {
    TimeStepsOnce(job, filter, recording.data(), buffers.blockFrames, clock);
  }
  double seconds[kStepCount];
  for (int step = 0; step < kStepCount; ++step)
    seconds[step] = SumOfMedians(clock.steps, step, kStepCount);
  seconds[kFallback] = static_cast<double>(clock.fallbacks) * exactSeconds;
  double sum = 0;
  for (double step : seconds) sum += step;
  const double whole = SumOfMedians(clock.blocks, 0, 1);
  const double samples =
      static_cast<double>(job.format.sampleCount + m - 1) * job.format.channelCount;
  const char* const levels[] = {"plain", "avx2", "avx512"};
  std::printf(
      "steps of the block path, one thread, vector level %s, %lld frames x %d channels, "
      "filter %c (%d taps), blocks of %lld frames, chunks of %lld, %d rounds\n",
      levels[static_cast<int>(ActiveVectorLevel())], static_cast<long long>(job.format.sampleCount),
      job.format.channelCount, job.choice.letter, m, static_cast<long long>(buffers.blockFrames),
      static_cast<long long>(kChunkFrames), rounds);
  for (int step = 0; step < kStepCount; ++step) {
    std::printf("  %-30s %8.1f ms %7.2f ns/sample %5.1f %%\n", kStepNames[step],
                1e3 * seconds[step], 1e9 * seconds[step] / samples, 100 * seconds[step] / sum);
  }
  std::printf("  %-30s %8.1f ms %7.2f ns/sample   (%lld samples at %.0f ns each)\n",
              "sum of the steps", 1e3 * sum, 1e9 * sum / samples,
              static_cast<long long>(clock.fallbacks), 1e9 * exactSeconds);
  std::printf("  %-30s %8.1f ms %7.2f ns/sample   %.2f G taps/s\n", "block path as it runs",
              1e3 * whole, 1e9 * whole / samples, samples * m / whole * 1e-9);
  return 0;
}

int RunExact(const Job& job) {
  const double start = Now();
  const int m = job.choice.coefficientCount;
  Buffer<double> h;
  h.Allocate(m);
  if (LoadImpulseResponse(job.choice, h.data()) != ImpulseVerdict::kRead) return 1;
  Buffer<std::uint8_t> image;
  if (!BuildReferenceOutput(job.input, job.format, h.data(), m, image)) return 1;
  const double computed = Now();
  OutputFile output;
  if (!CreateOutputFile(job.output, output) || !AppendOutput(output, image.data(), image.size()) ||
      !MakeOutputDurable(output) || !NameOutputFile(output)) {
    AbandonOutputFile(output);
    return 1;
  }
  const double end = Now();
  std::printf("exact reference, %lld frames x %d channels, filter %c (%d taps)\n",
              static_cast<long long>(job.format.sampleCount), job.format.channelCount,
              job.choice.letter, m);
  std::printf("  arrays, convolution, conversion %8.3f s\n", computed - start);
  std::printf("  write                           %8.3f s\n", end - computed);
  std::printf("  total                           %8.3f s   peak memory %.1f MiB\n", end - start,
              PeakResidentMiB());
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc > 1 && std::strncmp(argv[1], "--level=", 8) == 0) {
    const char* level = argv[1] + 8;
    if (std::strcmp(level, "plain") == 0) {
      LimitVectorLevel(VectorLevel::kPlain);
    } else if (std::strcmp(level, "avx2") == 0) {
      LimitVectorLevel(VectorLevel::kAvx2);
    } else if (std::strcmp(level, "avx512") != 0) {
      std::fprintf(stderr, "job_breakdown: unknown vector level %s\n", level);
      return 2;
    }
    ++argv;
    --argc;
  }
  if (argc < 4) {
    std::fprintf(
        stderr,
        "usage: job_breakdown [--level=plain|avx2|avx512] <input.wav> <letter> <output.wav>\n"
        "                     [exact | steps [rounds] | job [blockFrames [threads]] | blockFrames [threads]]\n");
    return 2;
  }
  const FilterTableEntry* entry = FindFilter(argv[2][0]);
  Job job{argv[1], argv[3], {}, {}, {}};
  const FileHandle input = OpenFileForReading(argv[1]);
  const HeaderVerdict verdict = ReadWaveHeader(input, job.format);
  CloseFile(input);
  if (entry == nullptr || verdict != HeaderVerdict::kAccepted) return 1;
  job.choice = FilterChoice{entry->letter, entry->impulseFileName, entry->coefficientCount};
  if (argc > 4 && std::strcmp(argv[4], "exact") == 0) return RunExact(job);
  if (argc > 4 && std::strcmp(argv[4], "job") == 0) {
    if (argc > 5) job.settings.blockFrames = std::atoll(argv[5]);
    if (argc > 6) job.settings.threads = std::atoi(argv[6]);
    return RunPass(job) ? 0 : 1;
  }
  const bool steps = argc > 4 && std::strcmp(argv[4], "steps") == 0;
  if (argc > 4 && !steps) job.settings.blockFrames = std::atoll(argv[4]);
  if (argc > 5 && !steps) job.settings.threads = std::atoi(argv[5]);

  PassBuffers buffers;
  if (!AllocatePassBuffers(job.format, job.choice.coefficientCount, job.settings, buffers) ||
      LoadImpulseResponse(job.choice, buffers.impulseResponse.data()) != ImpulseVerdict::kRead) {
    return 1;
  }
  if (steps) return RunSteps(job, buffers, argc > 5 ? std::max(1, std::atoi(argv[5])) : 5);
  const double read = TimeReads(job, buffers);
  const double compute = TimeCompute(job, buffers);
  const double write = TimeWrites(job, buffers);

  // The job as it runs, then once more replacing what it wrote.
  double start = Now();
  PassOutcome outcome;
  if (!RunPass(job, &outcome)) return 1;
  const double pass = Now() - start;
  start = Now();
  if (!RunPass(job)) return 1;
  const double replace = Now() - start;

  std::printf(
      "pass, %lld frames x %d channels, filter %c (%d taps), blocks of %lld frames, %d threads, %d sets\n",
      static_cast<long long>(job.format.sampleCount), job.format.channelCount, job.choice.letter,
      job.choice.coefficientCount, static_cast<long long>(buffers.blockFrames), buffers.threads,
      buffers.sets);
  std::printf("  read      %8.3f s   (alone)\n", read);
  std::printf("  compute   %8.3f s   (alone, %d threads)\n", compute, buffers.threads);
  std::printf("  write     %8.3f s   (alone, a new file)\n", write);
  std::printf("  pass      %8.3f s   new file; %lld samples took an exact path\n", pass,
              static_cast<long long>(outcome.exactSamples));
  std::printf("  replace   %8.3f s   over an existing file: replacement %+.3f s\n", replace,
              replace - pass);
  return 0;
}
