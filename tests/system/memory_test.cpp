// Zeroed blocks from the heap and from the page allocator, refusals, and the
// Buffer that holds one.
#include <gtest/gtest.h>

#include <cstring>

#include "system/memory.h"
#include "tests/test_buffers.h"

namespace {

using testbuffers::AllZero;

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

// ---- Buffer, the holder of a block -------------------------------------------

TEST(Buffer, ReallocatingGivesFreshZeros) {
  Buffer<std::int32_t> b;
  ASSERT_TRUE(b.Allocate(2000000));
  for (std::int64_t i = 0; i < b.size(); i += 4096) b[i] = 7;
  ASSERT_TRUE(b.Allocate(2000000));
  EXPECT_TRUE(AllZero(b));
  ASSERT_TRUE(b.Allocate(10));
  EXPECT_EQ(b.size(), 10);
  EXPECT_TRUE(AllZero(b));
}

TEST(Buffer, EmptyNegativeAndImpossibleSizes) {
  Buffer<std::uint8_t> b;
  EXPECT_TRUE(b.Allocate(0));
  EXPECT_EQ(b.size(), 0);
  EXPECT_FALSE(b.Allocate(-1));
  EXPECT_EQ(b.size(), 0);
  Buffer<double> huge;
  EXPECT_FALSE(huge.Allocate(std::int64_t{1} << 61));  // 16 EiB
  EXPECT_EQ(huge.size(), 0);
  EXPECT_EQ(huge.data(), nullptr);
}

TEST(Buffer, MoveHandsOverTheBlock) {
  Buffer<double> a;
  ASSERT_TRUE(a.Allocate(300000));
  a[5] = 3.0;
  Buffer<double> b(std::move(a));
  EXPECT_EQ(a.size(), 0);
  EXPECT_EQ(b.size(), 300000);
  EXPECT_EQ(b[5], 3.0);
  Buffer<double> c;
  ASSERT_TRUE(c.Allocate(4));
  c = std::move(b);
  EXPECT_EQ(c.size(), 300000);
  EXPECT_EQ(c[5], 3.0);
}

}  // namespace
