#include "system/clock.h"

#include <windows.h>

std::int64_t MonotonicMilliseconds() {
  // The performance counter, not GetTickCount64: the tick count moves in
  // steps of the timer interrupt (15.6 ms by default), too coarse for a
  // report to the hundredth of a second.
  LARGE_INTEGER frequency;
  LARGE_INTEGER count;
  QueryPerformanceFrequency(&frequency);  // never fails on Windows XP and later
  QueryPerformanceCounter(&count);
  // Split so that count x 1000 cannot overflow however long the system runs.
  const std::int64_t seconds = count.QuadPart / frequency.QuadPart;
  const std::int64_t rest = count.QuadPart % frequency.QuadPart;
  return seconds * 1000 + rest * 1000 / frequency.QuadPart;
}
