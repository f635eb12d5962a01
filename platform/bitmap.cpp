#include "platform/bitmap.h"

#include <QPainter>
#include <QRectF>

#include <emmintrin.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <optional>
#include <vector>

#include "platform/bitmap_scale.h"

namespace {

constexpr QImage::Format OpaqueFormat = QImage::Format_RGB32;
constexpr QImage::Format AlphaFormat = QImage::Format_ARGB32_Premultiplied;

// --- Geometry of DrawBitmap --------------------------------------------------

bool isUsable(const TRectF& R)
{
    return std::isfinite(R.Left) && std::isfinite(R.Top) && std::isfinite(R.Right) && std::isfinite(R.Bottom) &&
           R.Right > R.Left && R.Bottom > R.Top;
}

// One axis of the mapping of a destination rectangle onto a source
// rectangle, cut down to what lies inside both bitmaps. Sample positions
// come from the affine map itself, so a huge destination rectangle still
// samples the right source pixels; SrcLo..SrcHi only bound what is read.
struct AxisMap {
    double Scale = 1.0;   // source pixels per target pixel
    double Offset = 0.0;  // source coordinate of target coordinate 0
    double SrcLo = 0.0, SrcHi = 0.0;  // the part of the source that may be read
    double DstLo = 0.0, DstHi = 0.0;  // the part of the target that is drawn

    double toSource(double D) const { return Offset + D * Scale; }
};

bool mapAxis(double S0, double S1, double D0, double D1, int SrcSize, int DstSize, AxisMap& M)
{
    M.Scale = (S1 - S0) / (D1 - D0);
    if (!(M.Scale > 0.0) || !std::isfinite(M.Scale))
        return false;
    M.Offset = S0 - D0 * M.Scale;
    M.SrcLo = std::max(S0, 0.0);
    M.SrcHi = std::min(S1, double(SrcSize));
    // Where the source rectangle leaves the bitmap, the destination shrinks
    // in proportion; otherwise its edge stays exactly as given.
    M.DstLo = std::max(S0 < 0.0 ? std::max(D0, (0.0 - M.Offset) / M.Scale) : D0, 0.0);
    M.DstHi = std::min(S1 > SrcSize ? std::min(D1, (SrcSize - M.Offset) / M.Scale) : D1, double(DstSize));
    return M.SrcHi > M.SrcLo && M.DstHi > M.DstLo;
}

// Target pixels [First, End) are those whose centre lies in [DstLo, DstHi).
struct PixelRange {
    int First = 0;
    int End = 0;
};

PixelRange coveredPixels(const AxisMap& M)
{
    return {static_cast<int>(std::ceil(M.DstLo - 0.5)), static_cast<int>(std::ceil(M.DstHi - 0.5))};
}

// One target column or row of a scaled drawing: the two source pixels it
// lies between and the weight 0..256 of the second.
struct Tap {
    int I0 = 0;
    int I1 = 0;
    std::uint32_t W = 0;
};

// Source sample for target pixel Index: its centre mapped into the source.
// Smooth sampling interpolates between the two nearest source pixel centres
// (source pixel i has its centre at i + 0.5); either way the sample is
// clamped to the readable source pixels.
Tap tapFor(const AxisMap& M, int Index, bool Smooth)
{
    const double centre = M.toSource(Index + 0.5);
    const double lo = std::floor(M.SrcLo);
    const double hi = std::max(lo, std::ceil(M.SrcHi) - 1.0);
    if (!Smooth) {
        const int i = static_cast<int>(std::clamp(std::floor(centre), lo, hi));
        return {i, i, 0};
    }
    const double x = std::clamp(centre - 0.5, lo, hi);
    const double x0 = std::floor(x);
    const auto w = static_cast<std::uint32_t>(std::lround((x - x0) * 256.0));
    const int i0 = static_cast<int>(x0);
    return {i0, std::min(i0 + 1, static_cast<int>(hi)), w};
}

// --- Scaled drawing ------------------------------------------------------------

// Shrinking to less than half of the source's size in one direction
// averages, in that direction, every source pixel a target pixel covers:
// blending the two nearest pixels would leave whole rows or columns unread,
// and a one-pixel line (all a motion picture is made of) would break into
// dashes that flicker as it moves. Enlarging and milder shrinking blend.
constexpr double AveragingScale = 2.0;

bool averages(const AxisMap& M, bool Smooth)
{
    return Smooth && M.Scale > AveragingScale;
}

// The source pixels under target pixel Index's footprint, [Index, Index + 1)
// mapped into the source and cut to the readable part, each weighted by the
// part of it covered, in 256ths adding up to exactly 256 (rounded as running
// totals, so no weight is off by a whole 1/256). Returns the first pixel;
// Weight gets Count weights, none 0 at either end.
//
//   source   |  0  |  1  |  2  |  3  |  4  |      a footprint 3 pixels wide
//   target      [=================)              from 0.5: 1/6, 1/3, 1/3,
//   totals       43   128   213   256            1/6 of it, running totals
//   weights      43    85    85    43            rounded
int footprint(const AxisMap& M, int Index, std::uint16_t* Weight, int& Count)
{
    const double a = std::max(M.toSource(Index), M.SrcLo);
    const double b = std::min(M.toSource(Index + 1.0), M.SrcHi);
    // Inside the readable pixels whatever the rounding, as tapFor's samples.
    const double lo = std::floor(M.SrcLo);
    const double hi = std::max(lo, std::ceil(M.SrcHi) - 1.0);
    int first = static_cast<int>(std::clamp(std::floor(a), lo, hi));
    const int last = std::max(first, static_cast<int>(std::clamp(std::ceil(b) - 1.0, lo, hi)));
    Count = 0;
    int given = 0;
    for (int j = first; j <= last; ++j) {
        const double covered = b > a ? (std::min(b, j + 1.0) - a) / (b - a) : 1.0;
        const int total = j == last ? 256 : static_cast<int>(std::lround(covered * 256.0));
        const int w = total - given;
        given = total;
        if (w == 0 && Count == 0) {
            ++first;  // nothing of this pixel counts: leave it out
            continue;
        }
        Weight[Count++] = static_cast<std::uint16_t>(w);
    }
    while (Count > 1 && Weight[Count - 1] == 0)
        --Count;
    return first;
}

// The most source pixels one target pixel's footprint can touch (no more
// than can be read, however large the scale).
int maxFootprint(const AxisMap& M)
{
    return static_cast<int>(std::min(std::ceil(M.Scale), std::ceil(M.SrcHi) - std::floor(M.SrcLo))) + 1;
}

// What an axis's taps depend on: the mapping, the pixels covered and the
// sampling.
struct TapsKey {
    double Scale = 0.0, Offset = 0.0, SrcLo = 0.0, SrcHi = 0.0;
    int First = 0, End = 0;
    bool Smooth = false;

