#include "platform/i420_conversion.h"

#include <immintrin.h>

#include <initializer_list>

namespace {

inline int lumaOf(std::uint32_t P)
{
    const int R = int(P >> 16 & 0xFF), G = int(P >> 8 & 0xFF), B = int(P & 0xFF);
    return ((66 * R + 129 * G + 25 * B + 128) >> 8) + 16;
}

// Columns From..Width of a pair of rows (Row1 may be Row0 for an odd last
// row); From is even.
void pairScalar(const std::uint32_t* Row0, const std::uint32_t* Row1, std::uint8_t* Y0, std::uint8_t* Y1,
                std::uint8_t* U, std::uint8_t* V, int From, int Width)
{
    for (int X = From; X < Width; ++X) {
        Y0[X] = std::uint8_t(lumaOf(Row0[X]));
        Y1[X] = std::uint8_t(lumaOf(Row1[X]));
    }
    for (int X = From; X < Width; X += 2) {
        const int Next = X + 1 < Width ? X + 1 : X;
        int SR = 0, SG = 0, SB = 0;
        for (const std::uint32_t P : {Row0[X], Row0[Next], Row1[X], Row1[Next]}) {
            SR += int(P >> 16 & 0xFF);
            SG += int(P >> 8 & 0xFF);
            SB += int(P & 0xFF);
        }
        U[X / 2] = std::uint8_t(((-38 * SR - 74 * SG + 112 * SB + 512) >> 10) + 128);
        V[X / 2] = std::uint8_t(((112 * SR - 94 * SG - 18 * SB + 512) >> 10) + 128);
    }
}

// ---- AVX2: 16 columns of a row pair per step ----
//
// Eight pixels widened to 16-bit lanes: lo = px 0 1 | 4 5, hi = px 2 3 | 6 7
// (B G R x each). madd with (25, 129, 66, 0) gives 25B + 129G and 66R per
// pixel, and hadd(lo, hi) sums them in order: Y0 Y1 Y2 Y3 | Y4 Y5 Y6 Y7.
// For chroma the two rows are added lane by lane, then each pixel to its
// right neighbour (a shift by 8 bytes), giving the block sums
// blk0 blk1 | blk2 blk3; madd and hadd with the U and V factors then work as
// for Y. Every sum fits 32 bits and the 16-bit block sums stay below 1021,
// so the vector path computes exactly the scalar formula.

__attribute__((target("avx2"))) inline __m256i lumaSums(__m256i Lo, __m256i Hi)
{
    const __m256i Factors = _mm256_set1_epi64x(0x0000004200810019LL);  // 25, 129, 66, 0
    return _mm256_hadd_epi32(_mm256_madd_epi16(Lo, Factors), _mm256_madd_epi16(Hi, Factors));
}

__attribute__((target("avx2"))) inline __m256i blockSums(__m256i Lo0, __m256i Hi0, __m256i Lo1, __m256i Hi1)
{
    const __m256i Lo = _mm256_add_epi16(Lo0, Lo1), Hi = _mm256_add_epi16(Hi0, Hi1);
    return _mm256_unpacklo_epi64(_mm256_add_epi16(Lo, _mm256_bsrli_epi128(Lo, 8)),
                                 _mm256_add_epi16(Hi, _mm256_bsrli_epi128(Hi, 8)));
}

// Stream: the output goes to another process and is not read here again:
// stores bypass the caches (no read of the lines first, nothing evicted).
template <bool Stream>
__attribute__((target("avx2"))) void pairAvx2(const std::uint32_t* Row0, const std::uint32_t* Row1,
                                              std::uint8_t* Y0, std::uint8_t* Y1, std::uint8_t* U, std::uint8_t* V,
                                              int Width)
{
    const __m256i Zero = _mm256_setzero_si256();
    const __m256i Order = _mm256_setr_epi32(0, 4, 1, 5, 2, 6, 3, 7);
    const __m256i YRound = _mm256_set1_epi32(128), CRound = _mm256_set1_epi32(512);
    const __m256i YOffset = _mm256_set1_epi16(16), COffset = _mm256_set1_epi16(128);
    const __m256i UFactors = _mm256_set1_epi64x(0x0000FFDAFFB60070LL);  // 112, -74, -38, 0
    const __m256i VFactors = _mm256_set1_epi64x(0x00000070FFA2FFEELL);  // -18, -94, 112, 0
    const __m128i ChromaOrder = _mm_setr_epi8(0, 1, 4, 5, 2, 3, 6, 7, 8, 9, 12, 13, 10, 11, 14, 15);

    int X = 0;
    for (; X + 16 <= Width; X += 16) {
        __m256i Lo[2][2], Hi[2][2];  // [row][group of 8]
        const std::uint32_t* Rows[2] = {Row0, Row1};
        std::uint8_t* YRows[2] = {Y0, Y1};
        for (int R = 0; R < 2; ++R) {
            for (int G = 0; G < 2; ++G) {
                const __m256i P = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(Rows[R] + X + 8 * G));
                Lo[R][G] = _mm256_unpacklo_epi8(P, Zero);
                Hi[R][G] = _mm256_unpackhi_epi8(P, Zero);
            }
            const __m256i A = _mm256_srai_epi32(_mm256_add_epi32(lumaSums(Lo[R][0], Hi[R][0]), YRound), 8);
            const __m256i B = _mm256_srai_epi32(_mm256_add_epi32(lumaSums(Lo[R][1], Hi[R][1]), YRound), 8);
            // packs: Y0-3 Y8-11 | Y4-7 Y12-15; the dword permute restores the order.
            const __m256i Words = _mm256_add_epi16(_mm256_packs_epi32(A, B), YOffset);
            const __m256i Bytes = _mm256_permutevar8x32_epi32(_mm256_packus_epi16(Words, Words), Order);
            if (Stream && (reinterpret_cast<std::uintptr_t>(YRows[R] + X) & 15) == 0)
                _mm_stream_si128(reinterpret_cast<__m128i*>(YRows[R] + X), _mm256_castsi256_si128(Bytes));
            else
                _mm_storeu_si128(reinterpret_cast<__m128i*>(YRows[R] + X), _mm256_castsi256_si128(Bytes));
        }
        const __m256i S0 = blockSums(Lo[0][0], Hi[0][0], Lo[1][0], Hi[1][0]);  // blocks 0 1 | 2 3
        const __m256i S1 = blockSums(Lo[0][1], Hi[0][1], Lo[1][1], Hi[1][1]);  // blocks 4 5 | 6 7
        // hadd: U0 U1 U4 U5 | U2 U3 U6 U7, and V alike.
        const __m256i Us = _mm256_srai_epi32(
            _mm256_add_epi32(_mm256_hadd_epi32(_mm256_madd_epi16(S0, UFactors), _mm256_madd_epi16(S1, UFactors)),
                             CRound),
            10);
        const __m256i Vs = _mm256_srai_epi32(
            _mm256_add_epi32(_mm256_hadd_epi32(_mm256_madd_epi16(S0, VFactors), _mm256_madd_epi16(S1, VFactors)),
                             CRound),
            10);
        // U0 U1 U4 U5 V0 V1 V4 V5 | U2 U3 U6 U7 V2 V3 V6 V7 as bytes, then in order.
        const __m256i Words = _mm256_add_epi16(_mm256_packs_epi32(Us, Vs), COffset);
        const __m256i Bytes = _mm256_permutevar8x32_epi32(_mm256_packus_epi16(Words, Words), Order);
        const __m128i UV = _mm_shuffle_epi8(_mm256_castsi256_si128(Bytes), ChromaOrder);
        if (Stream) {
            _mm_stream_si64(reinterpret_cast<long long*>(U + X / 2), _mm_cvtsi128_si64(UV));
            _mm_stream_si64(reinterpret_cast<long long*>(V + X / 2), _mm_cvtsi128_si64(_mm_srli_si128(UV, 8)));
        } else {
            _mm_storel_epi64(reinterpret_cast<__m128i*>(U + X / 2), UV);
            _mm_storel_epi64(reinterpret_cast<__m128i*>(V + X / 2), _mm_srli_si128(UV, 8));
        }
    }
    pairScalar(Row0, Row1, Y0, Y1, U, V, X, Width);
}

