#pragma once

// The picture the fake PipeWire camera sends, written into its buffers and
// rebuilt by the tests to check, byte for byte, what reached the program.
//
// Formats by their PipeWire names. Planar pictures lie in one buffer, plane
// after plane, each plane's rows Stride apart (half of it for the chroma
// planes of I420):
//
//   NV12: Y  (Height rows)  | UV interleaved ((Height + 1) / 2 rows)
//   I420: Y  (Height rows)  | U ((Height + 1) / 2 rows) | V (same)
//
// Byte x of row y of plane p holds (5x + 3y + 77p + Frame) mod 256; the
// padding of a row holds 0xEE, which no conversion may read.

#include <cstddef>
#include <cstdint>
#include <string>

namespace pattern {

inline int planeCount(const std::string& Format)
{
    return Format == "NV12" ? 2 : Format == "I420" ? 3 : 1;
}

inline int bytesPerPixel(const std::string& Format)
{
    if (Format == "YUY2")
        return 2;
    if (Format == "RGB" || Format == "BGR")
        return 3;
    if (Format == "RGBx" || Format == "BGRx")
        return 4;
    return 1;  // the Y plane of NV12 and I420
}

// The bytes of one row of a plane, without padding.
inline int rowBytes(const std::string& Format, int Width, int Plane)
{
    if (Plane == 0)
        return Format == "YUY2" ? (Width + 1) / 2 * 4 : Width * bytesPerPixel(Format);
    return Format == "NV12" ? (Width + 1) / 2 * 2 : (Width + 1) / 2;
}

inline int rows(int Height, int Plane) { return Plane == 0 ? Height : (Height + 1) / 2; }

inline int planeStride(const std::string& Format, int Stride, int Plane)
{
    return Plane > 0 && Format == "I420" ? Stride / 2 : Stride;
}

// The smallest stride that holds a row: even for NV12 and I420, so a
// chroma row (half a row, for I420) holds its last pair.
inline int tightStride(const std::string& Format, int Width)
{
    const int Bytes = rowBytes(Format, Width, 0);
    return planeCount(Format) > 1 ? (Bytes + 1) / 2 * 2 : Bytes;
}

inline std::size_t pictureBytes(const std::string& Format, int Height, int Stride)
{
    std::size_t Total = 0;
    for (int P = 0; P < planeCount(Format); ++P)
        Total += std::size_t(planeStride(Format, Stride, P)) * std::size_t(rows(Height, P));
    return Total;
}

// Fills Out (pictureBytes() long) and returns the number of bytes written.
inline std::size_t fill(const std::string& Format, int Width, int Height, int Stride, int Frame, std::uint8_t* Out)
{
    std::uint8_t* At = Out;
    for (int P = 0; P < planeCount(Format); ++P) {
        const int PStride = planeStride(Format, Stride, P);
        const int Bytes = rowBytes(Format, Width, P);
        for (int Y = 0; Y < rows(Height, P); ++Y, At += PStride)
            for (int X = 0; X < PStride; ++X)
                At[X] = X < Bytes ? std::uint8_t(5 * X + 3 * Y + 77 * P + Frame) : 0xEE;
    }
    return std::size_t(At - Out);
}

}  // namespace pattern