    TapsKey(const AxisMap& M, const PixelRange& R, bool S)
        : Scale(M.Scale), Offset(M.Offset), SrcLo(M.SrcLo), SrcHi(M.SrcHi), First(R.First), End(R.End), Smooth(S)
    {
    }
    bool operator==(const TapsKey&) const = default;
};

// The source rows one target row averages: Count rows from First, weighted
// by the Count weights from Weights[Offset].
struct RowFootprint {
    int First = 0;
    int Count = 0;
    std::size_t Offset = 0;
};

// Scratch of the scaled drawing, grown to the largest size seen and then
// reused, so that drawing frame after frame allocates nothing. The taps of
// each axis are kept while its mapping stays the same, as it does for every
// frame at one window size.
struct ScaleScratch {
    std::optional<TapsKey> ColumnsFor;
    bool AverageColumns = false;
    int Lo = 0;    // first source column read
    int Span = 0;  // source columns read
    std::vector<std::int32_t> First;
    std::vector<std::uint16_t> Weight;
    std::vector<int> Count;                // source columns under each footprint
    std::vector<std::uint16_t> BoxWeight;  // the footprints' weights, as many for each
    ColumnTaps Columns;
    BoxTaps ColumnBoxes;
    std::optional<TapsKey> RowsFor;
    bool AverageRows = false;
    std::vector<Tap> Rows;
    std::vector<RowFootprint> RowBoxes;
    std::vector<std::uint16_t> RowWeights;
    std::vector<std::uint32_t> Row;  // the blended or averaged source row
};

ScaleScratch& scaleScratch()
{
    thread_local ScaleScratch scratch;
    return scratch;
}

template <class T>
void ensureSize(std::vector<T>& V, std::size_t N)
{
    if (V.size() < N)
        V.resize(N);
}

// Lays out the taps of target columns Cols in S.Columns (blending) or
// S.ColumnBoxes (averaging), relative to the first source column read.
void prepareColumns(ScaleScratch& S, const AxisMap& X, const PixelRange& Cols, bool Smooth)
{
    const TapsKey key(X, Cols, Smooth);
    if (S.ColumnsFor == key)
        return;
    const int width = Cols.End - Cols.First;
    S.AverageColumns = averages(X, Smooth);
    const int most = S.AverageColumns ? maxFootprint(X) : 1;
    ensureSize(S.First, std::size_t(width));
    ensureSize(S.Count, std::size_t(width));
    ensureSize(S.Weight, std::size_t(width) * std::size_t(most));
    int lo = std::numeric_limits<int>::max();
    int hi = 0;
    int taps = 1;
    for (int x = 0; x < width; ++x) {
        if (S.AverageColumns) {
            int& count = S.Count[x];
            S.First[x] = footprint(X, Cols.First + x, S.Weight.data() + std::size_t(x) * std::size_t(most), count);
            lo = std::min(lo, S.First[x]);
            hi = std::max(hi, S.First[x] + count - 1);
            taps = std::max(taps, count);
        } else {
            const Tap t = tapFor(X, Cols.First + x, Smooth);
            S.First[x] = t.I0;
            S.Weight[x] = static_cast<std::uint16_t>(t.W);
            lo = std::min(lo, t.I0);
            hi = std::max(hi, t.I1);
        }
    }
    for (int x = 0; x < width; ++x)
        S.First[x] -= lo;
    S.Lo = lo;
    S.Span = hi - lo + 1;
    if (S.AverageColumns) {
        // Every target pixel takes the same number of taps, padded with
        // weights 0; near the row's end the padding goes in front, so that
        // no tap lies past the row.
        ensureSize(S.BoxWeight, std::size_t(width) * std::size_t(taps));
        for (int x = 0; x < width; ++x) {
            const int shift = std::max(0, S.First[x] + taps - S.Span);
            const std::uint16_t* from = S.Weight.data() + std::size_t(x) * std::size_t(most);
            std::uint16_t* to = S.BoxWeight.data() + std::size_t(x) * std::size_t(taps);
            std::fill(to, to + taps, std::uint16_t(0));
            std::copy(from, from + S.Count[x], to + shift);
            S.First[x] -= shift;
        }
        S.ColumnBoxes.assign(S.First.data(), S.BoxWeight.data(), taps, width, S.Span);
    } else if (S.Span > 1) {
        // A single source column needs no blending.
        S.Columns.assign(S.First.data(), S.Weight.data(), width, S.Span);
    }
    ensureSize(S.Row, std::size_t(S.Span));
    S.ColumnsFor = key;
}

void prepareRows(ScaleScratch& S, const AxisMap& Y, const PixelRange& Rows, bool Smooth)
{
    const TapsKey key(Y, Rows, Smooth);
    if (S.RowsFor == key)
        return;
    const std::size_t height = std::size_t(Rows.End - Rows.First);
    S.AverageRows = averages(Y, Smooth);
    if (S.AverageRows) {
        const int taps = maxFootprint(Y);
        ensureSize(S.RowBoxes, height);
        ensureSize(S.RowWeights, height * std::size_t(taps));
        for (std::size_t y = 0; y < height; ++y) {
            RowFootprint& box = S.RowBoxes[y];
            box.Offset = y * std::size_t(taps);
            box.First = footprint(Y, Rows.First + int(y), S.RowWeights.data() + box.Offset, box.Count);
        }
    } else {
        ensureSize(S.Rows, height);
        for (int y = Rows.First; y < Rows.End; ++y)
            S.Rows[std::size_t(y - Rows.First)] = tapFor(Y, y, Smooth);
    }
    S.RowsFor = key;
}

// Draws the mapping X x Y of an opaque Source into Target with a smooth or
// nearest-pixel sample. Each target row first combines its source rows into
// one scratch row (blending two, or averaging all it covers), then makes
// each target pixel from neighbouring pixels of that row.
void scaleOpaque(const QImage& Source, QImage& Target, const AxisMap& X, const AxisMap& Y, bool Smooth)
{
    const PixelRange cols = coveredPixels(X);
    const PixelRange rows = coveredPixels(Y);
    if (cols.End <= cols.First || rows.End <= rows.First)
        return;

    ScaleScratch& scratch = scaleScratch();
    prepareColumns(scratch, X, cols, Smooth);
    prepareRows(scratch, Y, rows, Smooth);
    const int width = cols.End - cols.First;
    const int span = scratch.Span;
    const int lo = scratch.Lo;
    const std::ptrdiff_t stride = Source.bytesPerLine() / 4;
    std::uint32_t* combined = scratch.Row.data();
    for (int y = rows.First; y < rows.End; ++y) {
        const std::uint32_t* row = nullptr;
        if (scratch.AverageRows) {
            const RowFootprint& box = scratch.RowBoxes[std::size_t(y - rows.First)];
            row = reinterpret_cast<const std::uint32_t*>(Source.constScanLine(box.First)) + lo;
            if (box.Count > 1) {
                averageRows(row, stride, scratch.RowWeights.data() + box.Offset, box.Count, combined, span);
                row = combined;
            }
        } else {
            const Tap& v = scratch.Rows[std::size_t(y - rows.First)];
            row = reinterpret_cast<const std::uint32_t*>(Source.constScanLine(v.I0)) + lo;
            if (v.W != 0) {
                const auto* row1 = reinterpret_cast<const std::uint32_t*>(Source.constScanLine(v.I1)) + lo;
                lerpRow(row, row1, combined, span, v.W);
                row = combined;
            }
        }
        auto* out = reinterpret_cast<std::uint32_t*>(Target.scanLine(y)) + cols.First;
        if (scratch.AverageColumns)
            averageColumns(row, scratch.ColumnBoxes, out);
        else if (span > 1)
            blendColumns(row, scratch.Columns, out);
        else
            std::fill(out, out + width, row[0]);
    }
}

// Copies the source pixels under SrcRect one to one into DstRect (same
// whole-pixel size), leaving out whatever falls outside either bitmap.
void copyPixels(const QImage& Source, QImage& Target, const TRectF& SrcRect, const TRectF& DstRect)
{
    // A pixel belongs to a rectangle when its centre lies inside it.
    const double sx = std::ceil(double(SrcRect.Left) - 0.5);
    const double sy = std::ceil(double(SrcRect.Top) - 0.5);
    const double dx = std::ceil(double(DstRect.Left) - 0.5);
    const double dy = std::ceil(double(DstRect.Top) - 0.5);
    const double w = DstRect.Width();
    const double h = DstRect.Height();
    // Offsets i, j into the rectangles that land inside both bitmaps.
    const double i0 = std::max({0.0, -sx, -dx});
    const double i1 = std::min({w, Source.width() - sx, Target.width() - dx});
    const double j0 = std::max({0.0, -sy, -dy});
    const double j1 = std::min({h, Source.height() - sy, Target.height() - dy});
    if (i1 <= i0 || j1 <= j0)
        return;
    const int srcX = static_cast<int>(sx + i0);
    const int dstX = static_cast<int>(dx + i0);
    const int srcY = static_cast<int>(sy + j0);
    const int dstY = static_cast<int>(dy + j0);
    const int cols = static_cast<int>(i1 - i0);
    const int rows = static_cast<int>(j1 - j0);
    const std::size_t bytes = static_cast<std::size_t>(cols) * 4;
    // Drawing a bitmap onto itself one row lower must copy from the bottom up.
    const bool upward = &Source == &Target && dstY > srcY;
    for (int k = 0; k < rows; ++k) {
        const int j = upward ? rows - 1 - k : k;
        std::memmove(Target.scanLine(dstY + j) + static_cast<std::ptrdiff_t>(dstX) * 4,
                     Source.constScanLine(srcY + j) + static_cast<std::ptrdiff_t>(srcX) * 4, bytes);
    }
}

bool isWholeNumber(float V)
{
    return std::floor(V) == V;
}

void fillImage(QImage& Image, std::uint32_t Pixel)
{
    const int w = Image.width();
    for (int y = 0; y < Image.height(); ++y) {
        auto* row = reinterpret_cast<std::uint32_t*>(Image.scanLine(y));
        std::fill(row, row + w, Pixel);
    }
}

// Reverses Count pixels in place, four at a time from both ends.
void reversePixels(std::uint32_t* Row, int Count)
{
    std::uint32_t* l = Row;
    std::uint32_t* r = Row + Count;
    while (r - l >= 8) {
        const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(l));
        const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(r - 4));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(l), _mm_shuffle_epi32(b, _MM_SHUFFLE(0, 1, 2, 3)));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(r - 4), _mm_shuffle_epi32(a, _MM_SHUFFLE(0, 1, 2, 3)));
        l += 4;
        r -= 4;
    }
    std::reverse(l, r);
}

}  // namespace

