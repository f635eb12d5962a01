#pragma once

// TBitmap: width x height pixels of 4 bytes, rows reached through scanlines
// after Map. Frames and every bitmap the program draws into are
// QImage::Format_RGB32 (bytes B, G, R, 0xFF): a pixel read as a 32-bit word
// is exactly the TAlphaColor 0xFFRRGGBB. Only images loaded from files (the
// icons) keep their transparency, as Format_ARGB32_Premultiplied; Assign
// copies the format along with the pixels.

#include <QImage>

#include <cstdint>
#include <functional>
#include <memory>

#include "platform/bitmap_scale.h"  // the row kernels of the scaled drawing
#include "platform/types.h"

enum class TPixelFormat { None, BGRA };
enum class TMapAccess { Read, Write, ReadWrite };

struct TBitmapData {
    int Width = 0;
    int Height = 0;
    int Pitch = 0;  // bytes from one row to the next
    std::uint8_t* Data = nullptr;
    TPixelFormat PixelFormat = TPixelFormat::None;
    TMapAccess Access = TMapAccess::Read;

    void* GetScanline(int Row) const { return Data + static_cast<std::ptrdiff_t>(Row) * Pitch; }
};

// Colour conversions of one pixel at address P in pixel format F.
TAlphaColor PixelToAlphaColor(const void* P, TPixelFormat F);
void AlphaColorToPixel(TAlphaColor Color, void* P, TPixelFormat F);

class TBitmap;

// Drawing onto a bitmap. Only valid between BeginScene and EndScene.
class TCanvas {
public:
    explicit TCanvas(TBitmap& Owner) : m_owner(Owner) {}

    // False when the bitmap cannot be drawn on (it is empty).
    bool BeginScene();
    void Clear(TAlphaColor Color);
    // Draws SrcRect of Source into DstRect, scaled. HighSpeed false smooths
    // the scaling. Equal source and destination sizes copy pixels exactly.
    void DrawBitmap(const TBitmap& Source, const TRectF& SrcRect, const TRectF& DstRect, float Opacity,
                    bool HighSpeed);
    void EndScene();

private:
    TBitmap& m_owner;
    bool m_inScene = false;
};

class TBitmap {
public:
    TBitmap();
    TBitmap(int Width, int Height);
    ~TBitmap();
    TBitmap(const TBitmap&) = delete;
    TBitmap& operator=(const TBitmap&) = delete;

    int Width() const;
    int Height() const;
    bool IsEmpty() const { return Width() == 0 || Height() == 0; }
    // Resizes; the pixel buffer is reallocated only when the size changes.
    // New content is undefined (use Clear to fill).
    void SetSize(int Width, int Height);

    // Copies the size and the pixels of Source into this bitmap's own buffer.
    void Assign(const TBitmap& Source);
    // Exchanges the pixels and sizes of two bitmaps without copying.
    void Swap(TBitmap& Other);
    // Mirrors left to right, in place.
    void FlipHorizontal();

    bool Map(TMapAccess Access, TBitmapData& Data);
    void Unmap(TBitmapData& Data);

    TCanvas& Canvas() { return m_canvas; }

    // Raised after the content or size changed through this interface
    // (EndScene, Assign, SetSize, FlipHorizontal, Unmap with write access),
    // so that a control showing the bitmap repaints.
    std::function<void()> OnChange;

    // Platform side.
    bool hasAlpha() const;
    // Takes Image's pixels (converted to RGB32, or to premultiplied ARGB32
    // when it has an alpha channel).
    void setImage(const QImage& Image);
    QImage& image() { return m_image; }
    const QImage& image() const { return m_image; }
    std::uint32_t* scanLine(int Row);
    const std::uint32_t* constScanLine(int Row) const;
    void changed();

private:
    QImage m_image;  // never shared with another QImage, so writes never detach
    TCanvas m_canvas{*this};
};
