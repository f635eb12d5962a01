#pragma once

// The published picture in I420, the layout browsers and most video
// consumers expect: a full-size Y plane, then U and V at half the width and
// half the height (one chroma sample per 2 x 2 block of pixels). BT.601
// limited range in 8-bit fixed point, from Format_RGB32 (bytes B, G, R, x):
//
//   Y = ((66 R + 129 G + 25 B + 128) >> 8) + 16              16..235
//   U = ((-38 SR - 74 SG + 112 SB + 512) >> 10) + 128        16..240
//   V = ((112 SR - 94 SG - 18 SB + 512) >> 10) + 128         16..240
//
// SR, SG, SB are the sums of a block's four pixels; >> is floor division.
// A block cut by an odd last column or row counts its pixels twice, so the
// sums always hold four. A grey (R = G = B = v) has U = V = 128 and
// Y = 16 + ((220 v + 128) >> 8): black 16, white 235.

#include <cstddef>
#include <cstdint>

struct I420Planes {
    std::uint8_t* Y = nullptr;
    std::ptrdiff_t YBytesPerLine = 0;
    std::uint8_t* U = nullptr;
    std::uint8_t* V = nullptr;
    std::ptrdiff_t ChromaBytesPerLine = 0;
};

// The layout GStreamer gives I420 in one block, which consumers assume when
// a buffer carries no plane offsets: rows of 4-byte multiples, planes at
// even heights.
struct I420Layout {
    int YBytesPerLine = 0;
    int ChromaBytesPerLine = 0;
    std::size_t UOffset = 0;
    std::size_t VOffset = 0;
    std::size_t Size = 0;
};
I420Layout i420Layout(int Width, int Height);

// Avx2Stream (what Best picks with AVX2) writes around the caches: the
// published picture is read by another process, not here.
enum class I420Path { Best, Avx2, Scalar, Avx2Stream };
void rgb32ToI420(const std::uint8_t* Src, std::ptrdiff_t SrcBytesPerLine, const I420Planes& Dst, int Width,
                 int Height, I420Path Path = I420Path::Best);
bool i420HasAvx2();
