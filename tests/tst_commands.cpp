// The commands through the real window: the window's five states and the
// taps, icons and OK button that lead between them, the settings panel
// (open, OK, cancel) as the camera sees it, the eye icon, Escape and the
// about panel.

#define QTEST_QPA_MOUSE_HANDLING
#include <QtTest>

#include <QAccessible>
#include <QPlainTextEdit>

#include "support/window_fixture.h"

enum State { Start, ToolsShown, ClearPicture, SettingsOpen, AboutOpen, TrackBarFocus, OKFocus, MemoFocus };
const char* const Names[] = {"Start",      "Tools shown",          "Clear picture", "Settings open",
                             "About open", "Track bar has focus", "OK has focus",  "Memo has focus"};
const char* const Scripts[] = {"", "tap", "tap hide", "tap settings", "tap about",
                               "tap settings tab", "tap settings tab tab", "tap about tab"};
Q_DECLARE_METATYPE(State)

// What each state shows: the icons (Settings, Camera, Eye, Front/back,
// About; lower case while fading), how many parts of the settings panel,
// the about memo, and whether the auto-hide countdown runs.
const char* const Looks[] = {"-C--- 0 0 0", "SCEFA 0 0 1", "----- 0 0 0", "----- 4 0 0",
                             "----- 0 1 0", "----- 4 0 0", "----- 4 0 0", "----- 0 1 0"};

QString looks(CameraFixture& fx)
{
    auto& f = fx.f();
    const TRectangle* icons[] = {f.SettingsIconRectangle, f.CameraIconRectangle, f.EyeIconRectangle,
                                 f.SwitchFrontAndBackCameraIconRectangle, f.AboutIconRectangle};
    QString s;
    for (int i = 0; i < 5; ++i)
        s += !icons[i]->Visible() ? QChar('-') : icons[i]->Opacity() == 1.0f ? QChar("SCEFA"[i]) : QChar("scefa"[i]);
    int panel = 0;
    for (TControl* c : std::initializer_list<TControl*>{f.CameraResolutionsRectangle, f.CameraResolutionsLabel,
                                                        f.CameraResolutionsTrackBar, f.OKButton})
        panel += c->Visible() ? 1 : 0;
    const int memo = f.AboutMemo->Visible();
    return s + QString(" %1 %2 %3").arg(panel).arg(memo).arg(int(f.ButtonsVisibleTimer->Enabled()));
}

// The camera and the settings panel: "on|off <setting in force> <starts>/<stops>",
// a "*" when the next frame clears the picture, then the track bar.
QString observed(CameraFixture& fx)
{
    TCameraComponent* camera = fx.f().CameraComponent;
    return QString("%1 %2 %3/%4%5 | %6%7")
        .arg(camera->Active() ? "on" : "off", QString::fromStdString(settingText(camera->GetCaptureSetting())))
        .arg(fx.source->startCount())
        .arg(fx.source->stopCount())
        .arg(fx.f().IsClearOutputNeeded ? "*" : "", fx.trackBar(),
             fx.f().CameraResolutionsTrackBar->Enabled() ? "" : " disabled");
}

const QMap<QString, Qt::Key> Keys = {{"tab", Qt::Key_Tab},     {"backtab", Qt::Key_Backtab}, {"left", Qt::Key_Left},
                                     {"right", Qt::Key_Right}, {"up", Qt::Key_Up},           {"down", Qt::Key_Down},
                                     {"home", Qt::Key_Home},   {"end", Qt::Key_End},         {"return", Qt::Key_Return},
                                     {"space", Qt::Key_Space}};

