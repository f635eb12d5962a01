#pragma once

// VideoFrameConverter: decoded FFmpeg pictures to Format_RGB32 (B, G, R,
// 0xFF) rows of one fixed size, turned upright by a quarter-turn rotation.
//
// Whatever size and pixel format a picture comes in, it comes out at the
// size given at construction, so the capture setting stays true when a
// stream changes size midway.

#include <cstddef>
#include <cstdint>

struct AVBufferRef;
struct AVFrame;
struct SwsContext;

class VideoFrameConverter {
public:
    // Width x Height is the picture as stored in the file; Rotation
    // (0, 90, 180 or 270 degrees clockwise) turns it for showing, so a
    // quarter turn swaps width() and height().
    VideoFrameConverter(int Width, int Height, int Rotation);
    ~VideoFrameConverter();
    VideoFrameConverter(const VideoFrameConverter&) = delete;
    VideoFrameConverter& operator=(const VideoFrameConverter&) = delete;

    int width() const;
    int height() const;
    int rotation() const { return m_rotation; }

    // Makes ready for Picture's size, format and colours; false when no
    // conversion exists for them (the picture is then skipped).
    bool prepare(const AVFrame& Picture);
    // Writes the prepared Picture into Dst: height() rows of width()
    // pixels, BytesPerLine apart, and not one byte outside them.
    void write(const AVFrame& Picture, std::uint8_t* Dst, std::ptrdiff_t BytesPerLine) const;

private:
    struct Key {
        int Width = 0, Height = 0, Format = -1, ColorSpace = 0, Range = 0;
        friend bool operator==(const Key&, const Key&) = default;
    };

    bool writeSplit(const AVFrame& Picture, std::uint8_t* Dst, std::ptrdiff_t BytesPerLine) const;

    int m_width;   // as stored
    int m_height;
    int m_rotation;
    SwsContext* m_scaler = nullptr;
    Key m_key;
    bool m_opaque = true;  // the picture format has no alpha
    // Upright pictures whose rows the scaler fills in whole chunks go
    // straight into the destination; the others are converted here first.
    std::uint8_t* m_staging = nullptr;
    std::ptrdiff_t m_stagingStride = 0;
    // The destination and the staging as frames, for converting in parts.
    mutable AVFrame* m_dstFrame = nullptr;
    mutable AVFrame* m_stagingFrame = nullptr;
    mutable AVBufferRef* m_dstRef = nullptr;
    mutable AVBufferRef* m_stagingRef = nullptr;
};

// The clockwise quarter turn (0, 90, 180, 270) that shows a picture upright,
// from a display matrix as FFmpeg stores it (nine 32-bit numbers, 16.16 and
// 2.30 fixed point); 0 when there is none or it is no quarter turn.
int videoRotation(const std::int32_t* DisplayMatrix);
