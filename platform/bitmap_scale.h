#pragma once

// The row kernels of the scaled drawing of opaque bitmaps. A target row is
// made in two passes: its source rows are combined into one row, then every
// target pixel is made from neighbouring pixels of that row.
//
// Enlarging and mild shrinking blend the two nearest pixels (lerpRow, then
// blendColumns), each byte as
//
//   (P0 * (256 - W) + P1 * W + 128) / 256      W = 0..256, the weight of P1
//
// and every kernel gives exactly lerpPixel's bytes.
//
// Shrinking to less than half averages every source pixel under a target
// pixel's footprint (averageRows, then averageColumns), each weighted by the
// part of it the footprint covers, in 256ths that add up to exactly 256:
//
//   (P0 * W0 + P1 * W1 + ... + Pn * Wn + 128) / 256      W0 + ... + Wn = 256
//
// so a flat colour stays exactly that colour, and every kernel gives exactly
// averagePixels' bytes.

#include <cstddef>
#include <cstdint>
#include <vector>

// One pixel, the reference the kernels must match exactly. Two bytes are
// handled at a time in the 0x00FF00FF lanes of a 32-bit word: each lane's sum
// stays below 255 * 256 + 128 < 2^16, so lanes never carry into each other.
constexpr std::uint32_t lerpPixel(std::uint32_t P0, std::uint32_t P1, std::uint32_t W)
{
    const std::uint32_t w0 = 256 - W;
    const std::uint32_t rb = (((P0 & 0x00FF00FFu) * w0 + (P1 & 0x00FF00FFu) * W + 0x00800080u) >> 8) & 0x00FF00FFu;
    const std::uint32_t ag =
        (((P0 >> 8) & 0x00FF00FFu) * w0 + ((P1 >> 8) & 0x00FF00FFu) * W + 0x00800080u) & 0xFF00FF00u;
    return rb | ag;
}

// The average of Count pixels P[0], P[Stride], ... weighted W[0..Count), the
// reference the averaging kernels must match exactly. As in lerpPixel, each
// lane's sum stays below 255 * 256 + 128 < 2^16 because the weights add up
// to 256.
constexpr std::uint32_t averagePixels(const std::uint32_t* P, std::ptrdiff_t Stride, const std::uint16_t* W,
                                      int Count)
{
    std::uint32_t rb = 0x00800080u;
    std::uint32_t ag = 0x00800080u;
    for (int k = 0; k < Count; ++k) {
        const std::uint32_t p = P[k * Stride];
        rb += (p & 0x00FF00FFu) * W[k];
        ag += ((p >> 8) & 0x00FF00FFu) * W[k];
    }
    return ((rb >> 8) & 0x00FF00FFu) | (ag & 0xFF00FF00u);
}

// Out[i] = lerpPixel(A[i], B[i], W) for Count pixels.
void lerpRow(const std::uint32_t* A, const std::uint32_t* B, std::uint32_t* Out, int Count, std::uint32_t W);

// Which two neighbouring pixels of a row every target pixel blends, laid out
// for the kernels. Built once for a drawing's geometry and kept; building it
// again for at most as many pixels allocates nothing.
class ColumnTaps {
public:
    // Target pixel x blends row pixels First[x] and First[x] + 1, the second
    // weighted Weight[x] (0..256). A First[x] of Span - 1, the row's last
    // pixel, samples that pixel alone. Span >= 2.
    void assign(const std::int32_t* First, const std::uint16_t* Weight, int Count, int Span);

    int count() const { return m_count; }
    int span() const { return m_span; }

    // For four pixels a time (any x86-64): First[x] and its 16-bit factors
    // (256 - w) x 4 then w x 4, matching the B, G, R, A bytes of the two
    // pixels as one 8-byte load puts them side by side.
    struct alignas(16) PairWeights {
        std::uint16_t W[8];
    };
    const std::int32_t* first() const { return m_first.data(); }
    const PairWeights* pairWeights() const { return m_pairs.data(); }

    // For eight pixels a time (AVX2): the 16 row pixels from Base hold all
    // sixteen pixels the eight target pixels blend, so two loads and a
    // shuffle fetch them. First and Second are positions in that window,
    // with bit 31 set where they fall in its upper half; Weight holds w in
    // both 16-bit halves. Base is -1 where the pixels spread wider than 16
    // (shrinking to less than half, or a row shorter than 16).
    struct alignas(32) Block {
        std::int32_t First[8];
        std::int32_t Second[8];
        std::uint32_t Weight[8];
        std::int32_t Base;
    };
    const Block* blocks() const { return m_blocks.data(); }

private:
    int m_count = 0;
    int m_span = 0;
    std::vector<std::int32_t> m_first;
    std::vector<PairWeights> m_pairs;
    std::vector<Block> m_blocks;  // one per whole eight target pixels
};

