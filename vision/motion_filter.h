#pragma once

// The motion-vision filter: every pixel becomes the opaque grey
//   v = (|dR| + |dG| + |dB|) / 3     (integer division, 0..255)
// of its change since the previous frame. Alpha bytes play no part.
//
//   cur  (200,100, 50)  prev (100,100,100)  ->  d = 150, v = 50 -> 0xFF323232
//   cur  (  0,  0,255)  prev (255,  0,  0)  ->  d = 510, v = 170 -> 0xFFAAAAAA

#include <cstdint>

// One pixel, the reference the fast kernel must match exactly.
constexpr std::uint32_t motionPixel(std::uint32_t Cur, std::uint32_t Prev)
{
    auto channel = [](std::uint32_t c, int shift) { return static_cast<int>((c >> shift) & 0xFFu); };
    auto absDiff = [](int a, int b) { return a > b ? a - b : b - a; };
    const int d = absDiff(channel(Cur, 16), channel(Prev, 16)) + absDiff(channel(Cur, 8), channel(Prev, 8)) +
                  absDiff(channel(Cur, 0), channel(Prev, 0));
    const std::uint32_t v = static_cast<std::uint32_t>(d / 3);
    return 0xFF000000u + v * 0x10000u + v * 0x100u + v;
}

// Applies the filter to Count pixels: Out[i] = motionPixel(Cur[i], Prev[i]).
// Out may not alias Cur or Prev. Uses the widest vector unit the processor
// has, chosen at run time.
void motionFilterRow(const std::uint32_t* Cur, const std::uint32_t* Prev, std::uint32_t* Out, int Count);

// The kernels motionFilterRow chooses between, reachable so that tests can
// check each one on any machine. rowAvx2 may only run when hasAvx2() is true.
namespace motionKernels {
bool hasAvx2();
void rowSse2(const std::uint32_t* Cur, const std::uint32_t* Prev, std::uint32_t* Out, int Count);
void rowAvx2(const std::uint32_t* Cur, const std::uint32_t* Prev, std::uint32_t* Out, int Count);
}  // namespace motionKernels
