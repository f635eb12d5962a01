#pragma once

// Converters from the pixel formats cameras deliver to Format_RGB32
// (bytes B, G, R, 0xFF). Each takes a source row pitch and a destination row
// pitch, so camera buffers with padded rows convert straight into a bitmap.

#include <turbojpeg.h>

#include <cstddef>
#include <cstdint>

// YUYV 4:2:2 (bytes Y0 U Y1 V per pixel pair), BT.601 limited range, in
// 8.8 fixed point (the usual integer form of the BT.601 equations):
//
//   C = Y - 16     D = U - 128     E = V - 128
//   R = clamp((298 * C           + 409 * E + 128) >> 8)
//   G = clamp((298 * C - 100 * D - 208 * E + 128) >> 8)
//   B = clamp((298 * C + 516 * D           + 128) >> 8)
//
// clamp() limits to 0..255; >> is an arithmetic shift (floor division). The
// coefficients are 256 * 1.164, 1.596, 0.391, 0.813 and 2.018, so every
// result is within one step of the exact BT.601 value; Y 16 gives black and
// Y 235 white. Both pixels of a pair share U and V. An odd last pixel uses
// the U and V of its (incomplete) pair.
//
// The vector paths compute exactly this formula; Best picks AVX-512 (BW)
// or AVX2 when the processor has it, else SSE2 (every x86-64 has SSE2). The
// others exist so the tests can check every path on one machine.
enum class SimdPath { Best, Avx2, Sse2, Scalar, Avx512 };
void yuyvToRgb32(const std::uint8_t* Src, std::ptrdiff_t SrcBytesPerLine, std::uint8_t* Dst,
                 std::ptrdiff_t DstBytesPerLine, int Width, int Height, SimdPath Path = SimdPath::Best);
bool cpuHasAvx2();
bool cpuHasAvx512();

// Packed 24-bit RGB (bytes R, G, B) and BGR (bytes B, G, R).
void rgb24ToRgb32(const std::uint8_t* Src, std::ptrdiff_t SrcBytesPerLine, std::uint8_t* Dst,
                  std::ptrdiff_t DstBytesPerLine, int Width, int Height);
void bgr24ToRgb32(const std::uint8_t* Src, std::ptrdiff_t SrcBytesPerLine, std::uint8_t* Dst,
                  std::ptrdiff_t DstBytesPerLine, int Width, int Height);

// 32-bit RGB with a spare fourth byte (bytes R, G, B, x and B, G, R, x).
void rgbxToRgb32(const std::uint8_t* Src, std::ptrdiff_t SrcBytesPerLine, std::uint8_t* Dst,
                 std::ptrdiff_t DstBytesPerLine, int Width, int Height);
void bgrxToRgb32(const std::uint8_t* Src, std::ptrdiff_t SrcBytesPerLine, std::uint8_t* Dst,
                 std::ptrdiff_t DstBytesPerLine, int Width, int Height);

// 4:2:0 pictures: a full-size Y plane and chroma at half width and half
// height, one U and V for each 2x2 block of pixels. NV12 has one chroma
// plane of U V pairs, I420 a U plane and a V plane. The formula is the YUYV
// one above; pixel (x, y) takes the chroma of (x / 2, y / 2), and an odd
// last column or row uses its incomplete block.
void nv12ToRgb32(const std::uint8_t* Luma, std::ptrdiff_t LumaBytesPerLine, const std::uint8_t* Chroma,
                 std::ptrdiff_t ChromaBytesPerLine, std::uint8_t* Dst, std::ptrdiff_t DstBytesPerLine, int Width,
                 int Height, SimdPath Path = SimdPath::Best);
void i420ToRgb32(const std::uint8_t* Luma, std::ptrdiff_t LumaBytesPerLine, const std::uint8_t* U,
                 std::ptrdiff_t UBytesPerLine, const std::uint8_t* V, std::ptrdiff_t VBytesPerLine,
                 std::uint8_t* Dst, std::ptrdiff_t DstBytesPerLine, int Width, int Height,
                 SimdPath Path = SimdPath::Best);

// A JPEG picture (an MJPEG camera frame) of Width x Height decoded by
// TurboJPEG straight into the destination rows: no buffer in between and no
// copy afterwards. A damaged picture decodes as far as it goes, the rest is
// left as TurboJPEG leaves it. Decoder comes from tjInitDecompress.
void mjpegToRgb32(tjhandle Decoder, const std::uint8_t* Jpeg, std::size_t Size, std::uint8_t* Dst,
                  std::ptrdiff_t DstBytesPerLine, int Width, int Height);
