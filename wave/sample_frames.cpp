#include "wave/sample_frames.h"

#include <immintrin.h>

#include "wave/byte_order.h"
#include "system/vector_level.h"

namespace {

void WidenPlain(const std::uint8_t* bytes, int channelCount, std::int64_t from, std::int64_t count,
                double* const* channels) {
  for (std::int64_t i = from; i < count; ++i) {
    for (int c = 0; c < channelCount; ++c) {
      channels[c][i] = DecodeSample24(bytes + 3 * (i * channelCount + c));
    }
  }
}

// Eight samples (24 bytes) from `p` as eight 32-bit integers: each lane's
// three bytes moved to the top of a 32-bit word, then shifted down with the
// sign. Reads 28 bytes.
__attribute__((target("avx2"))) inline __m256i EightSamples(const std::uint8_t* p) {
  const __m256i placeHigh = _mm256_setr_epi8(
      -1, 0, 1, 2, -1, 3, 4, 5, -1, 6, 7, 8, -1, 9, 10, 11,
      -1, 0, 1, 2, -1, 3, 4, 5, -1, 6, 7, 8, -1, 9, 10, 11);
  const __m128i low = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
  const __m128i high = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 12));
  const __m256i both = _mm256_inserti128_si256(_mm256_castsi128_si256(low), high, 1);
  return _mm256_srai_epi32(_mm256_shuffle_epi8(both, placeHigh), 8);
}

__attribute__((target("avx2"))) void WidenAvx2(const std::uint8_t* bytes, int channelCount,
                                                std::int64_t count, double* const* channels) {
  const std::int64_t frameBytes = 3 * channelCount;
  const std::int64_t totalBytes = frameBytes * count;
  const std::int64_t framesPerStep = 8 / channelCount;
  std::int64_t i = 0;
  // Each step reads 4 bytes beyond its 24: stop while they lie inside.
  if (channelCount == 1) {
    for (; 3 * i + 28 <= totalBytes; i += framesPerStep) {
      const __m256i v = EightSamples(bytes + 3 * i);
      _mm256_storeu_pd(channels[0] + i, _mm256_cvtepi32_pd(_mm256_castsi256_si128(v)));
      _mm256_storeu_pd(channels[0] + i + 4, _mm256_cvtepi32_pd(_mm256_extracti128_si256(v, 1)));
    }
  } else {
    // L0 R0 L1 R1 L2 R2 L3 R3 -> L0 L1 L2 L3 | R0 R1 R2 R3.
    const __m256i apart = _mm256_setr_epi32(0, 2, 4, 6, 1, 3, 5, 7);
    for (; frameBytes * i + 28 <= totalBytes; i += framesPerStep) {
      const __m256i v = _mm256_permutevar8x32_epi32(EightSamples(bytes + frameBytes * i), apart);
      _mm256_storeu_pd(channels[0] + i, _mm256_cvtepi32_pd(_mm256_castsi256_si128(v)));
      _mm256_storeu_pd(channels[1] + i, _mm256_cvtepi32_pd(_mm256_extracti128_si256(v, 1)));
    }
  }
  WidenPlain(bytes, channelCount, i, count, channels);
}

void StorePlain(const std::int32_t* const* codes, int channelCount, std::int64_t from,
                std::int64_t count, std::uint8_t* out) {
  for (std::int64_t i = from; i < count; ++i) {
    for (int c = 0; c < channelCount; ++c) StoreCode24(out + 3 * (i * channelCount + c), codes[c][i]);
  }
}

// Four 32-bit codes to their twelve low-order bytes, stored without writing
// past them.
__attribute__((target("avx2"))) inline void StoreFourCodes(__m128i v, std::uint8_t* out) {
  const __m128i dropHigh = _mm_setr_epi8(0, 1, 2, 4, 5, 6, 8, 9, 10, 12, 13, 14, -1, -1, -1, -1);
  const __m128i packed = _mm_shuffle_epi8(v, dropHigh);
  _mm_storel_epi64(reinterpret_cast<__m128i*>(out), packed);
  const int last = _mm_extract_epi32(packed, 2);
  __builtin_memcpy(out + 8, &last, 4);
}

__attribute__((target("avx2"))) void StoreAvx2(const std::int32_t* const* codes, int channelCount,
                                                std::int64_t count, std::uint8_t* out) {
  std::int64_t i = 0;
  if (channelCount == 1) {
    for (; i + 4 <= count; i += 4) {
      StoreFourCodes(_mm_loadu_si128(reinterpret_cast<const __m128i*>(codes[0] + i)), out + 3 * i);
    }
  } else {
    for (; i + 4 <= count; i += 4) {
      const __m128i left = _mm_loadu_si128(reinterpret_cast<const __m128i*>(codes[0] + i));
      const __m128i right = _mm_loadu_si128(reinterpret_cast<const __m128i*>(codes[1] + i));
      StoreFourCodes(_mm_unpacklo_epi32(left, right), out + 6 * i);
      StoreFourCodes(_mm_unpackhi_epi32(left, right), out + 6 * i + 12);
    }
  }
  StorePlain(codes, channelCount, i, count, out);
}

bool VectorsFit(int channelCount) {
  return (channelCount == 1 || channelCount == 2) && ActiveVectorLevel() >= VectorLevel::kAvx2;
}

}  // namespace

void WidenFrames24(const std::uint8_t* bytes, int channelCount, std::int64_t count,
                   double* const* channels) {
  if (VectorsFit(channelCount)) {
    WidenAvx2(bytes, channelCount, count, channels);
  } else {
    WidenPlain(bytes, channelCount, 0, count, channels);
  }
}

void StoreFrames24(const std::int32_t* const* codes, int channelCount, std::int64_t count,
                   std::uint8_t* out) {
  if (VectorsFit(channelCount)) {
    StoreAvx2(codes, channelCount, count, out);
  } else {
    StorePlain(codes, channelCount, 0, count, out);
  }
}
