#include "platform/camera/video_frame_converter.h"

extern "C" {
#include <libavutil/display.h>
#include <libavutil/frame.h>
#include <libavutil/mem.h>
#include <libavutil/pixdesc.h>
#include <libswscale/swscale.h>
}

#include <algorithm>
#include <cmath>
#include <cstring>

namespace {

// Frames leave as Format_RGB32 bytes: B, G, R, 0xFF. For pictures without
// alpha, swscale fills the fourth byte of BGRA with 0xFF.
constexpr AVPixelFormat Rgb32 = AV_PIX_FMT_BGRA;

// swscale writes its output rows in whole SIMD chunks: a row of 1 to 15
// pixels may be written as 16 (60 bytes too many), a row of 1918 as 1920.
// Inside a picture the excess lands at the start of the next row, which is
// written afterwards; after the last row it lands outside the picture.
// Rows of a multiple of 32 pixels (640, 1280, 1920, 3840...) end on a chunk
// boundary and are converted in place. Of the others, rows of a multiple of
// 8 pixels are converted in place but for the last few (at least TailBytes),
// which go into a staging picture whose rows are padded to 64 bytes, with
// this much slack after the last one, and are copied from there. Rows of
// other widths are staged whole: without room after a row, swscale's x86
// YUV converter leaves its last 1 to 7 pixels unwritten.
constexpr int InPlaceMultiple = 32;
constexpr int SplitMultiple = 8;
constexpr std::ptrdiff_t StagingSlack = 1024;
constexpr std::ptrdiff_t TailBytes = 256;

// An AVFrame over memory it does not own, for swscale's slice interface.
bool wrap(AVFrame* Frame, AVBufferRef*& Ref, std::uint8_t* Data, std::ptrdiff_t BytesPerLine, int Width, int Height)
{
    if (!Ref || Ref->data != Data || Ref->size < std::size_t(BytesPerLine * Height)) {
        av_buffer_unref(&Ref);
        Ref = av_buffer_create(Data, std::size_t(BytesPerLine * Height), [](void*, std::uint8_t*) {}, nullptr, 0);
        if (!Ref)
            return false;
    }
    av_frame_unref(Frame);
    Frame->buf[0] = av_buffer_ref(Ref);
    if (!Frame->buf[0])
        return false;
    Frame->data[0] = Data;
    Frame->linesize[0] = int(BytesPerLine);
    Frame->width = Width;
    Frame->height = Height;
    Frame->format = Rgb32;
    return true;
}

// The decoder's picture formats that carry full-range luma by name.
bool isFullRangeFormat(int Format)
{
    return Format == AV_PIX_FMT_YUVJ420P || Format == AV_PIX_FMT_YUVJ422P || Format == AV_PIX_FMT_YUVJ444P
        || Format == AV_PIX_FMT_YUVJ440P || Format == AV_PIX_FMT_YUVJ411P;
}

// A picture with alpha (a PNG, a palette with a transparent colour) still
// gives an opaque frame: the fourth byte of RGB32 is always 0xFF.
void makeOpaque(std::uint8_t* Rows, std::ptrdiff_t BytesPerLine, int Width, int Height)
{
    for (int Y = 0; Y < Height; ++Y)
        for (int X = 0; X < Width; ++X)
            Rows[Y * BytesPerLine + std::ptrdiff_t(X) * 4 + 3] = 0xFF;
}

} // namespace

int videoRotation(const std::int32_t* DisplayMatrix)
{
    if (!DisplayMatrix)
        return 0;
    // av_display_rotation_get: the counter-clockwise angle the matrix
    // turns the picture by when it is shown; NaN for a degenerate matrix.
    const double Angle = av_display_rotation_get(DisplayMatrix);
    if (!std::isfinite(Angle))
        return 0;
    const long Quarter = std::lround(-Angle / 90.0);
    if (std::abs(-Angle - 90.0 * double(Quarter)) > 1.0)
        return 0;
    return int(((Quarter % 4) + 4) % 4) * 90;
}

