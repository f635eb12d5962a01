// The eye icon flips between the quorl-eye view (only what moves) and the
// human-eye view (the plain picture); a tap on the picture brings the tools
// back or closes an open panel (cancelling the settings panel); Escape asks
// the window to close.

#include "app/QuorlEye_main_form.h"

void TQuorlEyeMainForm::EyeIconRectangleClick(TObject*)
{
    if (IconPressStopwatch.ElapsedMilliseconds() > ToolPressIntervalMs)
        return;
    ButtonsVisibleTimerCount = 0;
    QuorlEyeMode = !QuorlEyeMode;
    LoadBitmapFromImageBook(EyeIconRectangle, QuorlEyeMode ? "eye_quorl" : "eye_human");
}

void TQuorlEyeMainForm::OutputRectangleClick(TObject*)
{
    ButtonsVisibleTimerCount = 0;
    const bool settingsOpen = CameraResolutionsLabel->Visible();
    const bool aboutOpen = AboutMemo->Visible();
    if (settingsOpen || aboutOpen) {
        if (settingsOpen) {
            // Cancel: the camera gets back the setting and the running state
            // it had when the panel opened.
            GetCameraAllResolutions();
            CameraComponent->SetActive(SavedCameraActive);
            CameraComponent->InternalSetCaptureSetting(SavedCaptureSetting);
            GetCameraRectSize();
            // The cameras were looked for again: the saved state may have
            // started one plugged in meanwhile, or the camera may be gone.
            LoadBitmapFromImageBook(CameraIconRectangle, CameraComponent->Active() ? "camera_on" : "camera_off");
        }
        ButtonsVisibleTimer->SetEnabled(false);
        CameraResolutionsRectangle->SetVisible(false);
        CameraResolutionsLabel->SetVisible(false);
        CameraResolutionsTrackBar->SetVisible(false);
        OKButton->SetVisible(false);
        AboutMemo->SetVisible(false);
        return;
    }

    IsToolsVisible = true;
    for (TRectangle* icon : {SettingsIconRectangle, CameraIconRectangle, EyeIconRectangle,
                             SwitchFrontAndBackCameraIconRectangle, AboutIconRectangle})
        icon->SetVisible(true);
    for (TControl* c : std::initializer_list<TControl*>{SettingsIconRectangle, CameraIconRectangle, EyeIconRectangle,
                                                        CameraResolutionsLabel, CameraResolutionsTrackBar,
                                                        SwitchFrontAndBackCameraIconRectangle, AboutIconRectangle})
        c->SetOpacity(1.0f);
    ButtonsVisibleTimer->SetEnabled(true);
}

void TQuorlEyeMainForm::FormKeyDown(TObject*, std::uint16_t& Key, char16_t&, TShiftState)
{
    if (Key == vkEscape)
        Close();
}
