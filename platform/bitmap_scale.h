#pragma once

// The row kernels of the scaled drawing of opaque bitmaps. A target row is
// made in two passes: its two source rows are blended into one (lerpRow),
// then every target pixel blends two neighbouring pixels of that row
// (blendColumns). Both passes blend each byte the same way,
//
//   (P0 * (256 - W) + P1 * W + 128) / 256      W = 0..256, the weight of P1
//
// and every kernel gives exactly lerpPixel's bytes.

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

// The kernels lerpRow and blendColumns choose between, reachable so that
// tests can check each one on any machine. The Avx2 ones may only run when
// hasAvx2() is true.
namespace scaleKernels {
bool hasAvx2();
void lerpRowSse2(const std::uint32_t* A, const std::uint32_t* B, std::uint32_t* Out, int Count, std::uint32_t W);
void lerpRowAvx2(const std::uint32_t* A, const std::uint32_t* B, std::uint32_t* Out, int Count, std::uint32_t W);
void blendColumnsSse2(const std::uint32_t* Row, const ColumnTaps& Taps, std::uint32_t* Out);
void blendColumnsAvx2(const std::uint32_t* Row, const ColumnTaps& Taps, std::uint32_t* Out);
}  // namespace scaleKernels
