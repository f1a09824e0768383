// The streaming pass.
//
// Why the bytes are the reference's. Output frame k of channel c depends on
// the input frames k - M + 1 .. k of that channel (zero outside 0 .. N - 1),
// on the coefficients, and on the dither of its sample index k x C + c, which
// DitherOfSample gives from the index alone. A block of output frames
// [first, first + count) is computed from exactly those input frames: its
// raw bytes start M - 1 frames early, read from the file with the block's
// own, or zeros before frame 0. The bytes of a last frame cut short by the
// end of the data are zeros, and frames from N on are zeros whatever the
// file holds, as the reference reads them. A read that does not give every
// byte the data held when the header was read ends the pass: the file has
// changed, and no block is computed from anything but the recording. So
// every output frame is computed from the same values by the same procedure
// (FilterInterleavedChunk: the rounded fast value where its code is settled,
// otherwise the exact value through the exact conversion; see
// fast_convolution.cpp) wherever the block and chunk boundaries fall and
// whichever thread computes it. The bytes are appended in frame order.
//
// The block size. Measured with bench/job_breakdown (one minute of stereo at
// 192000 samples per second, filter E, the input in the page cache, a new
// output file; 9 rounds, the sizes taken in turn within each round, on a
// 2-processor machine that other work kept partly busy), the pass in ms:
//   blockFrames        4096   16384   65536   262144   1048576
//   1 thread, median    101      90      82       91       105
//   2 threads, least     84      52      42       83        76
//   2 threads, median   119     118      88       97        93
// Small blocks pay for their synchronisation and system calls, large ones
// leave the threads waiting on each other at the start and the end and
// fall out of the second-level cache. 65536 frames (384 KiB of input and as
// much output for stereo) keep the ring at a few megabytes. Measured again
// once every thread read, computed and wrote its own blocks (the job alone,
// bench/job_breakdown ... job, 15 rounds in turn, load average 1.7 with one
// of the two processors taken by other work), the median job in ms:
//   blockFrames        16384   65536   262144   (65536 on 1 thread)
//   wall                  82      79       76       74
//   processor time        79      78       74       72
// within the noise of each other: 65536 stays.
#include "filter/filter_pass.h"

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <mutex>
#include <string>

#include "filter/parallel_tasks.h"
#include "system/ending.h"
#include "system/memory.h"
#include "wave/output_header.h"
#include "wave/sample_frames.h"

namespace {

constexpr int kMaxThreads = kMaxWorkerThreads;
constexpr int kMaxSets = kMaxThreads + 2;

// The ring's size: one set for each thread, and two for blocks computed
// while an earlier one is still being computed or written.
int SetsFor(int threads) { return threads + 2; }

int ThreadsFor(const PassSettings& settings) {
  const int threads = settings.threads > 0 ? settings.threads : WorkerThreadCount();
  return std::clamp(threads, 1, kMaxThreads);
}

std::int64_t ResultLengthOf(const WaveFormat& format, int m) {
  const std::int64_t n = format.sampleCount > 0 ? format.sampleCount : 0;
  return n + m - 1 > 0 ? n + m - 1 : 0;
}

std::int64_t BlockFramesFor(const PassSettings& settings, std::int64_t resultLength) {
  return std::clamp<std::int64_t>(settings.blockFrames, 1, std::max<std::int64_t>(1, resultLength));
}

// Each thread's scratch for one chunk: the widened samples of every channel,
// interleaved, with their history and the padding the kernels read past
// them; and one index for each of the chunk's samples.
std::int64_t StageLength(int channels, int m) {
  return channels * (kChunkFrames + m - 1) + 2 * kStagePadding;
}
std::int64_t UnsettledLength(int channels) { return channels * kChunkFrames; }

struct Pass {
  // Fixed for the pass.
  FastFilter filter;
  int channels = 0;
  std::int64_t frameBytes = 0;
  std::int64_t inputFrames = 0;
  std::int64_t resultLength = 0;
  std::int64_t blockFrames = 0;
  std::int64_t blockCount = 0;
  std::int64_t dataOffset = 0;
  std::int64_t dataBytes = 0;  // bytes of the data chunk: the samples end there
  FileHandle input = kNoFile;
  OutputFile* output = nullptr;
  PassBuffers* buffers = nullptr;
  const PassProgress* progress = nullptr;

