#pragma once

// The real main window with its outside things replaced: a scripted camera
// source (installed before the window is built, so its camera component
// takes it), a manual clock for the icon stopwatches and a landscape screen
// of scale 1. The window is destroyed first, then the seams are put back.

#include <QImage>
#include <QPoint>
#include <QWidget>

#include <initializer_list>
#include <memory>
#include <vector>

#include "app/QuorlEye_main_form.h"
#include "platform/camera/camera_component.h"
#include "platform/screen.h"
#include "support/fake_screen_service.h"
#include "support/manual_clock.h"
#include "support/scripted_camera_source.h"

struct WindowRig {
    explicit WindowRig(std::vector<TVideoCaptureSetting> Front, std::vector<TVideoCaptureSetting> Back = {})
        : source(std::make_shared<ScriptedCameraSource>())
    {
        source->setCaptureSettings(TCameraKind::FrontCamera, std::move(Front));
        source->setCaptureSettings(TCameraKind::BackCamera, std::move(Back));
        InstallScreenService(&screen);
        InstallCameraSource(source);
        form = std::make_unique<TQuorlEyeMainForm>(nullptr);
    }

    ~WindowRig()
    {
        form.reset();
        InstallCameraSource(nullptr);
        RestoreDesktopScreenService();
    }

    WindowRig(const WindowRig&) = delete;
    WindowRig& operator=(const WindowRig&) = delete;

    // A hidden window takes the size at once but reports it only when shown:
    // run the resize handler as the shown window would.
    void resizeHidden(int Width, int Height)
    {
        form->SetClientWidth(Width);
        form->SetClientHeight(Height);
        form->FormResize(form.get());
    }

    FakeScreenService screen;
    ManualClock clock;
    std::shared_ptr<ScriptedCameraSource> source;
    std::unique_ptr<TQuorlEyeMainForm> form;
};

// Where a direct child of the window is drawn, in window coordinates.
inline QPoint centreOf(const TControl* Control)
{
    return Control->widget()->geometry().center();
}

// A picture given row by row as 0xRRGGBB colours.
inline QImage pictureOf(std::initializer_list<std::initializer_list<unsigned>> Rows)
{
    const int height = static_cast<int>(Rows.size());
    const int width = height > 0 ? static_cast<int>(Rows.begin()->size()) : 0;
    QImage image(width, height, QImage::Format_RGB32);
    int y = 0;
    for (const auto& row : Rows) {
        int x = 0;
        for (unsigned colour : row)
            image.setPixel(x++, y, 0xFF000000u | colour);
        ++y;
    }
    return image;
}
