// The settings panel: the track bar chooses a capture resolution, OK applies
// it (stopping and restarting a running camera around the change).

#include "app/QuorlEye_main_form.h"
#include "camera/resolution_catalogue.h"

void TQuorlEyeMainForm::SettingsIconRectangleClick(TObject*)
{
    if (IconPressStopwatch.ElapsedMilliseconds() > ToolPressIntervalMs)
        return;
    if (!CameraCaptureSettings.empty()) {
        CameraResolutionsTrackBar->SetEnabled(true);
        SavedCaptureSetting = CameraComponent->GetCaptureSetting();
        SavedCameraActive = CameraComponent->Active();
        SetCameraResolutionsTrackBarAndlabel();
        CameraResolutionsLabel->SetVisible(true);
    } else {
        CameraResolutionsTrackBar->SetEnabled(false);
        CameraResolutionsLabel->SetText("Camera not available");
    }
    ButtonsVisibleTimer->SetEnabled(false);
    ButtonsVisibleTimerCount = 0;
    for (TRectangle* icon : {EyeIconRectangle, CameraIconRectangle, SettingsIconRectangle,
                             SwitchFrontAndBackCameraIconRectangle, AboutIconRectangle})
        icon->SetVisible(false);
    CameraResolutionsRectangle->SetVisible(true);
    CameraResolutionsLabel->SetVisible(true);
    CameraResolutionsTrackBar->SetVisible(true);
    OKButton->SetVisible(true);
}

void TQuorlEyeMainForm::OKButtonClick(TObject*)
{
    ButtonsVisibleTimerCount = 0;
    if (!CameraResolutionsLabel->Visible())
        return;
    ButtonsVisibleTimer->SetEnabled(false);
    CameraResolutionsRectangle->SetVisible(false);
    CameraResolutionsLabel->SetVisible(false);
    CameraResolutionsTrackBar->SetVisible(false);
    OKButton->SetVisible(false);
    if (!IsResolutionChanged)
        return;

    CameraWasActive = CameraComponent->Active();
    CameraComponent->SetActive(false);
    IsClearOutputNeeded = true;
    if (!CameraCaptureSettings.empty()) {
        // The track bar runs the other way round: its value 0 selects the
        // last catalogue entry.
        const int index = trackBarValueToIndex(CameraResolutionsTrackBar->Value(), CameraResolutionsLastIndex);
        CameraComponent->InternalSetCaptureSetting(CameraResolutions[static_cast<std::size_t>(index)]);
        if (index < CameraResolutionsList->Count())
            CameraResolutionsLabel->SetText((*CameraResolutionsList)[index]);
        CustomCameraResolution = CameraComponent->GetCaptureSetting();
        UseDefaultResolution = false;
    }
    CameraComponent->SetActive(CameraWasActive);
    GetCameraRectSize();
}
