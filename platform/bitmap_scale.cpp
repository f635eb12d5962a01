#include "platform/bitmap_scale.h"

#include <immintrin.h>

#include <algorithm>

namespace {

template <class T>
void ensureSize(std::vector<T>& V, std::size_t N)
{
    if (V.size() < N)
        V.resize(N);
}

// Count target pixels from the four-at-a-time layout: per pair of target
// pixels 2 loads, 2 multiplies, and the halves of both added together.
void blendPairsSse2(const std::uint32_t* Row, const std::int32_t* First, const ColumnTaps::PairWeights* Weights,
                    std::uint32_t* Out, int Count)
{
    const __m128i zero = _mm_setzero_si128();
    const __m128i half = _mm_set1_epi16(128);
    // Two target pixels as 16-bit sums P0 * (256 - w) + P1 * w + 128.
    auto twoPixels = [&](int x) {
        const __m128i a = _mm_unpacklo_epi8(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(Row + First[x])), zero);
        const __m128i b =
            _mm_unpacklo_epi8(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(Row + First[x + 1])), zero);
        const __m128i wa = _mm_mullo_epi16(a, _mm_load_si128(reinterpret_cast<const __m128i*>(Weights + x)));
        const __m128i wb = _mm_mullo_epi16(b, _mm_load_si128(reinterpret_cast<const __m128i*>(Weights + x + 1)));
        return _mm_add_epi16(_mm_add_epi16(_mm_unpacklo_epi64(wa, wb), _mm_unpackhi_epi64(wa, wb)), half);
    };
    int x = 0;
    for (; x + 4 <= Count; x += 4) {
        const __m128i lo = _mm_srli_epi16(twoPixels(x), 8);
        const __m128i hi = _mm_srli_epi16(twoPixels(x + 2), 8);
        _mm_storeu_si128(reinterpret_cast<__m128i*>(Out + x), _mm_packus_epi16(lo, hi));
    }
    for (; x < Count; ++x)
        Out[x] = lerpPixel(Row[First[x]], Row[First[x] + 1], Weights[x].W[4]);
}

// Eight whole pixels blended at once, W holding each pixel's weight in both
// 16-bit halves. The bytes are split into the even (B, R) and odd (G, A)
// ones of 16-bit lanes, and with d = P1 - P0 (-255..255) each lane computes
//   P0 + floor((d * w + 128) / 256)     (= lerpPixel's byte)
// _mm256_mulhrs_epi16(x, y) is floor((x * y + 2^14) / 2^15) from the full
// product, so with x = d * 128 (it fits: |x| <= 32640) it is exactly the
// floor above, for every w from 0 to 256.
__attribute__((target("avx2"))) inline __m256i lerp8(__m256i P0, __m256i P1, __m256i W)
{
    const __m256i even = _mm256_set1_epi32(0x00FF00FF);
    const __m256i p0Even = _mm256_and_si256(P0, even);
    const __m256i p0Odd = _mm256_srli_epi16(P0, 8);
    const __m256i dEven = _mm256_slli_epi16(_mm256_sub_epi16(_mm256_and_si256(P1, even), p0Even), 7);
    const __m256i dOdd = _mm256_slli_epi16(_mm256_sub_epi16(_mm256_srli_epi16(P1, 8), p0Odd), 7);
    const __m256i outEven = _mm256_add_epi16(p0Even, _mm256_mulhrs_epi16(dEven, W));
    const __m256i outOdd = _mm256_add_epi16(p0Odd, _mm256_mulhrs_epi16(dOdd, W));
    return _mm256_or_si256(outEven, _mm256_slli_epi16(outOdd, 8));
}

// The pixels at eight Positions of the 16-pixel window Lower, Upper: a
// shuffle of each half, and bit 31 of the position selects between them.
__attribute__((target("avx2"))) inline __m256i pick(__m256i Lower, __m256i Upper, __m256i Position)
{
    const __m256 fromLower = _mm256_castsi256_ps(_mm256_permutevar8x32_epi32(Lower, Position));
    const __m256 fromUpper = _mm256_castsi256_ps(_mm256_permutevar8x32_epi32(Upper, Position));
    return _mm256_castps_si256(_mm256_blendv_ps(fromLower, fromUpper, _mm256_castsi256_ps(Position)));
}

}  // namespace

