#pragma once

// A camera source under the test's control: the settings each camera offers
// and takes, whether it starts, its frames (one at a time from the test, or
// at full speed from a capture thread of its own), a camera that vanishes
// while running, and one slow to stop (lateFrames, as a driver flushing its
// queue). stop() returns only once the capture thread is gone.

#include <QImage>

#include <atomic>
#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <thread>
#include <vector>

#include "platform/camera/camera_source.h"

// A test picture as a camera frame (any QImage, converted to RGB32 once).
class TestFrame : public CameraFrame {
public:
    explicit TestFrame(const QImage& Image);
    int width() const override { return m_image.width(); }
    int height() const override { return m_image.height(); }
    void writeRgb32(std::uint8_t* Dst, std::ptrdiff_t BytesPerLine) const override;

private:
    QImage m_image;
};

// A Width x Height RGB32 picture of one colour (0xFFRRGGBB).
QImage solidImage(int Width, int Height, std::uint32_t Color);

class ScriptedCameraSource : public CameraSource {
public:
    using ResolveRule = std::function<TVideoCaptureSetting(TCameraKind, const TVideoCaptureSetting&)>;

    ScriptedCameraSource() = default;
    ~ScriptedCameraSource() override;  // stops the capture thread

    // Each kind (Default too) offers nothing until set.
    void setCaptureSettings(TCameraKind Kind, std::vector<TVideoCaptureSetting> Settings);
    // Which setting the camera takes when asked (by resolveSetting and by
    // start); exactly the one asked for when unset.
    ResolveRule resolveRule;
    // start() fails while set.
    bool failStart = false;
    // With a capture thread, start() launches a thread that delivers Frames
    // (else black and white ones of the started size) over and over until
    // stop() or vanish().
    void setCaptureThread(bool On, std::vector<QImage> Frames = {});
    // Frames the capture thread still delivers after stop() was called,
    // taken at start().
    int lateFrames = 0;

    // Delivers Image to the sink of the last start on the calling thread,
    // also after stop(): late frames must be dropped.
    void deliver(const QImage& Image);
    // isRunning() turns false at once, the capture thread ends by itself;
    // stop() still has to be called.
    void vanish();

    int startCount() const { return m_startCount.load(); }
    int stopCount() const { return m_stopCount.load(); }
    TVideoCaptureSetting lastStartedSetting() const { return m_lastSetting; }
    std::int64_t framesDelivered() const { return m_delivered.load(); }
    // True while a capture thread runs (also a vanished one not yet joined).
    bool threadAlive() const { return m_threadAlive.load(); }
    bool vanished() const { return m_vanished.load(); }

    std::vector<TVideoCaptureSetting> captureSettings(TCameraKind Kind) override;
    TVideoCaptureSetting resolveSetting(TCameraKind Kind, const TVideoCaptureSetting& Wanted) override;
    std::optional<TVideoCaptureSetting> start(TCameraKind Kind, const TVideoCaptureSetting& Setting,
                                              CameraSink& Sink) override;
    void stop() override;
    bool isRunning() const override { return m_running.load(); }

private:
    void run();

    std::map<TCameraKind, std::vector<TVideoCaptureSetting>> m_settings;
    bool m_threaded = false;
    std::vector<QImage> m_threadImages;
    std::vector<TestFrame> m_threadFrames;  // built by start() for the thread

    CameraSink* m_sink = nullptr;
    std::thread m_thread;
    std::atomic<bool> m_running{false};
    std::atomic<bool> m_stopRequested{false};
    std::atomic<bool> m_vanished{false};
    std::atomic<bool> m_threadAlive{false};
    int m_runLateFrames = 0;
    std::atomic<int> m_startCount{0};
    std::atomic<int> m_stopCount{0};
    std::atomic<std::int64_t> m_delivered{0};
    TVideoCaptureSetting m_lastSetting;
};