VideoFrameConverter::VideoFrameConverter(int Width, int Height, int Rotation)
    : m_width(Width), m_height(Height), m_rotation(Rotation)
{
    if (m_rotation != 0 || m_width % InPlaceMultiple != 0) {
        m_stagingStride = (std::ptrdiff_t(m_width) * 4 + 63) / 64 * 64;
        m_staging = static_cast<std::uint8_t*>(av_malloc(std::size_t(m_stagingStride * m_height + StagingSlack)));
    }
}

VideoFrameConverter::~VideoFrameConverter()
{
    sws_freeContext(m_scaler);
    av_free(m_staging);
    av_frame_free(&m_dstFrame);
    av_frame_free(&m_stagingFrame);
    av_buffer_unref(&m_dstRef);
    av_buffer_unref(&m_stagingRef);
}

// Rows [0, Split) in place, rows [Split, height) staged and copied. False
// when swscale cannot cut its output there (the caller stages it all).
bool VideoFrameConverter::writeSplit(const AVFrame& Picture, std::uint8_t* Dst, std::ptrdiff_t BytesPerLine) const
{
    const int Align = int(sws_receive_slice_alignment(m_scaler));
    const int TailRows = int((TailBytes + BytesPerLine - 1) / BytesPerLine);
    const int Split = (m_height - TailRows) / Align * Align;
    if (Split <= 0 || (m_height - Split) % Align != 0)
        return false;
    if (!m_dstFrame && !(m_dstFrame = av_frame_alloc()))
        return false;
    if (!m_stagingFrame && !(m_stagingFrame = av_frame_alloc()))
        return false;
    if (!wrap(m_dstFrame, m_dstRef, Dst, BytesPerLine, m_width, m_height)
        || !wrap(m_stagingFrame, m_stagingRef, m_staging, m_stagingStride, m_width, m_height))
        return false;
    const auto Part = [&](AVFrame* Into, int First, int Rows) {
        bool Done = sws_frame_start(m_scaler, Into, &Picture) >= 0 && sws_send_slice(m_scaler, 0, Picture.height) >= 0
                    && sws_receive_slice(m_scaler, First, Rows) >= 0;
        sws_frame_end(m_scaler);
        return Done;
    };
    if (!Part(m_dstFrame, 0, Split) || !Part(m_stagingFrame, Split, m_height - Split))
        return false;
    for (int Y = Split; Y < m_height; ++Y)
        std::memcpy(Dst + Y * BytesPerLine, m_staging + Y * m_stagingStride, std::size_t(m_width) * 4);
    if (!m_opaque)
        makeOpaque(Dst, BytesPerLine, m_width, m_height);
    return true;
}

int VideoFrameConverter::width() const
{
    return m_rotation % 180 ? m_height : m_width;
}

int VideoFrameConverter::height() const
{
    return m_rotation % 180 ? m_width : m_height;
}

bool VideoFrameConverter::prepare(const AVFrame& Picture)
{
    const Key K{Picture.width, Picture.height, Picture.format, int(Picture.colorspace), int(Picture.color_range)};
    if (m_scaler && K == m_key)
        return true;
    sws_freeContext(m_scaler);
    m_scaler = nullptr;
    m_key = K;
    if ((m_rotation != 0 || m_width % InPlaceMultiple != 0) && !m_staging)
        return false;  // its allocation failed
    if (K.Width <= 0 || K.Height <= 0)
        return false;
    m_scaler = sws_getContext(K.Width, K.Height, AVPixelFormat(K.Format), m_width, m_height, Rgb32, SWS_BILINEAR,
                              nullptr, nullptr, nullptr);
    if (!m_scaler)
        return false;
    const AVPixFmtDescriptor* Desc = av_pix_fmt_desc_get(AVPixelFormat(K.Format));
    m_opaque = Desc && !(Desc->flags & (AV_PIX_FMT_FLAG_ALPHA | AV_PIX_FMT_FLAG_PAL));
    // YUV to RGB with the picture's own matrix (BT.709 for HD, BT.601
    // otherwise) and luma range (16..235 or full 0..255); swscale would
    // otherwise assume BT.601 limited range for everything.
    int* InvTable = nullptr;
    int* Table = nullptr;
    int SrcRange = 0, DstRange = 0, Brightness = 0, Contrast = 0, Saturation = 0;
    if (sws_getColorspaceDetails(m_scaler, &InvTable, &SrcRange, &Table, &DstRange, &Brightness, &Contrast,
                                 &Saturation)
        >= 0) {
        const int FullRange = K.Range == AVCOL_RANGE_JPEG || isFullRangeFormat(K.Format);
        const int* Coefficients =
            sws_getCoefficients(K.ColorSpace == AVCOL_SPC_UNSPECIFIED ? SWS_CS_DEFAULT : K.ColorSpace);
        sws_setColorspaceDetails(m_scaler, Coefficients, FullRange, Table, DstRange, Brightness, Contrast,
                                 Saturation);
    }
    return true;
}

