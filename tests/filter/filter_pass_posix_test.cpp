// The streaming pass on POSIX only: memory refused under an address-space
// limit, a write failing under a file size limit, and an ending signal held
// during the pass, each in a child process.
#include <signal.h>
#include <sys/resource.h>

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "filter/filter_pass.h"
#include "pass_test_support.h"
#include "tests/test_environment.h"

namespace {

using passtest::RandomSamples;
using passtest::Recording;
using passtest::ShippedFilter;

// The buffers are a few megabytes; under a limit that leaves less than one
// they are refused, and nothing is kept.
int AllocateUnderAddressSpaceLimit() {
  rlimit limit{};
  limit.rlim_cur = static_cast<rlim_t>(testenv::AddressSpaceInUse() + (std::int64_t{1} << 20));
  limit.rlim_max = limit.rlim_cur;
  if (setrlimit(RLIMIT_AS, &limit) != 0) return 2;
  WaveFormat format;
  format.channelCount = 2;
  format.sampleCount = 11520000;
  PassBuffers buffers;
  if (AllocatePassBuffers(format, 20, PassSettings{}, buffers)) return 3;
  return buffers.raw.size() + buffers.output.size() + buffers.impulseResponse.size() == 0 ? 0 : 6;
}

TEST(StreamingPass, RefusedMemoryKeepsNothing) {
#if defined(__SANITIZE_ADDRESS__)
  GTEST_SKIP() << "AddressSanitizer reserves terabytes of address space: no RLIMIT_AS under it";
#endif
  EXPECT_EQ(testenv::RunInChild(AllocateUnderAddressSpaceLimit), 0);
}

int PassUnderFileSizeLimit(const Recording& recording, const std::string& name) {
  rlimit limit{};
  limit.rlim_cur = 100000;  // the output needs some 1.2 MB
  limit.rlim_max = RLIM_INFINITY;
  if (setrlimit(RLIMIT_FSIZE, &limit) != 0) return 2;
  const std::vector<double> h = ShippedFilter('E');
  PassBuffers buffers;
  PassSettings settings;
  settings.blockFrames = 4096;
  if (!AllocatePassBuffers(recording.format(), 20, settings, buffers)) return 3;
  std::copy(h.begin(), h.end(), buffers.impulseResponse.data());
  const FileHandle input = OpenFileForReading(recording.path());
  OutputFile output;
  if (!CreateOutputFile(name, output)) return 4;
  const PassOutcome outcome =
      RunFilterPass(recording.format(), 20, input, output, buffers, settings);
  AbandonOutputFile(output);
  return outcome.verdict == OutputVerdict::kWritten ? 5 : 0;
}

TEST(StreamingPass, WriteFailingPartWayStopsThePass) {
  const Recording recording(2, 200000, RandomSamples(400000, 23));
  wavetest::ScratchFolder folder;
  EXPECT_EQ(
      testenv::RunInChild([&] { return PassUnderFileSizeLimit(recording, folder / "out.wav"); }),
      0);
  EXPECT_TRUE(folder.Entries().empty());
}

// Under a hidden name (no unnamed files here), an ending signal that
// arrives during the pass stops it; abandoning the file then lets the
// signal end the program with nothing left.
int TerminatedDuringThePass(const Recording& recording, const std::string& name) {
  PassBuffers buffers;
  PassSettings settings;
  settings.blockFrames = 1024;
  if (!AllocatePassBuffers(recording.format(), 15, settings, buffers)) return 2;
  const FileHandle input = OpenFileForReading(recording.path());
  OutputFile output;
  if (!CreateOutputFile(name, output, OutputNaming::kHiddenName)) return 3;
  raise(SIGTERM);
  const PassOutcome outcome =
      RunFilterPass(recording.format(), 15, input, output, buffers, settings);
  if (outcome.verdict == OutputVerdict::kWritten) return 4;
  AbandonOutputFile(output);
  return 5;  // not reached: the signal ends the child here
}

TEST(StreamingPass, HeldEndingSignalStopsThePass) {
  const Recording recording(1, 100000, RandomSamples(100000, 29));
  wavetest::ScratchFolder folder;
  EXPECT_EQ(
      testenv::RunInChild([&] { return TerminatedDuringThePass(recording, folder / "out.wav"); }),
      1000 + SIGTERM);
  EXPECT_TRUE(folder.Entries().empty());
}

}  // namespace
