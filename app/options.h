#pragma once

// The command line: which camera source to use, or a request for help or
// the version. Parsing is pure; main() decides what to do with the result.

#include <functional>
#include <string>

#include "platform/session.h"

struct Options {
    enum SourceKind { Camera, PipeWire, V4l2, Demo, File };
    SourceKind kind = Camera;
    std::string file;  // the video file, for File
    bool help = false;
    bool version = false;
    bool stats = false;  // --stats: per-second frame figures on stderr
};

struct ParsedOptions {
    Options options;
    // One line for stderr when the command line is wrong; empty when it is
    // fine.
    std::string error;
};

// argv[0] is the program itself. --help, -h and --version end the parsing:
// whatever follows them is not looked at.
ParsedOptions parseOptions(int argc, const char* const* argv);

// Line as printed on a terminal: control characters (a line break in a file
// name, say) are written as \n, \t or \xHH, so a message stays one line.
std::string terminalLine(const std::string& Line);

std::string helpText();
std::string versionText();

// Whether a display answers: displayAnswers, or a table in the tests.
using DisplayProbe = std::function<bool(DisplayKind, const std::string& Name)>;

// The line for stderr when there is no display to open the window on, told
// before Qt, which would abort with advice to reinstall it. Qt's default
// platforms need DISPLAY (X11) or WAYLAND_DISPLAY, one of them answering;
// a QT_QPA_PLATFORM of its own (offscreen, eglfs...) needs neither, "xcb"
// only the X display, "wayland" only the Wayland one ("wayland-0" when
// unset), a list such as "wayland;xcb" any one of those. Empty when there
// is nothing to say; unset and empty variables are alike.
std::string noDisplayMessage(const char* QpaPlatform, const char* Display, const char* WaylandDisplay,
                             const DisplayProbe& Answers);
