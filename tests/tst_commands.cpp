// The commands through the real window: the eye icon, taps on the picture
// in each of the window's five states, Escape, the settings panel (open,
// OK, cancel) and the about panel.

#define QTEST_QPA_MOUSE_HANDLING
#include <QtTest>

#include <QPlainTextEdit>

#include <vector>

#include "support/camera_fixture.h"

namespace {

using Settings = std::vector<TVideoCaptureSetting>;

// Catalogue 1280x720@30, 640x480@30, 320x240@30, 1920x1080@30; the track
// bar runs backwards over it (position p shows entry 3 - p).
const Settings Front = {mode(1280, 720, 30), mode(640, 480, 15), mode(640, 480, 30), mode(320, 240, 30),
                        mode(1920, 1080, 30)};

enum class State { Start, ToolsShown, ClearPicture, SettingsOpen, AboutOpen };
enum class Action { Tap, SettingsIcon, AboutIcon, EyeIcon, Ok, AutoHide };

QString nameOf(State S)
{
    switch (S) {
    case State::Start: return "Start";
    case State::ToolsShown: return "Tools shown";
    case State::ClearPicture: return "Clear picture";
    case State::SettingsOpen: return "Settings open";
    case State::AboutOpen: return "About open";
    }
    return {};
}

// The window's state as the user sees it: which tools and panels show, and
// whether the auto-hide countdown runs.
QString observedState(CameraFixture& fx)
{
    auto& f = fx.f();
    int panel = 0;
    for (TControl* c : fx.settingsPanel())
        panel += c->Visible() ? 1 : 0;
    const int icons = fx.visibleIcons();
    const bool memo = f.AboutMemo->Visible();
    const bool timer = f.ButtonsVisibleTimer->Enabled();

    if (icons == 1 && f.CameraIconRectangle->Visible() && panel == 0 && !memo && !timer)
        return nameOf(State::Start);
    if (icons == 5 && panel == 0 && !memo && timer)
        return nameOf(State::ToolsShown);
    if (icons == 0 && panel == 0 && !memo && !timer)
        return nameOf(State::ClearPicture);
    if (icons == 0 && panel == 4 && !memo && !timer)
        return nameOf(State::SettingsOpen);
    if (icons == 0 && panel == 0 && memo && !timer)
        return nameOf(State::AboutOpen);
    return QString("mixed: %1 icons, %2 of the settings panel, memo %3, timer %4")
        .arg(icons)
        .arg(panel)
        .arg(memo)
        .arg(timer);
}

// What the user does, through Qt's event system.
void act(CameraFixture& fx, Action A)
{
    auto& f = fx.f();
    switch (A) {
    case Action::Tap: fx.qtTapPicture(); break;
    case Action::SettingsIcon: fx.clock.advance(500); fx.qtPress(f.SettingsIconRectangle); break;
    case Action::AboutIcon: fx.clock.advance(500); fx.qtPress(f.AboutIconRectangle); break;
    case Action::EyeIcon: fx.clock.advance(500); fx.qtPress(f.EyeIconRectangle); break;
    case Action::Ok: QTest::mouseClick(f.widget(), Qt::LeftButton, {}, fx.windowPoint(f.OKButton)); break;
    case Action::AutoHide: fx.toolTicks(209); break;
    }
}

void enter(CameraFixture& fx, State S)
{
    switch (S) {
    case State::Start: break;
    case State::ToolsShown: act(fx, Action::Tap); break;
    case State::ClearPicture: act(fx, Action::Tap); act(fx, Action::AutoHide); break;
    case State::SettingsOpen: act(fx, Action::Tap); act(fx, Action::SettingsIcon); break;
    case State::AboutOpen: act(fx, Action::Tap); act(fx, Action::AboutIcon); break;
    }
}

// A source that remembers every setting the camera was asked to take.
std::function<void(ScriptedCameraSource&)> recordRequests(Settings& Requests)
{
    return [&Requests](ScriptedCameraSource& s) {
        s.resolveRule = [&Requests](TCameraKind, const TVideoCaptureSetting& wanted) {
            Requests.push_back(wanted);
            return wanted;
        };
    };
}

const State AllStates[] = {State::Start, State::ToolsShown, State::ClearPicture, State::SettingsOpen,
                           State::AboutOpen};

}  // namespace