// Out[x] = lerpPixel(Row[First[x]], Row[First[x] + 1], Weight[x]) for the
// Taps.count() target pixels; Row holds Taps.span() pixels.
void blendColumns(const std::uint32_t* Row, const ColumnTaps& Taps, std::uint32_t* Out);

// Out[i] = averagePixels(Top + i, Stride, W, N) for Count pixels: the
// average of N rows Stride pixels apart.
void averageRows(const std::uint32_t* Top, std::ptrdiff_t Stride, const std::uint16_t* W, int N, std::uint32_t* Out,
                 int Count);

// Which pixels of a row every target pixel averages, laid out for the
// kernels. Built once for a drawing's geometry and kept; building it again
// for at most as many pixels and taps allocates nothing.
class BoxTaps {
public:
    // Target pixel x averages row pixels First[x] .. First[x] + Taps - 1,
    // weighted Weight[x * Taps ..], the weights of each pixel adding up to
    // 256 (a weight may be 0). All of them lie inside the row of Span pixels.
    void assign(const std::int32_t* First, const std::uint16_t* Weight, int Taps, int Count, int Span);

    int count() const { return m_count; }
    int span() const { return m_span; }
    int taps() const { return m_taps; }
    const std::int32_t* first() const { return m_first.data(); }
    const std::uint16_t* weight() const { return m_weight.data(); }

    // For the vector kernels: taps in groups of four pixels, one 16-byte
    // load each, Start[x] moved left where needed so that no load reads past
    // the row (a row shorter than one group has no vector layout). Per pair
    // of target pixels and group, four vectors of 16-bit factors: the first
    // two taps (each weight four times, for the B, G, R, A bytes) of pixel x
    // then of x + 1, the last two taps of x then of x + 1.
    bool vectorLayout() const { return m_groups > 0; }
    int groups() const { return m_groups; }
    const std::int32_t* start() const { return m_start.data(); }
    const std::uint16_t* factors() const { return m_factors.data(); }

private:
    int m_count = 0;
    int m_span = 0;
    int m_taps = 0;
    int m_groups = 0;
    std::vector<std::int32_t> m_first;
    std::vector<std::uint16_t> m_weight;
    std::vector<std::int32_t> m_start;     // one per target pixel, rounded up to pairs
    std::vector<std::uint16_t> m_factors;  // 64 per pair of target pixels and group
};

// Out[x] = averagePixels(Row + First[x], 1, Weight + x * Taps, Taps) for the
// Taps.count() target pixels; Row holds Taps.span() pixels.
void averageColumns(const std::uint32_t* Row, const BoxTaps& Taps, std::uint32_t* Out);

// The kernels lerpRow, blendColumns, averageRows and averageColumns choose
// between, reachable so that tests can check each one on any machine. The Avx2 ones may only run when
// hasAvx2() is true.
namespace scaleKernels {
bool hasAvx2();
void lerpRowSse2(const std::uint32_t* A, const std::uint32_t* B, std::uint32_t* Out, int Count, std::uint32_t W);
void lerpRowAvx2(const std::uint32_t* A, const std::uint32_t* B, std::uint32_t* Out, int Count, std::uint32_t W);
void blendColumnsSse2(const std::uint32_t* Row, const ColumnTaps& Taps, std::uint32_t* Out);
void blendColumnsAvx2(const std::uint32_t* Row, const ColumnTaps& Taps, std::uint32_t* Out);
void averageRowsSse2(const std::uint32_t* Top, std::ptrdiff_t Stride, const std::uint16_t* W, int N,
                     std::uint32_t* Out, int Count);
void averageRowsAvx2(const std::uint32_t* Top, std::ptrdiff_t Stride, const std::uint16_t* W, int N,
                     std::uint32_t* Out, int Count);
void averageColumnsSse2(const std::uint32_t* Row, const BoxTaps& Taps, std::uint32_t* Out);
void averageColumnsAvx2(const std::uint32_t* Row, const BoxTaps& Taps, std::uint32_t* Out);
}  // namespace scaleKernels
