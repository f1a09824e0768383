// The job's streaming pass on one recording, and what its parts cost alone:
//   job_breakdown <input.wav> <letter> <output.wav> [blockFrames [threads]]
//   job_breakdown <input.wav> <letter> <output.wav> exact
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
// scatter convolution, exact conversion, one write.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "console/console.h"
#include "filter/convolution.h"
#include "filter/filter_dialogue.h"
#include "filter/filter_pass.h"
#include "filter/impulse_file.h"
#include "system/files.h"
#include "system/threads.h"
#include "wave/dither_stream.h"
#include "wave/wave_dialogue.h"
#include "wave/wave_format.h"
#include "wave/working_arrays.h"

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
  if (!AllocatePassBuffers(job.format, job.choice.coefficientCount, job.settings, buffers)) return false;
  if (LoadImpulseResponse(job.choice, buffers.impulseResponse.data()) != ImpulseVerdict::kRead) return false;
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
  if (!result.written || !MakeOutputDurable(output) || !NameOutputFile(output)) {
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
    ReadFileAt(input, job.format.dataOffset + first * frameBytes, block.data(), frames * frameBytes);
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
  Buffer<std::int32_t>* codes;
};

void ComputeShare(void* context, int index) {
  ComputeTasks& tasks = *static_cast<ComputeTasks*>(context);
  const std::int64_t frameBytes = 3 * static_cast<std::int64_t>(tasks.channels);
  const std::int64_t blocks = (tasks.resultLength + tasks.blockFrames - 1) / tasks.blockFrames;
  for (std::int64_t b = index; b < blocks; b += tasks.threads) {
    const std::int64_t first = b * tasks.blockFrames;
    const std::int64_t count = std::min(tasks.blockFrames, tasks.resultLength - first);
    FilterBlock(*tasks.filter, tasks.channels, tasks.raw + first * frameBytes, first, count,
                tasks.stages[index].data(), tasks.codes[index].data(), tasks.outputs[index].data());
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
  Buffer<std::int32_t> codes[8];
  for (int t = 0; t < buffers.threads; ++t) {
    outputs[t].Allocate(buffers.outputSetBytes);
    stages[t].Allocate(channels * (kChunkFrames + m - 1));
    codes[t].Allocate(channels * kChunkFrames);
  }
  ComputeTasks tasks{&filter, channels, recording.data(), resultLength, buffers.blockFrames,
                     buffers.threads, outputs, stages, codes};
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
  if (argc < 4) {
    std::fprintf(stderr,
                 "usage: job_breakdown <input.wav> <letter> <output.wav> [exact | blockFrames [threads]]\n");
    return 2;
  }
  const FilterTableEntry* entry = FindFilter(argv[2][0]);
  Job job{argv[1], argv[3], {}, {}, {}};
  if (entry == nullptr || !ReadWaveHeader(argv[1], job.format)) return 1;
  job.choice = FilterChoice{entry->letter, entry->impulseFileName, entry->coefficientCount};
  if (argc > 4 && std::strcmp(argv[4], "exact") == 0) return RunExact(job);
  if (argc > 4) job.settings.blockFrames = std::atoll(argv[4]);
  if (argc > 5) job.settings.threads = std::atoi(argv[5]);

  PassBuffers buffers;
  if (!AllocatePassBuffers(job.format, job.choice.coefficientCount, job.settings, buffers) ||
      LoadImpulseResponse(job.choice, buffers.impulseResponse.data()) != ImpulseVerdict::kRead) {
    return 1;
  }
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

  std::printf("pass, %lld frames x %d channels, filter %c (%d taps), blocks of %lld frames, %d threads, %d sets\n",
              static_cast<long long>(job.format.sampleCount), job.format.channelCount,
              job.choice.letter, job.choice.coefficientCount,
              static_cast<long long>(buffers.blockFrames), buffers.threads, buffers.sets);
  std::printf("  read      %8.3f s   (alone)\n", read);
  std::printf("  compute   %8.3f s   (alone, %d threads)\n", compute, buffers.threads);
  std::printf("  write     %8.3f s   (alone, a new file)\n", write);
  std::printf("  pass      %8.3f s   new file; %lld samples took an exact path\n", pass,
              static_cast<long long>(outcome.exactSamples));
  std::printf("  replace   %8.3f s   over an existing file: replacement %+.3f s\n", replace,
              replace - pass);
  return 0;
}
