// Growing a buffer keeps its contents and zero-fills the rest, for blocks
// from calloc and for mapped blocks alike.
#include <gtest/gtest.h>

#include <cstdint>

#include "wave/working_arrays.h"

namespace {

class BufferGrow : public ::testing::TestWithParam<std::int64_t> {};

TEST_P(BufferGrow, KeepsContentsAndZerosTheRest) {
  const std::int64_t size = GetParam();
  Buffer<std::uint8_t> b;
  ASSERT_TRUE(b.Allocate(size));
  for (std::int64_t i = 0; i < size; ++i) b[i] = static_cast<std::uint8_t>(i * 7 + 1);
  const std::int64_t grown = size + size / 3 + 4099;
  ASSERT_TRUE(b.Grow(grown));
  ASSERT_EQ(b.size(), grown);
  for (std::int64_t i = 0; i < size; ++i) ASSERT_EQ(b[i], static_cast<std::uint8_t>(i * 7 + 1)) << i;
  for (std::int64_t i = size; i < grown; ++i) ASSERT_EQ(b[i], 0) << i;
  // Growing to a smaller or equal size changes nothing.
  ASSERT_TRUE(b.Grow(size));
  EXPECT_EQ(b.size(), grown);
  b.Release();
  EXPECT_EQ(b.data(), nullptr);
}

// Below and above the size from which blocks are mapped, and across it.
INSTANTIATE_TEST_SUITE_P(Sizes, BufferGrow,
                         ::testing::Values(1, 1000, (1 << 20) - 10, 1 << 20, 5'000'001));

TEST(BufferGrowEmpty, AllocatesZeros) {
  Buffer<std::uint8_t> b;
  ASSERT_TRUE(b.Grow(3000));
  EXPECT_EQ(b.size(), 3000);
  for (std::int64_t i = 0; i < 3000; ++i) ASSERT_EQ(b[i], 0);
}

}  // namespace
