// Capture resolutions: the catalogue of the camera's resolutions, the 640 x
// 480 default or the user's resolution applied to the camera, and the
// settings panel's track bar and label kept on the resolution in force.

#include "app/QuorlEye_main_form.h"
#include "camera/resolution_catalogue.h"

namespace {

// Sets the track bar's range or value with its handlers detached, so that
// only the user's changes reach them.
template <class Change>
void withTrackBarHandlersDetached(TQuorlEyeMainForm& form, Change change)
{
    TTrackBar* bar = form.CameraResolutionsTrackBar;
    bar->OnChange = nullptr;
    bar->OnTracking = nullptr;
    change(*bar);
    bar->OnChange = [&form](TObject* s) { form.CameraResolutionsTrackBarChange(s); };
    bar->OnTracking = [&form](TObject* s) { form.CameraResolutionsTrackBarTracking(s); };
}

}  // namespace

void TQuorlEyeMainForm::GetCameraAllResolutions()
{
    DefaultCameraResolution.Width = 640;
    DefaultCameraResolution.Height = 480;
    DefaultCameraResolution.SetFrameRate(0);

    CameraCaptureSettings = CameraComponent->GetAvailableCaptureSettings();

    ResolutionCatalogue catalogue = buildResolutionCatalogue(CameraCaptureSettings);
    CameraResolutions = std::move(catalogue.Slots);
    CameraResolutionsLastIndex = catalogue.LastIndex;
    if (!CameraCaptureSettings.empty()) {
        DefaultCameraResolution = catalogue.Default;
        // With no setting offered the previous texts stay; nothing reads them
        // while the settings panel shows "Camera not available".
        CameraResolutionsList->Clear();
        for (int i = 0; i <= CameraResolutionsLastIndex; ++i)
            CameraResolutionsList->Add(resolutionLabel(CameraResolutions[static_cast<std::size_t>(i)]));
    }

    withTrackBarHandlersDetached(*this, [this](TTrackBar& bar) {
        bar.SetMin(0);
        bar.SetMax(static_cast<float>(CameraResolutionsLastIndex));
    });

    SetDefaultOrCustomCameraResolution();
}

void TQuorlEyeMainForm::SetDefaultOrCustomCameraResolution()
{
    if (CameraCaptureSettings.empty())
        return;
    if (UseDefaultResolution) {
        // Without a 640 x 480 setting the camera keeps the one it has.
        if (DefaultCameraResolution.FrameRate != 0)
            CameraComponent->InternalSetCaptureSetting(DefaultCameraResolution);
    } else {
        CameraComponent->InternalSetCaptureSetting(CustomCameraResolution);
    }
    SetCameraResolutionsTrackBarAndlabel();
    if (CameraComponent->Active())
        GetCameraRectSize();
}

void TQuorlEyeMainForm::SetCameraResolutionsTrackBarAndlabel()
{
    const TVideoCaptureSetting inForce = UseDefaultResolution ? TVideoCaptureSetting{}
                                                              : CameraComponent->GetCaptureSetting();
    int index = -1;
    for (int i = 0; i <= CameraResolutionsLastIndex && i < static_cast<int>(CameraResolutions.size()); ++i) {
        const TVideoCaptureSetting& entry = CameraResolutions[static_cast<std::size_t>(i)];
        const bool match = UseDefaultResolution ? entry.Width == 640 && entry.Height == 480
                                                : entry.Width == inForce.Width && entry.Height == inForce.Height &&
                                                      entry.FrameRate == inForce.FrameRate;
        if (match) {
            index = i;
            break;
        }
    }
    // A setting the camera took only in part matches no entry: the label and
    // the track bar keep what they showed.
    if (index < 0 || index >= CameraResolutionsList->Count())
        return;
    CameraResolutionsLabel->SetText((*CameraResolutionsList)[index]);
    withTrackBarHandlersDetached(*this, [this, index](TTrackBar& bar) {
        bar.SetValue(static_cast<float>(indexToTrackBarPosition(index, CameraResolutionsLastIndex)));
    });
}

void TQuorlEyeMainForm::CameraResolutionsTrackBarChange(TObject* Sender)
{
    IsResolutionChanged = true;
    CameraResolutionsTrackBarTracking(Sender);
}

void TQuorlEyeMainForm::CameraResolutionsTrackBarTracking(TObject*)
{
    const int index = trackBarValueToIndex(CameraResolutionsTrackBar->Value(), CameraResolutionsLastIndex);
    if (index < CameraResolutionsList->Count())
        CameraResolutionsLabel->SetText((*CameraResolutionsList)[index]);
}
