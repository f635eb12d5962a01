#include "platform/camera/pixel_conversion.h"

#include <immintrin.h>

#include <algorithm>

namespace {

// ---- YUYV, scalar: the formula as documented in the header ----

inline std::uint32_t clamp255(int V)
{
    return static_cast<std::uint32_t>(std::clamp(V, 0, 255));
}

inline std::uint32_t yuvPixel(int Y, int U, int V)
{
    const int C = 298 * (Y - 16) + 128;  // rounding constant folded in
    const int D = U - 128;
    const int E = V - 128;
    return 0xFF000000u | (clamp255((C + 409 * E) >> 8) << 16) | (clamp255((C - 100 * D - 208 * E) >> 8) << 8)
        | clamp255((C + 516 * D) >> 8);
}

// Pixels From..Width of a row; an odd last pixel reads its own pair.
void yuyvRowScalar(const std::uint8_t* Src, std::uint32_t* Dst, int From, int Width)
{
    for (int X = From; X < Width; ++X) {
        const std::uint8_t* Pair = Src + 4 * (X / 2);
        Dst[X] = yuvPixel(Pair[2 * (X % 2)], Pair[1], Pair[3]);
    }
}

// ---- YUYV, vector: 16-bit lanes in, 32-bit products, saturating packs ----
//
// One step on 8 pixels (16 bytes, four pairs Y U Y V):
//   y  = (bytes & 0x00FF) - 16        eight Y as int16
//   uv = (bytes >> 8) - 128           U0 V0 U1 V1 ... as int16
//   yTerm  = madd((y, 1), (298, 128)) = 298 * (Y - 16) + 128, int32
//   rTerm  = madd((u, v), (0, 409))   one per pair, int32
//   gTerm  = madd((u, v), (-100, -208))
//   bTerm  = madd((u, v), (516, 0))
//   channel = (yTerm + term of the pixel's pair) >> 8 (arithmetic)
// packs_epi32 cannot saturate here (|channel| < 600), and packus_epi16 then
// clamps to 0..255: exactly clamp() of the scalar formula.

constexpr int kYCoefficients = (128 << 16) | 298;
constexpr int kRCoefficients = 409 << 16;
constexpr int kGCoefficients = static_cast<int>((static_cast<std::uint32_t>(static_cast<std::uint16_t>(-208)) << 16)
                                                | static_cast<std::uint16_t>(-100));
constexpr int kBCoefficients = 516;

inline __m128i channel8(__m128i YLow, __m128i YHigh, __m128i PairTerm)
{
    const __m128i Low = _mm_srai_epi32(_mm_add_epi32(YLow, _mm_unpacklo_epi32(PairTerm, PairTerm)), 8);
    const __m128i High = _mm_srai_epi32(_mm_add_epi32(YHigh, _mm_unpackhi_epi32(PairTerm, PairTerm)), 8);
    return _mm_packs_epi32(Low, High);
}

inline void yuyv8Sse2(const std::uint8_t* Src, std::uint8_t* Dst)
{
    const __m128i In = _mm_loadu_si128(reinterpret_cast<const __m128i*>(Src));
    const __m128i Y = _mm_sub_epi16(_mm_and_si128(In, _mm_set1_epi16(0xFF)), _mm_set1_epi16(16));
    const __m128i UV = _mm_sub_epi16(_mm_srli_epi16(In, 8), _mm_set1_epi16(128));
    const __m128i One = _mm_set1_epi16(1);
    const __m128i YCoefficients = _mm_set1_epi32(kYCoefficients);
    const __m128i YLow = _mm_madd_epi16(_mm_unpacklo_epi16(Y, One), YCoefficients);
    const __m128i YHigh = _mm_madd_epi16(_mm_unpackhi_epi16(Y, One), YCoefficients);
    const __m128i R = channel8(YLow, YHigh, _mm_madd_epi16(UV, _mm_set1_epi32(kRCoefficients)));
    const __m128i G = channel8(YLow, YHigh, _mm_madd_epi16(UV, _mm_set1_epi32(kGCoefficients)));
    const __m128i B = channel8(YLow, YHigh, _mm_madd_epi16(UV, _mm_set1_epi32(kBCoefficients)));
    // B0..B7 G0..G7 -> B0 G0 B1 G1 ..., and R0..R7 FF.. -> R0 FF R1 FF ...
    __m128i BG = _mm_packus_epi16(B, G);
    __m128i RA = _mm_packus_epi16(R, _mm_set1_epi16(255));
    BG = _mm_unpacklo_epi8(BG, _mm_srli_si128(BG, 8));
    RA = _mm_unpacklo_epi8(RA, _mm_srli_si128(RA, 8));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(Dst), _mm_unpacklo_epi16(BG, RA));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(Dst + 16), _mm_unpackhi_epi16(BG, RA));
}

