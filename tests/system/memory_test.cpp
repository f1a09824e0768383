// Zeroed blocks from the heap and from the page allocator, and refusals.
#include <gtest/gtest.h>

#include <cstring>

#include "system/memory.h"

namespace {

TEST(ZeroedBlock, SmallAndLargeBlocksAreZeroAndWritable) {
  for (std::int64_t bytes : {std::int64_t{1}, std::int64_t{100}, kPageBlockThresholdBytes - 1,
                             kPageBlockThresholdBytes, 3 * kPageBlockThresholdBytes + 7}) {
    auto* block = static_cast<std::uint8_t*>(AllocateZeroedBlock(bytes));
    ASSERT_NE(block, nullptr) << bytes;
    std::int64_t nonZero = 0;
    for (std::int64_t i = 0; i < bytes; ++i) nonZero += block[i] != 0;
    EXPECT_EQ(nonZero, 0) << bytes;
    std::memset(block, 0xA5, static_cast<std::size_t>(bytes));
    ReleaseZeroedBlock(block, bytes);
  }
}

TEST(ZeroedBlock, ImpossibleSizesAreRefused) {
  EXPECT_EQ(AllocateZeroedBlock(0), nullptr);
  EXPECT_EQ(AllocateZeroedBlock(-5), nullptr);
  EXPECT_EQ(AllocateZeroedBlock(std::int64_t{1} << 62), nullptr);
  ReleaseZeroedBlock(nullptr, 100);
}

TEST(AvailableMemory, IsReported) { EXPECT_GT(AvailableMemoryBytes(), 0); }

}  // namespace
