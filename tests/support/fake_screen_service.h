#pragma once

// A screen service whose orientation and scale the test sets. Install it
// with InstallScreenService(&fake) and put the desktop one back with
// RestoreDesktopScreenService().

#include "platform/screen.h"

class FakeScreenService final : public IFMXScreenService {
public:
    explicit FakeScreenService(TScreenOrientation Orientation = TScreenOrientation::Landscape, float Scale = 1.0f)
        : orientation(Orientation), scale(Scale)
    {
    }

    TScreenOrientation GetScreenOrientation() override { return orientation; }
    float GetScreenScale() override { return scale; }

    TScreenOrientation orientation;
    float scale;
};
