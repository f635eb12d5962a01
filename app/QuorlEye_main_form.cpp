#include "app/QuorlEye_main_form.h"

#include <exception>

#include "platform/screen.h"
#include "platform/window_definition.h"
#include "resources/main_window.h"

TQuorlEyeMainForm* QuorlEyeMainForm = nullptr;

namespace {

// The two web addresses of the about text.
const char* const MakerAddress = "https://www.example.org/quorl-eye";
const char* const CommissionerAddress = "https://www.example.org/";

const char* const AboutLines[] = {
    "Quorl Eye Vision v.1.0",
    "",
    "Some animals, like for example many species of quorls, have poor eyesight, however their eyes are still "
    "best at detecting movement. Quorls have been known to glide past creatures that remain motionless.",
    "The program simulates vision of the quorl eye and demonstrates why the quorl is unable to see you when you "
    "have stopped moving.",
    "",
    "Made by",
    MakerAddress,
    "for",
    CommissionerAddress,
};

// What a tool icon does when it shows an image, for a screen reader.
struct IconAction {
    const char* Key;
    const char* Name;
};
const IconAction IconActions[] = {
    {"camera_off", "Turn camera on"},
    {"camera_on", "Turn camera off"},
    {"camera_front", "Switch to back camera"},
    {"camera_back", "Switch to front camera"},
    {"eye_quorl", "Show plain picture"},
    {"eye_human", "Show motion picture"},
    {"settings", "Capture resolution"},
    {"about_icon", "About"},
};

template <auto Field>
std::pair<std::string, std::function<bool(TComponent*)>> field(TQuorlEyeMainForm& form, const char* name)
{
    return {name, [&form](TComponent* c) {
                using Pointer = std::remove_reference_t<decltype(form.*Field)>;
                auto* typed = dynamic_cast<Pointer>(c);
                form.*Field = typed;
                return typed != nullptr;
            }};
}

// Binds a handler method to the window under the slot type of its event.
template <class Slot, class Method>
std::pair<std::string, PublishedHandler> method(TQuorlEyeMainForm& form, const char* name, Method m)
{
    return {name, Slot([&form, m](auto&&... args) { (form.*m)(std::forward<decltype(args)>(args)...); })};
}

}  // namespace

