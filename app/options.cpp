#include "app/options.h"

#include <algorithm>
#include <string_view>

namespace {

const std::string kProgram = "quorl-eye";

std::string errorLine(const std::string& What)
{
    return kProgram + ": " + What + " (see --help)";
}

}  // namespace

ParsedOptions parseOptions(int argc, const char* const* argv)
{
    ParsedOptions result;
    Options& options = result.options;
    for (int i = 1; i < argc; ++i) {
        const std::string_view arg = argv[i];
        if (arg == "--help" || arg == "-h") {
            options.help = true;
            return result;
        }
        if (arg == "--version") {
            options.version = true;
            return result;
        }

        if (arg == "--stats") {
            options.stats = true;
            continue;
        }

        std::string_view value;
        if (arg == "--source") {
            // A following option is a forgotten value, not a file name
            // (a file really called "-x" can be given as ./-x).
            if (i + 1 >= argc || (argv[i + 1][0] == '-' && argv[i + 1][1] != '\0')) {
                result.error = errorLine("option '--source' needs a value: camera, pipewire, v4l2, demo or a video file");
                return result;
            }
            value = argv[++i];
        } else if (arg.starts_with("--source=")) {
            value = arg.substr(std::string_view("--source=").size());
            if (value.empty()) {
                result.error = errorLine("option '--source' needs a value: camera, pipewire, v4l2, demo or a video file");
                return result;
            }
        } else if (arg.starts_with("-") && arg != "-") {
            result.error = errorLine("unknown option '" + std::string(arg) + "'");
            return result;
        } else {
            result.error = errorLine("unexpected argument '" + std::string(arg) + "'");
            return result;
        }

        // The last --source wins.
        if (value == "camera") {
            options.kind = Options::Camera;
            options.file.clear();
        } else if (value == "pipewire") {
            options.kind = Options::PipeWire;
            options.file.clear();
        } else if (value == "v4l2") {
            options.kind = Options::V4l2;
            options.file.clear();
        } else if (value == "demo") {
            options.kind = Options::Demo;
            options.file.clear();
        } else {
            options.kind = Options::File;
            options.file = std::string(value);
        }
    }
    return result;
}

std::string terminalLine(const std::string& Line)
{
    static const char Hex[] = "0123456789abcdef";
    std::string Out;
    for (const char C : Line) {
        const auto Byte = static_cast<unsigned char>(C);
        if (C == '\n')
            Out += "\\n";
        else if (C == '\t')
            Out += "\\t";
        else if (Byte < 0x20 || Byte == 0x7F)
            Out += {'\\', 'x', Hex[Byte >> 4], Hex[Byte & 15]};
        else
            Out += C;
    }
    return Out;
}

std::string helpText()
{
    return "Usage: quorl-eye [--source camera|pipewire|v4l2|demo|FILE] [--stats]\n"
           "\n"
           "Shows the live camera picture the way an animal whose eyes register only\n"
           "movement sees it: whatever stands still turns black.\n"
           "\n"
           "Options:\n"
           "  --source camera   the computer's cameras (default): through PipeWire when\n"
           "                    a PipeWire daemon answers and offers a camera, else the\n"
           "                    /dev/video* devices; the first camera is the front\n"
           "                    camera, the second the back camera\n"
           "  --source pipewire\n"
           "                    only the cameras PipeWire offers, in the order of their\n"
           "                    node names\n"
           "  --source v4l2     only the /dev/video* devices, in the order of their names\n"
           "  --source demo     two built-in synthetic cameras; needs no webcam\n"
           "  --source FILE     a video file, played in a loop, as the camera\n"
           "  --stats           once a second, frames delivered, processed and painted\n"
           "                    and the time of each stage, on standard error\n"
           "  -h, --help        show this help and exit\n"
           "  --version         show the version and exit\n";
}

std::string versionText()
{
    // The program's name as its about panel shows it, "Quorl Eye Vision
    // v.1.0", with the project version given by the build (CMakeLists.txt).
    return "Quorl Eye Vision v." QUORL_EYE_VERSION "\n";
}

std::string noDisplayMessage(const char* QpaPlatform, const char* Display, const char* WaylandDisplay,
                             const DisplayProbe& Answers)
{
    auto value = [](const char* V) { return std::string(V ? V : ""); };
    const std::string platforms = value(QpaPlatform), x11 = value(Display), wayland = value(WaylandDisplay);
    bool useX11 = platforms.empty(), useWayland = platforms.empty();
    // "wayland;xcb", "xcb:no_grab_server": names before their options.
    for (std::size_t from = 0; from < platforms.size();) {
        std::size_t end = platforms.find(';', from);
        end = end == std::string::npos ? platforms.size() : end;
        const std::string name = platforms.substr(from, std::min(platforms.find(':', from), end) - from);
        if (name == "xcb")
            useX11 = true;
        else if (name.starts_with("wayland"))
            useWayland = true;
        else if (!name.empty())
            return {};  // a platform that finds its screen its own way
        from = end + 1;
    }
    const std::string waylandName = wayland.empty() && !platforms.empty() ? "wayland-0" : wayland;
    const bool tryX11 = useX11 && !x11.empty(), tryWayland = useWayland && !waylandName.empty();
    if (!tryX11 && !tryWayland) {
        if (useX11 && useWayland)
            return kProgram + ": no display to open the window on (neither DISPLAY nor WAYLAND_DISPLAY is set)";
        return kProgram + ": no display to open the window on (DISPLAY is not set)";
    }
    if ((tryX11 && Answers(DisplayKind::X11, x11)) || (tryWayland && Answers(DisplayKind::Wayland, waylandName)))
        return {};
    const std::string xPart = "DISPLAY '" + terminalLine(x11) + "'";
    const std::string waylandPart = "WAYLAND_DISPLAY '" + terminalLine(waylandName) + "'";
    return kProgram + ": no display to open the window on (" +
           (tryX11 && tryWayland ? "neither " + xPart + " nor " + waylandPart + " answers"
                                 : (tryX11 ? xPart : waylandPart) + " does not answer") +
           ")";
}