Q_DECLARE_METATYPE(State)
Q_DECLARE_METATYPE(Action)

class TestCommands : public QObject {
    Q_OBJECT

private slots:
    // ------------------------------------------------------------ the states

    void transitions_data()
    {
        QTest::addColumn<State>("from");
        QTest::addColumn<Action>("action");
        QTest::addColumn<State>("to");
        QTest::newRow("Start, tap") << State::Start << Action::Tap << State::ToolsShown;
        QTest::newRow("Tools shown, tap") << State::ToolsShown << Action::Tap << State::ToolsShown;
        QTest::newRow("Clear picture, tap") << State::ClearPicture << Action::Tap << State::ToolsShown;
        QTest::newRow("Settings open, tap") << State::SettingsOpen << Action::Tap << State::ClearPicture;
        QTest::newRow("About open, tap") << State::AboutOpen << Action::Tap << State::ClearPicture;
        QTest::newRow("Tools shown, auto-hide") << State::ToolsShown << Action::AutoHide << State::ClearPicture;
        QTest::newRow("Tools shown, settings icon") << State::ToolsShown << Action::SettingsIcon
                                                    << State::SettingsOpen;
        QTest::newRow("Settings open, OK") << State::SettingsOpen << Action::Ok << State::ClearPicture;
        QTest::newRow("Tools shown, about icon") << State::ToolsShown << Action::AboutIcon << State::AboutOpen;
        QTest::newRow("Tools shown, eye icon") << State::ToolsShown << Action::EyeIcon << State::ToolsShown;
    }

    void transitions()
    {
        QFETCH(State, from);
        QFETCH(Action, action);
        QFETCH(State, to);

        CameraFixture fx(Front);
        QVERIFY(fx.show());
        enter(fx, from);
        QCOMPARE(observedState(fx), nameOf(from));
        fx.f().ButtonsVisibleTimerCount = 33;
        act(fx, action);
        QCOMPARE(observedState(fx), nameOf(to));
        if (action != Action::AutoHide)
            QCOMPARE(fx.f().ButtonsVisibleTimerCount, 0);
    }

    // ------------------------------------------------------------ eye icon

    void eyeIconFlipsTheView_data()
    {
        QTest::addColumn<bool>("viaQt");
        QTest::newRow("handlers") << false;
        QTest::newRow("Qt events") << true;
    }

    void eyeIconFlipsTheView()
    {
        QFETCH(bool, viaQt);
        CameraFixture fx(Front);
        auto& f = fx.f();
        if (viaQt)
            QVERIFY(fx.show());
        f.OutputRectangleClick(nullptr);
        fx.press(f.CameraIconRectangle);
        const TVideoCaptureSetting setting = f.CameraComponent->GetCaptureSetting();
        const int starts = fx.source->startCount();

        const bool views[] = {false, true, false};
        for (bool quorl : views) {
            f.ButtonsVisibleTimerCount = 50;
            fx.clock.advance(500);
            if (viaQt)
                fx.qtPress(f.EyeIconRectangle);
            else
                fx.press(f.EyeIconRectangle);
            QCOMPARE(f.QuorlEyeMode, quorl);
            QVERIFY(fx.shows(f.EyeIconRectangle, quorl ? "eye_quorl" : "eye_human"));
            QCOMPARE(f.ButtonsVisibleTimerCount, 0);
            QCOMPARE(observedState(fx), nameOf(State::ToolsShown));
        }
        QVERIFY(f.CameraComponent->Active());
        QCOMPARE(f.CameraComponent->GetCaptureSetting(), setting);
        QCOMPARE(fx.source->startCount(), starts);
    }

    // A press held longer than 500 ms is no click, on every icon.
    void longPressIgnored_data()
    {
        QTest::addColumn<int>("icon");
        QTest::addColumn<int>("heldMs");
        QTest::addColumn<bool>("acts");
        const char* names[] = {"eye", "settings", "about"};
        for (int icon = 0; icon < 3; ++icon) {
            QTest::addRow("%s held 500", names[icon]) << icon << 500 << true;
            QTest::addRow("%s held 600", names[icon]) << icon << 600 << false;
        }
    }

