#include "camera/resolution_catalogue.h"

#include <algorithm>

ResolutionCatalogue buildResolutionCatalogue(const std::vector<TVideoCaptureSetting>& Settings)
{
    ResolutionCatalogue cat;
    cat.Slots.assign(Settings.size(), TVideoCaptureSetting(0, 0, 0.0));
    if (Settings.empty())
        return cat;

    cat.Slots[0] = Settings[0];
    for (const TVideoCaptureSetting& s : Settings) {
        if (s.Height > 1080)
            continue;
        if (s.Width == 640 && s.Height == 480 && s.FrameRate > cat.Default.FrameRate)
            cat.Default = s;
        bool found = false;
        for (int i = 0; i <= cat.LastIndex; ++i) {
            TVideoCaptureSetting& entry = cat.Slots[static_cast<std::size_t>(i)];
            if (entry.Width == s.Width && entry.Height == s.Height) {
                if (entry.FrameRate < s.FrameRate)
                    entry = s;
                found = true;
                break;
            }
        }
        if (!found) {
            ++cat.LastIndex;
            cat.Slots[static_cast<std::size_t>(cat.LastIndex)] = s;
        }
    }
    return cat;
}

std::string resolutionLabel(const TVideoCaptureSetting& Setting)
{
    return "Camera width = " + std::to_string(Setting.Width) + ", height = " + std::to_string(Setting.Height);
}

int trackBarValueToIndex(float Value, int LastIndex)
{
    // Truncation of a float far outside the int range is undefined; clamp
    // the value into the track bar's range first.
    const float v = std::clamp(Value, -1.0f, static_cast<float>(LastIndex) + 1.0f);
    return std::clamp(LastIndex - static_cast<int>(v), 0, LastIndex);
}

int indexToTrackBarPosition(int Index, int LastIndex)
{
    return std::clamp(LastIndex - Index, 0, LastIndex);
}