// --- ColumnTaps ------------------------------------------------------------------

void ColumnTaps::assign(const std::int32_t* First, const std::uint16_t* Weight, int Count, int Span)
{
    m_count = Count;
    m_span = Span;
    ensureSize(m_first, std::size_t(Count));
    ensureSize(m_pairs, std::size_t(Count));
    ensureSize(m_blocks, std::size_t(Count / 8));
    for (int x = 0; x < Count; ++x) {
        int i0 = First[x];
        std::uint16_t w = Weight[x];
        // Every pair must lie inside the row: a sample on the last pixel is
        // the second pixel of the pair before it, at full weight.
        if (i0 == Span - 1) {
            i0 = Span - 2;
            w = 256;
        }
        m_first[x] = i0;
        const auto w0 = static_cast<std::uint16_t>(256 - w);
        m_pairs[x] = PairWeights{{w0, w0, w0, w0, w, w, w, w}};
    }

    constexpr int window = 16;
    for (int b = 0; b < Count / 8; ++b) {
        Block& block = m_blocks[std::size_t(b)];
        const std::int32_t* first = m_first.data() + b * 8;
        const auto [lo, hi] = std::minmax_element(first, first + 8);
        // Kept inside the row, so the window's loads never read past its end.
        const int base = std::min(*lo, Span - window);
        block.Base = base >= 0 && *hi + 1 - base < window ? base : -1;
        for (int k = 0; k < 8; ++k) {
            // _mm256_permutevar8x32_epi32 reads only bits 0..2 of a position;
            // bit 31 picks the upper half of the window.
            auto position = [&](int I) { return I - base >= 8 ? int(unsigned(I - base) | 0x80000000u) : I - base; };
            block.First[k] = position(first[k]);
            block.Second[k] = position(first[k] + 1);
            const std::uint32_t w = m_pairs[std::size_t(b * 8 + k)].W[4];
            block.Weight[k] = w | w << 16;
        }
    }
}

// --- BoxTaps ---------------------------------------------------------------------

void BoxTaps::assign(const std::int32_t* First, const std::uint16_t* Weight, int Taps, int Count, int Span)
{
    m_count = Count;
    m_span = Span;
    m_taps = Taps;
    ensureSize(m_first, std::size_t(Count));
    ensureSize(m_weight, std::size_t(Count) * std::size_t(Taps));
    std::copy(First, First + Count, m_first.begin());
    std::copy(Weight, Weight + std::ptrdiff_t(Count) * Taps, m_weight.begin());

    const int groups = (Taps + 3) / 4;
    m_groups = 4 * groups <= Span ? groups : 0;
    if (m_groups == 0)
        return;
    const int padded = (Count + 1) / 2 * 2;  // a last odd pixel gets a partner of weight 0
    ensureSize(m_start, std::size_t(padded));
    ensureSize(m_factors, std::size_t(padded / 2) * std::size_t(groups) * 32);
    for (int x = 0; x < padded; ++x) {
        // Moved left so that the groups end inside the row; the taps then
        // begin `shift` pixels into the first group.
        const int start = x < Count ? std::min(First[x], Span - 4 * groups) : 0;
        const int shift = x < Count ? First[x] - start : 0;
        m_start[std::size_t(x)] = start;
        for (int t = 0; t < 4 * groups; ++t) {
            const int k = t - shift;
            const std::uint16_t w = x < Count && k >= 0 && k < Taps ? Weight[std::ptrdiff_t(x) * Taps + k] : 0;
            // Pair x / 2, group t / 4; its vectors: taps 0-1 of x, of x + 1,
            // taps 2-3 of x, of x + 1; four copies of each weight.
            const std::size_t vector = std::size_t((t % 4) / 2 * 2 + (x & 1));
            std::uint16_t* lanes = m_factors.data() + (std::size_t(x / 2) * std::size_t(groups) + std::size_t(t / 4)) * 32 +
                                   vector * 8 + std::size_t(t % 2) * 4;
            std::fill(lanes, lanes + 4, w);
        }
    }
}

// --- Kernels -------------------------------------------------------------------