void yuyvRowSse2(const std::uint8_t* Src, std::uint32_t* Dst, int Width)
{
    int X = 0;
    for (; X + 8 <= Width; X += 8)
        yuyv8Sse2(Src + 2 * X, reinterpret_cast<std::uint8_t*>(Dst + X));
    yuyvRowScalar(Src, Dst, X, Width);
}

// The AVX2 step works in 16-bit lanes throughout, with the multiplications
// by 298, 409, 208 and 516 split at a multiple of 256 so that no
// intermediate value leaves the int16 range. With c = Y - 16 and >> 8 as
// floor division, (256 * a + x) >> 8 = a + (x >> 8) for any integers a, x:
//   R = (c + E)  + ((42 c + 153 E        + 128) >> 8)    inner -20128..29597
//   G = (c - E)  + ((42 c - 100 D + 48 E + 128) >> 8)    inner -19388..29062
//   B = (c + 2D) + ((42 c + 4 D          + 128) >> 8)    inner  -1056..10674
// (298 = 256 + 42, 409 = 256 + 153, -208 = -256 + 48, 516 = 512 + 4): exactly
// the scalar sums. Each result lies within -224..481, and packus clamps it
// to 0..255 as clamp() does. A 128-bit lane holds 8 pixels (4 pairs), so
// copying a pair's U and V to both its pixels stays within the lane.
//
// Shifts and shuffles share two of the processor's vector ports, which
// bound the old 32-bit version; GCC turns multiplications by constants into
// shift-and-add chains that would load those ports again, so the factors
// reach vpmullw through an empty asm that hides their values.

__attribute__((target("avx2"))) inline __m256i opaque(__m256i V)
{
    asm("" : "+x"(V));
    return V;
}

