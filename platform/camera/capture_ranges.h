#pragma once

// Cameras that describe their sizes or frame intervals as a range (a
// stepwise or continuous V4L2 range, a PipeWire range) instead of a list.
// A range would offer thousands of settings the camera merely tolerates, so
// it is turned into the usual standard sizes and rates that lie inside it
// and fit its step.
//
// Standard sizes: 160x120, 176x144, 320x240, 352x288, 640x360, 640x480,
// 800x600, 960x540, 1024x768, 1280x720, 1280x960, 1280x1024, 1600x1200,
// 1920x1080, 2560x1440, 3840x2160.
// Standard rates: 5, 10, 15, 20, 24, 25, 30, 50, 60 frames per second.

#include <cstdint>
#include <utility>
#include <vector>

struct FrameSizeRange {
    int MinWidth = 0, MaxWidth = 0, StepWidth = 1;
    int MinHeight = 0, MaxHeight = 0, StepHeight = 1;  // a step of 0 counts as 1
};

// A frame interval as a fraction of a second (V4L2's v4l2_fract).
struct IntervalFraction {
    std::uint32_t Numerator = 0;
    std::uint32_t Denominator = 0;
};

// Min is the shortest interval (the fastest rate). A zero Step means
// continuous: pass zero for V4L2_FRMIVAL_TYPE_CONTINUOUS, whose step field
// says 1. A rate range that starts at 0 (no longest interval) is passed with
// Max = 1/1.
struct FrameIntervalRange {
    IntervalFraction Min, Max, Step;
};

// The standard sizes inside Range that fit its step, smallest first. When
// none does, the largest size of the range that is on its step, so a camera
// with an odd range still offers something it can deliver. Empty for an
// empty or inverted range.
std::vector<std::pair<int, int>> standardSizesInRange(const FrameSizeRange& Range);

// The standard rates whose interval lies inside Range and fits its step,
// fastest first. When none does, the fastest rate of the range alone. Empty
// for an invalid range (a zero denominator, Min longer than Max).
std::vector<double> standardRatesInRange(const FrameIntervalRange& Range);
