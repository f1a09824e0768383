// 24-bit samples as wave files hold them.
#include <gtest/gtest.h>

#include <cstdint>
#include <ostream>

#include "wave/byte_order.h"

namespace {

// ---- 24-bit decoding --------------------------------------------------------

struct DecodeCase {
  std::uint8_t bytes[3];
  std::int32_t value;
};

void PrintTo(const DecodeCase& c, std::ostream* os) {
  *os << std::hex << int{c.bytes[0]} << ' ' << int{c.bytes[1]} << ' ' << int{c.bytes[2]};
}

class DecodeSampleTest : public ::testing::TestWithParam<DecodeCase> {};

TEST_P(DecodeSampleTest, DecodesTwosComplement) {
  EXPECT_EQ(DecodeSample24(GetParam().bytes), GetParam().value);
}

INSTANTIATE_TEST_SUITE_P(
    Records, DecodeSampleTest,
    ::testing::Values(DecodeCase{{0xFF, 0xFF, 0x7F}, 8388607},
                      DecodeCase{{0x00, 0x00, 0x80}, -8388608}, DecodeCase{{0xFF, 0xFF, 0xFF}, -1},
                      DecodeCase{{0x01, 0x00, 0x00}, 1}, DecodeCase{{0x00, 0x01, 0x00}, 256},
                      DecodeCase{{0x00, 0x00, 0x01}, 65536}, DecodeCase{{0x00, 0x00, 0x00}, 0},
                      DecodeCase{{0xFF, 0xFF, 0x80}, -8323073},
                      DecodeCase{{0x01, 0x00, 0x80}, -8388607}));

}  // namespace