// --- Pixel conversions -------------------------------------------------------

TAlphaColor PixelToAlphaColor(const void* P, TPixelFormat F)
{
    TAlphaColor c = 0;
    if (F == TPixelFormat::BGRA)
        std::memcpy(&c, P, sizeof c);
    return c;
}

void AlphaColorToPixel(TAlphaColor Color, void* P, TPixelFormat F)
{
    if (F == TPixelFormat::BGRA)
        std::memcpy(P, &Color, sizeof Color);
}

// --- TCanvas -------------------------------------------------------------------

bool TCanvas::BeginScene()
{
    if (m_owner.IsEmpty())
        return false;
    m_inScene = true;
    return true;
}

void TCanvas::Clear(TAlphaColor Color)
{
    if (!m_inScene || m_owner.IsEmpty())
        return;
    QImage& image = m_owner.image();
    // An opaque bitmap has no transparency to keep; one with alpha stores
    // the colour premultiplied.
    fillImage(image, image.format() == OpaqueFormat ? (Color | 0xFF000000u) : qPremultiply(Color));
}

void TCanvas::DrawBitmap(const TBitmap& Source, const TRectF& SrcRect, const TRectF& DstRect, float Opacity,
                         bool HighSpeed)
{
    if (!m_inScene || m_owner.IsEmpty() || Source.IsEmpty() || !isUsable(SrcRect) || !isUsable(DstRect) ||
        !(Opacity > 0.0f))
        return;
    const QImage& source = Source.image();
    QImage& target = m_owner.image();
    const bool opaque = Opacity >= 1.0f && !Source.hasAlpha();

    if (opaque && SrcRect.Width() == DstRect.Width() && SrcRect.Height() == DstRect.Height() &&
        isWholeNumber(DstRect.Width()) && isWholeNumber(DstRect.Height())) {
        copyPixels(source, target, SrcRect, DstRect);
        return;
    }

    AxisMap x, y;
    if (!mapAxis(SrcRect.Left, SrcRect.Right, DstRect.Left, DstRect.Right, source.width(), target.width(), x) ||
        !mapAxis(SrcRect.Top, SrcRect.Bottom, DstRect.Top, DstRect.Bottom, source.height(), target.height(), y))
        return;

    if (opaque) {
        // Frames take this path every time: it allocates nothing, where
        // QPainter's smooth image drawing allocates on every call.
        scaleOpaque(source, target, x, y, !HighSpeed);
        return;
    }
    // Translucent drawing (an icon, or Opacity below 1) blends with QPainter,
    // given rectangles already cut to both bitmaps.
    const double sx0 = std::max(x.toSource(x.DstLo), x.SrcLo), sx1 = std::min(x.toSource(x.DstHi), x.SrcHi);
    const double sy0 = std::max(y.toSource(y.DstLo), y.SrcLo), sy1 = std::min(y.toSource(y.DstHi), y.SrcHi);
    if (!(sx1 > sx0) || !(sy1 > sy0))
        return;
    QPainter painter(&target);
    painter.setRenderHint(QPainter::SmoothPixmapTransform, !HighSpeed);
    painter.setOpacity(std::min(Opacity, 1.0f));
    painter.drawImage(QRectF(x.DstLo, y.DstLo, x.DstHi - x.DstLo, y.DstHi - y.DstLo), source,
                      QRectF(sx0, sy0, sx1 - sx0, sy1 - sy0));
}