__attribute__((target("avx2"))) inline void yuyv16Avx2(const std::uint8_t* Src, std::uint8_t* Dst)
{
    // Pixels 0-3 and 8-11 into lane 0, 4-7 and 12-15 into lane 1, so that
    // the lanes come out in order at the end.
    const __m256i In = _mm256_permute4x64_epi64(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(Src)), 0xD8);
    const __m256i C = _mm256_sub_epi16(_mm256_and_si256(In, _mm256_set1_epi16(0xFF)), _mm256_set1_epi16(16));
    const __m256i UV = _mm256_sub_epi16(_mm256_srli_epi16(In, 8), _mm256_set1_epi16(128));
    // UV holds U0 V0 U1 V1 U2 V2 U3 V3 per lane: D = U0 U0 U1 U1 ..., E = V0 V0 V1 V1 ...
    const __m256i D = _mm256_shuffle_epi8(UV, _mm256_setr_epi8(0, 1, 0, 1, 4, 5, 4, 5, 8, 9, 8, 9, 12, 13, 12, 13, 0, 1,
                                                               0, 1, 4, 5, 4, 5, 8, 9, 8, 9, 12, 13, 12, 13));
    const __m256i E = _mm256_shuffle_epi8(UV, _mm256_setr_epi8(2, 3, 2, 3, 6, 7, 6, 7, 10, 11, 10, 11, 14, 15, 14, 15,
                                                               2, 3, 2, 3, 6, 7, 6, 7, 10, 11, 10, 11, 14, 15, 14, 15));
    const __m256i T = _mm256_add_epi16(_mm256_mullo_epi16(C, opaque(_mm256_set1_epi16(42))), _mm256_set1_epi16(128));

    const __m256i R = _mm256_add_epi16(
        _mm256_add_epi16(C, E),
        _mm256_srai_epi16(_mm256_add_epi16(T, _mm256_mullo_epi16(E, opaque(_mm256_set1_epi16(153)))), 8));
    const __m256i GTerm = _mm256_add_epi16(_mm256_mullo_epi16(D, opaque(_mm256_set1_epi16(-100))),
                                           _mm256_mullo_epi16(E, opaque(_mm256_set1_epi16(48))));
    const __m256i G = _mm256_add_epi16(_mm256_sub_epi16(C, E), _mm256_srai_epi16(_mm256_add_epi16(T, GTerm), 8));
    const __m256i B = _mm256_add_epi16(_mm256_add_epi16(C, _mm256_add_epi16(D, D)),
                                       _mm256_srai_epi16(_mm256_add_epi16(T, _mm256_slli_epi16(D, 2)), 8));

    // Per lane: B0..B7 G0..G7 -> B0 G0 B1 G1 ..., R0..R7 FF.. -> R0 FF R1 FF ...
    const __m256i Interleave = _mm256_setr_epi8(0, 8, 1, 9, 2, 10, 3, 11, 4, 12, 5, 13, 6, 14, 7, 15, 0, 8, 1, 9, 2,
                                                10, 3, 11, 4, 12, 5, 13, 6, 14, 7, 15);
    const __m256i BG = _mm256_shuffle_epi8(_mm256_packus_epi16(B, G), Interleave);
    const __m256i RA = _mm256_shuffle_epi8(_mm256_packus_epi16(R, _mm256_set1_epi16(255)), Interleave);
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(Dst), _mm256_unpacklo_epi16(BG, RA));        // pixels 0-7
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(Dst + 32), _mm256_unpackhi_epi16(BG, RA));   // pixels 8-15
}

// The AVX-512 (BW) step on 32 pixels: the AVX2 arithmetic in four 128-bit
// lanes.
// Lane k takes pixels 4k..4k+3 and 16+4k..16+4k+3, so that the low halves
// of the lanes are pixels 0-15 and the high halves 16-31.
__attribute__((target("avx512bw"))) inline __m512i opaque512(__m512i V)
{
    asm("" : "+v"(V));
    return V;
}

// The maskz forms: GCC 12 warns about the undefined register inside the
// plain broadcast and permute intrinsics.
__attribute__((target("avx512bw"))) inline __m512i everyLane(__m128i Pattern)
{
    return _mm512_maskz_broadcast_i32x4(0xFFFF, Pattern);
}

