// The job as one streaming pass: the input read a block of frames at a time,
// with the M - 1 frames of history before it, each channel convolved, every
// sample dithered by its position in the output, and the bytes appended to
// the new output file in order. Every thread reads, computes and writes
// blocks, so that reading and writing overlap with computing. The memory is
// a few blocks, whatever the length of the recording, and the bytes are
// those of the whole-recording reference procedure (reference/convolution.h)
// for any block size and any number of threads.
#pragma once

#include <cstdint>

#include "filter/fast_convolution.h"
#include "filter/filter_table.h"
#include "system/files.h"
#include "system/memory.h"
#include "wave/kept_chunks.h"
#include "wave/wave_format.h"

// Output frames per block: chosen by measurement (see filter_pass.cpp).
constexpr std::int64_t kPassBlockFrames = 65536;

struct PassSettings {
  std::int64_t blockFrames = kPassBlockFrames;  // at least 1
  int threads = 0;           // threads that compute, the calling one included; 0: one per processor
  double extraMargin = 0.0;  // widens both checks; tests force the exact paths with it
};

// Everything the pass uses, allocated once before it starts and reused for
// every block: a ring of buffer sets, each the input bytes of one block with
// its history in front and the output bytes of that block, and each
// thread's scratch.
struct PassBuffers {
  std::int64_t blockFrames = 0;
  int threads = 0;
  int sets = 0;
  std::int64_t rawSetBytes = 0;     // 3 x C x (blockFrames + M - 1)
  std::int64_t outputSetBytes = 0;  // 3 x C x blockFrames
  Buffer<double> impulseResponse;   // the M coefficients, filled by the caller
  Buffer<std::uint8_t> raw;         // sets x rawSetBytes
  Buffer<std::uint8_t> output;      // sets x outputSetBytes
  Buffer<double> stages;           // per thread, one chunk of widened samples, channels interleaved
  Buffer<std::int32_t> unsettled;  // per thread, an index for each sample of one chunk
};

// Bytes that AllocatePassBuffers takes for this job.
std::int64_t PassMemoryNeeded(const WaveFormat& format, int coefficientCount,
                              const PassSettings& settings);

// Allocates the pass's buffers for N = format.sampleCount frames of
// format.channelCount channels and M = coefficientCount taps (at least 1).
// False, with nothing allocated, when the memory is refused (the job shows
// its box).
bool AllocatePassBuffers(const WaveFormat& format, int coefficientCount,
                         const PassSettings& settings, PassBuffers& buffers);

// Called on the calling thread between blocks (and at least every tenth of
// a second while it waits), with the output frames written so far.
struct PassProgress {
  void (*report)(void* context, std::int64_t framesWritten, std::int64_t framesTotal) = nullptr;
  void* context = nullptr;
};

struct PassOutcome {
  OutputVerdict verdict = OutputVerdict::kOutputUnwritable;  // kWritten: every byte is in the file
  std::int64_t exactSamples = 0;  // samples that took an exact path (convolution or conversion)
};

// Writes the output file's header for N + M - 1 frames (and `trailingBytes`
// of chunks that the caller appends after the pass), the data, and the pad
// byte after data of odd length. The input's frames are the format.dataSize
// bytes from format.dataOffset; the bytes of a last frame that the data
// chunk cuts short read as zeros. Stops at the first read that fails or
// comes up short (the file was cut meanwhile: kInputUnreadable), at the
// first write that fails, or when a held ending event waits
// (EndingEventWaiting; both kOutputUnwritable); the caller then abandons the
// file. The calling thread works with the others, each of which reads,
// computes and writes whole blocks.
PassOutcome RunFilterPass(const WaveFormat& format, int coefficientCount, FileHandle input,
                          OutputFile& output, PassBuffers& buffers, const PassSettings& settings,
                          const PassProgress& progress = {}, std::int64_t trailingBytes = 0);

// The whole output file but its name, in one step: the header, the filtered
// data (RunFilterPass with `choice`'s taps, which `buffers.impulseResponse`
// holds) and the input's metadata after it (kept_chunks.h, with this job's
// coding-history line). The input is read as big as format.fileSize.
OutputVerdict WriteFilteredFile(const WaveFormat& format, const FilterChoice& choice,
                                FileHandle input, OutputFile& output, PassBuffers& buffers,
                                const PassProgress& progress = {});

// The pure core of one block: the output bytes (3 x C a frame, channels
// interleaved) of output frames first .. first + count - 1, from `raw`, the
// input bytes of frames first - M + 1 .. first + count - 1 (zero bytes for
// frames outside the recording). Scratch: `stage` holds C x (kChunkFrames +
// M - 1) + 2 x kStagePadding doubles, `unsettled` C x kChunkFrames indices.
// Returns how many samples took an exact path.
std::int64_t FilterBlock(const FastFilter& filter, int channelCount, const std::uint8_t* raw,
                         std::int64_t first, std::int64_t count, double* stage,
                         std::int32_t* unsettled, std::uint8_t* output);
