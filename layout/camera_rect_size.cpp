// Picture fitting for the running camera: the source and destination
// rectangles the frame pipeline draws with, kept in step with the capture
// size and the output size.

#include "app/QuorlEye_main_form.h"
#include "layout/picture_fitting.h"

void TQuorlEyeMainForm::GetCameraRectSize()
{
    // Without a catalogue there is nothing to fit, unless the camera still
    // runs on the setting it took before its list went empty (re-read when
    // the settings panel is cancelled): its frames are still drawn, and
    // must land inside the output as it is now.
    if (CameraCaptureSettings.empty() && !CameraComponent->Active())
        return;
    if (CameraComponent->Active()) {
        TVideoCaptureSetting setting;
        setting = CameraComponent->GetCaptureSetting();
        ActiveCaptureSetting = setting;
    }
    const PictureFit fit = fitPicture(ActiveCaptureSetting.Width, ActiveCaptureSetting.Height, IsLandscape == 1,
                                      ScreenWidth, ScreenHeight);
    CameraPictureWidth = fit.PictureWidth;
    CameraPictureHeight = fit.PictureHeight;
    CameraSourceRect = fit.SourceRect;
    OutputDestRect = fit.DestRect;
}