__attribute__((target("avx512bw"))) inline void yuyv32Avx512(const std::uint8_t* Src, std::uint8_t* Dst)
{
    const __m512i In = _mm512_maskz_permutexvar_epi64(0xFF, _mm512_setr_epi64(0, 4, 1, 5, 2, 6, 3, 7),
                                                      _mm512_loadu_si512(reinterpret_cast<const void*>(Src)));
    const __m512i C = _mm512_sub_epi16(_mm512_and_si512(In, _mm512_set1_epi16(0xFF)), _mm512_set1_epi16(16));
    const __m512i UV = _mm512_sub_epi16(_mm512_srli_epi16(In, 8), _mm512_set1_epi16(128));
    const __m512i D = _mm512_shuffle_epi8(
        UV, everyLane(_mm_setr_epi8(0, 1, 0, 1, 4, 5, 4, 5, 8, 9, 8, 9, 12, 13, 12, 13)));
    const __m512i E = _mm512_shuffle_epi8(
        UV, everyLane(_mm_setr_epi8(2, 3, 2, 3, 6, 7, 6, 7, 10, 11, 10, 11, 14, 15, 14, 15)));
    const __m512i T =
        _mm512_add_epi16(_mm512_mullo_epi16(C, opaque512(_mm512_set1_epi16(42))), _mm512_set1_epi16(128));

    const __m512i R = _mm512_add_epi16(
        _mm512_add_epi16(C, E),
        _mm512_srai_epi16(_mm512_add_epi16(T, _mm512_mullo_epi16(E, opaque512(_mm512_set1_epi16(153)))), 8));
    const __m512i GTerm = _mm512_add_epi16(_mm512_mullo_epi16(D, opaque512(_mm512_set1_epi16(-100))),
                                           _mm512_mullo_epi16(E, opaque512(_mm512_set1_epi16(48))));
    const __m512i G = _mm512_add_epi16(_mm512_sub_epi16(C, E), _mm512_srai_epi16(_mm512_add_epi16(T, GTerm), 8));
    const __m512i B = _mm512_add_epi16(_mm512_add_epi16(C, _mm512_add_epi16(D, D)),
                                       _mm512_srai_epi16(_mm512_add_epi16(T, _mm512_slli_epi16(D, 2)), 8));

    const __m512i Interleave =
        everyLane(_mm_setr_epi8(0, 8, 1, 9, 2, 10, 3, 11, 4, 12, 5, 13, 6, 14, 7, 15));
    const __m512i BG = _mm512_shuffle_epi8(_mm512_packus_epi16(B, G), Interleave);
    const __m512i RA = _mm512_shuffle_epi8(_mm512_packus_epi16(R, _mm512_set1_epi16(255)), Interleave);
    _mm512_storeu_si512(reinterpret_cast<void*>(Dst), _mm512_unpacklo_epi16(BG, RA));        // pixels 0-15
    _mm512_storeu_si512(reinterpret_cast<void*>(Dst + 64), _mm512_unpackhi_epi16(BG, RA));   // pixels 16-31
}

__attribute__((target("avx512bw"))) void yuyvRowAvx512(const std::uint8_t* Src, std::uint32_t* Dst, int Width)
{
    int X = 0;
    for (; X + 32 <= Width; X += 32)
        yuyv32Avx512(Src + 2 * X, reinterpret_cast<std::uint8_t*>(Dst + X));
    for (; X + 8 <= Width; X += 8)
        yuyv8Sse2(Src + 2 * X, reinterpret_cast<std::uint8_t*>(Dst + X));
    yuyvRowScalar(Src, Dst, X, Width);
}

__attribute__((target("avx2"))) void yuyvRowAvx2(const std::uint8_t* Src, std::uint32_t* Dst, int Width)
{
    int X = 0;
    for (; X + 16 <= Width; X += 16)
        yuyv16Avx2(Src + 2 * X, reinterpret_cast<std::uint8_t*>(Dst + X));
    for (; X + 8 <= Width; X += 8)
        yuyv8Sse2(Src + 2 * X, reinterpret_cast<std::uint8_t*>(Dst + X));
    yuyvRowScalar(Src, Dst, X, Width);
}

void yuyvRowScalarFull(const std::uint8_t* Src, std::uint32_t* Dst, int Width)
{
    yuyvRowScalar(Src, Dst, 0, Width);
}

template <int R, int G, int B>
void packed24ToRgb32(const std::uint8_t* Src, std::ptrdiff_t SrcBytesPerLine, std::uint8_t* Dst,
                     std::ptrdiff_t DstBytesPerLine, int Width, int Height)
{
    for (int Row = 0; Row < Height; ++Row) {
        const std::uint8_t* S = Src + Row * SrcBytesPerLine;
        std::uint8_t* D = Dst + Row * DstBytesPerLine;
        for (int X = 0; X < Width; ++X) {
            D[4 * X] = S[3 * X + B];
            D[4 * X + 1] = S[3 * X + G];
            D[4 * X + 2] = S[3 * X + R];
            D[4 * X + 3] = 0xFF;
        }
    }
}

// 32-bit pixels with a spare byte: R G B x or B G R x. BGRx is already our
// byte order and only needs its fourth byte set; the loops are written so
// the compiler vectorises them (SSE2 on any x86-64).
void rgbxRow(const std::uint8_t* Src, std::uint32_t* Dst, int Width)
{
    for (int X = 0; X < Width; ++X) {
        std::uint32_t P;
        __builtin_memcpy(&P, Src + 4 * X, 4);  // little endian: 0xxxBBGGRR
        Dst[X] = 0xFF000000u | ((P & 0xFFu) << 16) | (P & 0xFF00u) | ((P >> 16) & 0xFFu);
    }
}