// One word of a user's session: "on" and "switch" click the camera and the
// front/back icon, "settings", "about" and "eye" press those icons through
// Qt ("about/600": held 600 ms), "tap" taps the picture, "ok" clicks OK,
// "hide" and "fade" let the auto-hide run out or half way, "drag<v>" moves
// the thumb to v and lets go, "lost" makes the camera vanish; "tab",
// "backtab", "left", "right", "up", "down", "home", "end", "return" and
// "space" are key presses on the window, which go to the control with the
// keyboard focus.
void playWord(CameraFixture& fx, const QString& Word)
{
    auto& f = fx.f();
    if (Keys.contains(Word))
        return QTest::keyClick(f.widget()->windowHandle(), Keys[Word],
                               Word == "backtab" ? Qt::ShiftModifier : Qt::NoModifier);
    const QMap<QString, TRectangle*> icons = {
        {"settings", f.SettingsIconRectangle}, {"about", f.AboutIconRectangle}, {"eye", f.EyeIconRectangle}};
    if (icons.contains(Word.section('/', 0, 0))) {
        fx.clock.advance(500);
        fx.qtPress(icons[Word.section('/', 0, 0)], Word.section('/', 1).toInt());
    } else if (Word == "on" || Word == "switch") {
        fx.click(Word == "on" ? f.CameraIconRectangle : f.SwitchFrontAndBackCameraIconRectangle);
    } else if (Word == "tap") {
        fx.qtTapPicture();
    } else if (Word == "ok") {
        QTest::mouseClick(f.widget(), Qt::LeftButton, {}, fx.windowPoint(f.OKButton));
    } else if (Word == "hide" || Word == "fade") {
        fx.toolTicks(Word == "hide" ? 209 : 205);
        QVERIFY(Word == "hide" || looks(fx).startsWith("scefa"));  // half way: all five still there
    } else if (Word.startsWith("drag")) {
        fx.dragTrackBar(Word.mid(4).toFloat());
    } else {
        QCOMPARE(Word, "lost");
        fx.source->vanish();
    }
}

void play(CameraFixture& fx, const char* Script)
{
    for (const QString& word : QString(Script).split(' ', Qt::SkipEmptyParts))
        playWord(fx, word);
}