PublishedClass publishedClass(TQuorlEyeMainForm& f)
{
    using F = TQuorlEyeMainForm;
    PublishedClass p;
    p.Fields = {
        field<&F::CameraComponent>(f, "CameraComponent"),
        field<&F::CameraResolutionsTrackBar>(f, "CameraResolutionsTrackBar"),
        field<&F::CameraResolutionsLabel>(f, "CameraResolutionsLabel"),
        field<&F::OutputRectangle>(f, "OutputRectangle"),
        field<&F::CameraIconRectangle>(f, "CameraIconRectangle"),
        field<&F::SettingsIconRectangle>(f, "SettingsIconRectangle"),
        field<&F::EyeIconRectangle>(f, "EyeIconRectangle"),
        field<&F::ButtonsVisibleTimer>(f, "ButtonsVisibleTimer"),
        field<&F::WarningTimer>(f, "WarningTimer"),
        field<&F::WarningCalloutRectangle>(f, "WarningCalloutRectangle"),
        field<&F::ImageBook>(f, "ImageBook"),
        field<&F::AboutIconRectangle>(f, "AboutIconRectangle"),
        field<&F::SwitchFrontAndBackCameraIconRectangle>(f, "SwitchFrontAndBackCameraIconRectangle"),
        field<&F::AboutMemo>(f, "AboutMemo"),
        field<&F::ExitCameraTimer>(f, "ExitCameraTimer"),
        field<&F::CameraResolutionsRectangle>(f, "CameraResolutionsRectangle"),
        field<&F::OKButton>(f, "OKButton"),
        field<&F::WarningText>(f, "WarningText"),
        field<&F::PermissionsChangedTimer>(f, "PermissionsChangedTimer"),
    };
    p.Methods = {
        method<TCloseQueryEvent>(f, "FormCloseQuery", &F::FormCloseQuery),
        method<TKeyEvent>(f, "FormKeyDown", &F::FormKeyDown),
        method<TNotifyEvent>(f, "FormResize", &F::FormResize),
        method<TNotifyEvent>(f, "OutputRectangleClick", &F::OutputRectangleClick),
        method<TNotifyEvent>(f, "CameraResolutionsTrackBarChange", &F::CameraResolutionsTrackBarChange),
        method<TNotifyEvent>(f, "CameraResolutionsTrackBarTracking", &F::CameraResolutionsTrackBarTracking),
        method<TSampleBufferReadyEvent>(f, "CameraComponentSampleBufferReady", &F::CameraComponentSampleBufferReady),
        method<TNotifyEvent>(f, "ButtonsVisibleTimerTimer", &F::ButtonsVisibleTimerTimer),
        method<TNotifyEvent>(f, "WarningTimerTimer", &F::WarningTimerTimer),
        method<TNotifyEvent>(f, "ExitCameraTimerTimer", &F::ExitCameraTimerTimer),
        method<TNotifyEvent>(f, "PermissionsChangedTimerTimer", &F::PermissionsChangedTimerTimer),
        method<TNotifyEvent>(f, "AboutMemoClick", &F::AboutMemoClick),
        method<TNotifyEvent>(f, "OKButtonClick", &F::OKButtonClick),

        method<TNotifyEvent>(f, "CameraIconRectangleClick", &F::CameraIconRectangleClick),
        method<TMouseEvent>(f, "CameraIconRectangleMouseDown", &F::CameraIconRectangleMouseDown),
        method<TMouseMoveEvent>(f, "CameraIconRectangleMouseMove", &F::CameraIconRectangleMouseMove),
        method<TMouseEvent>(f, "CameraIconRectangleMouseUp", &F::CameraIconRectangleMouseUp),
        method<TNotifyEvent>(f, "CameraIconRectangleMouseLeave", &F::CameraIconRectangleMouseLeave),

        method<TNotifyEvent>(f, "SettingsIconRectangleClick", &F::SettingsIconRectangleClick),
        method<TMouseEvent>(f, "SettingsIconRectangleMouseDown", &F::SettingsIconRectangleMouseDown),
        method<TMouseMoveEvent>(f, "SettingsIconRectangleMouseMove", &F::SettingsIconRectangleMouseMove),
        method<TMouseEvent>(f, "SettingsIconRectangleMouseUp", &F::SettingsIconRectangleMouseUp),
        method<TNotifyEvent>(f, "SettingsIconRectangleMouseLeave", &F::SettingsIconRectangleMouseLeave),

        method<TNotifyEvent>(f, "EyeIconRectangleClick", &F::EyeIconRectangleClick),
        method<TMouseEvent>(f, "EyeIconRectangleMouseDown", &F::EyeIconRectangleMouseDown),
        method<TMouseMoveEvent>(f, "EyeIconRectangleMouseMove", &F::EyeIconRectangleMouseMove),
        method<TMouseEvent>(f, "EyeIconRectangleMouseUp", &F::EyeIconRectangleMouseUp),
        method<TNotifyEvent>(f, "EyeIconRectangleMouseLeave", &F::EyeIconRectangleMouseLeave),

        method<TNotifyEvent>(f, "AboutIconRectangleClick", &F::AboutIconRectangleClick),
        method<TMouseEvent>(f, "AboutIconRectangleMouseDown", &F::AboutIconRectangleMouseDown),
        method<TMouseMoveEvent>(f, "AboutIconRectangleMouseMove", &F::AboutIconRectangleMouseMove),
        method<TMouseEvent>(f, "AboutIconRectangleMouseUp", &F::AboutIconRectangleMouseUp),
        method<TNotifyEvent>(f, "AboutIconRectangleMouseLeave", &F::AboutIconRectangleMouseLeave),

        method<TNotifyEvent>(f, "SwitchFrontAndBackCameraIconRectangleClick",
                             &F::SwitchFrontAndBackCameraIconRectangleClick),
        method<TMouseEvent>(f, "SwitchFrontAndBackCameraIconRectangleMouseDown",
                            &F::SwitchFrontAndBackCameraIconRectangleMouseDown),
        method<TMouseMoveEvent>(f, "SwitchFrontAndBackCameraIconRectangleMouseMove",
                                &F::SwitchFrontAndBackCameraIconRectangleMouseMove),
        method<TMouseEvent>(f, "SwitchFrontAndBackCameraIconRectangleMouseUp",
                            &F::SwitchFrontAndBackCameraIconRectangleMouseUp),
        method<TNotifyEvent>(f, "SwitchFrontAndBackCameraIconRectangleMouseLeave",
                             &F::SwitchFrontAndBackCameraIconRectangleMouseLeave),
    };
    return p;
}

