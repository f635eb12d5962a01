// The about panel: the explanatory text, read-only and word-wrapped, centred
// over the picture; a tap on the picture closes it.

#include "app/QuorlEye_main_form.h"

void TQuorlEyeMainForm::AboutIconRectangleClick(TObject*)
{
    if (IconPressStopwatch.ElapsedMilliseconds() > ToolPressIntervalMs)
        return;
    ButtonsVisibleTimer->SetEnabled(false);
    ButtonsVisibleTimerCount = 0;
    IsToolsVisible = false;
    for (TControl* c : std::initializer_list<TControl*>{
             CameraIconRectangle, SwitchFrontAndBackCameraIconRectangle, CameraResolutionsRectangle,
             CameraResolutionsLabel, CameraResolutionsTrackBar, SettingsIconRectangle, AboutIconRectangle,
             EyeIconRectangle})
        c->SetVisible(IsToolsVisible);
    AboutMemo->SetVisible(true);
    AboutMemo->SetWordWrap(true);
}

void TQuorlEyeMainForm::AboutMemoClick(TObject*)
{
    // A tap on the text neither closes the panel nor reaches the picture.
}