void TCanvas::EndScene()
{
    if (!m_inScene)
        return;
    m_inScene = false;
    m_owner.changed();
}

// --- TBitmap -------------------------------------------------------------------

TBitmap::TBitmap() = default;

TBitmap::TBitmap(int Width, int Height)
{
    SetSize(Width, Height);
}

TBitmap::~TBitmap() = default;

int TBitmap::Width() const
{
    return m_image.width();
}

int TBitmap::Height() const
{
    return m_image.height();
}

void TBitmap::SetSize(int Width, int Height)
{
    Width = std::max(Width, 0);
    Height = std::max(Height, 0);
    if (Width == this->Width() && Height == this->Height())
        return;
    if (Width == 0 || Height == 0) {
        m_image = QImage();
    } else {
        const QImage::Format format = m_image.isNull() ? OpaqueFormat : m_image.format();
        m_image = QImage(Width, Height, format);
        // Start from a defined picture: opaque black, or transparent.
        fillImage(m_image, format == OpaqueFormat ? TAlphaColors::Black : TAlphaColors::Null);
    }
    changed();
}

void TBitmap::Assign(const TBitmap& Source)
{
    if (&Source == this)
        return;
    const QImage& src = Source.m_image;
    if (src.isNull()) {
        m_image = QImage();
    } else {
        // A fresh buffer only when the old one cannot take the pixels (or is
        // shared, where writing would first copy pixels that get overwritten).
        if (m_image.size() != src.size() || m_image.format() != src.format() || !m_image.isDetached())
            m_image = QImage(src.size(), src.format());
        if (m_image.isNull())
            return;  // out of memory
        const std::size_t rowBytes = static_cast<std::size_t>(src.width()) * 4;
        const qsizetype srcPitch = src.bytesPerLine();
        const qsizetype dstPitch = m_image.bytesPerLine();
        const uchar* from = src.constBits();
        uchar* to = m_image.bits();
        if (srcPitch == dstPitch && static_cast<std::size_t>(srcPitch) == rowBytes) {
            std::memcpy(to, from, rowBytes * static_cast<std::size_t>(src.height()));
        } else {
            for (int y = 0; y < src.height(); ++y)
                std::memcpy(to + y * dstPitch, from + y * srcPitch, rowBytes);
        }
    }
    changed();
}

