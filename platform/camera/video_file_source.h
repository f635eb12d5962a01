#pragma once

// VideoFileSource: a video file played in a loop as the camera.
//
// The file is opened and probed before the program shows its window, so a
// file that cannot be played is refused with one line the user can act on.
// It offers a single capture setting, the file's picture size (turned upright
// when the file says it is rotated) and frame rate, for every kind of camera.
// While running, a thread of its own decodes the pictures, hands them to the
// sink paced by their time stamps on a steady-clock schedule, and starts
// again from the first picture at the end of the file. A still image is a
// camera delivering the same picture at a steady rate. A file that can no
// longer be decoded stops the source, as an unplugged camera does, with one
// line on stderr.

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "platform/camera/camera_source.h"

class VideoFileSource final : public CameraSource {
public:
    // Receives the line told when a playing file stops by itself; the
    // default prints it to stderr.
    using MessageHandler = std::function<void(const std::string&)>;

    // Opens Path and decodes its first picture. On failure returns nothing
    // and sets Error to one line such as
    //   quorl-eye: cannot open video file 'x.mp4': No such file or directory
    static std::unique_ptr<VideoFileSource> open(const std::string& Path, std::string& Error,
                                                 MessageHandler Report = {});
    ~VideoFileSource() override;

    VideoFileSource(const VideoFileSource&) = delete;
    VideoFileSource& operator=(const VideoFileSource&) = delete;

    // The file's one setting.
    const TVideoCaptureSetting& setting() const { return m_setting; }
    // The clockwise quarter turn (0, 90, 180, 270) that shows it upright.
    int rotation() const;

    std::vector<TVideoCaptureSetting> captureSettings(TCameraKind Kind) override;
    TVideoCaptureSetting resolveSetting(TCameraKind Kind, const TVideoCaptureSetting& Wanted) override;
    std::optional<TVideoCaptureSetting> start(TCameraKind Kind, const TVideoCaptureSetting& Setting,
                                              CameraSink& Sink) override;
    void stop() override;
    bool isRunning() const override;

    // false: pictures go to the sink as fast as it takes them (the fuzz
    // driver runs through files this way). Only while stopped.
    void setPaced(bool Paced) { m_paced = Paced; }

private:
    class Decoder;
    VideoFileSource(std::unique_ptr<Decoder> Decoder, std::string Path, MessageHandler Report);

    void run(CameraSink& Sink);
    // Waits until Due; false when stop() asked the thread to end meanwhile.
    bool waitUntil(std::chrono::steady_clock::time_point Due);

    std::unique_ptr<Decoder> m_decoder;
    TVideoCaptureSetting m_setting;
    std::chrono::steady_clock::duration m_period{};
    std::string m_path;
    MessageHandler m_report;
    bool m_paced = true;

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

// How long a picture is shown before the next one: the gap between their
// time stamps (seconds), or Nominal when either is unknown (NaN), the stamps
// go backwards or stand still (the loop starts again, a broken file), or
// they are more than an hour apart.
std::chrono::steady_clock::duration videoFrameInterval(double Previous, double Next,
                                                       std::chrono::steady_clock::duration Nominal);

// The steps of opening a file, and the reason told when one fails with
// FFmpeg's error code AvError (0: none); Codec names the video codec from
// FindDecoder on. The reasons are the user's: what is wrong with the file,
// never an error text that means something else.
enum class VideoOpenStep { OpenFile, ReadStreams, FindDecoder, OpenDecoder, DecodePicture, ConvertPicture };
std::string videoOpenFailure(VideoOpenStep Step, int AvError, const std::string& Codec);

// When the frame after the one due at Due should be shown, Period later,
// given that the delivery of that frame ended at Now. The schedule keeps the
// file's pace without drift; a sink slower than the rate pushes it back, so frames are
// late rather than delivered in a burst to catch up.
std::chrono::steady_clock::time_point nextFrameDue(std::chrono::steady_clock::time_point Due,
                                                   std::chrono::steady_clock::time_point Now,
                                                   std::chrono::steady_clock::duration Period);
