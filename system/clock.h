// The job clock.
#pragma once

#include <cstdint>

// Milliseconds on a monotonic clock with an arbitrary origin: only the
// difference of two readings means anything. It never goes back, and clock
// changes (summer time, the user setting the time) do not move it, so a job
// that runs past midnight still reports its true length.
std::int64_t MonotonicMilliseconds();