void TBitmap::Swap(TBitmap& Other)
{
    if (&Other == this)
        return;
    m_image.swap(Other.m_image);
    changed();
    Other.changed();
}

void TBitmap::FlipHorizontal()
{
    if (IsEmpty())
        return;
    uchar* bits = m_image.bits();
    const qsizetype pitch = m_image.bytesPerLine();
    for (int y = 0; y < Height(); ++y)
        reversePixels(reinterpret_cast<std::uint32_t*>(bits + y * pitch), Width());
    changed();
}

bool TBitmap::Map(TMapAccess Access, TBitmapData& Data)
{
    Data = TBitmapData{};
    if (IsEmpty())
        return false;
    Data.Width = Width();
    Data.Height = Height();
    Data.Pitch = static_cast<int>(m_image.bytesPerLine());
    Data.Data = Access == TMapAccess::Read ? const_cast<std::uint8_t*>(m_image.constBits()) : m_image.bits();
    Data.PixelFormat = TPixelFormat::BGRA;
    Data.Access = Access;
    return true;
}

void TBitmap::Unmap(TBitmapData& Data)
{
    const bool wrote = Data.Data != nullptr && Data.Access != TMapAccess::Read;
    Data = TBitmapData{};
    if (wrote)
        changed();
}

bool TBitmap::hasAlpha() const
{
    return m_image.hasAlphaChannel();
}

void TBitmap::setImage(const QImage& Image)
{
    if (Image.isNull()) {
        m_image = QImage();
    } else {
        const QImage::Format format = Image.hasAlphaChannel() ? AlphaFormat : OpaqueFormat;
        // copy() when no conversion is needed, so the pixels are our own and
        // never shared with the caller's image.
        m_image = Image.format() == format ? Image.copy() : Image.convertToFormat(format);
    }
    changed();
}

std::uint32_t* TBitmap::scanLine(int Row)
{
    return reinterpret_cast<std::uint32_t*>(m_image.scanLine(Row));
}

const std::uint32_t* TBitmap::constScanLine(int Row) const
{
    return reinterpret_cast<const std::uint32_t*>(m_image.constScanLine(Row));
}

void TBitmap::changed()
{
    if (OnChange)
        OnChange();
}
