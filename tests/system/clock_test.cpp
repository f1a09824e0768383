// The job clock counts milliseconds, and a pause lasts at least its time.
#include <gtest/gtest.h>

#include "system/alert.h"
#include "system/clock.h"

namespace {

// A lower bound only: a pause may always take longer on a busy machine.
TEST(Clock, PauseAdvancesTheClockByAtLeastItsMilliseconds) {
  const std::int64_t start = MonotonicMilliseconds();
  PauseMilliseconds(40);
  const std::int64_t elapsed = MonotonicMilliseconds() - start;
  EXPECT_GE(elapsed, 39) << "one millisecond for the readings' truncation";
  PauseMilliseconds(0);
  PauseMilliseconds(-1);
  EXPECT_GE(MonotonicMilliseconds(), start + elapsed);
}

}  // namespace
