#pragma once

// The seam between the camera component and what produces frames: the demo
// cameras, V4L2 devices, a video file, or a scripted source in tests.
//
// A source offers, for each kind of camera (front, back), a list of capture
// settings, and delivers frames of one kind at a time on a thread of its
// own. Delivery is synchronous: the source calls CameraSink::frameReady and
// the frame stays valid until that call returns. The pixels are produced by
// CameraFrame::writeRgb32 straight into the caller's bitmap, so a frame is
// converted (or decoded) exactly once and never copied in between.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

#include "platform/camera/capture_setting.h"

class CameraFrame {
public:
    virtual ~CameraFrame() = default;
    virtual int width() const = 0;
    virtual int height() const = 0;
    // Writes the frame as Format_RGB32 (B, G, R, 0xFF) into Dst: height()
    // rows of width() pixels, BytesPerLine apart.
    virtual void writeRgb32(std::uint8_t* Dst, std::ptrdiff_t BytesPerLine) const = 0;
};

class CameraSink {
public:
    virtual ~CameraSink() = default;
    // Called on the source's thread for every frame; blocks until the frame
    // has been taken (or the hand-over was cancelled). TimeStampNs is the
    // frame's capture time on the steady clock.
    virtual void frameReady(const CameraFrame& Frame, std::int64_t TimeStampNs) = 0;
    // Called, from any thread, once a running source has stopped by itself
    // (the camera vanished, the file can no longer be decoded), after
    // isRunning() turned false. Not called for stop().
    virtual void sourceStopped() {}
};

class CameraSource {
public:
    virtual ~CameraSource() = default;

    // The settings the camera of this kind offers, in its own order; empty
    // when there is no such camera.
    virtual std::vector<TVideoCaptureSetting> captureSettings(TCameraKind Kind) = 0;

    // The setting the camera would take when asked for Wanted (a camera may
    // adjust a setting it cannot use exactly).
    virtual TVideoCaptureSetting resolveSetting(TCameraKind Kind, const TVideoCaptureSetting& Wanted) = 0;

    // Starts delivering frames of Kind with Setting to Sink on the source's
    // own thread. Returns the setting really in force, or nothing when the
    // camera cannot start. Never called while running.
    virtual std::optional<TVideoCaptureSetting> start(TCameraKind Kind, const TVideoCaptureSetting& Setting,
                                                      CameraSink& Sink) = 0;

    // Stops delivery. On return no frame is being delivered and none will
    // be; the device is closed and the thread is gone. The caller has already
    // released any hand-over the thread may wait in, so stop() may join.
    virtual void stop() = 0;

    // True from a successful start until stop(), or until the camera
    // vanished (then the source has stopped by itself).
    virtual bool isRunning() const = 0;
};
