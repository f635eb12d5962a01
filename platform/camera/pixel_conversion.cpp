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
// clamps to 0..255: exactly clamp() of the scalar formula. The AVX2 step
// does the same in both 128-bit lanes (16 pixels) and puts the lanes back
// in order when storing.

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

__attribute__((target("avx2"))) inline __m256i channel16(__m256i YLow, __m256i YHigh, __m256i PairTerm)
{
    const __m256i Low = _mm256_srai_epi32(_mm256_add_epi32(YLow, _mm256_unpacklo_epi32(PairTerm, PairTerm)), 8);
    const __m256i High = _mm256_srai_epi32(_mm256_add_epi32(YHigh, _mm256_unpackhi_epi32(PairTerm, PairTerm)), 8);
    return _mm256_packs_epi32(Low, High);
}

__attribute__((target("avx2"))) inline void yuyv16Avx2(const std::uint8_t* Src, std::uint8_t* Dst)
{
    const __m256i In = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(Src));
    const __m256i Y = _mm256_sub_epi16(_mm256_and_si256(In, _mm256_set1_epi16(0xFF)), _mm256_set1_epi16(16));
    const __m256i UV = _mm256_sub_epi16(_mm256_srli_epi16(In, 8), _mm256_set1_epi16(128));
    const __m256i One = _mm256_set1_epi16(1);
    const __m256i YCoefficients = _mm256_set1_epi32(kYCoefficients);
    const __m256i YLow = _mm256_madd_epi16(_mm256_unpacklo_epi16(Y, One), YCoefficients);
    const __m256i YHigh = _mm256_madd_epi16(_mm256_unpackhi_epi16(Y, One), YCoefficients);
    const __m256i R = channel16(YLow, YHigh, _mm256_madd_epi16(UV, _mm256_set1_epi32(kRCoefficients)));
    const __m256i G = channel16(YLow, YHigh, _mm256_madd_epi16(UV, _mm256_set1_epi32(kGCoefficients)));
    const __m256i B = channel16(YLow, YHigh, _mm256_madd_epi16(UV, _mm256_set1_epi32(kBCoefficients)));
    __m256i BG = _mm256_packus_epi16(B, G);
    __m256i RA = _mm256_packus_epi16(R, _mm256_set1_epi16(255));
    BG = _mm256_unpacklo_epi8(BG, _mm256_srli_si256(BG, 8));
    RA = _mm256_unpacklo_epi8(RA, _mm256_srli_si256(RA, 8));
    // Lane 0 holds pixels 0-3 and 4-7, lane 1 pixels 8-11 and 12-15.
    const __m256i First = _mm256_unpacklo_epi16(BG, RA);
    const __m256i Second = _mm256_unpackhi_epi16(BG, RA);
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(Dst), _mm256_permute2x128_si256(First, Second, 0x20));
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(Dst + 32), _mm256_permute2x128_si256(First, Second, 0x31));
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

}  // namespace

bool cpuHasAvx2()
{
    static const bool Has = __builtin_cpu_supports("avx2");
    return Has;
}

void yuyvToRgb32(const std::uint8_t* Src, std::ptrdiff_t SrcBytesPerLine, std::uint8_t* Dst,
                 std::ptrdiff_t DstBytesPerLine, int Width, int Height, SimdPath Path)
{
    if (Path == SimdPath::Best)
        Path = cpuHasAvx2() ? SimdPath::Avx2 : SimdPath::Sse2;
    void (*Row)(const std::uint8_t*, std::uint32_t*, int) = Path == SimdPath::Avx2 ? yuyvRowAvx2
        : Path == SimdPath::Sse2                                                    ? yuyvRowSse2
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
