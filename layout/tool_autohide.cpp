// Tool auto-hide: the icons stay 200 ticks of 20 ms (4 s) after the last
// command, then fade by 0.1 a tick and hide once the settings icon's opacity
// is below 0.1. In 32-bit floats 1.0 minus nine steps of 0.1 is 0.0999999,
// so the icons hide at tick 209, after nine steps, not ten.

#include "app/QuorlEye_main_form.h"

namespace {

// Lowers the opacity by 0.1, subtracting in double and storing the float.
void fadeStep(TControl* c)
{
    c->SetOpacity(static_cast<float>(static_cast<double>(c->Opacity()) - 0.1));
}

}  // namespace

void TQuorlEyeMainForm::ButtonsVisibleTimerTimer(TObject*)
{
    TRectangle* const icons[] = {SettingsIconRectangle, CameraIconRectangle, EyeIconRectangle,
                                 SwitchFrontAndBackCameraIconRectangle, AboutIconRectangle};
    ++ButtonsVisibleTimerCount;
    if (ButtonsVisibleTimerCount > ButtonsVisibleTimerLimit)
        for (TRectangle* icon : icons)
            fadeStep(icon);
    if (static_cast<double>(SettingsIconRectangle->Opacity()) < 0.1) {
        ButtonsVisibleTimerCount = 0;
        IsToolsVisible = false;
        for (TRectangle* icon : icons)
            icon->SetVisible(IsToolsVisible);
        ButtonsVisibleTimer->SetEnabled(false);
    }
}

void TQuorlEyeMainForm::WarningTimerTimer(TObject*)
{
    ++WarningTimerCount;
    if (WarningTimerCount > WarningTimerLimit)
        fadeStep(WarningCalloutRectangle);
    if (static_cast<double>(WarningCalloutRectangle->Opacity()) < 0.1) {
        WarningTimerCount = 0;
        WarningCalloutRectangle->SetVisible(false);
        WarningTimer->SetEnabled(false);
    }
}