namespace scaleKernels {

bool hasAvx2()
{
    static const bool has = [] {
        __builtin_cpu_init();
        return __builtin_cpu_supports("avx2") != 0;
    }();
    return has;
}

// The same sums as lerpPixel in 16-bit lanes, eight bytes at a time.
void lerpRowSse2(const std::uint32_t* A, const std::uint32_t* B, std::uint32_t* Out, int Count, std::uint32_t W)
{
    const __m128i zero = _mm_setzero_si128();
    const __m128i wa = _mm_set1_epi16(static_cast<short>(256 - W));
    const __m128i wb = _mm_set1_epi16(static_cast<short>(W));
    const __m128i half = _mm_set1_epi16(128);
    auto blend = [&](__m128i a, __m128i b) {
        const __m128i sum = _mm_add_epi16(_mm_add_epi16(_mm_mullo_epi16(a, wa), _mm_mullo_epi16(b, wb)), half);
        return _mm_srli_epi16(sum, 8);
    };
    int i = 0;
    for (; i + 4 <= Count; i += 4) {
        const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(A + i));
        const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(B + i));
        const __m128i lo = blend(_mm_unpacklo_epi8(a, zero), _mm_unpacklo_epi8(b, zero));
        const __m128i hi = blend(_mm_unpackhi_epi8(a, zero), _mm_unpackhi_epi8(b, zero));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(Out + i), _mm_packus_epi16(lo, hi));
    }
    for (; i < Count; ++i)
        Out[i] = lerpPixel(A[i], B[i], W);
}

__attribute__((target("avx2"))) void lerpRowAvx2(const std::uint32_t* A, const std::uint32_t* B, std::uint32_t* Out,
                                                 int Count, std::uint32_t W)
{
    const __m256i w = _mm256_set1_epi16(static_cast<short>(W));
    int i = 0;
    for (; i + 8 <= Count; i += 8) {
        const __m256i a = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(A + i));
        const __m256i b = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(B + i));
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(Out + i), lerp8(a, b, w));
    }
    if (i < Count)
        lerpRowSse2(A + i, B + i, Out + i, Count - i, W);
}

void blendColumnsSse2(const std::uint32_t* Row, const ColumnTaps& Taps, std::uint32_t* Out)
{
    blendPairsSse2(Row, Taps.first(), Taps.pairWeights(), Out, Taps.count());
}

// Per eight target pixels: the 16-pixel window in two loads, the first and
// second pixel of every pair picked out of it, and one lerp8.
__attribute__((target("avx2"))) void blendColumnsAvx2(const std::uint32_t* Row, const ColumnTaps& Taps,
                                                      std::uint32_t* Out)
{
    const int count = Taps.count();
    const ColumnTaps::Block* blocks = Taps.blocks();
    int x = 0;
    for (; x + 8 <= count; x += 8) {
        const ColumnTaps::Block& block = blocks[x / 8];
        if (block.Base < 0) {
            blendPairsSse2(Row, Taps.first() + x, Taps.pairWeights() + x, Out + x, 8);
            continue;
        }
        const std::uint32_t* window = Row + block.Base;
        const __m256i lower = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(window));
        const __m256i upper = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(window + 8));
        const __m256i p0 = pick(lower, upper, _mm256_load_si256(reinterpret_cast<const __m256i*>(block.First)));
        const __m256i p1 = pick(lower, upper, _mm256_load_si256(reinterpret_cast<const __m256i*>(block.Second)));
        const __m256i w = _mm256_load_si256(reinterpret_cast<const __m256i*>(block.Weight));
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(Out + x), lerp8(p0, p1, w));
    }
    if (x < count)
        blendPairsSse2(Row, Taps.first() + x, Taps.pairWeights() + x, Out + x, count - x);
}

void averageRowsSse2(const std::uint32_t* Top, std::ptrdiff_t Stride, const std::uint16_t* W, int N,
                     std::uint32_t* Out, int Count)
{
    const __m128i zero = _mm_setzero_si128();
    const __m128i half = _mm_set1_epi16(128);
    int i = 0;
    for (; i + 4 <= Count; i += 4) {
        __m128i lo = half, hi = half;
        const std::uint32_t* p = Top + i;
        for (int k = 0; k < N; ++k, p += Stride) {
            const __m128i w = _mm_set1_epi16(static_cast<short>(W[k]));
            const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
            lo = _mm_add_epi16(lo, _mm_mullo_epi16(_mm_unpacklo_epi8(v, zero), w));
            hi = _mm_add_epi16(hi, _mm_mullo_epi16(_mm_unpackhi_epi8(v, zero), w));
        }
        _mm_storeu_si128(reinterpret_cast<__m128i*>(Out + i),
                         _mm_packus_epi16(_mm_srli_epi16(lo, 8), _mm_srli_epi16(hi, 8)));
    }
    for (; i < Count; ++i)
        Out[i] = averagePixels(Top + i, Stride, W, N);
}

