#include "platform/screen.h"

#include <QGuiApplication>
#include <QScreen>

namespace {

// The screen of a desktop: cameras deliver upright frames whatever the
// monitor's rotation, so the program always works in landscape.
class DesktopScreenService final : public IFMXScreenService {
public:
    TScreenOrientation GetScreenOrientation() override { return TScreenOrientation::Landscape; }

    // Logical to physical pixels. The program divides by this value, so it
    // must never be 0: without a screen (or before the application exists)
    // it is 1.
    float GetScreenScale() override
    {
        const QScreen* screen = qGuiApp ? QGuiApplication::primaryScreen() : nullptr;
        const qreal ratio = screen ? screen->devicePixelRatio() : 1.0;
        return ratio > 0.0 ? static_cast<float>(ratio) : 1.0f;
    }
};

DesktopScreenService g_desktopService;
IFMXScreenService* g_service = &g_desktopService;

}  // namespace

IFMXScreenService* ScreenService()
{
    return g_service;
}

void InstallScreenService(IFMXScreenService* Service)
{
    g_service = Service;
}

void RestoreDesktopScreenService()
{
    g_service = &g_desktopService;
}
