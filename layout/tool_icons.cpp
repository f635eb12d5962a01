// Press feedback of the tool icons: a pressed icon grows around its centre,
// comes to the front and is the only rectangle still taking the pointer; on
// release or leave it returns to its rest place. The press is timed so the
// click handlers can ignore long presses, and presses that follow the last
// accepted one within 500 ms are ignored.

#include "app/QuorlEye_main_form.h"
#include "layout/icon_geometry.h"

namespace {

using F = TQuorlEyeMainForm;

struct IconFields {
    int Id;
    TRectangle* F::*Icon;
    int F::*Left;
    int F::*Top;
    int F::*CentreX;
    int F::*CentreY;
};

constexpr IconFields AboutIcon{1, &F::AboutIconRectangle, &F::AboutIconLeft, &F::AboutIconTop,
                               &F::AboutIconCentreX, &F::AboutIconCentreY};
constexpr IconFields CameraIcon{2, &F::CameraIconRectangle, &F::CameraIconLeft, &F::CameraIconTop,
                                &F::CameraIconCentreX, &F::CameraIconCentreY};
constexpr IconFields EyeIcon{3, &F::EyeIconRectangle, &F::EyeIconLeft, &F::EyeIconTop, &F::EyeIconCentreX,
                             &F::EyeIconCentreY};
constexpr IconFields SwitchCameraIcon{4, &F::SwitchFrontAndBackCameraIconRectangle, &F::SwitchCameraIconLeft,
                                      &F::SwitchCameraIconTop, &F::SwitchCameraIconCentreX,
                                      &F::SwitchCameraIconCentreY};
constexpr IconFields SettingsIcon{5, &F::SettingsIconRectangle, &F::SettingsIconLeft, &F::SettingsIconTop,
                                  &F::SettingsIconCentreX, &F::SettingsIconCentreY};

void pressIconDown(F& f, const IconFields& icon)
{
    if (f.IconRepeatStopwatch.ElapsedMilliseconds() < f.ToolPressIntervalMs)
        return;
    f.IconRepeatStopwatch.Reset();
    f.IconRepeatStopwatch.Start();
    f.PressedIconId = icon.Id;
    f.IconPressStopwatch.Reset();
    f.IconPressStopwatch.Start();

    TRectangle* r = f.*icon.Icon;
    r->BringToFront();
    f.EnableAllToolsHitTest(r, false);
    const float scale = static_cast<float>(f.IconPressScale);
    const PressPlacement p = pressIcon(r->Position(), r->Width(), r->Height(), scale);
    f.*icon.CentreX = p.CentreX;
    f.*icon.CentreY = p.CentreY;
    r->SetScale({scale, scale});
    f.*icon.Left = p.Left;
    f.*icon.Top = p.Top;
    r->SetPosition(p.Position);
}

void releaseIcon(F& f, const IconFields& icon)
{
    if (f.PressedIconId != icon.Id)
        return;
    f.IconPressStopwatch.Stop();
    TRectangle* r = f.*icon.Icon;
    f.EnableAllToolsHitTest(r, true);
    r->SetScale({1.0f, 1.0f});
    r->SetPosition({static_cast<float>(f.*icon.Left), static_cast<float>(f.*icon.Top)});
}

}  // namespace

void TQuorlEyeMainForm::EnableAllToolsHitTest(TControl* Sender, bool Enable)
{
    for (int i = 0; i < ChildrenCount(); ++i) {
        TControl* child = Children(i);
        if (dynamic_cast<TRectangle*>(child))
            child->SetHitTest(child == Sender ? true : Enable);
    }
}

#define QUORL_ICON_FEEDBACK(Rectangle, Fields)                                                              \
    void TQuorlEyeMainForm::Rectangle##MouseDown(TObject*, TMouseButton, TShiftState, float, float)        \
    {                                                                                                       \
        pressIconDown(*this, Fields);                                                                       \
    }                                                                                                       \
    void TQuorlEyeMainForm::Rectangle##MouseMove(TObject*, TShiftState, float, float) {}                   \
    void TQuorlEyeMainForm::Rectangle##MouseUp(TObject*, TMouseButton, TShiftState, float, float)          \
    {                                                                                                       \
        releaseIcon(*this, Fields);                                                                         \
    }                                                                                                       \
    void TQuorlEyeMainForm::Rectangle##MouseLeave(TObject*)                                                 \
    {                                                                                                       \
        releaseIcon(*this, Fields);                                                                         \
    }

QUORL_ICON_FEEDBACK(AboutIconRectangle, AboutIcon)
QUORL_ICON_FEEDBACK(CameraIconRectangle, CameraIcon)
QUORL_ICON_FEEDBACK(EyeIconRectangle, EyeIcon)
QUORL_ICON_FEEDBACK(SwitchFrontAndBackCameraIconRectangle, SwitchCameraIcon)
QUORL_ICON_FEEDBACK(SettingsIconRectangle, SettingsIcon)

#undef QUORL_ICON_FEEDBACK
