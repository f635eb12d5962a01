// The main window's definition: components in stacking order (the first lies
// at the bottom), their design-time properties, the event wiring and the
// image book. Designer-only values (the places of non-visual components on
// the designer surface, the form factor) are kept for completeness; they
// have no effect at run time.

#include "resources/main_window.h"

namespace {

WindowDefinition makeDefinition()
{
    WindowDefinition d;
    d.ClassName = "TQuorlEyeMainForm";
    d.Name = "QuorlEyeMainForm";
    d.Properties = {
        {"Left", "0"},
        {"Top", "0"},
        {"Caption", "Quorl Eye Vision"},
        {"ClientHeight", "480"},
        {"ClientWidth", "640"},
        {"Position", "DesktopCenter"},
        {"FormFactor.Width", "320"},
        {"FormFactor.Height", "480"},
        {"FormFactor.Devices", "[Desktop]"},
        {"DesignerMasterStyle", "0"},
    };

    d.Components = {
        {"OutputRectangle", "TRectangle", "", {{"Align", "Client"}, {"Size.Width", "640"}, {"Size.Height", "480"}}},
        {"CameraResolutionsTrackBar",
         "TTrackBar",
         "",
         {{"CanParentFocus", "True"},
          {"Orientation", "Horizontal"},
          {"Position.X", "16"},
          {"Position.Y", "72"},
          {"Size.Width", "280"},
          {"Size.Height", "20"},
          {"TabOrder", "1"}}},
        {"CameraComponent", "TCameraComponent", "", {{"Left", "496"}, {"Top", "8"}}},
        {"CameraIconRectangle",
         "TRectangle",
         "",
         {{"Position.X", "120"}, {"Position.Y", "112"}, {"Size.Width", "50"}, {"Size.Height", "50"}}},
        {"SettingsIconRectangle",
         "TRectangle",
         "",
         {{"Position.X", "200"}, {"Position.Y", "112"}, {"Size.Width", "50"}, {"Size.Height", "50"}}},
        {"EyeIconRectangle",
         "TRectangle",
         "",
         {{"Position.X", "72"}, {"Position.Y", "176"}, {"Size.Width", "50"}, {"Size.Height", "50"}}},
        {"WarningCalloutRectangle",
         "TCalloutRectangle",
         "",
         {{"Align", "Center"},
          {"Size.Width", "240"},
          {"Size.Height", "240"},
          {"CalloutWidth", "23"},
          {"CalloutLength", "11"}}},
        {"WarningText",
         "TText",
         "WarningCalloutRectangle",
         {{"Align", "Client"}, {"Size.Width", "240"}, {"Size.Height", "240"}}},
        {"ButtonsVisibleTimer", "TTimer", "", {{"Enabled", "False"}, {"Interval", "20"}, {"Left", "496"}, {"Top", "128"}}},
        {"WarningTimer", "TTimer", "", {{"Enabled", "False"}, {"Interval", "100"}, {"Left", "496"}, {"Top", "64"}}},
        {"ImageBook", "TStyleBook", "", {{"Left", "352"}, {"Top", "160"}}},
        {"AboutIconRectangle",
         "TRectangle",
         "",
         {{"Position.X", "160"}, {"Position.Y", "176"}, {"Size.Width", "49"}, {"Size.Height", "49"}}},
        {"SwitchFrontAndBackCameraIconRectangle",
         "TRectangle",
         "",
         {{"Position.X", "40"}, {"Position.Y", "112"}, {"Size.Width", "50"}, {"Size.Height", "50"}}},
        {"AboutMemo",
         "TMemo",
         "",
         {{"ReadOnly", "True"},
          {"Align", "Center"},
          {"Size.Width", "81"},
          {"Size.Height", "89"},
          {"TabOrder", "8"},
          {"Touch.InteractiveGestures", "[Pan, LongTap, DoubleTap]"},
          {"DataDetectorTypes", "[]"},
          {"Viewport.Width", "77"},
          {"Viewport.Height", "85"}}},
        {"CameraResolutionsRectangle",
         "TRectangle",
         "",
         {{"Position.X", "8"}, {"Position.Y", "40"}, {"Size.Width", "289"}, {"Size.Height", "25"}}},
        {"CameraResolutionsLabel",
         "TLabel",
         "CameraResolutionsRectangle",
         {{"Position.X", "8"},
          {"Size.Width", "280"},
          {"Size.Height", "17"},
          {"Text", "Camera Resolutions Label"}}},
        {"OKButton",
         "TButton",
         "",
         {{"Position.X", "248"},
          {"Position.Y", "328"},
          {"Size.Width", "81"},
          {"Size.Height", "41"},
          {"TabOrder", "11"},
          {"Text", "OK"}}},
        {"ExitCameraTimer", "TTimer", "", {{"Enabled", "False"}, {"Interval", "100"}, {"Left", "496"}, {"Top", "184"}}},
        {"PermissionsChangedTimer",
         "TTimer",
         "",
         {{"Enabled", "False"}, {"Interval", "100"}, {"Left", "496"}, {"Top", "248"}}},
    };

    d.Events = {
        {"", "OnCloseQuery", "FormCloseQuery"},
        {"", "OnKeyDown", "FormKeyDown"},
        {"", "OnResize", "FormResize"},
        {"OutputRectangle", "OnClick", "OutputRectangleClick"},
        {"CameraResolutionsTrackBar", "OnChange", "CameraResolutionsTrackBarChange"},
        {"CameraResolutionsTrackBar", "OnTracking", "CameraResolutionsTrackBarTracking"},
        {"CameraComponent", "OnSampleBufferReady", "CameraComponentSampleBufferReady"},
        {"ButtonsVisibleTimer", "OnTimer", "ButtonsVisibleTimerTimer"},
        {"WarningTimer", "OnTimer", "WarningTimerTimer"},
        {"ExitCameraTimer", "OnTimer", "ExitCameraTimerTimer"},
        {"PermissionsChangedTimer", "OnTimer", "PermissionsChangedTimerTimer"},
        {"AboutMemo", "OnClick", "AboutMemoClick"},
        {"OKButton", "OnClick", "OKButtonClick"},
    };
    // Each tool icon wires its click, press, move, release and leave events
    // to the handlers named after it.
    for (const char* icon : {"CameraIconRectangle", "SettingsIconRectangle", "EyeIconRectangle",
                             "AboutIconRectangle", "SwitchFrontAndBackCameraIconRectangle"}) {
        for (const char* event : {"Click", "MouseDown", "MouseMove", "MouseUp", "MouseLeave"})
            d.Events.push_back({icon, std::string("On") + event, std::string(icon) + event});
    }

    d.PublishedFields = {
        "CameraComponent",       "CameraResolutionsTrackBar",
        "CameraResolutionsLabel", "OutputRectangle",
        "CameraIconRectangle",   "SettingsIconRectangle",
        "EyeIconRectangle",      "ButtonsVisibleTimer",
        "WarningTimer",          "WarningCalloutRectangle",
        "ImageBook",             "AboutIconRectangle",
        "SwitchFrontAndBackCameraIconRectangle", "AboutMemo",
        "ExitCameraTimer",       "CameraResolutionsRectangle",
        "OKButton",              "WarningText",
        "PermissionsChangedTimer",
    };

    d.ImageBook = "ImageBook";
    for (const char* key : {"eye_quorl", "eye_human", "camera_on", "camera_off", "settings", "about_icon",
                            "camera_front", "camera_back"})
        d.Images.push_back({key, std::string(":/icons/") + key + ".png"});
    return d;
}

}  // namespace

const WindowDefinition& mainWindowDefinition()
{
    static const WindowDefinition definition = makeDefinition();
    return definition;
}
