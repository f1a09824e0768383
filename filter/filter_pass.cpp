// The streaming pass.
//
// Why the bytes are the reference's. Output frame k of channel c depends on
// the input frames k - M + 1 .. k of that channel (zero outside 0 .. N - 1),
// on the coefficients, and on the dither of its sample index k x C + c, which
// DitherOfSample gives from the index alone. A block of output frames
// [first, first + count) is computed from exactly those input frames: its
// raw bytes start M - 1 frames early, and those M - 1 frames are the ones the
// block before read last (copied forward before the next read overwrites
// anything), or zeros before frame 0. Bytes the file does not hold are
// zeros, up to frame N - 1, and frames from N on are zeros whatever the file
// holds, as the reference reads them. So every output frame is computed from
// the same values by the same procedure (FilterChunkCodes: the rounded fast
// value where its code is settled, otherwise the exact value through the
// exact conversion; see fast_convolution.cpp) wherever the block boundaries
// fall and whichever thread computes it. The bytes are appended in frame
// order.
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
// much output for stereo) keep the ring at a few megabytes.
#include "filter/filter_pass.h"

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <mutex>

#include "system/ending.h"
#include "system/threads.h"
#include "wave/dither_stream.h"
#include "wave/output_header.h"
#include "wave/sample_frames.h"
#include "wave/working_arrays.h"

namespace {

constexpr int kMaxThreads = kMaxWorkerThreads;
constexpr int kMaxSets = kMaxThreads + 2;

// The ring's size: one set for each computing thread, one being read ahead
// and one being written behind. Deeper rings (2 and 4 sets a thread)
// measured no faster.
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

// Each thread's scratch for one chunk: the widened samples and the codes of
// every channel.
std::int64_t StageLength(int m) { return kChunkFrames + m - 1; }

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
  std::int64_t dataBytes = -1;  // bytes of the data chunk when it bounds the reads, else -1
  FileHandle input = kNoFile;
  OutputFile* output = nullptr;
  PassBuffers* buffers = nullptr;
  const PassProgress* progress = nullptr;

