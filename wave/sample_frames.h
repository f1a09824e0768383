// 24-bit samples (3 bytes each, least significant byte first) widened to
// doubles, a vector at a time. Frames of interleaved channels widen as one
// run of samples: the pass filters them interleaved.
#pragma once

#include <cstdint>

// out[i] = the sample at bytes 3 x i .. 3 x i + 2, as a double, for
// i < count. Reads exactly 3 x count bytes.
void WidenSamples24(const std::uint8_t* bytes, std::int64_t count, double* out);