class TestCommands : public QObject {
    Q_OBJECT

private slots:
    // The back camera offers nothing. The last word is the action under
    // test: it restarts the auto-hide countdown unless held too long or a
    // key inside the open panel.
    void session_data()
    {
        QTest::addColumn<QString>("script");
        QTest::addColumn<State>("state");
        QTest::addColumn<QString>("seen");  // empty: not looked at
        auto row = [](const char* script, State state, const char* seen = "") {
            QTest::newRow(script) << QString(script) << state << QString(seen);
        };
        row("tap", ToolsShown);
        row("tap tap", ToolsShown);
        row("tap hide", ClearPicture);
        row("tap hide tap", ToolsShown);
        row("tap fade tap", ToolsShown);
        row("tap eye", ToolsShown);
        row("tap settings/500", SettingsOpen);
        row("tap settings/600", ToolsShown);
        row("tap about/600", ToolsShown);
        row("tap about", AboutOpen);
        row("tap fade about", AboutOpen);
        row("tap about tap", ClearPicture);
        row("tap about tap tap", ToolsShown);
        row("tap settings", SettingsOpen, "off 640x480 @ 30 0/0 | 640x480 @ 2/3");
        row("on tap settings drag1.9 ok tap settings", SettingsOpen, "on 320x240 @ 30 2/1 | 320x240 @ 1/3");
        row("tap settings drag0 ok tap settings", SettingsOpen, "off 1920x1080 @ 30 0/0 | 1920x1080 @ 0/3");
        // Cancel: the camera as it was at the opening, whatever the thumb shows.
        row("tap settings drag3 tap", ClearPicture, "off 640x480 @ 30 0/0 | 640x480 @ 2/3");
        row("on tap settings drag3 tap", ClearPicture, "on 640x480 @ 30 1/0 | 640x480 @ 2/3");
        row("on tap settings drag3 lost tap", ClearPicture, "on 640x480 @ 30 2/1 | 640x480 @ 2/3");
        // An opening without a catalogue saves nothing: the cancel restores
        // the last opening with one, or stops the camera.
        // (A camera that offers no setting does not start after the switch.)
        row("on tap switch settings tap", ClearPicture, "off 0x0 @ 0 1/1 | Camera not available @ 0/0 disabled");
        row("tap settings drag3 tap tap on switch settings tap", ClearPicture,
            "off 640x480 @ 30 1/1 | Camera not available @ 0/0 disabled");
        // OK at both ends of the track bar, with the camera running and
        // stopped; nothing applied before the track bar was changed.
        row("tap settings drag3 ok", ClearPicture, "off 1280x720 @ 30 0/0* | 1280x720 @ 3/3");
        row("on tap settings drag3 ok", ClearPicture, "on 1280x720 @ 30 2/1* | 1280x720 @ 3/3");
        row("tap settings drag0 ok", ClearPicture, "off 1920x1080 @ 30 0/0* | 1920x1080 @ 0/3");
        row("on tap settings drag0 ok", ClearPicture, "on 1920x1080 @ 30 2/1* | 1920x1080 @ 0/3");
        row("tap settings drag3 ok tap on", ToolsShown, "on 1280x720 @ 30 1/0 | 1280x720 @ 3/3");
        row("on tap settings ok", ClearPicture, "on 640x480 @ 30 1/0 | 640x480 @ 2/3");
        row("tap settings ok tap", ToolsShown);
        // Once changed, every OK stops and restarts the camera, also without
        // a move and without a catalogue.
        row("on tap settings drag3 ok tap settings ok", ClearPicture, "on 1280x720 @ 30 3/2* | 1280x720 @ 3/3");
        row("on tap settings drag3 ok tap switch settings ok", ClearPicture,
            "off 0x0 @ 0 2/2* | Camera not available @ 0/0 disabled");
        row("tap switch settings ok", ClearPicture, "off 0x0 @ 0 0/0 | Camera not available @ 0/0 disabled");
        row("tap switch settings tap tap switch settings", SettingsOpen, "off 640x480 @ 30 0/0 | 640x480 @ 2/3");
        // The keyboard: Tab goes to the track bar (first in the tab order),
        // then to OK and round again, Shift+Tab back; an arrow moves the
        // thumb one entry, Home and End to the ends, each press a change as
        // a drag is; Return or Space on OK is OK, on the track bar nothing.
        row("tap settings tab left", SettingsOpen, "off 640x480 @ 30 0/0 | 320x240 @ 1/3");
        row("tap settings tab right down down", SettingsOpen, "off 640x480 @ 30 0/0 | 320x240 @ 1/3");
        row("tap settings tab end up right", SettingsOpen, "off 640x480 @ 30 0/0 | 1280x720 @ 3/3");
        row("tap settings tab tab tab left", SettingsOpen, "off 640x480 @ 30 0/0 | 320x240 @ 1/3");
        row("tap settings backtab backtab down", SettingsOpen, "off 640x480 @ 30 0/0 | 320x240 @ 1/3");
        row("tap settings tab return space", SettingsOpen, "off 640x480 @ 30 0/0 | 640x480 @ 2/3");
        row("tap settings tab left tab return", ClearPicture, "off 320x240 @ 30 0/0* | 320x240 @ 1/3");
        row("on tap settings tab home tab space", ClearPicture, "on 1920x1080 @ 30 2/1* | 1920x1080 @ 0/3");
        row("tap settings tab tab return", ClearPicture, "off 640x480 @ 30 0/0 | 640x480 @ 2/3");
        row("tap switch settings tab left tab", SettingsOpen, "off 0x0 @ 0 0/0 | Camera not available @ 0/0 disabled");
    }

    void session()
    {
        QFETCH(QString, script);
        QFETCH(State, state);
        QFETCH(QString, seen);
        CameraFixture fx(FrontSettings);
        auto& f = fx.f();
        QVERIFY(fx.show());
        QStringList words = script.split(' ');
        const QString last = words.takeLast();
        for (const QString& word : words)
            playWord(fx, word);
        f.ButtonsVisibleTimerCount = 33;
        f.IsClearOutputNeeded = false;
        playWord(fx, last);
        QCOMPARE(looks(fx), Looks[state]);
        // Keys that leave the panel open leave the countdown alone.
        const bool untouched = last.endsWith("/600") || (state == SettingsOpen && Keys.contains(last));
        QCOMPARE(f.ButtonsVisibleTimerCount, untouched ? 33 : 0);
        if (!seen.isEmpty())
            QCOMPARE(observed(fx), seen);
        // A running camera runs at the setting in force, the picture fitted to it.
        if (f.CameraComponent->Active() && !f.CameraCaptureSettings.empty()) {
            QCOMPARE(fx.source->lastStartedSetting(), f.CameraComponent->GetCaptureSetting());
            QCOMPARE(f.ActiveCaptureSetting, f.CameraComponent->GetCaptureSetting());
        }
    }

