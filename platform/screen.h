#pragma once

// The screen service: orientation and scale of the screen the window is on.
// Desktop cameras never rotate their frames, so the desktop service reports
// landscape. Tests install a fake to reach the portrait branch.

enum class TScreenOrientation { Portrait, Landscape, InvertedPortrait, InvertedLandscape };

class IFMXScreenService {
public:
    virtual ~IFMXScreenService() = default;
    virtual TScreenOrientation GetScreenOrientation() = 0;
    virtual float GetScreenScale() = 0;
};

// The installed screen service, or nullptr where the platform has none.
IFMXScreenService* ScreenService();
// Installs a service (tests); nullptr means the platform has none. Without a
// call the desktop service is used.
void InstallScreenService(IFMXScreenService* Service);
void RestoreDesktopScreenService();