namespace {

bool loadDefinition(TQuorlEyeMainForm& form)
{
    LoadWindowDefinition(form, mainWindowDefinition(), publishedClass(form));
    return true;
}

void prepareIconBrush(TRectangle* r)
{
    r->Stroke().SetKind(TBrushKind::None);
    r->Fill().SetKind(TBrushKind::Bitmap);
    r->Fill().SetWrapMode(TWrapMode::TileStretch);
    r->SetHitTest(true);
}

}  // namespace

TQuorlEyeMainForm::TQuorlEyeMainForm(TComponent* AOwner) : TForm(AOwner), DefinitionLoaded(loadDefinition(*this))
{
    // 1. Rectangles and capture-setting arrays.
    CameraSourceRect = TRectF{};
    OutputDestRect = TRectF{};
    CameraCaptureSettings.clear();
    CameraResolutions.clear();

    // 2. Constants and flags. This build has no macOS title bar to measure.
    IsMacOSPlatform = false;
    IsToolsVisible = false;
    IconSizeRatio = 0.08;
    IconPressScale = 1.3;

    // 3. About panel size.
    AboutMemo->SetHeight(200);
    AboutMemo->SetWidth(400);

    // 4. Flags and the icons' rest geometry.
    IsClearOutputNeeded = true;
    UseDefaultResolution = true;
    IsFrontCamera = true;
    IsResolutionChanged = false;
    IsFormResized = false;
    ExitCameraTimerCount = 0;
    IsFirstFrame = true;
    PressedIconId = 0;
    AboutIconLeft = AboutIconTop = AboutIconCentreX = AboutIconCentreY = 0;
    CameraIconLeft = CameraIconTop = CameraIconCentreX = CameraIconCentreY = 0;
    SwitchCameraIconLeft = SwitchCameraIconTop = SwitchCameraIconCentreX = SwitchCameraIconCentreY = 0;
    EyeIconLeft = EyeIconTop = EyeIconCentreX = EyeIconCentreY = 0;
    SettingsIconLeft = SettingsIconTop = SettingsIconCentreX = SettingsIconCentreY = 0;

    // 5. Track bar range, set with its handlers detached so nothing fires.
    CameraResolutionsTrackBar->OnChange = nullptr;
    CameraResolutionsTrackBar->OnTracking = nullptr;
    CameraResolutionsTrackBar->SetTracking(false);
    CameraResolutionsTrackBar->SetMin(1);
    CameraResolutionsTrackBar->SetMax(1);
    CameraResolutionsTrackBar->OnChange = [this](TObject* s) { CameraResolutionsTrackBarChange(s); };
    CameraResolutionsTrackBar->OnTracking = [this](TObject* s) { CameraResolutionsTrackBarTracking(s); };
    CameraResolutionsTrackBar->SetCursor(crHandPoint);
    CameraResolutionsTrackBar->SetAccessibleName("Capture resolution");

    // 6. The camera: front, priority on resolution, inactive.
    CameraComponent->SetKind(TCameraKind::FrontCamera);
    CameraComponent->SetCaptureSettingPriority(TVideoCaptureSettingPriority::Resolution);

    // 7. Working bitmaps and the label texts.
    CameraBitmap = std::make_unique<TBitmap>();
    PreviousBitmap = std::make_unique<TBitmap>();
    MotionBitmap = std::make_unique<TBitmap>();
    CameraResolutionsList = std::make_unique<TStringList>();

    // 8. The camera's capture settings, the catalogue and the default.
    GetCameraAllResolutions();

    // 9. Transparent fills and strokes.
    for (TRectangle* r : {OutputRectangle, CameraIconRectangle, SettingsIconRectangle, EyeIconRectangle,
                          AboutIconRectangle, SwitchFrontAndBackCameraIconRectangle}) {
        r->Fill().SetColor(TAlphaColors::Null);
        r->Stroke().SetColor(TAlphaColors::Null);
    }

    // 10. Bitmap fills stretched over the rectangles.
    for (TRectangle* r : {OutputRectangle, CameraIconRectangle, SwitchFrontAndBackCameraIconRectangle,
                          SettingsIconRectangle, AboutIconRectangle, EyeIconRectangle})
        prepareIconBrush(r);

    // 11. Icon images; each icon takes its image's size.
    auto loadIcon = [this](TRectangle* r, const char* key) {
        r->SetAccessibleRole(TAccessibleRole::Button);
        LoadBitmapFromImageBook(r, key);
        r->SetWidth(static_cast<float>(r->Fill().Bitmap().Width()));
        r->SetHeight(static_cast<float>(r->Fill().Bitmap().Height()));
    };
    loadIcon(CameraIconRectangle, "camera_off");
    loadIcon(SettingsIconRectangle, "settings");
    loadIcon(SwitchFrontAndBackCameraIconRectangle, "camera_front");
    loadIcon(AboutIconRectangle, "about_icon");
    QuorlEyeMode = true;
    loadIcon(EyeIconRectangle, "eye_quorl");

    // 12. The output picture, resized to the output area at every resize.
    OutputBitmap().SetSize(300, 300);

    // 13. Stopwatches: the first icon press counts only 500 ms after start.
    IconPressStopwatch = TStopwatch::Create();
    CameraToggleStopwatch = TStopwatch::Create();
    IconRepeatStopwatch = TStopwatch::Create();
    IconRepeatStopwatch.Reset();
    IconRepeatStopwatch.Start();

    // 14.
    ToolPressIntervalMs = 500;
    IsCameraToggled = false;
    IsLandscape = 1;

    // 15. Only a macOS title bar needs measuring; Qt's client area already
    // excludes the title bar everywhere else.
    TitleBarHeight = 0.0;
    if (IsMacOSPlatform)
        SetShowFullScreenIcon(true);

    // 16. Output area.
    GetScreenSize();
    OutputDestRect = TRectF{0.0f, 0.0f, static_cast<float>(ScreenWidth), static_cast<float>(ScreenHeight)};

    // 17. Only the camera icon is shown at start.
    CameraIconRectangle->SetVisible(true);
    SwitchFrontAndBackCameraIconRectangle->SetVisible(IsToolsVisible);
    CameraResolutionsRectangle->SetVisible(IsToolsVisible);
    CameraResolutionsLabel->SetVisible(IsToolsVisible);
    CameraResolutionsTrackBar->SetVisible(IsToolsVisible);
    SettingsIconRectangle->SetVisible(IsToolsVisible);
    AboutIconRectangle->SetVisible(IsToolsVisible);
    EyeIconRectangle->SetVisible(IsToolsVisible);
    OKButton->SetVisible(IsToolsVisible);
    AboutMemo->SetVisible(false);

    // 18. About text.
    AboutMemo->Lines().Clear();
    for (const char* line : AboutLines)
        AboutMemo->Lines().Add(line);
    AboutMemo->SetAccessibleName("About Quorl Eye Vision");

    // 19.
    WarningCalloutRectangle->SetVisible(false);

    // 20. Warning countdown.
    WarningTimerCount = 0;
    WarningTimerLimit = 50;
    WarningTimer->SetEnabled(false);

    // 21. Tools countdown.
    ButtonsVisibleTimerCount = 0;
    ButtonsVisibleTimerLimit = 200;
    ButtonsVisibleTimer->SetInterval(20);
    ButtonsVisibleTimer->SetEnabled(false);

    // 22. Label and button fonts: their own 12-point size, not the style's.
    for (int i = 0; i < ComponentCount(); ++i) {
        TComponent* c = Components(i);
        if (auto* label = dynamic_cast<TLabel*>(c)) {
            label->SetStyledSettings(label->StyledSettings() & ~TStyledSetting::Size);
            label->SetHeight(20);
            label->SetFontSize(12);
        } else if (auto* button = dynamic_cast<TButton*>(c)) {
            button->SetStyledSettings(button->StyledSettings() & ~TStyledSetting::Size);
            button->SetHeight(35);
            button->SetFontSize(12);
        }
    }
}

