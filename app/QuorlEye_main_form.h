#pragma once

// The main window and all of the program's logic. Its methods are defined by
// subsystem:
//   app/       start-up, construction, screen size, image book
//   camera/    camera switching and shutdown, capture resolutions
//   vision/    frame pipeline (the motion filter kernel beside it)
//   layout/    window layout, picture fitting, tool icons, auto-hide
//   commands/  eye mode, output tap, Escape, settings and about panels

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "platform/bitmap.h"
#include "platform/camera/camera_component.h"
#include "platform/controls.h"
#include "platform/form.h"
#include "platform/style_book.h"
#include "platform/timing.h"
#include "platform/types.h"
#include "platform/window_definition.h"

class TQuorlEyeMainForm : public TForm {
public:
    // Published fields: one per named component, bound by the window
    // definition when the object is created.
    TCameraComponent* CameraComponent = nullptr;
    TTrackBar* CameraResolutionsTrackBar = nullptr;
    TLabel* CameraResolutionsLabel = nullptr;
    TRectangle* OutputRectangle = nullptr;
    TRectangle* CameraIconRectangle = nullptr;
    TRectangle* SettingsIconRectangle = nullptr;
    TRectangle* EyeIconRectangle = nullptr;
    TTimer* ButtonsVisibleTimer = nullptr;
    TTimer* WarningTimer = nullptr;
    TCalloutRectangle* WarningCalloutRectangle = nullptr;
    TStyleBook* ImageBook = nullptr;
    TRectangle* AboutIconRectangle = nullptr;
    TRectangle* SwitchFrontAndBackCameraIconRectangle = nullptr;
    TMemo* AboutMemo = nullptr;
    TTimer* ExitCameraTimer = nullptr;
    TRectangle* CameraResolutionsRectangle = nullptr;
    TButton* OKButton = nullptr;
    TText* WarningText = nullptr;
    TTimer* PermissionsChangedTimer = nullptr;

private:
    // Creates the components of the window definition, binds the fields
    // above and wires the handlers. As a member initialised right after the
    // published fields, it runs before the constructor body.
    const bool DefinitionLoaded;

public:
    explicit TQuorlEyeMainForm(TComponent* AOwner);
    ~TQuorlEyeMainForm() override;

    // --- Event handlers (wired by the window definition) ---

    // Window.
    void FormCloseQuery(TObject* Sender, bool& CanClose);
    void FormKeyDown(TObject* Sender, std::uint16_t& Key, char16_t& KeyChar, TShiftState Shift);
    void FormResize(TObject* Sender);

    // Picture, panels, timers, camera.
    void OutputRectangleClick(TObject* Sender);
    void CameraResolutionsTrackBarChange(TObject* Sender);
    void CameraResolutionsTrackBarTracking(TObject* Sender);
    void CameraComponentSampleBufferReady(TObject* Sender, std::int64_t ATime);
    void ButtonsVisibleTimerTimer(TObject* Sender);
    void WarningTimerTimer(TObject* Sender);
    void ExitCameraTimerTimer(TObject* Sender);
    void PermissionsChangedTimerTimer(TObject* Sender);
    void AboutMemoClick(TObject* Sender);
    void OKButtonClick(TObject* Sender);

    // Tool icons: click, press, move, release, leave.
    void CameraIconRectangleClick(TObject* Sender);
    void CameraIconRectangleMouseDown(TObject* Sender, TMouseButton Button, TShiftState Shift, float X, float Y);
    void CameraIconRectangleMouseMove(TObject* Sender, TShiftState Shift, float X, float Y);
    void CameraIconRectangleMouseUp(TObject* Sender, TMouseButton Button, TShiftState Shift, float X, float Y);
    void CameraIconRectangleMouseLeave(TObject* Sender);

    void SettingsIconRectangleClick(TObject* Sender);
    void SettingsIconRectangleMouseDown(TObject* Sender, TMouseButton Button, TShiftState Shift, float X, float Y);
    void SettingsIconRectangleMouseMove(TObject* Sender, TShiftState Shift, float X, float Y);
    void SettingsIconRectangleMouseUp(TObject* Sender, TMouseButton Button, TShiftState Shift, float X, float Y);
    void SettingsIconRectangleMouseLeave(TObject* Sender);

    void EyeIconRectangleClick(TObject* Sender);
    void EyeIconRectangleMouseDown(TObject* Sender, TMouseButton Button, TShiftState Shift, float X, float Y);
    void EyeIconRectangleMouseMove(TObject* Sender, TShiftState Shift, float X, float Y);
    void EyeIconRectangleMouseUp(TObject* Sender, TMouseButton Button, TShiftState Shift, float X, float Y);
    void EyeIconRectangleMouseLeave(TObject* Sender);

    void AboutIconRectangleClick(TObject* Sender);
    void AboutIconRectangleMouseDown(TObject* Sender, TMouseButton Button, TShiftState Shift, float X, float Y);
    void AboutIconRectangleMouseMove(TObject* Sender, TShiftState Shift, float X, float Y);
    void AboutIconRectangleMouseUp(TObject* Sender, TMouseButton Button, TShiftState Shift, float X, float Y);
    void AboutIconRectangleMouseLeave(TObject* Sender);