    void longPressIgnored()
    {
        QFETCH(int, icon);
        QFETCH(int, heldMs);
        QFETCH(bool, acts);

        CameraFixture fx(Front);
        auto& f = fx.f();
        QVERIFY(fx.show());
        act(fx, Action::Tap);
        f.ButtonsVisibleTimerCount = 50;
        TRectangle* const target[] = {f.EyeIconRectangle, f.SettingsIconRectangle, f.AboutIconRectangle};
        fx.clock.advance(500);
        fx.qtPress(target[icon], heldMs);

        switch (icon) {
        case 0:
            QCOMPARE(f.QuorlEyeMode, !acts);
            QVERIFY(fx.shows(f.EyeIconRectangle, acts ? "eye_human" : "eye_quorl"));
            QCOMPARE(observedState(fx), nameOf(State::ToolsShown));
            break;
        case 1: QCOMPARE(observedState(fx), nameOf(acts ? State::SettingsOpen : State::ToolsShown)); break;
        case 2: QCOMPARE(observedState(fx), nameOf(acts ? State::AboutOpen : State::ToolsShown)); break;
        }
        QCOMPARE(f.ButtonsVisibleTimerCount, acts ? 0 : 50);
    }

    // ------------------------------------------------------------ taps

    void tapBringsToolsBack_data()
    {
        QTest::addColumn<State>("from");
        QTest::addColumn<int>("fadeTicks");
        QTest::newRow("Start") << State::Start << 0;
        QTest::newRow("Tools shown") << State::ToolsShown << 0;
        QTest::newRow("Tools fading") << State::ToolsShown << 205;
        QTest::newRow("Clear picture") << State::ClearPicture << 0;
    }

    void tapBringsToolsBack()
    {
        QFETCH(State, from);
        QFETCH(int, fadeTicks);

        CameraFixture fx(Front);
        auto& f = fx.f();
        QVERIFY(fx.show());
        enter(fx, from);
        fx.toolTicks(fadeTicks);
        if (fadeTicks > 0)
            QVERIFY(f.SettingsIconRectangle->Opacity() < 0.6f);
        // Whatever dimmed the label and the track bar, a tap undoes it.
        f.CameraResolutionsLabel->SetOpacity(0.3f);
        f.CameraResolutionsTrackBar->SetOpacity(0.3f);
        f.ButtonsVisibleTimerCount = 150;

        fx.qtTapPicture();
        QCOMPARE(observedState(fx), nameOf(State::ToolsShown));
        QVERIFY(f.IsToolsVisible);
        QCOMPARE(f.ButtonsVisibleTimerCount, 0);
        for (TControl* c : std::initializer_list<TControl*>{
                 f.SettingsIconRectangle, f.CameraIconRectangle, f.EyeIconRectangle, f.CameraResolutionsLabel,
                 f.CameraResolutionsTrackBar, f.SwitchFrontAndBackCameraIconRectangle, f.AboutIconRectangle})
            QVERIFY2(c->Opacity() == 1.0f, c->Name().c_str());
        // The countdown starts from 0: 200 ticks without a change.
        fx.toolTicks(200);
        QCOMPARE(f.SettingsIconRectangle->Opacity(), 1.0f);
    }

    void cancelRestoresCamera_data()
    {
        QTest::addColumn<bool>("on");
        QTest::addColumn<bool>("vanishes");
        QTest::newRow("camera off") << false << false;
        QTest::newRow("camera on") << true << false;
        QTest::newRow("camera lost while the panel was open") << true << true;
    }