  // One thread reads the input at a time (files.h).
  std::mutex reading;
  // Shared by the threads, under `lock`. Block b uses set b % sets; its set
  // is free once block b - sets has been written.
  std::mutex lock;
  std::condition_variable changed;  // a block computed or written, or the end
  std::int64_t blocksClaimed = 0;
  std::int64_t blocksWritten = 0;
  bool computed[kMaxSets] = {};
  bool writing = false;
  bool stopping = false;  // every block written, or a read or a write failed
  bool failed = false;
  bool readFailed = false;
  std::int64_t exactSamples = 0;
};

std::int64_t BlockStart(const Pass& pass, std::int64_t block) { return block * pass.blockFrames; }

std::int64_t BlockLength(const Pass& pass, std::int64_t block) {
  return std::min(pass.blockFrames, pass.resultLength - BlockStart(pass, block));
}

std::uint8_t* RawSet(Pass& pass, std::int64_t block) {
  return pass.buffers->raw.data() + (block % pass.buffers->sets) * pass.buffers->rawSetBytes;
}

std::uint8_t* OutputSet(Pass& pass, std::int64_t block) {
  return pass.buffers->output.data() + (block % pass.buffers->sets) * pass.buffers->outputSetBytes;
}

// The input bytes of a block: its frames first - M + 1 .. first + count - 1
// from the file, zeros before frame 0, from frame N on and past the end of
// the data. Every block reads its own history (the M - 1 frames before it):
// the same bytes as the block before read, so that blocks need not be read
// in order. False when the file did not give them all.
bool ReadBlock(Pass& pass, std::int64_t block) {
  const std::int64_t from = BlockStart(pass, block) - (pass.filter.m - 1);
  const std::int64_t frames = BlockLength(pass, block) + pass.filter.m - 1;
  std::uint8_t* raw = RawSet(pass, block);
  const std::int64_t lowest = std::clamp<std::int64_t>(from, 0, from + frames);
  const std::int64_t end = std::clamp<std::int64_t>(pass.inputFrames, lowest, from + frames);
  const std::int64_t before = (lowest - from) * pass.frameBytes;
  std::int64_t wanted = (end - lowest) * pass.frameBytes;
  // A last frame cut short by the end of the data chunk is not completed
  // from what follows it.
  wanted = std::clamp<std::int64_t>(pass.dataBytes - lowest * pass.frameBytes, 0, wanted);
  std::memset(raw, 0, static_cast<std::size_t>(before));
  std::int64_t got = 0;
  if (wanted > 0) {
    const std::lock_guard<std::mutex> hold(pass.reading);
    got = ReadFileAt(pass.input, pass.dataOffset + lowest * pass.frameBytes, raw + before, wanted);
  }
  if (got != wanted) return false;
  std::memset(raw + before + got, 0,
              static_cast<std::size_t>(frames * pass.frameBytes - before - got));
  return true;
}

std::int64_t ComputeBlock(Pass& pass, std::int64_t block, int thread) {
  double* stage = pass.buffers->stages.data() + thread * StageLength(pass.channels, pass.filter.m);
  std::int32_t* unsettled =
      pass.buffers->unsettled.data() + thread * UnsettledLength(pass.channels);
  return FilterBlock(pass.filter, pass.channels, RawSet(pass, block), BlockStart(pass, block),
                     BlockLength(pass, block), stage, unsettled, OutputSet(pass, block));
}

void ReportProgress(Pass& pass) {
  if (pass.progress->report == nullptr) return;
  std::int64_t written;
  {
    const std::lock_guard<std::mutex> hold(pass.lock);
    written = pass.blocksWritten;
  }
  pass.progress->report(pass.progress->context,
                        std::min(pass.resultLength, written * pass.blockFrames), pass.resultLength);
}

// Every thread, the calling one (0) included: writes the next block when it
// is computed and no other thread writes, else reads and computes the next
// block whose set is free, else waits. So each block is read, computed and
// mostly written by one thread, in its cache, and the reads and writes are
// shared out like the computing; the blocks are appended in order. The
// calling thread reports progress between its blocks and while it waits.
void RunBlocks(Pass& pass, int thread) {
  const int sets = pass.buffers->sets;
  std::unique_lock<std::mutex> hold(pass.lock);
  while (!pass.stopping) {
    const std::int64_t next = pass.blocksWritten;
    if (!pass.writing && pass.computed[next % sets]) {
      pass.computed[next % sets] = false;
      pass.writing = true;
      hold.unlock();
      const bool ok = AppendOutput(*pass.output, OutputSet(pass, next),
                                   BlockLength(pass, next) * pass.frameBytes) &&
                      !EndingEventWaiting();
      hold.lock();
      pass.writing = false;
      ++pass.blocksWritten;
      pass.failed = pass.failed || !ok;
      pass.stopping = pass.failed || pass.blocksWritten == pass.blockCount;
      pass.changed.notify_all();
    } else if (pass.blocksClaimed < pass.blockCount && pass.blocksClaimed - next < sets) {
      const std::int64_t block = pass.blocksClaimed++;
      hold.unlock();
      const bool read = ReadBlock(pass, block);
      const std::int64_t exact = read ? ComputeBlock(pass, block, thread) : 0;
      hold.lock();
      if (!read) {
        pass.failed = pass.readFailed = pass.stopping = true;
      } else {
        pass.exactSamples += exact;
        pass.computed[block % sets] = true;
      }
      pass.changed.notify_all();
    } else if (thread == 0) {
      pass.changed.wait_for(hold, std::chrono::milliseconds(100));
    } else {
      pass.changed.wait(hold);
    }
    if (thread == 0) {
      hold.unlock();
      ReportProgress(pass);
      hold.lock();
    }
  }
}

// A thread that could not be started runs its task after the pass, and
// finds it stopped.
void RunPassTask(void* context, int index) { RunBlocks(*static_cast<Pass*>(context), index); }

}  // namespace

