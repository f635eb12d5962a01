#include "app/camera_choice.h"

#include "platform/camera/pipewire_camera_source.h"

namespace {

// No camera at all: nothing to list, nothing starts.
class NoCameraSource final : public CameraSource {
public:
    std::vector<TVideoCaptureSetting> captureSettings(TCameraKind) override { return {}; }
    TVideoCaptureSetting resolveSetting(TCameraKind, const TVideoCaptureSetting& Wanted) override { return Wanted; }
    std::optional<TVideoCaptureSetting> start(TCameraKind, const TVideoCaptureSetting&, CameraSink&) override
    {
        return std::nullopt;
    }
    void stop() override {}
    bool isRunning() const override { return false; }
};

}  // namespace

std::shared_ptr<CameraSource> chooseCameraSource(Options::SourceKind Kind,
                                                 const std::function<void(const std::string&)>& Report,
                                                 const std::function<std::shared_ptr<CameraSource>()>& OpenV4l2)
{
    if (Kind == Options::V4l2)
        return OpenV4l2();
    std::string Error;
    std::shared_ptr<PipeWireCameraSource> PipeWire = PipeWireCameraSource::connect(Error, Report);
    if (Kind == Options::PipeWire) {
        if (!PipeWire) {
            Report(Error);
            return std::make_shared<NoCameraSource>();
        }
        // A camera plugged in later still shows: the list follows the daemon.
        if (PipeWire->cameraNames().empty())
            Report(noPipeWireCameraMessage());
        return PipeWire;
    }
    if (PipeWire && !PipeWire->cameraNames().empty())
        return PipeWire;
    return OpenV4l2();
}