// Eight pixels a time, their bytes split into the even (B, R) and odd (G, A)
// ones of 16-bit lanes by a mask and a shift, not by shuffles: the shuffle
// unit is what the row's other work (the columns) waits for.
__attribute__((target("avx2"))) void averageRowsAvx2(const std::uint32_t* Top, std::ptrdiff_t Stride,
                                                     const std::uint16_t* W, int N, std::uint32_t* Out, int Count)
{
    const __m256i even = _mm256_set1_epi32(0x00FF00FF);
    const __m256i half = _mm256_set1_epi16(128);
    int i = 0;
    for (; i + 8 <= Count; i += 8) {
        __m256i sumEven = half, sumOdd = half;
        const std::uint32_t* p = Top + i;
        for (int k = 0; k < N; ++k, p += Stride) {
            const __m256i w = _mm256_set1_epi16(static_cast<short>(W[k]));
            const __m256i v = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p));
            sumEven = _mm256_add_epi16(sumEven, _mm256_mullo_epi16(_mm256_and_si256(v, even), w));
            sumOdd = _mm256_add_epi16(sumOdd, _mm256_mullo_epi16(_mm256_srli_epi16(v, 8), w));
        }
        const __m256i out = _mm256_or_si256(_mm256_srli_epi16(sumEven, 8), _mm256_andnot_si256(even, sumOdd));
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(Out + i), out);
    }
    if (i < Count)
        averageRowsSse2(Top + i, Stride, W, N, Out + i, Count - i);
}

namespace {

void averageColumnsScalar(const std::uint32_t* Row, const BoxTaps& Taps, std::uint32_t* Out, int From)
{
    const int taps = Taps.taps();
    for (int x = From; x < Taps.count(); ++x)
        Out[x] = averagePixels(Row + Taps.first()[x], 1, Taps.weight() + std::ptrdiff_t(x) * taps, taps);
}

// The 16-bit sums of target pixel x, 128 included, in lanes 0..3: each group
// of four row pixels multiplied by its factors, the two halves added.
inline __m128i columnSumSse2(const std::uint32_t* Row, const BoxTaps& Taps, int X)
{
    const __m128i zero = _mm_setzero_si128();
    const int groups = Taps.groups();
    const std::uint16_t* f = Taps.factors() + std::size_t(X / 2) * std::size_t(groups) * 32 + std::size_t(X & 1) * 8;
    const std::uint32_t* p = Row + Taps.start()[X];
    __m128i acc = _mm_set_epi16(0, 0, 0, 0, 128, 128, 128, 128);
    for (int g = 0; g < groups; ++g, p += 4, f += 32) {
        const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
        acc = _mm_add_epi16(acc, _mm_mullo_epi16(_mm_unpacklo_epi8(v, zero),
                                                 _mm_loadu_si128(reinterpret_cast<const __m128i*>(f))));
        acc = _mm_add_epi16(acc, _mm_mullo_epi16(_mm_unpackhi_epi8(v, zero),
                                                 _mm_loadu_si128(reinterpret_cast<const __m128i*>(f + 16))));
    }
    return _mm_add_epi16(acc, _mm_srli_si128(acc, 8));
}

// The same for the pair X, X + 1 (X even): X's sums in lanes 0..3, X + 1's
// in lanes 8..11.
__attribute__((target("avx2"))) inline __m256i columnPairSumAvx2(const std::uint32_t* Row, const BoxTaps& Taps, int X)
{
    const __m256i zero = _mm256_setzero_si256();
    const int groups = Taps.groups();
    const std::uint16_t* f = Taps.factors() + std::size_t(X / 2) * std::size_t(groups) * 32;
    const std::uint32_t* p0 = Row + Taps.start()[X];
    const std::uint32_t* p1 = Row + Taps.start()[X + 1];
    __m256i acc = _mm256_set_epi16(0, 0, 0, 0, 128, 128, 128, 128, 0, 0, 0, 0, 128, 128, 128, 128);
    for (int g = 0; g < groups; ++g, p0 += 4, p1 += 4, f += 32) {
        const __m256i v = _mm256_inserti128_si256(
            _mm256_castsi128_si256(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p0))),
            _mm_loadu_si128(reinterpret_cast<const __m128i*>(p1)), 1);
        acc = _mm256_add_epi16(acc, _mm256_mullo_epi16(_mm256_unpacklo_epi8(v, zero),
                                                       _mm256_loadu_si256(reinterpret_cast<const __m256i*>(f))));
        acc = _mm256_add_epi16(acc, _mm256_mullo_epi16(_mm256_unpackhi_epi8(v, zero),
                                                       _mm256_loadu_si256(reinterpret_cast<const __m256i*>(f + 16))));
    }
    return _mm256_add_epi16(acc, _mm256_srli_si256(acc, 8));
}

}  // namespace