    void cancelRestoresCamera()
    {
        QFETCH(bool, on);
        QFETCH(bool, vanishes);

        Settings requests;
        CameraFixture fx(Front, {}, recordRequests(requests));
        auto& f = fx.f();
        QVERIFY(fx.show());
        if (on)
            fx.press(f.CameraIconRectangle);
        enter(fx, State::SettingsOpen);
        QCOMPARE(f.SavedCaptureSetting, mode(640, 480, 30));
        QCOMPARE(f.SavedCameraActive, on);

        // The user moves the thumb to 1280x720 but taps the picture.
        fx.dragTrackBar(3.0f);
        QCOMPARE(f.CameraResolutionsLabel->Text(), labelOf(1280, 720));
        if (vanishes)
            fx.source->vanish();
        requests.clear();
        act(fx, Action::Tap);

        QCOMPARE(observedState(fx), nameOf(State::ClearPicture));
        QCOMPARE(f.CameraComponent->Active(), on);
        QCOMPARE(f.CameraComponent->GetCaptureSetting(), mode(640, 480, 30));
        QVERIFY(!requests.empty());
        QCOMPARE(requests.back(), mode(640, 480, 30));
        QVERIFY(f.UseDefaultResolution);
        QCOMPARE(f.CameraResolutionsLabel->Text(), labelOf(640, 480));
        if (on)
            QCOMPARE(fx.source->lastStartedSetting(), mode(640, 480, 30));
    }

    // An opening with an empty catalogue saves nothing: its cancel gives the
    // camera what the last opening with a catalogue saved, or, with none,
    // stops it and passes the all-zero setting (which the camera ignores).
    void cancelAfterEmptyOpening_data()
    {
        QTest::addColumn<bool>("earlierOpening");
        QTest::newRow("no earlier opening") << false;
        QTest::newRow("after an opening with a catalogue") << true;
    }

    void cancelAfterEmptyOpening()
    {
        QFETCH(bool, earlierOpening);

        Settings requests;
        // The back camera offers nothing.
        CameraFixture fx(Front, {}, recordRequests(requests));
        auto& f = fx.f();
        if (earlierOpening) {
            // Opened and cancelled with the front camera off.
            f.OutputRectangleClick(nullptr);
            fx.click(f.SettingsIconRectangle);
            f.OutputRectangleClick(nullptr);
        }
        f.OutputRectangleClick(nullptr);
        fx.click(f.CameraIconRectangle);
        QVERIFY(f.CameraComponent->Active());
        fx.click(f.SwitchFrontAndBackCameraIconRectangle);
        QVERIFY(f.CameraCaptureSettings.empty());
        QVERIFY(f.CameraComponent->Active());

        const TVideoCaptureSetting before = f.CameraComponent->GetCaptureSetting();
        fx.click(f.SettingsIconRectangle);
        QCOMPARE(f.CameraResolutionsLabel->Text(), std::string("Camera not available"));
        const TVideoCaptureSetting saved = earlierOpening ? mode(640, 480, 30) : TVideoCaptureSetting();
        QCOMPARE(f.SavedCaptureSetting, saved);
        QVERIFY(!f.SavedCameraActive);

        requests.clear();
        f.OutputRectangleClick(nullptr);
        QVERIFY(!f.CameraComponent->Active());
        QCOMPARE(observedState(fx), nameOf(State::ClearPicture));
        if (earlierOpening) {
            QCOMPARE(requests, Settings{saved});
            QCOMPARE(f.CameraComponent->GetCaptureSetting(), saved);
        } else {
            QVERIFY(requests.empty());
            QCOMPARE(f.CameraComponent->GetCaptureSetting(), before);
        }
    }

    // ------------------------------------------------------------ Escape

    void escapeInEveryState_data()
    {
        QTest::addColumn<State>("state");
        QTest::addColumn<bool>("on");
        QTest::addColumn<bool>("viaQt");
        for (State s : AllStates)
            for (bool on : {false, true})
                for (bool viaQt : {false, true})
                    QTest::addRow("%s, camera %s, %s", qPrintable(nameOf(s)), on ? "on" : "off",
                                  viaQt ? "key event" : "handler")
                        << s << on << viaQt;
    }

