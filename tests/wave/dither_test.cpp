// The dither generator: its draws from the start state, and the same draws
// placed at any sample without drawing the ones before.
#include <gtest/gtest.h>

#include <cfloat>
#include <cmath>
#include <cstdint>
#include <limits>
#include <ostream>
#include <random>
#include <vector>

#include "wave/dither.h"

namespace {

// ---- the dither generator -----------------------------------------------------

TEST(DrawDither, FirstDrawsFromTheStartState) {
  DitherGenerator g;
  EXPECT_EQ(g.state, 0xFFFFFFFFu);
  // FFFFFFFF * 134775813 + 1 = -134775813 + 1 = 2^32 - 134775812 = F7F77BFC
  EXPECT_EQ(DrawDither(g), 2080095742.0 / 2147483648.0);  // F7F77BFC >> 1
  EXPECT_EQ(g.state, 0xF7F77BFCu);
  // F7F77BFC * 134775813 + 1 mod 2^32 = 33A35BED
  EXPECT_EQ(DrawDither(g), 433171958.0 / 2147483648.0);  // 33A35BED >> 1
  EXPECT_EQ(g.state, 0x33A35BEDu);
  EXPECT_EQ(DrawDither(g), 1115652049.0 / 2147483648.0);  // 84FEFFA2 >> 1
}

TEST(DrawDither, LongSequenceMatchesWideArithmetic) {
  DitherGenerator g;
  std::uint64_t state = 0xFFFFFFFFull;
  for (int i = 0; i < 100000; ++i) {
    state = (state * 134775813ull + 1ull) % 4294967296ull;
    const double expected = std::ldexp(static_cast<double>(state / 2), -31);
    const double drawn = DrawDither(g);
    ASSERT_EQ(drawn, expected) << "draw " << i;
    ASSERT_GE(drawn, 0.0);
    ASSERT_LT(drawn, 1.0);
  }
  EXPECT_EQ(g.state, static_cast<std::uint32_t>(state));
}

TEST(DitherStream, OffsetsFollowTheOneSequentialGenerator) {
  DitherGenerator generator;
  std::vector<double> sequential;
  for (int s = 0; s < 1000; ++s) {  // enough for 250 + 2 x 64 x 2 samples
    const double r1 = DrawDither(generator);
    const double r2 = DrawDither(generator);
    sequential.push_back(r1 + r2 - 1.0);
  }
  // Lanes placed at samples first + l x stride give their dither, and move
  // on by lanes x stride samples: one lane, the eight placed one after the
  // other, and the chains beyond them.
  for (const int count : {1, 8, 16, 64}) {
    for (int stride : {1, 2}) {
      for (int first : {0, 5, 250}) {
        DitherLanes lanes;
        StartDitherLanes(static_cast<std::uint64_t>(first), stride, count, lanes);
        for (int lane = 0; lane < count; ++lane) {
          const int at = first + lane * stride;
          ASSERT_EQ(DitherOfLane(lanes.state[lane], lanes.secondDraw), sequential[at])
              << count << " " << lane;
          const std::uint32_t moved = ApplyJump(lanes.advance, lanes.state[lane]);
          ASSERT_EQ(DitherOfLane(moved, lanes.secondDraw), sequential[at + count * stride]) << lane;
        }
      }
    }
  }
  SampleDither third = DitherOfSample(3);
  DitherGenerator g;
  for (int i = 0; i < 6; ++i) DrawDither(g);
  EXPECT_EQ(third.r1, DrawDither(g));
  EXPECT_EQ(third.r2, DrawDither(g));
}

}  // namespace
