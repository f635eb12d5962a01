// Camera switching and shutdown: the camera icon turns the camera on and
// off, the front/back icon selects the other camera keeping the on/off
// state, and a close request stops a running camera before the window may
// close.

#include "app/QuorlEye_main_form.h"

namespace {

// The last frame does not stay on screen as if the camera were still live.
void clearOutput(TQuorlEyeMainForm& Form)
{
    TCanvas& canvas = Form.OutputBitmap().Canvas();
    if (canvas.BeginScene()) {
        canvas.Clear(TAlphaColors::Black);
        canvas.EndScene();
    }
}

// Selects the other camera with the camera stopped, lists its capture
// settings afresh (a camera plugged in since the last listing is found here,
// one pulled out is gone) and runs it when the camera ran before.
//
// The other camera may not be there (a machine with one webcam) or may fail
// to start: the camera is then off, and the icon and the picture say so - no
// "camera_on" over a frozen last frame. The user's "on" is kept for the next
// switch, so switching back to a camera that works starts it again; only a
// click on the camera icon changes that wish.
void selectCamera(TQuorlEyeMainForm& Form, TCameraKind Kind)
{
    TCameraComponent& camera = *Form.CameraComponent;
    const bool wanted = camera.Active() || Form.IsCameraOnWanted;
    camera.SetActive(false);
    camera.SetKind(Kind);
    Form.IsFrontCamera = Kind == TCameraKind::FrontCamera;
    Form.GetCameraAllResolutions();
    camera.SetActive(wanted);
    Form.GetCameraRectSize();

    const bool on = camera.Active();
    Form.IsCameraOnWanted = wanted && !on;
    Form.LoadBitmapFromImageBook(Form.CameraIconRectangle, on ? "camera_on" : "camera_off");
    if (wanted && !on)
        clearOutput(Form);
}

}  // namespace

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
    IsCameraOnWanted = false;
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
    selectCamera(*this, TCameraKind::FrontCamera);
}

void TQuorlEyeMainForm::SwitchToBackCamera()
{
    selectCamera(*this, TCameraKind::BackCamera);
}

// The camera stopped by itself (unplugged, its file no longer decodable):
// the icon shows it off and the picture goes black. The user's "on" is
// kept, as for a camera that is not there at a switch.
void TQuorlEyeMainForm::CameraStoppedByItself(TObject*)
{
    IsCameraOnWanted = true;
    LoadBitmapFromImageBook(CameraIconRectangle, "camera_off");
    clearOutput(*this);
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
