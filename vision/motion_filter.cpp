#include "vision/motion_filter.h"

#include <immintrin.h>

// Both kernels work on whole 32-bit pixels, bytes B, G, R, A:
//
//   |a - b| per byte      = subs_u8(a, b) | subs_u8(b, a)   (one side is 0)
//   d = |dB| + |dG| + |dR| <= 765, so it fits a 16-bit lane
//   v = floor(d / 3)      = (d * 21846) >> 16, exact for 0 <= d <= 765
//                           (21846 / 65536 exceeds 1/3 by 1/98304, and
//                            765 / 98304 stays below the 1/3 gap to the next
//                            integer)
//   out = 0xFF000000 | v * 0x010101
//
// d * 21846 < 2^24, so v is byte 2 of the 32-bit product and the high byte
// is 0. Alpha is weighted 0 (AVX2) or masked off (SSE2) and plays no part.

namespace motionKernels {

bool hasAvx2()
{
    static const bool has = [] {
        __builtin_cpu_init();
        return __builtin_cpu_supports("avx2") != 0;
    }();
    return has;
}

void rowSse2(const std::uint32_t* Cur, const std::uint32_t* Prev, std::uint32_t* Out, int Count)
{
    const __m128i lowBytes = _mm_set1_epi32(0x00FF00FF);
    const __m128i lowWordByte = _mm_set1_epi32(0x000000FF);
    const __m128i third = _mm_set1_epi16(21846);
    const __m128i opaque = _mm_set1_epi32(static_cast<int>(0xFF000000u));
    int i = 0;
    for (; i + 4 <= Count; i += 4) {
        const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(Cur + i));
        const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(Prev + i));
        const __m128i diff = _mm_or_si128(_mm_subs_epu8(a, b), _mm_subs_epu8(b, a));
        // 16-bit words of each pixel: (|dB|, |dR|) + (|dG|, 0) = (|dB|+|dG|, |dR|)
        const __m128i sums = _mm_add_epi16(_mm_and_si128(diff, lowBytes),
                                           _mm_and_si128(_mm_srli_epi16(diff, 8), lowWordByte));
        // Adding the two words while multiplying gives d * 21846 per pixel.
        const __m128i v = _mm_srli_epi32(_mm_madd_epi16(sums, third), 16);
        const __m128i vv = _mm_or_si128(v, _mm_slli_epi32(v, 8));
        const __m128i grey = _mm_or_si128(_mm_or_si128(vv, _mm_slli_epi32(vv, 16)), opaque);
        _mm_storeu_si128(reinterpret_cast<__m128i*>(Out + i), grey);
    }
    for (; i < Count; ++i)
        Out[i] = motionPixel(Cur[i], Prev[i]);
}

__attribute__((target("avx2"))) void rowAvx2(const std::uint32_t* Cur, const std::uint32_t* Prev, std::uint32_t* Out,
                                             int Count)
{
    const __m256i channelWeights = _mm256_set1_epi32(0x00010101);
    const __m256i third = _mm256_set1_epi16(21846);
    // Byte 2 of every pixel into bytes 0..2, zero into byte 3.
    const __m256i spreadByte2 = _mm256_setr_epi8(2, 2, 2, -128, 6, 6, 6, -128, 10, 10, 10, -128, 14, 14, 14, -128,
                                                 2, 2, 2, -128, 6, 6, 6, -128, 10, 10, 10, -128, 14, 14, 14, -128);
    const __m256i opaque = _mm256_set1_epi32(static_cast<int>(0xFF000000u));
    int i = 0;
#pragma GCC unroll 2
    for (; i + 8 <= Count; i += 8) {
        const __m256i a = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(Cur + i));
        const __m256i b = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(Prev + i));
        const __m256i diff = _mm256_or_si256(_mm256_subs_epu8(a, b), _mm256_subs_epu8(b, a));
        // Bytes times (1, 1, 1, 0): words (|dB|+|dG|, |dR|); then d * 21846.
        const __m256i product = _mm256_madd_epi16(_mm256_maddubs_epi16(diff, channelWeights), third);
        const __m256i grey = _mm256_or_si256(_mm256_shuffle_epi8(product, spreadByte2), opaque);
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(Out + i), grey);
    }
    if (i < Count)
        rowSse2(Cur + i, Prev + i, Out + i, Count - i);
}

}  // namespace motionKernels

void motionFilterRow(const std::uint32_t* Cur, const std::uint32_t* Prev, std::uint32_t* Out, int Count)
{
    if (motionKernels::hasAvx2())
        motionKernels::rowAvx2(Cur, Prev, Out, Count);
    else
        motionKernels::rowSse2(Cur, Prev, Out, Count);
}