  // Shared by the threads, under `lock`. Block b uses set b % sets; its set
  // is free once block b - sets has been written.
  std::mutex lock;
  std::condition_variable inputReady;     // a block to compute, or the end
  std::condition_variable outputReady;    // a block to write
  std::int64_t blocksRead = 0;
  std::int64_t blocksClaimed = 0;
  std::int64_t blocksWritten = 0;
  bool computed[kMaxSets] = {};
  bool stopping = false;
  std::int64_t exactSamples = 0;
  const OutputHeader* header = nullptr;
  bool written = false;
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

// The input bytes of a block: the history carried from the block before,
// then the block's own frames from the file (zeros for what it does not
// hold, and from frame N on); then the block's last M - 1 frames become the
// history of the next.
void ReadBlock(Pass& pass, std::int64_t block) {
  const std::int64_t first = BlockStart(pass, block);
  const std::int64_t count = BlockLength(pass, block);
  const std::int64_t historyBytes = (pass.filter.m - 1) * pass.frameBytes;
  std::uint8_t* raw = RawSet(pass, block);
  std::uint8_t* history = pass.buffers->history.data();
  if (historyBytes > 0) std::memcpy(raw, history, static_cast<std::size_t>(historyBytes));
  std::uint8_t* body = raw + historyBytes;
  const std::int64_t bodyBytes = count * pass.frameBytes;
  const std::int64_t framesInRecording = std::clamp<std::int64_t>(pass.inputFrames - first, 0, count);
  std::int64_t wanted = framesInRecording * pass.frameBytes;
  // A last frame cut short by the end of the data chunk is not completed
  // from the chunk after it.
  if (pass.dataBytes >= 0) wanted = std::clamp<std::int64_t>(pass.dataBytes - first * pass.frameBytes, 0, wanted);
  const std::int64_t got =
      wanted > 0 ? ReadFileAt(pass.input, pass.dataOffset + first * pass.frameBytes, body, wanted) : 0;
  std::memset(body + got, 0, static_cast<std::size_t>(bodyBytes - got));
  if (historyBytes > 0) std::memcpy(history, raw + bodyBytes, static_cast<std::size_t>(historyBytes));
}

std::int64_t ComputeBlock(Pass& pass, std::int64_t block, int thread) {
  double* stage = pass.buffers->stages.data() + thread * pass.channels * StageLength(pass.filter.m);
  std::int32_t* codes = pass.buffers->codes.data() + thread * pass.channels * kChunkFrames;
  return FilterBlock(pass.filter, pass.channels, RawSet(pass, block), BlockStart(pass, block),
                     BlockLength(pass, block), stage, codes, OutputSet(pass, block));
}

// Takes the next block whose input is ready and computes it. `hold` is
// locked on entry and on return.
void ComputeNextBlock(Pass& pass, std::unique_lock<std::mutex>& hold, int thread) {
  const std::int64_t block = pass.blocksClaimed++;
  hold.unlock();
  const std::int64_t exact = ComputeBlock(pass, block, thread);
  hold.lock();
  pass.exactSamples += exact;
  pass.computed[block % pass.buffers->sets] = true;
  pass.outputReady.notify_one();
}

void ReportProgress(Pass& pass) {
  if (pass.progress->report == nullptr) return;
  const std::int64_t frames = std::min(pass.resultLength, pass.blocksWritten * pass.blockFrames);
  pass.progress->report(pass.progress->context, frames, pass.resultLength);
}

// The calling thread: writes the finished blocks in order, reads ahead into
// free sets, computes when there is nothing else to do, and reports
// progress. False when a write failed or a held ending event waits.
bool CoordinatePass(Pass& pass, const OutputHeader& header) {
  bool ok = AppendOutput(*pass.output, header.bytes, header.size);
  const int sets = pass.buffers->sets;
  std::unique_lock<std::mutex> hold(pass.lock);
  while (ok && pass.blocksWritten < pass.blockCount) {
    const std::int64_t next = pass.blocksWritten;
    if (pass.computed[next % sets]) {
      pass.computed[next % sets] = false;
      hold.unlock();
      ok = AppendOutput(*pass.output, OutputSet(pass, next), BlockLength(pass, next) * pass.frameBytes) &&
           !EndingEventWaiting();
      hold.lock();
      ++pass.blocksWritten;
      hold.unlock();
      ReportProgress(pass);
      hold.lock();
    } else if (pass.blocksRead < pass.blockCount && pass.blocksRead - pass.blocksWritten < sets) {
      const std::int64_t block = pass.blocksRead;
      hold.unlock();
      ReadBlock(pass, block);
      hold.lock();
      ++pass.blocksRead;
      pass.inputReady.notify_one();
    } else if (pass.blocksClaimed < pass.blocksRead) {
      ComputeNextBlock(pass, hold, 0);
    } else {
      pass.outputReady.wait_for(hold, std::chrono::milliseconds(100));
      hold.unlock();
      ReportProgress(pass);
      hold.lock();
    }
  }
  // The other threads stop waiting: nothing is left, or the pass has failed.
  pass.stopping = true;
  pass.inputReady.notify_all();
  hold.unlock();
  if (ok && header.padBytes > 0) {
    const std::uint8_t pad = 0;
    ok = AppendOutput(*pass.output, &pad, header.padBytes);
  }
  return ok;
}

// Every other thread: computes blocks as their input becomes ready.
void ComputeBlocks(Pass& pass, int thread) {
  std::unique_lock<std::mutex> hold(pass.lock);
  for (;;) {
    pass.inputReady.wait(hold, [&] { return pass.stopping || pass.blocksClaimed < pass.blocksRead; });
    if (pass.stopping) return;
    ComputeNextBlock(pass, hold, thread);
  }
}

// Task 0 runs on the calling thread and coordinates; the others compute. A
// computing thread that could not be started runs its task after the pass,
// and finds nothing left to do.
void RunPassTask(void* context, int index) {
  Pass& pass = *static_cast<Pass*>(context);
  if (index == 0) {
    pass.written = CoordinatePass(pass, *pass.header);
  } else {
    ComputeBlocks(pass, index);
  }
}

}  // namespace