    void escapeInEveryState()
    {
        QFETCH(State, state);
        QFETCH(bool, on);
        QFETCH(bool, viaQt);

        CameraFixture fx(Front);
        auto& f = fx.f();
        QVERIFY(fx.show());
        if (on)
            fx.press(f.CameraIconRectangle);
        enter(fx, state);
        if (!on || state != State::Start)  // the camera click started the countdown
            QCOMPARE(observedState(fx), nameOf(state));

        if (viaQt) {
            QTest::keyClick(f.widget(), Qt::Key_Escape);
        } else {
            std::uint16_t key = vkEscape;
            char16_t ch = 0x1B;
            f.FormKeyDown(nullptr, key, ch, 0);
            QCOMPARE(key, vkEscape);
            QCOMPARE(ch, char16_t(0x1B));
        }
        // A stopped camera lets the window close at once; a running one
        // is stopped first.
        QCOMPARE(f.isClosed(), !on);
        QCOMPARE(f.widget()->isVisible(), on);
        QCOMPARE(f.ExitCameraTimer->Enabled(), on);
        if (on) {
            fx.exitTicks(4);
            QVERIFY(!f.CameraComponent->Active());
            QVERIFY(f.isClosed());
        }
    }

    void otherKeys_data()
    {
        QTest::addColumn<int>("qtKey");
        QTest::addColumn<int>("modifiers");
        QTest::addColumn<int>("key");
        QTest::addColumn<int>("keyChar");
        QTest::addColumn<int>("shift");
        QTest::addColumn<bool>("closes");
        QTest::newRow("Enter") << int(Qt::Key_Return) << 0 << 13 << 13 << 0 << false;
        QTest::newRow("Space") << int(Qt::Key_Space) << 0 << 32 << 32 << 0 << false;
        QTest::newRow("letter Q") << int(Qt::Key_Q) << 0 << int('Q') << int('q') << 0 << false;
        QTest::newRow("Ctrl+Q") << int(Qt::Key_Q) << int(Qt::ControlModifier) << int('Q') << 17
                                << int(TShift::Ctrl) << false;
        QTest::newRow("Backspace") << int(Qt::Key_Backspace) << 0 << 8 << 8 << 0 << false;
        QTest::newRow("F4 with Alt") << int(Qt::Key_F4) << int(Qt::AltModifier) << 0 << 0 << int(TShift::Alt)
                                     << false;
        // Only the key code counts, not the character or the modifiers.
        QTest::newRow("Escape with Shift") << int(Qt::Key_Escape) << int(Qt::ShiftModifier) << 27 << 27
                                           << int(TShift::Shift) << true;
        QTest::newRow("Escape character, other key") << -1 << 0 << 0 << 27 << 0 << false;
    }

    void otherKeys()
    {
        QFETCH(int, qtKey);
        QFETCH(int, modifiers);
        QFETCH(int, key);
        QFETCH(int, keyChar);
        QFETCH(int, shift);
        QFETCH(bool, closes);

        {
            CameraFixture fx(Front);
            auto& f = fx.f();
            std::uint16_t k = std::uint16_t(key);
            char16_t ch = char16_t(keyChar);
            f.FormKeyDown(nullptr, k, ch, TShiftState(shift));
            QCOMPARE(f.isClosed(), closes);
            QCOMPARE(int(k), key);
            QCOMPARE(int(ch), keyChar);
        }
        if (qtKey < 0)
            return;
        CameraFixture fx(Front);
        auto& f = fx.f();
        QVERIFY(fx.show());
        fx.press(f.CameraIconRectangle);
        QTest::keyClick(f.widget(), Qt::Key(qtKey), Qt::KeyboardModifiers(modifiers));
        QCOMPARE(f.ExitCameraTimer->Enabled(), closes);
        QVERIFY(!f.isClosed());
    }

    // ------------------------------------------------------------ settings

    void settingsOpens_data()
    {
        QTest::addColumn<bool>("on");
        QTest::addColumn<float>("okAt");  // < 0: no earlier OK, default in force
        QTest::addColumn<TVideoCaptureSetting>("inForce");
        QTest::addColumn<float>("value");
        QTest::newRow("default, camera off") << false << -1.0f << mode(640, 480, 30) << 2.0f;
        QTest::newRow("default, camera on") << true << -1.0f << mode(640, 480, 30) << 2.0f;
        // The thumb left at 1.9 chose entry 2; the opening puts it on 1.
        QTest::newRow("user's 320x240") << true << 1.9f << mode(320, 240, 30) << 1.0f;
        QTest::newRow("user's 1920x1080") << false << 0.0f << mode(1920, 1080, 30) << 0.0f;
    }

