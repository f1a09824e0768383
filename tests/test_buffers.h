// A check on the zero-filled arrays of system/memory.h, for the tests of
// every room that allocates them.
#pragma once

#include <cstdint>

#include "system/memory.h"

namespace testbuffers {

template <typename T>
bool AllZero(const Buffer<T>& b) {
  for (std::int64_t i = 0; i < b.size(); ++i) {
    if (b[i] != T{}) return false;
  }
  return true;
}

}  // namespace testbuffers
