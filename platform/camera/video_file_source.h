#pragma once

// VideoFileSource: a video file played in a loop as the camera.
//
// The file is opened and probed before the program shows its window, so a
// file that cannot be played is refused with one line the user can act on.
// It offers a single capture setting, the file's picture size and frame rate,
// for every kind of camera. While running, a thread of its own decodes the
// pictures, hands them to the sink at the file's frame rate on a steady-clock
// schedule, and starts again from the beginning at the end of the file.

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "platform/camera/camera_source.h"

class VideoFileSource final : public CameraSource {
public:
    // Opens Path and decodes its first picture. On failure returns nothing
    // and sets Error to one line such as
    //   quorl-eye: cannot open video file 'x.mp4': No such file or directory
    static std::unique_ptr<VideoFileSource> open(const std::string& Path, std::string& Error);
    ~VideoFileSource() override;

    VideoFileSource(const VideoFileSource&) = delete;
    VideoFileSource& operator=(const VideoFileSource&) = delete;

    // The file's one setting.
    const TVideoCaptureSetting& setting() const { return m_setting; }

    std::vector<TVideoCaptureSetting> captureSettings(TCameraKind Kind) override;
    TVideoCaptureSetting resolveSetting(TCameraKind Kind, const TVideoCaptureSetting& Wanted) override;
    std::optional<TVideoCaptureSetting> start(TCameraKind Kind, const TVideoCaptureSetting& Setting,
                                              CameraSink& Sink) override;
    void stop() override;
    bool isRunning() const override;

private:
    class Decoder;
    explicit VideoFileSource(std::unique_ptr<Decoder> Decoder);

    void run(CameraSink& Sink);
    // Waits until Due; false when stop() asked the thread to end meanwhile.
    bool waitUntil(std::chrono::steady_clock::time_point Due);

    std::unique_ptr<Decoder> m_decoder;
    TVideoCaptureSetting m_setting;
    std::chrono::steady_clock::duration m_period{};

    std::thread m_thread;
    std::mutex m_mutex;
    std::condition_variable m_wake;
    bool m_stopRequested = false;  // guarded by m_mutex
    std::atomic<bool> m_running{false};
};

// The frame rate a file announces: its average rate when that is known and
// sane, else its base rate, else 25 frames a second. Rates are fractions as
// the container stores them (0/0 or x/0 when unknown).
double videoFrameRate(int AverageNum, int AverageDen, int BaseNum, int BaseDen);

// When the frame after the one due at Due should be shown, given that the
// delivery of that frame ended at Now. The schedule keeps the file's rate
// without drift; a sink slower than the rate pushes it back, so frames are
// late rather than delivered in a burst to catch up.
std::chrono::steady_clock::time_point nextFrameDue(std::chrono::steady_clock::time_point Due,
                                                   std::chrono::steady_clock::time_point Now,
                                                   std::chrono::steady_clock::duration Period);
