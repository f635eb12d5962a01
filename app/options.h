#pragma once

// The command line: which camera source to use, or a request for help or
// the version. Parsing is pure; main() decides what to do with the result.

#include <string>

struct Options {
    enum SourceKind { Camera, Demo, File };
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

std::string helpText();
std::string versionText();