void bgrxRow(const std::uint8_t* Src, std::uint32_t* Dst, int Width)
{
    for (int X = 0; X < Width; ++X) {
        std::uint32_t P;
        __builtin_memcpy(&P, Src + 4 * X, 4);
        Dst[X] = P | 0xFF000000u;
    }
}

template <void (*Row)(const std::uint8_t*, std::uint32_t*, int)>
void packed32ToRgb32(const std::uint8_t* Src, std::ptrdiff_t SrcBytesPerLine, std::uint8_t* Dst,
                     std::ptrdiff_t DstBytesPerLine, int Width, int Height)
{
    for (int Y = 0; Y < Height; ++Y)
        Row(Src + Y * SrcBytesPerLine, reinterpret_cast<std::uint32_t*>(Dst + Y * DstBytesPerLine), Width);
}

// 4:2:0 rows go through the YUYV kernel: a chunk of the row is laid out as
// Y0 U Y1 V pairs in a buffer on the stack (it stays in the L1 cache), then
// converted. Same formula, same vector paths, no allocation.
constexpr int kChunkPixels = 2048;

void yuv420Row(const std::uint8_t* Y, const std::uint8_t* U, const std::uint8_t* V, int ChromaStep,
               std::uint8_t* Dst, int Width, SimdPath Path)
{
    alignas(64) std::uint8_t Pairs[kChunkPixels * 2];
    for (int From = 0; From < Width; From += kChunkPixels) {
        const int Count = std::min(kChunkPixels, Width - From);
        const int PairCount = (Count + 1) / 2;
        const std::uint8_t* Yc = Y + From;
        const std::uint8_t* Uc = U + From / 2 * ChromaStep;
        const std::uint8_t* Vc = V + From / 2 * ChromaStep;
        int P = 0;
        // Sixteen pixels at a time: Y bytes interleaved with U V pairs are
        // exactly Y0 U0 Y1 V0 Y2 U1 Y3 V1...
        for (; 2 * P + 16 <= Count; P += 8) {
            const __m128i Luma = _mm_loadu_si128(reinterpret_cast<const __m128i*>(Yc + 2 * P));
            __m128i Chroma;
            if (ChromaStep == 2) {
                Chroma = _mm_loadu_si128(reinterpret_cast<const __m128i*>(Uc + 2 * P));
            } else {
                const __m128i U8 = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(Uc + P));
                const __m128i V8 = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(Vc + P));
                Chroma = _mm_unpacklo_epi8(U8, V8);
            }
            _mm_store_si128(reinterpret_cast<__m128i*>(Pairs + 4 * P), _mm_unpacklo_epi8(Luma, Chroma));
            _mm_store_si128(reinterpret_cast<__m128i*>(Pairs + 4 * P + 16), _mm_unpackhi_epi8(Luma, Chroma));
        }
        for (; P < PairCount; ++P) {
            Pairs[4 * P] = Yc[2 * P];
            Pairs[4 * P + 1] = Uc[P * ChromaStep];
            Pairs[4 * P + 2] = 2 * P + 1 < Count ? Yc[2 * P + 1] : 0;
            Pairs[4 * P + 3] = Vc[P * ChromaStep];
        }
        yuyvToRgb32(Pairs, 0, Dst + 4 * std::ptrdiff_t(From), 0, Count, 1, Path);
    }
}

}  // namespace

bool cpuHasAvx2()
{
    static const bool Has = __builtin_cpu_supports("avx2");
    return Has;
}

bool cpuHasAvx512()
{
    static const bool Has = __builtin_cpu_supports("avx512bw");
    return Has;
}