    void eyeIcon()
    {
        CameraFixture fx(FrontSettings);
        auto& f = fx.f();
        const std::pair<int, bool> presses[] = {{0, false}, {600, false}, {500, true}};  // held ms, quorl-eye view
        for (auto [heldMs, quorl] : presses) {
            f.ButtonsVisibleTimerCount = 50;
            fx.clock.advance(500);
            fx.press(f.EyeIconRectangle, heldMs);
            QCOMPARE(f.QuorlEyeMode, quorl);
            QVERIFY(fx.shows(f.EyeIconRectangle, quorl ? "eye_quorl" : "eye_human"));
            QCOMPARE(f.ButtonsVisibleTimerCount, heldMs > 500 ? 50 : 0);
        }
    }

    void escapeInEveryState_data()
    {
        QTest::addColumn<State>("state");
        QTest::addColumn<bool>("on");
        QTest::addColumn<bool>("viaQt");
        for (State s : {Start, ToolsShown, ClearPicture, SettingsOpen, AboutOpen, TrackBarFocus, OKFocus, MemoFocus})
            for (bool on : {false, true})
                for (bool viaQt : {false, true})
                    QTest::addRow("%s, camera %s, %s", Names[s], on ? "on" : "off", viaQt ? "key" : "handler")
                        << s << on << viaQt;
    }

    // A stopped camera lets the window close at once; a running one is
    // stopped first. The key goes to whichever control has the focus.
    void escapeInEveryState()
    {
        QFETCH(State, state);
        QFETCH(bool, on);
        QFETCH(bool, viaQt);
        CameraFixture fx(FrontSettings);
        auto& f = fx.f();
        QVERIFY(fx.show());
        play(fx, on ? "on" : "");
        play(fx, Scripts[state]);
        const TControl* focused[] = {f.CameraResolutionsTrackBar, f.OKButton, f.AboutMemo};
        QCOMPARE(QApplication::focusWidget(), state >= TrackBarFocus ? focused[state - TrackBarFocus]->widget() : nullptr);
        std::uint16_t key = vkEscape;
        char16_t ch = 0x1B;
        viaQt ? QTest::keyClick(f.widget()->windowHandle(), Qt::Key_Escape) : f.FormKeyDown(nullptr, key, ch, 0);
        QCOMPARE(f.isClosed(), !on);
        QCOMPARE(f.ExitCameraTimer->Enabled(), on);
        fx.exitTicks(on ? 4 : 0);
        QVERIFY(f.isClosed() && !f.CameraComponent->Active());
    }

    // Only the key code counts, not the character or the modifiers.
    void otherKeys_data()
    {
        QTest::addColumn<int>("key");
        QTest::addColumn<int>("keyChar");
        QTest::addColumn<int>("shift");
        QTest::addColumn<bool>("closes");
        QTest::newRow("Enter") << 13 << 13 << 0 << false;
        QTest::newRow("Ctrl+Q") << int('Q') << 17 << int(TShift::Ctrl) << false;
        QTest::newRow("Escape with Shift") << 27 << 27 << int(TShift::Shift) << true;
        QTest::newRow("Escape character, other key") << 0 << 27 << 0 << false;
    }

    void otherKeys()
    {
        QFETCH(int, key);
        QFETCH(int, keyChar);
        QFETCH(int, shift);
        QFETCH(bool, closes);
        CameraFixture fx(FrontSettings);
        std::uint16_t k = std::uint16_t(key);
        char16_t ch = char16_t(keyChar);
        fx.f().FormKeyDown(nullptr, k, ch, TShiftState(shift));
        QCOMPARE(fx.f().isClosed(), closes);
        QVERIFY(k == key && ch == keyChar);
    }