std::int64_t FilterBlock(const FastFilter& filter, int channelCount, const std::uint8_t* raw,
                         std::int64_t first, std::int64_t count, double* stage,
                         std::int32_t* unsettled, std::uint8_t* output) {
  const std::int64_t frameBytes = 3 * static_cast<std::int64_t>(channelCount);
  // The samples after zeros that the kernels may read before them.
  std::fill(stage, stage + kStagePadding, 0.0);
  double* samples = stage + kStagePadding;
  std::int64_t exactSamples = 0;
  // Chunk by chunk, so that the widened samples stay in the first-level
  // cache between the widening and the kernel; raw frame `done` is input
  // frame first + done - M + 1, where the chunk's history starts.
  for (std::int64_t done = 0; done < count; done += kChunkFrames) {
    const std::int64_t chunk = std::min(kChunkFrames, count - done);
    WidenSamples24(raw + frameBytes * done, channelCount * (chunk + filter.m - 1), samples);
    exactSamples += FilterInterleavedChunk(filter, channelCount, samples, first + done, chunk,
                                           unsettled, output + frameBytes * done);
  }
  return exactSamples;
}

std::int64_t PassMemoryNeeded(const WaveFormat& format, int coefficientCount,
                              const PassSettings& settings) {
  const std::int64_t m = std::max(coefficientCount, 1);
  const std::int64_t frameBytes = 3 * static_cast<std::int64_t>(format.channelCount);
  const std::int64_t blockFrames =
      BlockFramesFor(settings, ResultLengthOf(format, static_cast<int>(m)));
  const int threads = ThreadsFor(settings);
  const std::int64_t channels = format.channelCount;
  return 8 * m + SetsFor(threads) * frameBytes * (2 * blockFrames + m - 1) +
         threads * (8 * StageLength(static_cast<int>(channels), static_cast<int>(m)) +
                    4 * UnsettledLength(static_cast<int>(channels)));
}