    void settingsOpens()
    {
        QFETCH(bool, on);
        QFETCH(float, okAt);
        QFETCH(TVideoCaptureSetting, inForce);
        QFETCH(float, value);

        CameraFixture fx(Front);
        auto& f = fx.f();
        QVERIFY(fx.show());
        if (on)
            fx.press(f.CameraIconRectangle);
        if (okAt >= 0.0f) {
            enter(fx, State::SettingsOpen);
            fx.dragTrackBar(okAt);
            act(fx, Action::Ok);
        }
        f.CameraResolutionsTrackBar->SetEnabled(false);
        act(fx, Action::Tap);
        f.ButtonsVisibleTimerCount = 20;
        act(fx, Action::SettingsIcon);

        QCOMPARE(observedState(fx), nameOf(State::SettingsOpen));
        QCOMPARE(f.ButtonsVisibleTimerCount, 0);
        QVERIFY(f.CameraResolutionsTrackBar->Enabled());
        QCOMPARE(f.CameraResolutionsLabel->Text(), labelOf(inForce.Width, inForce.Height));
        QCOMPARE(f.CameraResolutionsTrackBar->Value(), value);
        QCOMPARE(f.SavedCaptureSetting, inForce);
        QCOMPARE(f.SavedCameraActive, on);
        QCOMPARE(f.CameraComponent->Active(), on);
    }

    void settingsWithoutCamera()
    {
        CameraFixture fx({});
        auto& f = fx.f();
        QVERIFY(fx.show());
        const TVideoCaptureSetting before = f.CameraComponent->GetCaptureSetting();
        enter(fx, State::SettingsOpen);
        QCOMPARE(observedState(fx), nameOf(State::SettingsOpen));
        QCOMPARE(f.CameraResolutionsLabel->Text(), std::string("Camera not available"));
        QVERIFY(!f.CameraResolutionsTrackBar->Enabled());
        QCOMPARE(f.SavedCaptureSetting, TVideoCaptureSetting());
        QVERIFY(!f.SavedCameraActive);

        act(fx, Action::Ok);
        QCOMPARE(observedState(fx), nameOf(State::ClearPicture));
        QCOMPARE(f.CameraComponent->GetCaptureSetting(), before);
        QVERIFY(f.UseDefaultResolution);
        QCOMPARE(fx.source->startCount(), 0);
    }

    // Once the user has changed the track bar, OK always stops and restarts
    // a running camera, also when there is no catalogue to choose from.
    void okWithoutCatalogueAfterAChange()
    {
        CameraFixture fx(Front);
        auto& f = fx.f();
        fx.press(f.CameraIconRectangle);
        f.OutputRectangleClick(nullptr);
        fx.click(f.SettingsIconRectangle);
        fx.dragTrackBar(3.0f);
        f.OKButtonClick(nullptr);
        QCOMPARE(f.CustomCameraResolution, mode(1280, 720, 30));

        f.OutputRectangleClick(nullptr);
        fx.click(f.SwitchFrontAndBackCameraIconRectangle);  // the back camera offers nothing
        QVERIFY(f.CameraComponent->Active());
        fx.click(f.SettingsIconRectangle);
        const TVideoCaptureSetting before = f.CameraComponent->GetCaptureSetting();
        const int starts = fx.source->startCount();
        const int stops = fx.source->stopCount();
        f.IsClearOutputNeeded = false;
        f.OKButtonClick(nullptr);

        QCOMPARE(observedState(fx), nameOf(State::ClearPicture));
        QVERIFY(f.CameraComponent->Active());
        QCOMPARE(fx.source->stopCount(), stops + 1);
        QCOMPARE(fx.source->startCount(), starts + 1);
        QCOMPARE(f.CameraComponent->GetCaptureSetting(), before);
        QCOMPARE(f.CustomCameraResolution, mode(1280, 720, 30));
        QVERIFY(f.UseDefaultResolution);
        QVERIFY(f.IsClearOutputNeeded);
    }

