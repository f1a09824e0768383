// Frames of 24-bit samples (channels interleaved, 3 bytes each, least
// significant byte first) to and from one array per channel, a vector at a
// time for mono and stereo.
#pragma once

#include <cstdint>

// The most channels a header can give (one byte).
constexpr int kMaxChannels = 255;

// channels[c][i] = the sample of channel c in frame i, widened to a double,
// for i < count. `bytes` holds 3 x channelCount x count bytes.
void WidenFrames24(const std::uint8_t* bytes, int channelCount, std::int64_t count,
                   double* const* channels);

// The inverse for codes: frame i, channel c at bytes 3 x (i x channelCount + c)
// of `out` holds the low 24 bits of codes[c][i]. Writes exactly
// 3 x channelCount x count bytes.
void StoreFrames24(const std::int32_t* const* codes, int channelCount, std::int64_t count,
                   std::uint8_t* out);
