#include <cstdlib>
#include <iostream>
#include <memory>

#include "app/QuorlEye_main_form.h"
#include "app/camera_choice.h"
#include "app/options.h"
#include "platform/camera/demo_camera_source.h"
#include "platform/camera/v4l2_camera_source.h"
#include "platform/camera/video_file_source.h"
#include "platform/frame_stats.h"
#include "platform/session.h"

int main(int argc, char** argv)
{
    const ParsedOptions parsed = parseOptions(argc, argv);
    if (!parsed.error.empty()) {
        std::cerr << terminalLine(parsed.error) << '\n';
        return 2;
    }
    const Options& options = parsed.options;
    if (options.help) {
        std::cout << helpText();
        return 0;
    }
    if (options.version) {
        std::cout << versionText();
        return 0;
    }

    const std::string NoDisplay =
        noDisplayMessage(std::getenv("QT_QPA_PLATFORM"), std::getenv("DISPLAY"),
                                                    std::getenv("WAYLAND_DISPLAY"), displayAnswers);
    if (!NoDisplay.empty()) {
        std::cerr << NoDisplay << '\n';
        return 2;
    }

    switch (options.kind) {
    case Options::Demo:
        InstallCameraSource(std::make_shared<DemoCameraSource>());
        break;
    case Options::Camera:
    case Options::PipeWire:
    case Options::V4l2:
        // A machine without a usable camera still opens the window: the
        // source reports why on stderr and offers no capture settings.
        InstallCameraSource(chooseCameraSource(
            options.kind, [](const std::string& Line) { std::cerr << Line << '\n'; },
            [] { return std::make_shared<V4l2CameraSource>(); }));
        break;
    case Options::File: {
        // The file is opened and its first picture decoded before any window
        // opens, so a file that cannot be played ends the program here.
        std::string error;
        std::shared_ptr<CameraSource> file = VideoFileSource::open(options.file, error);
        if (!file) {
            std::cerr << terminalLine(error) << '\n';
            return 2;
        }
        InstallCameraSource(std::move(file));
        break;
    }
    }
    if (options.stats)
        FrameStats::enable();
    const int code = FMXmain(argc, argv);
    FrameStats::finish();
    return code;
}
