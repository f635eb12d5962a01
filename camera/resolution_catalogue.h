#pragma once

// The catalogue of capture resolutions the user can choose from: one entry
// per distinct width x height (no taller than 1080 rows, except a first
// listed setting, which always becomes entry 0), each the first listed
// setting of that size with the highest frame rate; and the 640 x 480
// default at its best frame rate.

#include <string>
#include <vector>

#include "platform/camera/capture_setting.h"

struct ResolutionCatalogue {
    // As many slots as settings; slots 0..LastIndex hold the entries, the
    // rest are zero.
    std::vector<TVideoCaptureSetting> Slots;
    int LastIndex = 0;
    // 640 x 480; frame rate 0 when no 640 x 480 setting above 0 fps exists.
    TVideoCaptureSetting Default{640, 480, 0.0};
};

ResolutionCatalogue buildResolutionCatalogue(const std::vector<TVideoCaptureSetting>& Settings);

// "Camera width = 640, height = 480"
std::string resolutionLabel(const TVideoCaptureSetting& Setting);

// The track bar runs backwards along the catalogue: position p shows entry
// LastIndex - p. Value is truncated toward zero; results are clamped to
// 0..LastIndex.
int trackBarValueToIndex(float Value, int LastIndex);
int indexToTrackBarPosition(int Index, int LastIndex);