bool AllocatePassBuffers(const WaveFormat& format, int coefficientCount,
                         const PassSettings& settings, PassBuffers& buffers) {
  const int m = coefficientCount;
  const std::int64_t frameBytes = 3 * static_cast<std::int64_t>(format.channelCount);
  buffers.threads = ThreadsFor(settings);
  buffers.sets = SetsFor(buffers.threads);
  buffers.blockFrames = BlockFramesFor(settings, ResultLengthOf(format, m));
  buffers.rawSetBytes = frameBytes * (buffers.blockFrames + m - 1);
  buffers.outputSetBytes = frameBytes * buffers.blockFrames;
  const bool ok =
      m >= 1 && format.sampleCount >= 0 &&
      MemoryIsAvailable(PassMemoryNeeded(format, m, settings)) &&
      buffers.impulseResponse.Allocate(m) &&
      buffers.raw.Allocate(buffers.sets * buffers.rawSetBytes) &&
      buffers.output.Allocate(buffers.sets * buffers.outputSetBytes) &&
      buffers.stages.Allocate(buffers.threads * StageLength(format.channelCount, m)) &&
      buffers.unsettled.Allocate(buffers.threads * UnsettledLength(format.channelCount));
  if (!ok) buffers = PassBuffers{};
  return ok;
}

PassOutcome RunFilterPass(const WaveFormat& format, int coefficientCount, FileHandle input,
                          OutputFile& output, PassBuffers& buffers, const PassSettings& settings,
                          const PassProgress& progress, std::int64_t trailingBytes) {
  Pass pass;
  pass.channels = format.channelCount;
  pass.frameBytes = 3 * static_cast<std::int64_t>(format.channelCount);
  pass.inputFrames = format.sampleCount > 0 ? format.sampleCount : 0;
  pass.filter = PrepareFastFilter(buffers.impulseResponse.data(), coefficientCount,
                                  pass.inputFrames, settings.extraMargin);
  pass.resultLength = ResultLengthOf(format, coefficientCount);
  pass.blockFrames = buffers.blockFrames;
  pass.blockCount = (pass.resultLength + pass.blockFrames - 1) / pass.blockFrames;
  pass.dataOffset = format.dataOffset;
  pass.dataBytes = static_cast<std::int64_t>(std::min<std::uint64_t>(format.dataSize, INT64_MAX));
  pass.input = input;
  pass.output = &output;
  pass.buffers = &buffers;
  pass.progress = &progress;

  const OutputHeader header = BuildOutputHeader(format, pass.resultLength, trailingBytes);
  pass.failed = !AppendOutput(output, header.bytes, header.size) || EndingEventWaiting();
  pass.stopping = pass.failed || pass.blockCount == 0;
  RunTasksInParallel(buffers.threads, RunPassTask, &pass);
  if (!pass.failed && header.padBytes > 0) {
    const std::uint8_t pad = 0;
    pass.failed = !AppendOutput(output, &pad, header.padBytes);
  }
  if (!pass.failed) ReportProgress(pass);
  const OutputVerdict verdict = !pass.failed      ? OutputVerdict::kWritten
                                : pass.readFailed ? OutputVerdict::kInputUnreadable
                                                  : OutputVerdict::kOutputUnwritable;
  return PassOutcome{verdict, pass.exactSamples};
}

OutputVerdict WriteFilteredFile(const WaveFormat& format, const FilterChoice& choice,
                                FileHandle input, OutputFile& output, PassBuffers& buffers,
                                const PassProgress& progress) {
  // The metadata that follows the data is counted first: the header, written
  // before the data, counts it in the RIFF size.
  FileWindow window;
  window.file = input;
  const WaveSource source = FileWaveSource(window, format.fileSize);
  const std::string historyLine = CodingHistoryLine(format, choice.letter);
  std::int64_t keptBytes = 0;
  if (!CountKeptChunks(source, historyLine, keptBytes)) return OutputVerdict::kInputUnreadable;
  const PassOutcome pass = RunFilterPass(format, choice.coefficientCount, input, output, buffers,
                                         PassSettings{}, progress, keptBytes);
  if (pass.verdict != OutputVerdict::kWritten) return pass.verdict;
  return AppendKeptChunks(source, historyLine, keptBytes, output);
}
