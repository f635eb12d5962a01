#pragma once

// Cameras through the PipeWire daemon, as desktop camera programs reach
// them today: WirePlumber publishes every webcam (and the cameras libcamera
// drives) as a node.
//
// The cameras are the Video/Source nodes whose media.role is Camera, in the
// order of their node.name (the name is made from where the camera sits, so
// the order holds from one run to the next): the first is the front camera,
// the second the back camera. The list follows the daemon: every listing
// asks it again, so a camera plugged in or pulled out shows at the next one.
//
// A camera's capture settings come from its EnumFormat params: every size it
// offers with each of its frame rates, in the camera's own order, in the
// formats we convert (YUY2, NV12, I420, RGBx, BGRx, RGB, BGR, MJPG). A
// setting two formats offer is taken in the cheaper and cleaner one:
// uncompressed before MJPEG (JPEG artefacts change from frame to frame and
// would show as false motion). A size or rate given as a range becomes the
// standard sizes and rates inside it (capture_ranges.h).
//
// start() connects one stream to the camera's node (found by node.name, set
// never to be moved to another node) with a fixed format, size and rate;
// frames are delivered on a thread of the source's own, converted straight
// from PipeWire's buffer. stop() disconnects it and the camera goes idle. A
// camera that sends nothing within the first-frame timeout (3 s), that goes
// away, or whose daemon goes away, stops by itself with one line on stderr.

#include <atomic>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "platform/camera/camera_source.h"

class PipeWireConnection;

// The lines a user can act on, without the newline.
std::string noPipeWireMessage(const std::string& Why);
std::string noPipeWireCameraMessage();
std::string noPictureMessage(const std::string& Camera);
std::string cameraGoneMessage(const std::string& Camera);
std::string cameraFailedMessage(const std::string& Camera, const std::string& Error);
std::string pipeWireGoneMessage();

class PipeWireCameraSource final : public CameraSource {
public:
    using MessageHandler = std::function<void(const std::string&)>;

    // Connects to the daemon; null, with Error set to noPipeWireMessage(),
    // when none answers.
    static std::shared_ptr<PipeWireCameraSource> connect(std::string& Error, MessageHandler Report = {},
                                                         int FirstFrameTimeoutMs = 3000);
    ~PipeWireCameraSource() override;
    PipeWireCameraSource(const PipeWireCameraSource&) = delete;
    PipeWireCameraSource& operator=(const PipeWireCameraSource&) = delete;

    // The node.name of every camera now, front first.
    std::vector<std::string> cameraNames();

    std::vector<TVideoCaptureSetting> captureSettings(TCameraKind Kind) override;
    TVideoCaptureSetting resolveSetting(TCameraKind Kind, const TVideoCaptureSetting& Wanted) override;
    std::optional<TVideoCaptureSetting> start(TCameraKind Kind, const TVideoCaptureSetting& Setting,
                                              CameraSink& Sink) override;
    void stop() override;
    bool isRunning() const override;

    // A capture setting and the format to ask the camera for to get it.
    struct Offer {
        TVideoCaptureSetting Setting;
        std::uint32_t Format = 0;      // an SPA video format, or 0 for MJPEG
        std::uint32_t RateNum = 0;     // the rate as the camera gave it
        std::uint32_t RateDenom = 1;
        int Rank = 0;                  // lower is preferred for the same setting
    };
    struct Camera {
        std::uint32_t Id = 0;
        std::uint64_t Serial = 0;
        std::string Name;         // node.name
        std::string Description;  // node.description, for messages
    };
    struct Capture;

private:
    PipeWireCameraSource(std::unique_ptr<PipeWireConnection> Connection, MessageHandler Report, int TimeoutMs);
    std::vector<Camera> cameras();  // lock held
    const Camera* camera(const std::vector<Camera>& All, TCameraKind Kind) const;
    const std::vector<Offer>& offers(const Camera& C);  // lock held
    void captureLoop(Capture& C);
    void endCapture(Capture& C, const std::string& Line);

    std::unique_ptr<PipeWireConnection> m_connection;
    MessageHandler m_report;
    int m_firstFrameTimeoutMs;
    int m_listener = 0;
    std::map<std::uint64_t, std::vector<Offer>> m_offers;  // by object.serial
    std::unique_ptr<Capture> m_capture;
    std::atomic<bool> m_running{false};
};
