#pragma once

// The real window over a scripted camera and a clock driven by hand, and
// the ways a user reaches it: presses and clicks on the icons (through the
// wired handlers, in the order the framework calls them, or through Qt's
// event system with real hit testing), taps on the picture and timer ticks.
//
// The window's timers are cut off from their real ticks: a test calls the
// tick handlers itself, so that a slow machine never slips in an extra one
// while Qt processes events. Enabled() still shows whether a timer runs.

#include <QTest>
#include <QWidget>

#include <functional>
#include <initializer_list>
#include <memory>
#include <vector>

#include "app/QuorlEye_main_form.h"
#include "support/manual_clock.h"
#include "support/scripted_camera_source.h"

class CameraFixture {
public:
    explicit CameraFixture(std::vector<TVideoCaptureSetting> Front, std::vector<TVideoCaptureSetting> Back = {},
                           const std::function<void(ScriptedCameraSource&)>& Script = {})
    {
        source->setCaptureSettings(TCameraKind::FrontCamera, std::move(Front));
        source->setCaptureSettings(TCameraKind::BackCamera, std::move(Back));
        if (Script)
            Script(*source);
        InstallCameraSource(source);
        form = std::make_unique<TQuorlEyeMainForm>(nullptr);
        for (TTimer* t : {form->ButtonsVisibleTimer, form->ExitCameraTimer, form->WarningTimer,
                          form->PermissionsChangedTimer})
            t->OnTimer = nullptr;
    }

    ~CameraFixture()
    {
        form.reset();
        InstallCameraSource(nullptr);
    }

    CameraFixture(const CameraFixture&) = delete;
    CameraFixture& operator=(const CameraFixture&) = delete;

    TQuorlEyeMainForm& f() { return *form; }

    // Shows the window (which lays it out); false if it never got exposed.
    bool show()
    {
        form->Show();
        return QTest::qWaitForWindowExposed(form->widget());
    }

    bool shows(TRectangle* Icon, const char* Key) const
    {
        const TBitmap* image = form->ImageBook->FindImage(Key);
        return image && Icon->Fill().Bitmap().image() == image->image();
    }

    // A press on Icon held HeldMs, then the release and the click, through
    // the handlers the window definition wired.
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

    // The same through Qt: press and release at the centre of C as the
    // window shows it, so visibility, stacking and hit testing are real.
    void qtPress(TControl* C, int HeldMs = 0)
    {
        const QPoint at = windowPoint(C);
        QTest::mousePress(form->widget(), Qt::LeftButton, {}, at);
        clock.advance(HeldMs);
        QTest::mouseRelease(form->widget(), Qt::LeftButton, {}, at);
    }

    QPoint windowPoint(TControl* C) const
    {
        QWidget* w = C->widget();
        return w->mapTo(form->widget(), w->rect().center());
    }

    // A tap on the picture where no tool or panel lies.
    void qtTapPicture() { QTest::mouseClick(form->widget(), Qt::LeftButton, {}, QPoint(4, 4)); }

    void toolTicks(int N)
    {
        for (int i = 0; i < N; ++i)
            form->ButtonsVisibleTimerTimer(nullptr);
    }

    void exitTicks(int N)
    {
        for (int i = 0; i < N; ++i)
            form->ExitCameraTimerTimer(nullptr);
    }

    std::vector<TRectangle*> icons() const
    {
        return {form->SettingsIconRectangle, form->CameraIconRectangle, form->EyeIconRectangle,
                form->SwitchFrontAndBackCameraIconRectangle, form->AboutIconRectangle};
    }

    std::vector<TControl*> settingsPanel() const
    {
        return {form->CameraResolutionsRectangle, form->CameraResolutionsLabel, form->CameraResolutionsTrackBar,
                form->OKButton};
    }

    int visibleIcons() const
    {
        int n = 0;
        for (TRectangle* icon : icons())
            n += icon->Visible() ? 1 : 0;
        return n;
    }

    // The user drags the thumb to Value and lets go.
    void dragTrackBar(float Value)
    {
        form->CameraResolutionsTrackBar->userTrack(Value);
        form->CameraResolutionsTrackBar->userRelease();
    }

    ManualClock clock;  // before the window, so its stopwatches read it
    std::shared_ptr<ScriptedCameraSource> source = std::make_shared<ScriptedCameraSource>();
    std::unique_ptr<TQuorlEyeMainForm> form;
};

inline TVideoCaptureSetting mode(int Width, int Height, double Fps)
{
    return TVideoCaptureSetting(Width, Height, Fps);
}

inline std::string labelOf(int Width, int Height)
{
    return "Camera width = " + std::to_string(Width) + ", height = " + std::to_string(Height);
}

// QCOMPARE prints settings readably (found by argument-dependent lookup).
inline char* toString(const TVideoCaptureSetting& S)
{
    return qstrdup(settingText(S).c_str());
}
