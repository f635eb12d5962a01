// Camera switching and shutdown: the camera icon turns the camera on and
// off, the front/back icon selects the other camera keeping the on/off
// state, and a close request stops a running camera before the window may
// close.

#include "app/QuorlEye_main_form.h"

void TQuorlEyeMainForm::CameraIconRectangleClick(TObject*)
{
    // A press held longer than the limit is no click; exactly 500 ms counts.
    if (IconPressStopwatch.ElapsedMilliseconds() > ToolPressIntervalMs)
        return;
    ButtonsVisibleTimerCount = 0;
    ButtonsVisibleTimer->SetEnabled(true);
    if (CameraCaptureSettings.empty())
        return;

    // Repeat guard: a refused click starts a new wait of its own.
    CameraToggleStopwatch.Stop();
    const std::int64_t sinceLastToggle = CameraToggleStopwatch.ElapsedMilliseconds();
    if (IsCameraToggled && sinceLastToggle < ToolPressIntervalMs) {
        CameraToggleStopwatch.Reset();
        CameraToggleStopwatch.Start();
        return;
    }
    IsCameraToggled = true;
    CameraToggleStopwatch.Reset();
    CameraToggleStopwatch.Start();
    CameraComponent->SetActive(!CameraComponent->Active());

    if (CameraComponent->Active())
        GetCameraRectSize();
    // The icon shows the state the camera reports, not the one asked for.
    LoadBitmapFromImageBook(CameraIconRectangle, CameraComponent->Active() ? "camera_on" : "camera_off");
}

void TQuorlEyeMainForm::SwitchFrontAndBackCameraIconRectangleClick(TObject*)
{
    if (IconPressStopwatch.ElapsedMilliseconds() > ToolPressIntervalMs)
        return;
    ButtonsVisibleTimerCount = 0;
    IsFrontCamera = !IsFrontCamera;
    IsClearOutputNeeded = true;
    UseDefaultResolution = true;
    if (IsFrontCamera) {
        SwitchToFrontCamera();
        LoadBitmapFromImageBook(SwitchFrontAndBackCameraIconRectangle, "camera_front");
    } else {
        SwitchToBackCamera();
        LoadBitmapFromImageBook(SwitchFrontAndBackCameraIconRectangle, "camera_back");
    }
}

void TQuorlEyeMainForm::SwitchToFrontCamera()
{
    const bool wasActive = CameraComponent->Active();
    CameraComponent->SetActive(false);
    CameraComponent->SetKind(TCameraKind::FrontCamera);
    IsFrontCamera = true;
    GetCameraAllResolutions();
    CameraComponent->SetActive(wasActive);
    GetCameraRectSize();
}

void TQuorlEyeMainForm::SwitchToBackCamera()
{
    const bool wasActive = CameraComponent->Active();
    CameraComponent->SetActive(false);
    CameraComponent->SetKind(TCameraKind::BackCamera);
    IsFrontCamera = false;
    GetCameraAllResolutions();
    CameraComponent->SetActive(wasActive);
    GetCameraRectSize();
}

void TQuorlEyeMainForm::FormCloseQuery(TObject*, bool& CanClose)
{
    if (CameraComponent->Active()) {
        // Stop the camera first; the timer closes the window once it is off.
        ExitCameraTimerCount = 0;
        ExitCameraTimer->SetEnabled(true);
        CanClose = false;
    } else {
        CanClose = true;
    }
}

void TQuorlEyeMainForm::ExitCameraTimerTimer(TObject*)
{
    // With a camera that stops at once: count 0 stops it, counts 1 and 2
    // wait, count 3 closes the window, about 400 ms after the request.
    if (CameraComponent->Active()) {
        if (ExitCameraTimerCount == 0)
            CameraComponent->SetActive(false);
        else if (ExitCameraTimerCount == 1)
            LoadBitmapFromImageBook(CameraIconRectangle, "camera_off");
    }
    if (!CameraComponent->Active() && ExitCameraTimerCount > 2) {
        ExitCameraTimer->SetEnabled(false);
        ExitCameraTimerCount = 0;
        Close();
    }
    ++ExitCameraTimerCount;
}

void TQuorlEyeMainForm::PermissionsChangedTimerTimer(TObject*)
{
    PermissionsChangedTimer->SetEnabled(false);
    WarningCalloutRectangle->SetVisible(false);
}