TQuorlEyeMainForm::~TQuorlEyeMainForm()
{
    // The close sequence stops the camera before the window may close. A
    // window destroyed any other way (a failed start, a test) stops it here,
    // before the bitmaps a late frame would be drawn from are released.
    CameraComponent->SetActive(false);
    CameraCaptureSettings.clear();
    CameraResolutions.clear();
    CameraBitmap.reset();
    PreviousBitmap.reset();
    MotionBitmap.reset();
    CameraResolutionsList.reset();
    if (QuorlEyeMainForm == this)
        QuorlEyeMainForm = nullptr;
}

TBitmap& TQuorlEyeMainForm::OutputBitmap()
{
    return OutputRectangle->Fill().Bitmap();
}

void TQuorlEyeMainForm::LoadBitmapFromImageBook(TRectangle* Rectangle, const std::string& ImageName)
{
    const TBitmap* image = ImageBook->FindImage(ImageName);
    if (!image)
        return;
    Rectangle->Fill().Bitmap().Assign(*image);
    // The icon's name for a screen reader follows its image: what a click
    // does now.
    for (const IconAction& action : IconActions)
        if (ImageName == action.Key)
            Rectangle->SetAccessibleName(action.Name);
}

void TQuorlEyeMainForm::GetScreenSize()
{
    IFMXScreenService* screen = ScreenService();
    if (screen) {
        switch (screen->GetScreenOrientation()) {
        case TScreenOrientation::Portrait:
        case TScreenOrientation::InvertedPortrait:
            IsLandscape = 0;
            break;
        case TScreenOrientation::Landscape:
        case TScreenOrientation::InvertedLandscape:
            IsLandscape = 1;
            break;
        }
    }
    ScreenWidth = static_cast<double>(ClientWidth());
    ScreenHeight = static_cast<double>(ClientHeight());
    if (screen)
        ScreenScale = static_cast<double>(screen->GetScreenScale());
    // Without a screen service (or with one reporting no scale) the scale is
    // 1.0, never 0, so the correction below stays finite.
    if (!(ScreenScale > 0.0))
        ScreenScale = 1.0;
    // The title bar's height is added twice for a maximised window.
    const double k = WindowState() == TWindowState::wsMaximized ? 2.0 : 1.0;
    ScreenHeight = ScreenHeight + k * TitleBarHeight / ScreenScale;
}

int FMXmain(int& argc, char** argv)
{
    try {
        Application.Initialize(argc, argv);
        Application.CreateForm(QuorlEyeMainForm);
        Application.Run();
    } catch (const std::exception& e) {
        Application.ShowException(e);
    } catch (...) {
        Application.ShowException(std::string());
    }
    Application.Terminate();
    return Application.ExitCode();
}
