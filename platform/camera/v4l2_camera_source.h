#pragma once

// Real webcams through V4L2 (libv4l2).
//
// Whenever it is asked for a camera's capture settings, the source looks at
// every /dev/video* node afresh and keeps the capture devices (many webcams
// add a metadata node, which is skipped): the first is the front camera, the
// second the back camera. So a webcam plugged in while the program runs is
// found at the next ask, and one pulled out is no longer offered. A camera's
// capture settings are its frame sizes in the pixel formats we can turn into
// RGB32 - YUYV (own conversion), MJPEG (TurboJPEG) and RGB24/BGR24 (native,
// or libv4l2's conversion of anything else) - each size once, at the fastest
// frame interval any of those formats offers for it. Of a stepwise or
// continuous range of sizes or intervals, the standard sizes and rates
// inside it and on its step count (capture_ranges.h).
//
// The device is opened only while capturing, so the camera's light goes
// off when the camera is stopped. Frames arrive through memory-mapped
// buffers on a thread of the source's own and are converted straight from
// the buffer into the receiver's bitmap.

#include <atomic>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "platform/camera/camera_source.h"
#include "platform/camera/v4l2_device.h"

// The lines a user can act on, without the newline. Permission denied and
// busy get their own words, wherever they happen.
std::string noCameraMessage();
std::string cannotOpenMessage(const std::string& Path, int Errno);
std::string cannotStartMessage(const std::string& Path, int Errno);
std::string noUsableFormatMessage(const std::string& Path);

class V4l2CameraSource final : public CameraSource {
public:
    // Receives each message line; the default prints it to stderr.
    using MessageHandler = std::function<void(const std::string&)>;

    explicit V4l2CameraSource(std::shared_ptr<V4l2Io> Io = systemV4l2Io(), MessageHandler Report = {});
    ~V4l2CameraSource() override;
    V4l2CameraSource(const V4l2CameraSource&) = delete;
    V4l2CameraSource& operator=(const V4l2CameraSource&) = delete;

    std::vector<TVideoCaptureSetting> captureSettings(TCameraKind Kind) override;
    TVideoCaptureSetting resolveSetting(TCameraKind Kind, const TVideoCaptureSetting& Wanted) override;
    std::optional<TVideoCaptureSetting> start(TCameraKind Kind, const TVideoCaptureSetting& Setting,
                                              CameraSink& Sink) override;
    void stop() override;
    bool isRunning() const override;

    // A capture setting and what to ask the device for to get it.
    struct Offer {
        TVideoCaptureSetting Setting;
        std::uint32_t PixelFormat = 0;
        std::uint32_t IntervalNumerator = 0;  // 0: the device lists no interval
        std::uint32_t IntervalDenominator = 0;
        int Rank = 0;  // lower is preferred at an equal frame rate
    };
    struct Device {
        std::string Path;
        std::vector<Offer> Offers;
    };
    struct Capture;

private:
    std::vector<Device> listCameras();
    const Device* device(TCameraKind Kind) const;
    void captureLoop(Capture& C);
    void releaseDevice(Capture& C);
    void tellOnce(const std::string& Path, const std::string& Line);

    std::shared_ptr<V4l2Io> m_io;
    MessageHandler m_report;
    std::map<std::string, std::string> m_told;  // the last failure told per device, until it starts
    std::vector<Device> m_devices;
    std::unique_ptr<Capture> m_capture;
    std::atomic<bool> m_running{false};
};