    void okAppliesTheChosenEntry_data()
    {
        QTest::addColumn<float>("thumb");
        QTest::addColumn<bool>("on");
        QTest::addColumn<TVideoCaptureSetting>("entry");
        for (bool on : {false, true}) {
            const char* camera = on ? "camera on" : "camera off";
            QTest::addRow("maximum: entry 0, %s", camera) << 3.0f << on << mode(1280, 720, 30);
            QTest::addRow("minimum: last entry, %s", camera) << 0.0f << on << mode(1920, 1080, 30);
            QTest::addRow("1.9: entry 2, %s", camera) << 1.9f << on << mode(320, 240, 30);
            QTest::addRow("0.5: last entry, %s", camera) << 0.5f << on << mode(1920, 1080, 30);
        }
    }

    void okAppliesTheChosenEntry()
    {
        QFETCH(float, thumb);
        QFETCH(bool, on);
        QFETCH(TVideoCaptureSetting, entry);

        CameraFixture fx(Front);
        auto& f = fx.f();
        if (on)
            fx.press(f.CameraIconRectangle);
        f.OutputRectangleClick(nullptr);
        fx.click(f.SettingsIconRectangle);
        fx.dragTrackBar(thumb);
        QVERIFY(f.IsResolutionChanged);
        const int starts = fx.source->startCount();
        const int stops = fx.source->stopCount();
        f.IsClearOutputNeeded = false;
        f.ButtonsVisibleTimerCount = 9;
        f.OKButtonClick(nullptr);

        QCOMPARE(observedState(fx), nameOf(State::ClearPicture));
        QCOMPARE(f.ButtonsVisibleTimerCount, 0);
        QCOMPARE(f.CameraComponent->GetCaptureSetting(), entry);
        QCOMPARE(f.CustomCameraResolution, entry);
        QVERIFY(!f.UseDefaultResolution);
        QVERIFY(f.IsClearOutputNeeded);
        QCOMPARE(f.CameraResolutionsLabel->Text(), labelOf(entry.Width, entry.Height));
        QCOMPARE(f.CameraComponent->Active(), on);
        if (on) {
            // Stopped and started again, once, with the new setting.
            QCOMPARE(fx.source->stopCount(), stops + 1);
            QCOMPARE(fx.source->startCount(), starts + 1);
            QCOMPARE(fx.source->lastStartedSetting(), entry);
            QCOMPARE(f.ActiveCaptureSetting, entry);
        } else {
            QCOMPARE(fx.source->startCount(), starts);
            fx.click(f.CameraIconRectangle);  // no icon shows; the handler still decides
            QCOMPARE(fx.source->lastStartedSetting(), entry);
        }
    }

    // OK applies nothing until the user has changed the track bar; from then
    // on every OK stops and restarts the camera, even without a new move.
    void okAppliesOnlyAfterAChange()
    {
        CameraFixture fx(Front);
        auto& f = fx.f();
        fx.press(f.CameraIconRectangle);
        auto openAndOk = [&](float* drag) {
            f.OutputRectangleClick(nullptr);
            fx.click(f.SettingsIconRectangle);
            if (drag)
                fx.dragTrackBar(*drag);
            f.OKButtonClick(nullptr);
        };

        int stops = fx.source->stopCount();
        openAndOk(nullptr);
        QCOMPARE(fx.source->stopCount(), stops);
        QVERIFY(f.UseDefaultResolution);

        float thumb = 3.0f;
        openAndOk(&thumb);
        QCOMPARE(fx.source->stopCount(), stops + 1);
        QCOMPARE(f.CameraComponent->GetCaptureSetting(), mode(1280, 720, 30));

        openAndOk(nullptr);
        QCOMPARE(fx.source->stopCount(), stops + 2);
        QCOMPARE(f.CameraComponent->GetCaptureSetting(), mode(1280, 720, 30));
        QVERIFY(f.CameraComponent->Active());
    }