void averageColumnsSse2(const std::uint32_t* Row, const BoxTaps& Taps, std::uint32_t* Out)
{
    if (!Taps.vectorLayout())
        return averageColumnsScalar(Row, Taps, Out, 0);
    const int count = Taps.count();
    int x = 0;
    for (; x + 4 <= count; x += 4) {
        const __m128i lo = _mm_unpacklo_epi64(columnSumSse2(Row, Taps, x), columnSumSse2(Row, Taps, x + 1));
        const __m128i hi = _mm_unpacklo_epi64(columnSumSse2(Row, Taps, x + 2), columnSumSse2(Row, Taps, x + 3));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(Out + x),
                         _mm_packus_epi16(_mm_srli_epi16(lo, 8), _mm_srli_epi16(hi, 8)));
    }
    averageColumnsScalar(Row, Taps, Out, x);
}

__attribute__((target("avx2"))) void averageColumnsAvx2(const std::uint32_t* Row, const BoxTaps& Taps,
                                                        std::uint32_t* Out)
{
    if (!Taps.vectorLayout())
        return averageColumnsScalar(Row, Taps, Out, 0);
    const int count = Taps.count();
    int x = 0;
    for (; x + 4 <= count; x += 4) {
        // Lanes of (x, x + 2 | x + 1, x + 3), put in order, then halved.
        const __m256i pairs = _mm256_unpacklo_epi64(columnPairSumAvx2(Row, Taps, x), columnPairSumAvx2(Row, Taps, x + 2));
        const __m256i sums = _mm256_srli_epi16(_mm256_permute4x64_epi64(pairs, _MM_SHUFFLE(3, 1, 2, 0)), 8);
        _mm_storeu_si128(reinterpret_cast<__m128i*>(Out + x),
                         _mm_packus_epi16(_mm256_castsi256_si128(sums), _mm256_extracti128_si256(sums, 1)));
    }
    averageColumnsScalar(Row, Taps, Out, x);
}

}  // namespace scaleKernels

void averageRows(const std::uint32_t* Top, std::ptrdiff_t Stride, const std::uint16_t* W, int N, std::uint32_t* Out,
                 int Count)
{
    if (scaleKernels::hasAvx2())
        scaleKernels::averageRowsAvx2(Top, Stride, W, N, Out, Count);
    else
        scaleKernels::averageRowsSse2(Top, Stride, W, N, Out, Count);
}

void averageColumns(const std::uint32_t* Row, const BoxTaps& Taps, std::uint32_t* Out)
{
    if (scaleKernels::hasAvx2())
        scaleKernels::averageColumnsAvx2(Row, Taps, Out);
    else
        scaleKernels::averageColumnsSse2(Row, Taps, Out);
}

void lerpRow(const std::uint32_t* A, const std::uint32_t* B, std::uint32_t* Out, int Count, std::uint32_t W)
{
    if (scaleKernels::hasAvx2())
        scaleKernels::lerpRowAvx2(A, B, Out, Count, W);
    else
        scaleKernels::lerpRowSse2(A, B, Out, Count, W);
}

void blendColumns(const std::uint32_t* Row, const ColumnTaps& Taps, std::uint32_t* Out)
{
    if (scaleKernels::hasAvx2())
        scaleKernels::blendColumnsAvx2(Row, Taps, Out);
    else
        scaleKernels::blendColumnsSse2(Row, Taps, Out);
}