std::int64_t FilterBlock(const FastFilter& filter, int channelCount, const std::uint8_t* raw,
                         std::int64_t first, std::int64_t count, double* stage,
                         std::int32_t* codes, std::uint8_t* output) {
  const std::int64_t frameBytes = 3 * static_cast<std::int64_t>(channelCount);
  const std::int64_t stageLength = kChunkFrames + filter.m - 1;
  double* stages[kMaxChannels];
  std::int32_t* codesOf[kMaxChannels];
  for (int c = 0; c < channelCount; ++c) {
    stages[c] = stage + c * stageLength;
    codesOf[c] = codes + c * kChunkFrames;
  }
  double dither[kChunkFrames];
  std::int64_t exactSamples = 0;
  for (std::int64_t done = 0; done < count; done += kChunkFrames) {
    const std::int64_t chunk = std::min(kChunkFrames, count - done);
    const std::int64_t k0 = first + done;
    // Raw frame `done` is input frame k0 - M + 1, where this chunk's
    // history starts.
    WidenFrames24(raw + frameBytes * done, channelCount, chunk + filter.m - 1, stages);
    for (int c = 0; c < channelCount; ++c) {
      const std::uint64_t firstSample = static_cast<std::uint64_t>(k0) * channelCount + c;
      FillDitherOffsets(firstSample, channelCount, chunk, dither);
      exactSamples += FilterChunkCodes(filter, stages[c], k0, chunk, dither, firstSample,
                                       channelCount, codesOf[c]);
    }
    StoreFrames24(codesOf, channelCount, chunk, output + frameBytes * done);
  }
  return exactSamples;
}

std::int64_t PassMemoryNeeded(const WaveFormat& format, int coefficientCount,
                              const PassSettings& settings) {
  const std::int64_t m = std::max(coefficientCount, 1);
  const std::int64_t frameBytes = 3 * static_cast<std::int64_t>(format.channelCount);
  const std::int64_t blockFrames = BlockFramesFor(settings, ResultLengthOf(format, static_cast<int>(m)));
  const int threads = ThreadsFor(settings);
  const std::int64_t channels = format.channelCount;
  return 8 * m + SetsFor(threads) * frameBytes * (2 * blockFrames + m - 1) + frameBytes * (m - 1) +
         threads * channels * (8 * StageLength(static_cast<int>(m)) + 4 * kChunkFrames);
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
  const bool ok = m >= 1 && format.sampleCount >= 0 &&
                  MemoryIsAvailable(PassMemoryNeeded(format, m, settings)) &&
                  buffers.impulseResponse.Allocate(m) &&
                  buffers.raw.Allocate(buffers.sets * buffers.rawSetBytes) &&
                  buffers.output.Allocate(buffers.sets * buffers.outputSetBytes) &&
                  buffers.history.Allocate(frameBytes * (m - 1)) &&
                  buffers.stages.Allocate(buffers.threads * format.channelCount * StageLength(m)) &&
                  buffers.codes.Allocate(buffers.threads * format.channelCount * kChunkFrames);
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
  pass.filter = PrepareFastFilter(buffers.impulseResponse.data(), coefficientCount, pass.inputFrames,
                                  settings.extraMargin);
  pass.resultLength = ResultLengthOf(format, coefficientCount);
  pass.blockFrames = buffers.blockFrames;
  pass.blockCount = (pass.resultLength + pass.blockFrames - 1) / pass.blockFrames;
  pass.dataOffset = format.dataOffset;
  if (format.dataEndsWithChunk && format.dataSize < static_cast<std::uint64_t>(INT64_MAX)) {
    pass.dataBytes = static_cast<std::int64_t>(format.dataSize);
  }
  pass.input = input;
  pass.output = &output;
  pass.buffers = &buffers;
  pass.progress = &progress;
  // Before frame 0 the history is silence.
  if (buffers.history.size() > 0) {
    std::memset(buffers.history.data(), 0, static_cast<std::size_t>(buffers.history.size()));
  }

  const OutputHeader header = BuildOutputHeader(format, pass.resultLength, trailingBytes);
  pass.header = &header;
  RunTasksInParallel(buffers.threads, RunPassTask, &pass);
  return PassOutcome{pass.written, pass.exactSamples};
}