void VideoFrameConverter::write(const AVFrame& Picture, std::uint8_t* Dst, std::ptrdiff_t BytesPerLine) const
{
    if (!m_scaler)
        return;
    if (!m_staging) {
        std::uint8_t* const Planes[4] = {Dst, nullptr, nullptr, nullptr};
        const int Strides[4] = {int(BytesPerLine), 0, 0, 0};
        sws_scale(m_scaler, Picture.data, Picture.linesize, 0, Picture.height, Planes, Strides);
        if (!m_opaque)
            makeOpaque(Dst, BytesPerLine, m_width, m_height);
        return;
    }
    if (m_rotation == 0 && m_width % SplitMultiple == 0 && writeSplit(Picture, Dst, BytesPerLine))
        return;
    std::uint8_t* const Planes[4] = {m_staging, nullptr, nullptr, nullptr};
    const int Strides[4] = {int(m_stagingStride), 0, 0, 0};
    sws_scale(m_scaler, Picture.data, Picture.linesize, 0, Picture.height, Planes, Strides);
    if (!m_opaque)
        makeOpaque(m_staging, m_stagingStride, m_width, m_height);

    // Staged pixel (x, y) of the W x H picture as stored goes to:
    //   0:   (x, y)            90: (H-1-y, x)
    //   180: (W-1-x, H-1-y)    270: (y, W-1-x)
    // A quarter turn reads the staging down its columns; it goes by
    // squares of Block x Block pixels, so both sides stay in the cache.
    const int W = m_width, H = m_height;
    const std::uint8_t* const Staging = m_staging;
    const std::ptrdiff_t Stride = m_stagingStride;
    const auto Src = [Staging, Stride](int X, int Y) {
        return reinterpret_cast<const std::uint32_t*>(Staging + Y * Stride)[X];
    };
    constexpr int Block = 32;
    if (m_rotation == 0) {
        for (int Y = 0; Y < H; ++Y)
            std::memcpy(Dst + Y * BytesPerLine, Staging + Y * Stride, std::size_t(W) * 4);
    } else if (m_rotation == 180) {
        for (int Y = 0; Y < H; ++Y) {
            auto* Row = reinterpret_cast<std::uint32_t*>(Dst + Y * BytesPerLine);
            const auto* From = reinterpret_cast<const std::uint32_t*>(Staging + (H - 1 - Y) * Stride);
            for (int X = 0; X < W; ++X)
                Row[X] = From[W - 1 - X];
        }
    } else {  // output H wide and W high
        for (int V0 = 0; V0 < W; V0 += Block) {
            const int V1 = std::min(V0 + Block, W);
            for (int U0 = 0; U0 < H; U0 += Block) {
                const int U1 = std::min(U0 + Block, H);
                for (int V = V0; V < V1; ++V) {
                    auto* Row = reinterpret_cast<std::uint32_t*>(Dst + V * BytesPerLine);
                    if (m_rotation == 90)
                        for (int U = U0; U < U1; ++U)
                            Row[U] = Src(V, H - 1 - U);
                    else
                        for (int U = U0; U < U1; ++U)
                            Row[U] = Src(W - 1 - V, U);
                }
            }
        }
    }
}