void pairScalarFull(const std::uint32_t* Row0, const std::uint32_t* Row1, std::uint8_t* Y0, std::uint8_t* Y1,
                    std::uint8_t* U, std::uint8_t* V, int Width)
{
    pairScalar(Row0, Row1, Y0, Y1, U, V, 0, Width);
}

int roundUp(int Value, int Multiple)
{
    return (Value + Multiple - 1) / Multiple * Multiple;
}

}  // namespace

I420Layout i420Layout(int Width, int Height)
{
    I420Layout L;
    L.YBytesPerLine = roundUp(Width, 4);
    L.ChromaBytesPerLine = roundUp(roundUp(Width, 2) / 2, 4);
    const std::size_t ChromaRows = std::size_t(roundUp(Height, 2) / 2);
    L.UOffset = std::size_t(L.YBytesPerLine) * std::size_t(roundUp(Height, 2));
    L.VOffset = L.UOffset + std::size_t(L.ChromaBytesPerLine) * ChromaRows;
    L.Size = L.VOffset + std::size_t(L.ChromaBytesPerLine) * ChromaRows;
    return L;
}

bool i420HasAvx2()
{
    static const bool Has = __builtin_cpu_supports("avx2");
    return Has;
}

void rgb32ToI420(const std::uint8_t* Src, std::ptrdiff_t SrcBytesPerLine, const I420Planes& Dst, int Width,
                 int Height, I420Path Path)
{
    if (Path == I420Path::Best)
        Path = i420HasAvx2() ? I420Path::Avx2Stream : I420Path::Scalar;
    const auto Pair = Path == I420Path::Avx2 ? pairAvx2<false> : Path == I420Path::Avx2Stream ? pairAvx2<true>
                                                                                              : pairScalarFull;
    for (int Y = 0; Y < Height; Y += 2) {
        // An odd last row pairs with itself and writes its Y row twice.
        const int Y1 = Y + 1 < Height ? Y + 1 : Y;
        Pair(reinterpret_cast<const std::uint32_t*>(Src + Y * SrcBytesPerLine),
             reinterpret_cast<const std::uint32_t*>(Src + Y1 * SrcBytesPerLine), Dst.Y + Y * Dst.YBytesPerLine,
             Dst.Y + Y1 * Dst.YBytesPerLine, Dst.U + (Y / 2) * Dst.ChromaBytesPerLine,
             Dst.V + (Y / 2) * Dst.ChromaBytesPerLine, Width);
    }
    if (Path == I420Path::Avx2Stream)
        _mm_sfence();  // the streamed stores are done before the buffer is handed over
}
