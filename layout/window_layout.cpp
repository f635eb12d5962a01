// Window layout: everything follows the size of the output area. The tool
// icons sit at fixed fractions of it, sized from its longer side:
//
//        0.3      0.5      0.7     (of the width)
//   0.4  [switch] [camera] [settings]
//   0.6       [eye]    [about]
//            0.4      0.6

#include "app/QuorlEye_main_form.h"
#include "layout/icon_geometry.h"

namespace {

struct IconSlot {
    TRectangle* TQuorlEyeMainForm::*Icon;
    int TQuorlEyeMainForm::*Left;
    int TQuorlEyeMainForm::*Top;
    int TQuorlEyeMainForm::*CentreX;
    int TQuorlEyeMainForm::*CentreY;
    double Fx;
    double Fy;
};

using F = TQuorlEyeMainForm;
const IconSlot IconSlots[] = {
    {&F::SwitchFrontAndBackCameraIconRectangle, &F::SwitchCameraIconLeft, &F::SwitchCameraIconTop,
     &F::SwitchCameraIconCentreX, &F::SwitchCameraIconCentreY, 0.3, 0.4},
    {&F::CameraIconRectangle, &F::CameraIconLeft, &F::CameraIconTop, &F::CameraIconCentreX, &F::CameraIconCentreY,
     0.5, 0.4},
    {&F::SettingsIconRectangle, &F::SettingsIconLeft, &F::SettingsIconTop, &F::SettingsIconCentreX,
     &F::SettingsIconCentreY, 0.7, 0.4},
    {&F::EyeIconRectangle, &F::EyeIconLeft, &F::EyeIconTop, &F::EyeIconCentreX, &F::EyeIconCentreY, 0.4, 0.6},
    {&F::AboutIconRectangle, &F::AboutIconLeft, &F::AboutIconTop, &F::AboutIconCentreX, &F::AboutIconCentreY, 0.6,
     0.6},
};

}  // namespace

void TQuorlEyeMainForm::FormResize(TObject*)
{
    IsFormResized = true;
    GetScreenSize();
    OutputBitmap().SetSize(static_cast<int>(ScreenWidth), static_cast<int>(ScreenHeight));
    ScreenLongSide = ScreenWidth > ScreenHeight ? ScreenWidth : ScreenHeight;
    GetCameraRectSize();

    // The settings panel, centred: label strip above the track bar, OK below.
    TTrackBar* bar = CameraResolutionsTrackBar;
    bar->SetPositionX(static_cast<float>(ScreenWidth * 0.5 - bar->Width() * 0.5));
    bar->SetPositionY(static_cast<float>(ScreenHeight * 0.5 - bar->Height() * 0.5));
    CameraResolutionsRectangle->SetWidth(bar->Width());
    CameraResolutionsLabel->SetWidth(bar->Width() - CameraResolutionsLabel->Position().X);
    CameraResolutionsRectangle->SetHeight(CameraResolutionsLabel->Height() + CameraResolutionsLabel->Position().Y);
    CameraResolutionsRectangle->SetPositionX(bar->Position().X);
    CameraResolutionsRectangle->SetPositionY(bar->Position().Y - bar->Height() - 10);
    OKButton->SetPositionX(static_cast<float>(ScreenWidth * 0.5 - OKButton->Width() * 0.5));
    OKButton->SetPositionY(bar->Height() + bar->Position().Y + 10);

    for (const IconSlot& slot : IconSlots) {
        TRectangle* icon = this->*slot.Icon;
        const TBitmap& image = icon->Fill().Bitmap();
        // An icon without an image keeps its place: its width would be undefined.
        if (image.Height() == 0)
            continue;
        const IconPlacement p = placeIcon(ScreenWidth, ScreenHeight, ScreenLongSide, IconSizeRatio, image.Width(),
                                          image.Height(), slot.Fx, slot.Fy);
        icon->SetHeight(p.Height);
        icon->SetWidth(p.Width);
        icon->SetPositionX(p.X);
        icon->SetPositionY(p.Y);
        this->*slot.Left = p.Left;
        this->*slot.Top = p.Top;
        this->*slot.CentreX = p.CentreX;
        this->*slot.CentreY = p.CentreY;
    }
}
