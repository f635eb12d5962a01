#pragma once

// Two synthetic cameras that work on any machine. The front camera looks at
// a room (brick wall, a poster, a window) with a bouncing ball and a swinging
// pendulum; the back camera at a street (sky, a house front with lit
// windows, a shop sign, a tiled pavement) with a walking figure, a turning
// fan and a flying bird. Both add a little sensor noise, so a still scene is
// almost, but not quite, black in the motion picture.
//
// Frames are paced in real time at the setting's frame rate. The scene's
// clock is the steady clock, so the motion is equally smooth at any rate and
// goes on where it was after a restart.

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "platform/camera/camera_source.h"

// The offered setting a camera with Offered takes when asked for Wanted: the
// one of the same size with the nearest frame rate, otherwise the one of the
// nearest area (the first listed on a tie). Wanted itself when Offered is
// empty.
TVideoCaptureSetting nearestOfferedSetting(const std::vector<TVideoCaptureSetting>& Offered,
                                           const TVideoCaptureSetting& Wanted);

// One camera's picture at one size. The still background is drawn once,
// here; render copies it and draws the moving things and the noise on top.
class DemoScene {
public:
    DemoScene(TCameraKind Kind, int Width, int Height);

    TCameraKind kind() const { return m_kind; }
    int width() const { return m_width; }
    int height() const { return m_height; }

    // Writes the picture at Seconds of scene time as RGB32 into Dst
    // (height() rows of width() pixels, BytesPerLine apart). FrameNumber
    // seeds the noise.
    void render(std::uint8_t* Dst, std::ptrdiff_t BytesPerLine, double Seconds, std::uint32_t FrameNumber) const;

private:
    TCameraKind m_kind;
    int m_width;
    int m_height;
    std::vector<std::uint32_t> m_background;  // width x height, 0xFFRRGGBB
};

class DemoCameraSource : public CameraSource {
public:
    DemoCameraSource();
    ~DemoCameraSource() override;  // stops

    // Front (and Default) and back offer different lists, in camera order.
    static std::vector<TVideoCaptureSetting> offeredSettings(TCameraKind Kind);

    std::vector<TVideoCaptureSetting> captureSettings(TCameraKind Kind) override;
    TVideoCaptureSetting resolveSetting(TCameraKind Kind, const TVideoCaptureSetting& Wanted) override;
    std::optional<TVideoCaptureSetting> start(TCameraKind Kind, const TVideoCaptureSetting& Setting,
                                              CameraSink& Sink) override;
    void stop() override;
    bool isRunning() const override { return m_running.load(); }

private:
    void run(TCameraKind Kind, TVideoCaptureSetting Setting, CameraSink* Sink);

    const std::chrono::steady_clock::time_point m_epoch;  // scene time 0
    std::thread m_thread;
    std::mutex m_mutex;
    std::condition_variable m_wake;
    bool m_stopRequested = false;  // guarded by m_mutex
    std::atomic<bool> m_running{false};
    // The last scene drawn, reused when a run asks for the same camera and
    // size again. Only the capture thread touches it.
    std::shared_ptr<const DemoScene> m_scene;
};