    // The whole choice through Qt: the thumb pulled to the left end of the
    // track bar, then the OK button.
    void chooseWithPointer()
    {
        CameraFixture fx(Front);
        auto& f = fx.f();
        QVERIFY(fx.show());
        enter(fx, State::SettingsOpen);
        TTrackBar* bar = f.CameraResolutionsTrackBar;
        const QPoint leftEnd = bar->widget()->mapTo(f.widget(), QPoint(1, bar->widget()->height() / 2));
        QTest::mouseClick(f.widget(), Qt::LeftButton, {}, leftEnd);
        QCOMPARE(bar->Value(), 0.0f);
        QVERIFY(f.IsResolutionChanged);
        QCOMPARE(f.CameraResolutionsLabel->Text(), labelOf(1920, 1080));

        act(fx, Action::Ok);
        QCOMPARE(observedState(fx), nameOf(State::ClearPicture));
        QCOMPARE(f.CameraComponent->GetCaptureSetting(), mode(1920, 1080, 30));
        act(fx, Action::Tap);
        QCOMPARE(fx.visibleIcons(), 5);
    }

    // ------------------------------------------------------------ about

    void aboutOpens_data()
    {
        QTest::addColumn<int>("width");
        QTest::addColumn<int>("height");
        QTest::newRow("640 x 480") << 640 << 480;
        QTest::newRow("1000 x 800") << 1000 << 800;
        QTest::newRow("500 x 900") << 500 << 900;
        QTest::newRow("1280 x 600") << 1280 << 600;
    }

    void aboutOpens()
    {
        QFETCH(int, width);
        QFETCH(int, height);

        CameraFixture fx(Front);
        auto& f = fx.f();
        QVERIFY(fx.show());
        f.SetClientWidth(width);
        f.SetClientHeight(height);
        QTRY_COMPARE(f.widget()->size(), QSize(width, height));
        enter(fx, State::AboutOpen);

        QCOMPARE(observedState(fx), nameOf(State::AboutOpen));
        QVERIFY(!f.IsToolsVisible);
        QCOMPARE(f.ButtonsVisibleTimerCount, 0);
        QCOMPARE(f.AboutMemo->Align(), TAlignLayout::Center);
        QCOMPARE(f.AboutMemo->widget()->geometry(), QRect((width - 400) / 2, (height - 200) / 2, 400, 200));
        QVERIFY(f.AboutMemo->widget()->isVisible());
        auto* edit = qobject_cast<QPlainTextEdit*>(f.AboutMemo->widget());
        QVERIFY(edit);
        QVERIFY(f.AboutMemo->WordWrap());
        QCOMPARE(edit->lineWrapMode(), QPlainTextEdit::WidgetWidth);
        QVERIFY(edit->isReadOnly());
        QVERIFY(edit->toPlainText().startsWith("Quorl Eye Vision v.1.0\n\nSome animals"));

        // Typing changes nothing.
        const QString text = edit->toPlainText();
        QTest::keyClicks(edit, "xyz");
        QCOMPARE(edit->toPlainText(), text);
        QCOMPARE(f.AboutMemo->Lines().Count(), 9);
    }

    void aboutMemoClickAndTapBeside()
    {
        CameraFixture fx(Front);
        auto& f = fx.f();
        QVERIFY(fx.show());
        enter(fx, State::AboutOpen);
        QTest::mouseClick(f.widget(), Qt::LeftButton, {}, fx.windowPoint(f.AboutMemo));
        QCOMPARE(observedState(fx), nameOf(State::AboutOpen));
        f.AboutMemoClick(nullptr);
        QCOMPARE(observedState(fx), nameOf(State::AboutOpen));

        act(fx, Action::Tap);
        QCOMPARE(observedState(fx), nameOf(State::ClearPicture));
        act(fx, Action::Tap);
        QCOMPARE(observedState(fx), nameOf(State::ToolsShown));
    }

    void aboutStopsTheFading()
    {
        CameraFixture fx(Front);
        auto& f = fx.f();
        f.OutputRectangleClick(nullptr);
        fx.toolTicks(205);
        QVERIFY(f.SettingsIconRectangle->Opacity() < 0.6f);
        fx.click(f.AboutIconRectangle);
        QCOMPARE(observedState(fx), nameOf(State::AboutOpen));
    }
};

QTEST_MAIN(TestCommands)
#include "tst_commands.moc"
