// Working arrays on POSIX only: an allocation refused under an address-space
// limit, in a child process.
#include <sys/resource.h>

#include <gtest/gtest.h>

#include <cstdint>

#include "reference/working_arrays.h"
#include "tests/test_environment.h"

namespace {

using testenv::AddressSpaceInUse;
using testenv::RunInChild;

int AllocateUnderAddressSpaceLimit() {
  const std::int64_t inUse = AddressSpaceInUse();
  if (inUse <= 0) return 2;
  // Room for the raw block (60 MB) but not for the input and result arrays.
  rlimit limit{};
  limit.rlim_cur = static_cast<rlim_t>(inUse + (100LL << 20));
  limit.rlim_max = limit.rlim_cur;
  if (setrlimit(RLIMIT_AS, &limit) != 0) return 3;
  WaveFormat f;
  f.channelCount = 1;
  f.sampleCount = 20000000;  // some 300 MB in all, well inside what is available
  WorkingArrays a;
  if (AllocateWorkingArrays(f, 31, a)) return 4;
  if (a.rawSampleBlock.size() != 0 || a.impulseResponse.size() != 0 || a.monoInput.size() != 0 ||
      a.monoResult.size() != 0) {
    return 7;
  }
  // What was taken has been given back: the same job minus the result array fits.
  Buffer<std::uint8_t> raw;
  if (!raw.Allocate(60000000)) return 8;
  return 0;
}

TEST(AllocateWorkingArrays, RefusedAllocationGivesBackWhatWasTaken) {
  EXPECT_EQ(RunInChild(AllocateUnderAddressSpaceLimit), 0);
}

}  // namespace
