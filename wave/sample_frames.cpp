#include "wave/sample_frames.h"

// GCC 12 warns of the undefined vectors inside its own AVX-512 intrinsics
// (its bug 105593); the warning is about the header, not about this code.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#include <immintrin.h>
#pragma GCC diagnostic pop

#include "processor/vector_level.h"
#include "wave/byte_order.h"

namespace {

void WidenPlain(const std::uint8_t* bytes, std::int64_t from, std::int64_t count, double* out) {
  for (std::int64_t i = from; i < count; ++i) out[i] = DecodeSample24(bytes + 3 * i);
}

// Eight samples (24 bytes) from `p` as eight 32-bit integers: each lane's
// three bytes moved to the top of a 32-bit word, then shifted down with the
// sign. Reads 28 bytes.
__attribute__((target("avx2"))) inline __m256i EightSamples(const std::uint8_t* p) {
  const __m256i placeHigh = _mm256_setr_epi8(-1, 0, 1, 2, -1, 3, 4, 5, -1, 6, 7, 8, -1, 9, 10, 11,
                                             -1, 0, 1, 2, -1, 3, 4, 5, -1, 6, 7, 8, -1, 9, 10, 11);
  const __m128i low = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
  const __m128i high = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 12));
  const __m256i both = _mm256_inserti128_si256(_mm256_castsi128_si256(low), high, 1);
  return _mm256_srai_epi32(_mm256_shuffle_epi8(both, placeHigh), 8);
}

// Each step reads 4 bytes beyond its 24: the loops stop while they lie
// inside, and the plain loop takes the rest.
__attribute__((target("avx2"))) void WidenAvx2(const std::uint8_t* bytes, std::int64_t count,
                                               double* out) {
  std::int64_t i = 0;
  for (; 3 * i + 52 <= 3 * count; i += 16) {
    const __m256i a = EightSamples(bytes + 3 * i);
    const __m256i b = EightSamples(bytes + 3 * i + 24);
    _mm256_storeu_pd(out + i, _mm256_cvtepi32_pd(_mm256_castsi256_si128(a)));
    _mm256_storeu_pd(out + i + 4, _mm256_cvtepi32_pd(_mm256_extracti128_si256(a, 1)));
    _mm256_storeu_pd(out + i + 8, _mm256_cvtepi32_pd(_mm256_castsi256_si128(b)));
    _mm256_storeu_pd(out + i + 12, _mm256_cvtepi32_pd(_mm256_extracti128_si256(b, 1)));
  }
  WidenPlain(bytes, i, count, out);
}

__attribute__((target("avx512f,avx2"))) void WidenAvx512(const std::uint8_t* bytes,
                                                         std::int64_t count, double* out) {
  std::int64_t i = 0;
  for (; 3 * i + 52 <= 3 * count; i += 16) {
    _mm512_storeu_pd(out + i, _mm512_cvtepi32_pd(EightSamples(bytes + 3 * i)));
    _mm512_storeu_pd(out + i + 8, _mm512_cvtepi32_pd(EightSamples(bytes + 3 * i + 24)));
  }
  WidenPlain(bytes, i, count, out);
}

}  // namespace

void WidenSamples24(const std::uint8_t* bytes, std::int64_t count, double* out) {
  switch (ActiveVectorLevel()) {
    case VectorLevel::kAvx512:
      WidenAvx512(bytes, count, out);
      return;
    case VectorLevel::kAvx2:
      WidenAvx2(bytes, count, out);
      return;
    case VectorLevel::kPlain:
      break;
  }
  WidenPlain(bytes, 0, count, out);
}
