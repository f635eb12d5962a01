#include "platform/camera/video_frame_converter.h"

extern "C" {
#include <libavutil/display.h>
#include <libavutil/frame.h>
#include <libavutil/mem.h>
#include <libavutil/pixdesc.h>
#include <libswscale/swscale.h>
}

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
// boundary and are converted in place; the others go through rows padded
// to 64 bytes plus this much slack after the last one.
constexpr int InPlaceMultiple = 32;
constexpr std::ptrdiff_t StagingSlack = 1024;

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
    std::uint8_t* const Planes[4] = {m_staging, nullptr, nullptr, nullptr};
    const int Strides[4] = {int(m_stagingStride), 0, 0, 0};
    sws_scale(m_scaler, Picture.data, Picture.linesize, 0, Picture.height, Planes, Strides);
    if (!m_opaque)
        makeOpaque(m_staging, m_stagingStride, m_width, m_height);

    // Staged pixel (x, y) of the W x H picture as stored goes to:
    //   0:   (x, y)            90: (H-1-y, x)
    //   180: (W-1-x, H-1-y)    270: (y, W-1-x)
    // Each output row is written in order, so the turned copy reads the
    // staging columns and writes the destination rows sequentially.
    const int W = m_width, H = m_height;
    const auto Src = [&](int X, int Y) {
        std::uint32_t P;
        std::memcpy(&P, m_staging + Y * m_stagingStride + std::ptrdiff_t(X) * 4, 4);
        return P;
    };
    switch (m_rotation) {
    case 0:
        for (int Y = 0; Y < H; ++Y)
            std::memcpy(Dst + Y * BytesPerLine, m_staging + Y * m_stagingStride, std::size_t(W) * 4);
        break;
    case 180:
        for (int Y = 0; Y < H; ++Y) {
            auto* Row = reinterpret_cast<std::uint32_t*>(Dst + Y * BytesPerLine);
            for (int X = 0; X < W; ++X)
                Row[X] = Src(W - 1 - X, H - 1 - Y);
        }
        break;
    case 90:  // output H wide, W high: output (u, v) shows stored (v, H-1-u)
        for (int V = 0; V < W; ++V) {
            auto* Row = reinterpret_cast<std::uint32_t*>(Dst + V * BytesPerLine);
            for (int U = 0; U < H; ++U)
                Row[U] = Src(V, H - 1 - U);
        }
        break;
    default:  // 270: output (u, v) shows stored (W-1-v, u)
        for (int V = 0; V < W; ++V) {
            auto* Row = reinterpret_cast<std::uint32_t*>(Dst + V * BytesPerLine);
            for (int U = 0; U < H; ++U)
                Row[U] = Src(W - 1 - V, U);
        }
        break;
    }
}
