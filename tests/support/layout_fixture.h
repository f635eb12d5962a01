#pragma once

// The real main window with its outside things replaced: a scripted camera
// source offering one setting on both cameras (installed before the window
// is built, so its camera component takes it), a manual clock for the icon
// stopwatches and a landscape screen of scale 1. The window goes first,
// then the seams are put back.

#include <QTest>

#include <memory>

#include "app/QuorlEye_main_form.h"
#include "platform/camera/camera_component.h"
#include "platform/screen.h"
#include "support/fake_screen_service.h"
#include "support/manual_clock.h"
#include "support/scripted_camera_source.h"

struct WindowRig {
    explicit WindowRig(TVideoCaptureSetting Both = {640, 480, 30.0}) : source(std::make_shared<ScriptedCameraSource>())
    {
        source->setCaptureSettings(TCameraKind::FrontCamera, {Both});
        source->setCaptureSettings(TCameraKind::BackCamera, {Both});
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

    // A hidden window takes the size at once but reports it only when shown:
    // run the resize handler as the shown window would.
    void resizeHidden(int Width, int Height)
    {
        form->SetClientWidth(Width);
        form->SetClientHeight(Height);
        form->FormResize(form.get());
    }

    bool show(int Width, int Height)
    {
        resizeHidden(Width, Height);
        form->Show();
        return QTest::qWaitForWindowExposed(form->widget());
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
