#pragma once

// The real window over a scripted camera and a clock driven by hand, and
// the ways a user reaches it: presses on the icons through the wired
// handlers or through Qt's event system (real visibility and hit testing),
// taps on the picture and timer ticks.
//
// The window's timers are cut off from their real ticks: a test calls the
// tick handlers itself, so a slow machine never slips in an extra one.
// Enabled() still shows whether a timer runs.

#include <QRegularExpression>
#include <QTest>
#include <QWidget>

#include <functional>
#include <memory>
#include <vector>

#include "app/QuorlEye_main_form.h"
#include "platform/screen.h"
#include "support/fake_screen_service.h"
#include "support/manual_clock.h"
#include "support/scripted_camera_source.h"

using Settings = std::vector<TVideoCaptureSetting>;

inline TVideoCaptureSetting mode(int Width, int Height, double Fps) { return TVideoCaptureSetting(Width, Height, Fps); }

// Catalogue 1280x720@30, 640x480@30, 320x240@30, 1920x1080@30; the track
// bar runs backwards over it (position p shows entry 3 - p), so the
// 640x480 default sits at position 2.
inline const Settings FrontSettings = {mode(1280, 720, 30), mode(640, 480, 15), mode(640, 480, 30),
                                       mode(320, 240, 30), mode(1920, 1080, 30)};

class CameraFixture {
public:
    // Script runs before the window is built, so it sees the first listing.
    explicit CameraFixture(Settings Front, Settings Back = {},
                           const std::function<void(ScriptedCameraSource&)>& Script = {})
    {
        source->setCaptureSettings(TCameraKind::FrontCamera, std::move(Front));
        source->setCaptureSettings(TCameraKind::BackCamera, std::move(Back));
        if (Script)
            Script(*source);
        build(source);
    }
    // The window over another source (V4L2 cameras over fake devices...).
    explicit CameraFixture(std::shared_ptr<CameraSource> Other) { build(std::move(Other)); }
private:
    void build(std::shared_ptr<CameraSource> Installed)
    {
        InstallScreenService(&screen);
        InstallCameraSource(std::move(Installed));
        form = std::make_unique<TQuorlEyeMainForm>(nullptr);
        for (TTimer* t : {form->ButtonsVisibleTimer, form->ExitCameraTimer, form->WarningTimer,
                          form->PermissionsChangedTimer})
            t->OnTimer = nullptr;
    }
public:
    ~CameraFixture()
    {
        form.reset();
        InstallCameraSource(nullptr);
        RestoreDesktopScreenService();
    }

    TQuorlEyeMainForm& f() { return *form; }

    // Shown and active, as a window just opened: keys go to it.
    bool show()
    {
        form->Show();
        form->widget()->activateWindow();
        return QTest::qWaitForWindowExposed(form->widget()) && QTest::qWaitForWindowActive(form->widget());
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
        return show();
    }

    bool shows(TRectangle* Icon, const char* Key) const
    {
        const TBitmap* image = form->ImageBook->FindImage(Key);
        return image && Icon->Fill().Bitmap().image() == image->image();
    }

    // A press held HeldMs, its release and the click, through the wired handlers.
    void press(TRectangle* Icon, int HeldMs = 0)
    {
        Icon->OnMouseDown(Icon, TMouseButton::mbLeft, 0, 1.0f, 1.0f);
        clock.advance(HeldMs);
        Icon->OnMouseUp(Icon, TMouseButton::mbLeft, 0, 1.0f, 1.0f);
        Icon->OnClick(Icon);
    }
    // An ordinary click, far enough from the previous one to be taken.
    void click(TRectangle* Icon)
    {
        clock.advance(500);
        press(Icon);
    }
    // The same through Qt, at the centre of C as the window shows it.
    void qtPress(TControl* C, int HeldMs = 0)
    {
        const QPoint at = windowPoint(C);
        QTest::mousePress(form->widget(), Qt::LeftButton, {}, at);
        clock.advance(HeldMs);
        QTest::mouseRelease(form->widget(), Qt::LeftButton, {}, at);
    }
    QPoint windowPoint(TControl* C) const { return C->widget()->mapTo(form->widget(), C->widget()->rect().center()); }
    // A tap on the picture where no tool or panel lies.
    void qtTapPicture() { QTest::mouseClick(form->widget(), Qt::LeftButton, {}, QPoint(4, 4)); }

    void toolTicks(int N) { while (N-- > 0) form->ButtonsVisibleTimerTimer(nullptr); }
    void exitTicks(int N) { while (N-- > 0) form->ExitCameraTimerTimer(nullptr); }
    // The settings icon, with the tools brought back first.
    void openSettings()
    {
        form->OutputRectangleClick(nullptr);
        click(form->SettingsIconRectangle);
    }
    // The settings panel as the user reads it, "<label> @ <thumb>/<max>", a
    // label of the exact form "Camera width = W, height = H" shown as WxH.
    QString trackBar() const
    {
        QString label = QString::fromStdString(form->CameraResolutionsLabel->Text());
        label.replace(QRegularExpression("^Camera width = (\\d+), height = (\\d+)$"), "\\1x\\2");
        const TTrackBar* bar = form->CameraResolutionsTrackBar;
        return label + QString(" @ %1/%2").arg(bar->Value()).arg(bar->Max());
    }
    void dragTrackBar(float Value)
    {
        form->CameraResolutionsTrackBar->userTrack(Value);
        form->CameraResolutionsTrackBar->userRelease();
    }

    FakeScreenService screen;  // landscape, scale 1
    ManualClock clock;         // before the window, so its stopwatches read it
    std::shared_ptr<ScriptedCameraSource> source = std::make_shared<ScriptedCameraSource>();
    std::unique_ptr<TQuorlEyeMainForm> form;
};

// The window over one capture setting offered by both cameras.
struct WindowRig : CameraFixture {
    explicit WindowRig(TVideoCaptureSetting Both = {640, 480, 30.0}) : CameraFixture({Both}, {Both}) {}
};

// Where a control is drawn, in the coordinates of its parent.
inline QPoint centreOf(const TControl* Control) { return Control->widget()->geometry().center(); }

// QCOMPARE prints settings readably (found by argument-dependent lookup).
inline char* toString(const TVideoCaptureSetting& S) { return qstrdup(settingText(S).c_str()); }
