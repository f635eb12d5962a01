#include <iostream>
#include <memory>

#include "app/QuorlEye_main_form.h"
#include "app/options.h"
#include "platform/camera/demo_camera_source.h"
#include "platform/camera/v4l2_camera_source.h"

int main(int argc, char** argv)
{
    const ParsedOptions parsed = parseOptions(argc, argv);
    if (!parsed.error.empty()) {
        std::cerr << parsed.error << '\n';
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

    switch (options.kind) {
    case Options::Demo:
        InstallCameraSource(std::make_shared<DemoCameraSource>());
        break;
    case Options::Camera:
        // A machine without a usable camera still opens the window: the
        // source reports why on stderr and offers no capture settings.
        InstallCameraSource(std::make_shared<V4l2CameraSource>());
        break;
    case Options::File:
        std::cerr << "quorl-eye: video files (" << options.file << ") are not supported yet\n";
        return 2;
    }
    return FMXmain(argc, argv);
}