void yuyvToRgb32(const std::uint8_t* Src, std::ptrdiff_t SrcBytesPerLine, std::uint8_t* Dst,
                 std::ptrdiff_t DstBytesPerLine, int Width, int Height, SimdPath Path)
{
    if (Path == SimdPath::Best)
        Path = cpuHasAvx512() ? SimdPath::Avx512 : cpuHasAvx2() ? SimdPath::Avx2 : SimdPath::Sse2;
    void (*Row)(const std::uint8_t*, std::uint32_t*, int) = Path == SimdPath::Avx512 ? yuyvRowAvx512
        : Path == SimdPath::Avx2                                                      ? yuyvRowAvx2
        : Path == SimdPath::Sse2                                                      ? yuyvRowSse2
                                                                                      : yuyvRowScalarFull;
    for (int Y = 0; Y < Height; ++Y)
        Row(Src + Y * SrcBytesPerLine, reinterpret_cast<std::uint32_t*>(Dst + Y * DstBytesPerLine), Width);
}

void rgb24ToRgb32(const std::uint8_t* Src, std::ptrdiff_t SrcBytesPerLine, std::uint8_t* Dst,
                  std::ptrdiff_t DstBytesPerLine, int Width, int Height)
{
    packed24ToRgb32<0, 1, 2>(Src, SrcBytesPerLine, Dst, DstBytesPerLine, Width, Height);
}

void bgr24ToRgb32(const std::uint8_t* Src, std::ptrdiff_t SrcBytesPerLine, std::uint8_t* Dst,
                  std::ptrdiff_t DstBytesPerLine, int Width, int Height)
{
    packed24ToRgb32<2, 1, 0>(Src, SrcBytesPerLine, Dst, DstBytesPerLine, Width, Height);
}

void mjpegToRgb32(tjhandle Decoder, const std::uint8_t* Jpeg, std::size_t Size, std::uint8_t* Dst,
                  std::ptrdiff_t DstBytesPerLine, int Width, int Height)
{
    // BGRA rather than BGRX: only BGRA guarantees the fourth byte is 0xFF.
    tjDecompress2(Decoder, Jpeg, static_cast<unsigned long>(Size), Dst, Width, static_cast<int>(DstBytesPerLine),
                  Height, TJPF_BGRA, 0);
}

void rgbxToRgb32(const std::uint8_t* Src, std::ptrdiff_t SrcBytesPerLine, std::uint8_t* Dst,
                 std::ptrdiff_t DstBytesPerLine, int Width, int Height)
{
    packed32ToRgb32<rgbxRow>(Src, SrcBytesPerLine, Dst, DstBytesPerLine, Width, Height);
}

void bgrxToRgb32(const std::uint8_t* Src, std::ptrdiff_t SrcBytesPerLine, std::uint8_t* Dst,
                 std::ptrdiff_t DstBytesPerLine, int Width, int Height)
{
    packed32ToRgb32<bgrxRow>(Src, SrcBytesPerLine, Dst, DstBytesPerLine, Width, Height);
}

void nv12ToRgb32(const std::uint8_t* Luma, std::ptrdiff_t LumaBytesPerLine, const std::uint8_t* Chroma,
                 std::ptrdiff_t ChromaBytesPerLine, std::uint8_t* Dst, std::ptrdiff_t DstBytesPerLine, int Width,
                 int Height, SimdPath Path)
{
    for (int Row = 0; Row < Height; ++Row) {
        const std::uint8_t* UV = Chroma + (Row / 2) * ChromaBytesPerLine;
        yuv420Row(Luma + Row * LumaBytesPerLine, UV, UV + 1, 2, Dst + Row * DstBytesPerLine, Width, Path);
    }
}

void i420ToRgb32(const std::uint8_t* Luma, std::ptrdiff_t LumaBytesPerLine, const std::uint8_t* U,
                 std::ptrdiff_t UBytesPerLine, const std::uint8_t* V, std::ptrdiff_t VBytesPerLine,
                 std::uint8_t* Dst, std::ptrdiff_t DstBytesPerLine, int Width, int Height, SimdPath Path)
{
    for (int Row = 0; Row < Height; ++Row)
        yuv420Row(Luma + Row * LumaBytesPerLine, U + (Row / 2) * UBytesPerLine, V + (Row / 2) * VBytesPerLine, 1,
                  Dst + Row * DstBytesPerLine, Width, Path);
}