    void SwitchFrontAndBackCameraIconRectangleClick(TObject* Sender);
    void SwitchFrontAndBackCameraIconRectangleMouseDown(TObject* Sender, TMouseButton Button, TShiftState Shift,
                                                        float X, float Y);
    void SwitchFrontAndBackCameraIconRectangleMouseMove(TObject* Sender, TShiftState Shift, float X, float Y);
    void SwitchFrontAndBackCameraIconRectangleMouseUp(TObject* Sender, TMouseButton Button, TShiftState Shift,
                                                      float X, float Y);
    void SwitchFrontAndBackCameraIconRectangleMouseLeave(TObject* Sender);

    // --- Shared operations ---
    void GetScreenSize();
    void LoadBitmapFromImageBook(TRectangle* Rectangle, const std::string& ImageName);
    void GetCameraAllResolutions();
    void SetDefaultOrCustomCameraResolution();
    void SetCameraResolutionsTrackBarAndlabel();
    void GetCameraRectSize();
    void SwitchToFrontCamera();
    void SwitchToBackCamera();
    void GetImageFromCamera();
    void FlipFromCameraBitmap();
    void EnableAllToolsHitTest(TControl* Sender, bool Enable);

    // The output picture: the bitmap of OutputRectangle's fill.
    TBitmap& OutputBitmap();

    // --- State. Public so that tests can observe it; only the methods above
    // change it. ---

    // Frame pipeline.
    std::unique_ptr<TBitmap> CameraBitmap;
    std::unique_ptr<TBitmap> PreviousBitmap;
    std::unique_ptr<TBitmap> MotionBitmap;
    bool IsFirstFrame = false;
    bool IsFrontCamera = false;
    bool QuorlEyeMode = false;
    bool IsClearOutputNeeded = false;
    bool IsFormResized = false;
    TRectF CameraSourceRect;
    TRectF OutputDestRect;

    // Camera control and capture resolutions.
    std::unique_ptr<TStringList> CameraResolutionsList;
    std::vector<TVideoCaptureSetting> CameraCaptureSettings;
    std::vector<TVideoCaptureSetting> CameraResolutions;
    int CameraResolutionsLastIndex = 0;
    TVideoCaptureSetting DefaultCameraResolution;
    TVideoCaptureSetting CustomCameraResolution;
    TVideoCaptureSetting ActiveCaptureSetting;
    TVideoCaptureSetting SavedCaptureSetting;
    bool SavedCameraActive = false;
    bool UseDefaultResolution = false;
    bool IsResolutionChanged = false;
    bool IsCameraToggled = false;
    bool CameraWasActive = false;
    TStopwatch CameraToggleStopwatch;
    int ExitCameraTimerCount = 0;
    int CameraPictureWidth = 0;
    int CameraPictureHeight = 0;

    // Screen, layout and tools.
    bool IsMacOSPlatform = false;
    double ScreenWidth = 0.0;
    double ScreenHeight = 0.0;
    double ScreenLongSide = 0.0;
    double TitleBarHeight = 0.0;
    int IsLandscape = 0;
    double ScreenScale = 0.0;
    bool IsToolsVisible = false;
    int ToolPressIntervalMs = 0;
    TStopwatch IconPressStopwatch;
    TStopwatch IconRepeatStopwatch;
    int PressedIconId = 0;
    double IconSizeRatio = 0.0;
    double IconPressScale = 0.0;

    int AboutIconLeft = 0, AboutIconTop = 0, AboutIconCentreX = 0, AboutIconCentreY = 0;
    int CameraIconLeft = 0, CameraIconTop = 0, CameraIconCentreX = 0, CameraIconCentreY = 0;
    int SwitchCameraIconLeft = 0, SwitchCameraIconTop = 0, SwitchCameraIconCentreX = 0, SwitchCameraIconCentreY = 0;
    int EyeIconLeft = 0, EyeIconTop = 0, EyeIconCentreX = 0, EyeIconCentreY = 0;
    int SettingsIconLeft = 0, SettingsIconTop = 0, SettingsIconCentreX = 0, SettingsIconCentreY = 0;

    int WarningTimerCount = 0;
    int WarningTimerLimit = 0;
    int ButtonsVisibleTimerCount = 0;
    int ButtonsVisibleTimerLimit = 0;
};

// The window's published fields and handler methods, by name, bound to Form
// (what the window definition is loaded against).
PublishedClass publishedClass(TQuorlEyeMainForm& Form);

// The one main window, set by Application.CreateForm.
extern TQuorlEyeMainForm* QuorlEyeMainForm;

// The program entry after the command line has been read: initialises the
// application, creates the window, runs the event loop. Returns the exit
// code: 0, 1 when an exception escaped (it was shown), 128 + the signal
// that ended the run.
int FMXmain(int& argc, char** argv);