    // What a screen reader finds in the window in each state: every shown
    // control's role and name (sorted; the picture and the label's strip are
    // unnamed client areas), the track bar's value too. An icon's name says what a click
    // does now, so it follows the icon's image.
    void accessibleTree_data()
    {
        QTest::addColumn<QString>("script");
        QTest::addColumn<QString>("tree");
        QTest::newRow("start") << "" << "Button Turn camera on|Client ";
        QTest::newRow("tools") << "tap"
                               << "Button About|Button Capture resolution|Button Show plain picture|"
                                  "Button Switch to back camera|Button Turn camera on|Client ";
        QTest::newRow("camera on, back camera, plain picture")
            << "on switch tap eye"
            << "Button About|Button Capture resolution|Button Show motion picture|"
               "Button Switch to front camera|Button Turn camera off|Client ";
        QTest::newRow("settings") << "tap settings tab left"
                                  << "Button OK|Client |Client |Slider Capture resolution = 1|"
                                     "StaticText Camera width = 320, height = 240";
        QTest::newRow("settings, no camera") << "tap switch settings"
                                             << "Button OK|Client |Client |Slider Capture resolution = 0|"
                                                "StaticText Camera not available";
        QTest::newRow("about") << "tap about" << "Client |EditableText About Quorl Eye Vision";
    }

    void accessibleTree()
    {
        QFETCH(QString, script);
        QFETCH(QString, tree);
        CameraFixture fx(FrontSettings);
        QVERIFY(fx.show());
        play(fx, qPrintable(script));
        QStringList shown;
        std::function<void(QAccessibleInterface*)> walk = [&](QAccessibleInterface* Parent) {
            for (int i = 0; i < Parent->childCount(); ++i) {
                QAccessibleInterface* c = Parent->child(i);
                if (c->state().invisible)
                    continue;
                QString entry = QString("%1 %2").arg(QMetaEnum::fromType<QAccessible::Role>().valueToKey(c->role()),
                                                     c->text(QAccessible::Name));
                if (QAccessibleValueInterface* value = c->valueInterface())
                    entry += " = " + value->currentValue().toString();
                shown << entry;
                if (c->role() == QAccessible::Client)  // not into the memo's scroll bars
                    walk(c);
            }
        };
        walk(QAccessible::queryAccessibleInterface(fx.f().widget()));
        shown.sort();
        QCOMPARE(shown.join('|'), tree);
    }

    void aboutPanel_data()
    {
        QTest::addColumn<QSize>("window");
        QTest::newRow("640 x 480") << QSize(640, 480);
        QTest::newRow("500 x 900") << QSize(500, 900);
        QTest::newRow("1280 x 600") << QSize(1280, 600);
    }

    void aboutPanel()
    {
        QFETCH(QSize, window);
        CameraFixture fx(FrontSettings);
        auto& f = fx.f();
        QVERIFY(fx.show());
        f.SetClientWidth(window.width());
        f.SetClientHeight(window.height());
        QTRY_COMPARE(f.widget()->size(), window);
        play(fx, "tap about");
        QVERIFY(!f.IsToolsVisible);
        QCOMPARE(f.AboutMemo->widget()->geometry(),
                 QRect((window.width() - 400) / 2, (window.height() - 200) / 2, 400, 200));
        auto* edit = qobject_cast<QPlainTextEdit*>(f.AboutMemo->widget());
        QVERIFY(edit && edit->isVisible() && edit->isReadOnly());
        QCOMPARE(edit->lineWrapMode(), QPlainTextEdit::WidgetWidth);
        QVERIFY(edit->toPlainText().startsWith("Quorl Eye Vision v.1.0\n\nSome animals"));
        QCOMPARE(f.AboutMemo->Lines().Count(), 9);
        // A tap on the memo itself does nothing.
        QTest::mouseClick(f.widget(), Qt::LeftButton, {}, fx.windowPoint(f.AboutMemo));
        QCOMPARE(looks(fx), Looks[AboutOpen]);
    }
};

QTEST_MAIN(TestCommands)
#include "tst_commands.moc"
