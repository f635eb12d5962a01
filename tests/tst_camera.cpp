// Camera control through the real window: switching the camera on and off
// (press check, availability, repeat guard), front/back, the close sequence
// that stops the camera first, and the capture-resolution catalogue as the
// track bar, its label and the camera see it.

#define QTEST_QPA_MOUSE_HANDLING
#include <QtTest>

#include <vector>

#include "support/camera_fixture.h"

namespace {

using Settings = std::vector<TVideoCaptureSetting>;

// Front catalogue: 1280x720@30, 640x480@30, 320x240@30, 1920x1080@30; the
// track bar runs backwards over it, so 640x480 (entry 1) sits at position 2.
const Settings Front = {mode(1280, 720, 30), mode(640, 480, 15), mode(640, 480, 30), mode(320, 240, 30),
                        mode(1920, 1080, 30)};
// Back catalogue: 1920x1080@30, 800x600@20, 640x480@25 (position 0).
const Settings Back = {mode(1920, 1080, 30), mode(800, 600, 20), mode(640, 480, 25)};

struct Click {
    int afterMs;  // since the previous click's release
    int heldMs;
    bool activeAfter;
};

}  // namespace

Q_DECLARE_METATYPE(std::vector<Click>)
Q_DECLARE_METATYPE(Settings)

class TestCamera : public QObject {
    Q_OBJECT

private slots:
    // ------------------------------------------------------------ on / off

    void cameraIconToggles_data()
    {
        QTest::addColumn<bool>("viaQt");
        QTest::addColumn<std::vector<Click>>("clicks");

        const std::pair<const char*, std::vector<Click>> rows[] = {
            // The press at construction gets no feedback, but its click counts.
            {"first click however soon", {{0, 0, true}}},
            // Every refused click starts the 500 ms wait again.
            {"refused clicks restart the wait",
             {{0, 0, true}, {300, 0, true}, {300, 0, true}, {499, 0, true}, {500, 0, false}}},
            {"exactly 500 ms apart", {{0, 0, true}, {500, 0, false}, {500, 0, true}}},
            {"held 600 ms is no click", {{500, 600, false}, {500, 0, true}, {500, 600, true}}},
            {"held exactly 500 ms counts", {{500, 500, true}, {500, 500, false}}},
        };
        for (const auto& [name, clicks] : rows) {
            QTest::addRow("%s, handlers", name) << false << clicks;
            QTest::addRow("%s, Qt events", name) << true << clicks;
        }
    }

    void cameraIconToggles()
    {
        QFETCH(bool, viaQt);
        QFETCH(std::vector<Click>, clicks);

        CameraFixture fx(Front);
        auto& f = fx.f();
        if (viaQt)
            QVERIFY(fx.show());

        bool wasActive = false;
        int starts = 0;
        int step = 0;
        for (const Click& c : clicks) {
            ++step;
            fx.clock.advance(c.afterMs);
            f.ButtonsVisibleTimerCount = 77;
            f.ButtonsVisibleTimer->SetEnabled(false);
            if (viaQt)
                fx.qtPress(f.CameraIconRectangle, c.heldMs);
            else
                fx.press(f.CameraIconRectangle, c.heldMs);

            const QByteArray at = "click " + QByteArray::number(step);
            QVERIFY2(f.CameraComponent->Active() == c.activeAfter, at);
            QVERIFY2(fx.shows(f.CameraIconRectangle, c.activeAfter ? "camera_on" : "camera_off"), at);
            // A counted click restarts the auto-hide countdown, even when
            // the repeat guard refuses it; a long press touches nothing.
            const bool counted = c.heldMs <= 500;
            QVERIFY2(f.ButtonsVisibleTimerCount == (counted ? 0 : 77), at);
            QVERIFY2(f.ButtonsVisibleTimer->Enabled() == counted, at);
            starts += (!wasActive && c.activeAfter) ? 1 : 0;
            wasActive = c.activeAfter;
        }
        QCOMPARE(fx.source->startCount(), starts);
    }

    void longPressOnEitherIcon_data()
    {
        QTest::addColumn<bool>("switchIcon");
        QTest::addColumn<bool>("viaQt");
        QTest::addColumn<int>("heldMs");
        QTest::addColumn<bool>("acts");
        for (bool viaQt : {false, true}) {
            const char* via = viaQt ? "Qt events" : "handlers";
            QTest::addRow("camera icon held 500, %s", via) << false << viaQt << 500 << true;
            QTest::addRow("camera icon held 600, %s", via) << false << viaQt << 600 << false;
            QTest::addRow("front/back icon held 500, %s", via) << true << viaQt << 500 << true;
            QTest::addRow("front/back icon held 600, %s", via) << true << viaQt << 600 << false;
        }
    }

    void longPressOnEitherIcon()
    {
        QFETCH(bool, switchIcon);
        QFETCH(bool, viaQt);
        QFETCH(int, heldMs);
        QFETCH(bool, acts);

        CameraFixture fx(Front, Back);
        auto& f = fx.f();
        if (viaQt) {
            QVERIFY(fx.show());
            fx.qtTapPicture();
            QVERIFY(f.SwitchFrontAndBackCameraIconRectangle->Visible());
        }
        TRectangle* icon = switchIcon ? f.SwitchFrontAndBackCameraIconRectangle : f.CameraIconRectangle;
        fx.clock.advance(500);  // the press itself is taken
        if (viaQt)
            fx.qtPress(icon, heldMs);
        else
            fx.press(icon, heldMs);

        if (switchIcon) {
            QCOMPARE(f.IsFrontCamera, !acts);
            QCOMPARE(f.CameraComponent->Kind(), acts ? TCameraKind::BackCamera : TCameraKind::FrontCamera);
            QVERIFY(fx.shows(icon, acts ? "camera_back" : "camera_front"));
            QCOMPARE(f.CameraCaptureSettings, acts ? Back : Front);
        } else {
            QCOMPARE(f.CameraComponent->Active(), acts);
            QCOMPARE(f.IsCameraToggled, acts);
            QVERIFY(fx.shows(icon, acts ? "camera_on" : "camera_off"));
        }
    }

    void cameraWithoutSettingsNeverStarts()
    {
        CameraFixture fx({}, Back);
        auto& f = fx.f();
        for (int i = 0; i < 3; ++i) {
            f.ButtonsVisibleTimerCount = 42;
            fx.click(f.CameraIconRectangle);
            QVERIFY(!f.CameraComponent->Active());
            QVERIFY(fx.shows(f.CameraIconRectangle, "camera_off"));
            QCOMPARE(f.ButtonsVisibleTimerCount, 0);
            QVERIFY(f.ButtonsVisibleTimer->Enabled());
        }
        QVERIFY(!f.IsCameraToggled);
        QCOMPARE(fx.source->startCount(), 0);
    }

    void cameraFailingToStart()
    {
        CameraFixture fx(Front, {}, [](ScriptedCameraSource& s) { s.failStart = true; });
        auto& f = fx.f();
        fx.press(f.CameraIconRectangle);
        QVERIFY(!f.CameraComponent->Active());
        QVERIFY(fx.shows(f.CameraIconRectangle, "camera_off"));
        QVERIFY(f.IsCameraToggled);
        QCOMPARE(fx.source->startCount(), 1);

        // The failed toggle still counts for the repeat guard.
        fx.clock.advance(300);
        fx.press(f.CameraIconRectangle);
        QCOMPARE(fx.source->startCount(), 1);
        fx.source->failStart = false;
        fx.click(f.CameraIconRectangle);
        QVERIFY(f.CameraComponent->Active());
        QVERIFY(fx.shows(f.CameraIconRectangle, "camera_on"));
        QCOMPARE(fx.source->startCount(), 2);
    }

    // ------------------------------------------------------------ front / back

    void frontBackKeepsOnOffState_data()
    {
        QTest::addColumn<bool>("on");
        QTest::newRow("camera off") << false;
        QTest::newRow("camera on") << true;
    }

    void frontBackKeepsOnOffState()
    {
        QFETCH(bool, on);
        CameraFixture fx(Front, Back);
        auto& f = fx.f();
        if (on)
            fx.press(f.CameraIconRectangle);
        QCOMPARE(f.CameraComponent->Active(), on);
        const int starts = fx.source->startCount();

        // A user resolution in force and a picture already drawn: the other
        // camera starts at its default and on a cleared picture.
        f.UseDefaultResolution = false;
        f.CustomCameraResolution = mode(1280, 720, 30);
        f.IsClearOutputNeeded = false;
        fx.click(f.SwitchFrontAndBackCameraIconRectangle);

        QVERIFY(!f.IsFrontCamera);
        QCOMPARE(f.CameraComponent->Kind(), TCameraKind::BackCamera);
        QVERIFY(fx.shows(f.SwitchFrontAndBackCameraIconRectangle, "camera_back"));
        QCOMPARE(f.CameraComponent->Active(), on);
        QVERIFY(fx.shows(f.CameraIconRectangle, on ? "camera_on" : "camera_off"));
        QVERIFY(f.UseDefaultResolution);
        QVERIFY(f.IsClearOutputNeeded);
        QCOMPARE(f.CameraCaptureSettings, Back);
        QCOMPARE(f.CameraResolutionsLastIndex, 2);
        QCOMPARE(f.CameraResolutionsList->Count(), 3);
        QCOMPARE((*f.CameraResolutionsList)[1], labelOf(800, 600));
        QCOMPARE(f.CameraResolutionsTrackBar->Max(), 2.0f);
        QCOMPARE(f.CameraResolutionsTrackBar->Value(), 0.0f);
        QCOMPARE(f.CameraResolutionsLabel->Text(), labelOf(640, 480));
        QCOMPARE(f.CameraComponent->GetCaptureSetting(), mode(640, 480, 25));
        if (on) {
            // The back camera runs, started once, already at its default.
            QCOMPARE(fx.source->startCount(), starts + 1);
            QCOMPARE(fx.source->lastStartedKind(), TCameraKind::BackCamera);
            QCOMPARE(fx.source->lastStartedSetting(), mode(640, 480, 25));
            QCOMPARE(f.ActiveCaptureSetting, mode(640, 480, 25));
        } else {
            QCOMPARE(fx.source->startCount(), starts);
        }

        // No repeat guard: a second click right away switches back.
        fx.press(f.SwitchFrontAndBackCameraIconRectangle);
        QVERIFY(f.IsFrontCamera);
        QCOMPARE(f.CameraComponent->Kind(), TCameraKind::FrontCamera);
        QVERIFY(fx.shows(f.SwitchFrontAndBackCameraIconRectangle, "camera_front"));
        QCOMPARE(f.CameraComponent->Active(), on);
        QCOMPARE(f.CameraCaptureSettings, Front);
        QCOMPARE(f.CameraComponent->GetCaptureSetting(), mode(640, 480, 30));
        QCOMPARE(fx.source->startCount(), starts + (on ? 2 : 0));
        if (on)
            QCOMPARE(fx.source->lastStartedKind(), TCameraKind::FrontCamera);
    }

    void switchToCameraWithoutSettings()
    {
        CameraFixture fx(Front);
        auto& f = fx.f();
        fx.click(f.SwitchFrontAndBackCameraIconRectangle);
        QVERIFY(!f.IsFrontCamera);
        QVERIFY(fx.shows(f.SwitchFrontAndBackCameraIconRectangle, "camera_back"));
        QVERIFY(f.CameraCaptureSettings.empty());
        QCOMPARE(f.CameraResolutionsTrackBar->Max(), 0.0f);
        // The texts of the front camera stay; nothing reads them now.
        QCOMPARE(f.CameraResolutionsList->Count(), 4);

        fx.click(f.CameraIconRectangle);
        QVERIFY(!f.CameraComponent->Active());
        QCOMPARE(fx.source->startCount(), 0);
    }

    // ------------------------------------------------------------ closing

    void closeWithCameraOff()
    {
        CameraFixture fx(Front);
        auto& f = fx.f();
        bool canClose = false;
        f.FormCloseQuery(nullptr, canClose);
        QVERIFY(canClose);
        QVERIFY(!f.ExitCameraTimer->Enabled());

        QVERIFY(fx.show());
        QVERIFY(f.widget()->close());
        QVERIFY(f.isClosed());
        QVERIFY(!f.widget()->isVisible());
    }

    void closeWithCameraOn_data()
    {
        QTest::addColumn<int>("request");
        QTest::newRow("Close()") << 0;
        QTest::newRow("Escape") << 1;
        QTest::newRow("close box") << 2;
    }

    void closeWithCameraOn()
    {
        QFETCH(int, request);
        CameraFixture fx(Front);
        auto& f = fx.f();
        QVERIFY(fx.show());
        fx.press(f.CameraIconRectangle);
        QVERIFY(f.CameraComponent->Active());

        bool canClose = true;
        f.FormCloseQuery(nullptr, canClose);
        QVERIFY(!canClose);
        f.ExitCameraTimerCount = 5;  // the request restarts the count
        switch (request) {
        case 0: f.Close(); break;
        case 1: {
            std::uint16_t key = vkEscape;
            char16_t ch = 0x1B;
            f.FormKeyDown(nullptr, key, ch, 0);
            break;
        }
        case 2: QVERIFY(!f.widget()->close()); break;
        }
        QVERIFY(!f.isClosed());
        QVERIFY(f.widget()->isVisible());
        QVERIFY(f.ExitCameraTimer->Enabled());
        QCOMPARE(f.ExitCameraTimerCount, 0);
        QVERIFY(f.CameraComponent->Active());

        const int stops = fx.source->stopCount();
        fx.exitTicks(1);  // count 0: stop
        QVERIFY(!f.CameraComponent->Active());
        QCOMPARE(fx.source->stopCount(), stops + 1);
        QCOMPARE(f.ExitCameraTimerCount, 1);
        fx.exitTicks(2);  // counts 1 and 2: wait
        QVERIFY(!f.isClosed());
        QCOMPARE(f.ExitCameraTimerCount, 3);
        // The camera was already off at the second tick: "camera_off" is
        // loaded only for a camera that still runs then.
        QVERIFY(fx.shows(f.CameraIconRectangle, "camera_on"));
        fx.exitTicks(1);  // count 3: close
        QVERIFY(f.isClosed());
        QVERIFY(!f.widget()->isVisible());
        QVERIFY(!f.ExitCameraTimer->Enabled());
        QCOMPARE(f.ExitCameraTimerCount, 1);
        QCOMPARE(fx.source->stopCount(), stops + 1);
    }

    void cameraStillRunningDuringClose()
    {
        CameraFixture fx(Front);
        auto& f = fx.f();
        fx.press(f.CameraIconRectangle);
        f.Close();
        fx.exitTicks(1);
        QVERIFY(!f.CameraComponent->Active());

        // The user turns the camera on again before the second tick.
        fx.click(f.CameraIconRectangle);
        QVERIFY(f.CameraComponent->Active());
        QVERIFY(fx.shows(f.CameraIconRectangle, "camera_on"));
        fx.exitTicks(1);
        QVERIFY(fx.shows(f.CameraIconRectangle, "camera_off"));
        QVERIFY(f.CameraComponent->Active());  // the stop is asked for at count 0 only

        fx.exitTicks(5);
        QVERIFY(!f.isClosed());
        QVERIFY(f.ExitCameraTimer->Enabled());
        QCOMPARE(f.ExitCameraTimerCount, 7);

        // A new request while the camera runs starts the sequence over.
        f.Close();
        QVERIFY(!f.isClosed());
        QCOMPARE(f.ExitCameraTimerCount, 0);
        fx.exitTicks(1);
        QVERIFY(!f.CameraComponent->Active());
        fx.exitTicks(2);
        QVERIFY(!f.isClosed());
        fx.exitTicks(1);
        QVERIFY(f.isClosed());
    }

    // Once the camera is off, a new request closes the window at once.
    void requestAfterCameraStoppedClosesAtOnce()
    {
        CameraFixture fx(Front);
        auto& f = fx.f();
        fx.press(f.CameraIconRectangle);
        f.Close();
        fx.exitTicks(1);
        QVERIFY(!f.isClosed());
        f.Close();
        QVERIFY(f.isClosed());
    }

    // ------------------------------------------------------------ resolutions

    void defaultResolution_data()
    {
        QTest::addColumn<Settings>("offered");
        QTest::addColumn<TVideoCaptureSetting>("inForce");
        QTest::addColumn<float>("max");
        QTest::addColumn<float>("value");
        QTest::addColumn<QString>("label");

        const QString placeholder = "Camera Resolutions Label";
        const QString vga = QString::fromStdString(labelOf(640, 480));
        QTest::newRow("640x480 at its best rate") << Front << mode(640, 480, 30) << 3.0f << 2.0f << vga;
        QTest::newRow("only 640x480") << Settings{mode(640, 480, 30)} << mode(640, 480, 30) << 0.0f << 0.0f << vga;
        QTest::newRow("640x480 listed first")
            << Settings{mode(640, 480, 15), mode(1280, 720, 30)} << mode(640, 480, 15) << 1.0f << 1.0f << vga;
        QTest::newRow("first setting taller than 1080")
            << Settings{mode(3840, 2160, 30), mode(640, 480, 30)} << mode(640, 480, 30) << 1.0f << 0.0f << vga;
        // Nothing applied: the camera keeps its first setting, the label
        // its placeholder and the thumb the place construction gave it.
        QTest::newRow("no 640x480")
            << Settings{mode(1280, 720, 30), mode(320, 240, 30)} << mode(1280, 720, 30) << 1.0f << 1.0f
            << placeholder;
        // A 640x480 at 0 fps is no default, but the label still names the
        // 640x480 entry.
        QTest::newRow("640x480 at 0 fps")
            << Settings{mode(1280, 720, 30), mode(640, 480, 0)} << mode(1280, 720, 30) << 1.0f << 0.0f << vga;
    }

    void defaultResolution()
    {
        QFETCH(Settings, offered);
        QFETCH(TVideoCaptureSetting, inForce);
        QFETCH(float, max);
        QFETCH(float, value);
        QFETCH(QString, label);

        CameraFixture fx(offered);
        auto& f = fx.f();
        QCOMPARE(f.CameraComponent->GetCaptureSetting(), inForce);
        QCOMPARE(f.CameraResolutionsTrackBar->Min(), 0.0f);
        QCOMPARE(f.CameraResolutionsTrackBar->Max(), max);
        QCOMPARE(f.CameraResolutionsTrackBar->Value(), value);
        QCOMPARE(QString::fromStdString(f.CameraResolutionsLabel->Text()), label);
        QVERIFY(!f.IsResolutionChanged);

        fx.press(f.CameraIconRectangle);
        QVERIFY(f.CameraComponent->Active());
        QCOMPARE(fx.source->lastStartedSetting(), inForce);
        // The picture is fitted to the size the running camera captures.
        QCOMPARE(f.ActiveCaptureSetting, inForce);
    }

    // Whatever the system itself does to the track bar reaches neither
    // handler: the label is not rewritten and no change is marked.
    void programmaticTrackBarChanges_data()
    {
        QTest::addColumn<Settings>("back");
        QTest::addColumn<float>("max");
        QTest::addColumn<float>("value");

        QTest::newRow("range shrinks under the thumb")
            << Settings{mode(1920, 1080, 30), mode(1280, 720, 30)} << 1.0f << 1.0f;
        QTest::newRow("640x480 at another place")
            << Settings{mode(1280, 720, 30), mode(640, 480, 30), mode(320, 240, 30)} << 2.0f << 1.0f;
        QTest::newRow("one entry") << Settings{mode(640, 480, 30)} << 0.0f << 0.0f;
        QTest::newRow("nothing offered") << Settings{} << 0.0f << 0.0f;
    }

    void programmaticTrackBarChanges()
    {
        QFETCH(Settings, back);
        QFETCH(float, max);
        QFETCH(float, value);

        // 640x480 is entry 0, so the thumb starts at the maximum, 3.
        CameraFixture fx({mode(640, 480, 30), mode(800, 600, 30), mode(1024, 768, 30), mode(1280, 720, 30)}, back);
        auto& f = fx.f();
        QCOMPARE(f.CameraResolutionsTrackBar->Value(), 3.0f);
        fx.click(f.SwitchFrontAndBackCameraIconRectangle);

        QCOMPARE(f.CameraResolutionsTrackBar->Max(), max);
        QCOMPARE(f.CameraResolutionsTrackBar->Value(), value);
        QCOMPARE(f.CameraResolutionsLabel->Text(), labelOf(640, 480));
        QVERIFY(!f.IsResolutionChanged);

        // The handlers are back in place for the user.
        if (max > 0.0f) {
            fx.dragTrackBar(0.0f);
            QVERIFY(f.IsResolutionChanged);
            const TVideoCaptureSetting& last = f.CameraResolutions[std::size_t(f.CameraResolutionsLastIndex)];
            QCOMPARE(f.CameraResolutionsLabel->Text(), labelOf(last.Width, last.Height));
        }
    }

    void userMovesTheThumb_data()
    {
        QTest::addColumn<float>("value");
        QTest::addColumn<int>("width");
        QTest::addColumn<int>("height");
        QTest::newRow("maximum: entry 0") << 3.0f << 1280 << 720;
        QTest::newRow("minimum: last entry") << 0.0f << 1920 << 1080;
        QTest::newRow("1.9 shows entry 2") << 1.9f << 320 << 240;
        QTest::newRow("2.5 shows entry 1") << 2.5f << 640 << 480;
        QTest::newRow("0.99 shows entry 3") << 0.99f << 1920 << 1080;
    }

    void userMovesTheThumb()
    {
        QFETCH(float, value);
        QFETCH(int, width);
        QFETCH(int, height);

        CameraFixture fx(Front);
        auto& f = fx.f();
        // While dragging the label follows; the change counts on release.
        f.CameraResolutionsTrackBar->userTrack(value);
        QCOMPARE(f.CameraResolutionsLabel->Text(), labelOf(width, height));
        QVERIFY(!f.IsResolutionChanged);
        f.CameraResolutionsTrackBar->userRelease();
        QVERIFY(f.IsResolutionChanged);
        QCOMPARE(f.CameraResolutionsLabel->Text(), labelOf(width, height));
        // Nothing reaches the camera before OK.
        QCOMPARE(f.CameraComponent->GetCaptureSetting(), mode(640, 480, 30));
    }

    // The camera takes the user's 1280x720 only in part (at 24 fps): no
    // entry matches the setting in force, so the label and the thumb keep
    // what the user last showed them.
    void settingTakenInPart_data()
    {
        QTest::addColumn<bool>("partial");
        QTest::newRow("taken exactly") << false;
        QTest::newRow("taken in part") << true;
    }

    void settingTakenInPart()
    {
        QFETCH(bool, partial);
        CameraFixture fx(Front, {}, [partial](ScriptedCameraSource& s) {
            if (partial)
                s.resolveRule = [](TCameraKind, const TVideoCaptureSetting& wanted) {
                    return wanted.Width == 1280 ? mode(1280, 720, 24) : wanted;
                };
        });
        auto& f = fx.f();
        f.OutputRectangleClick(nullptr);
        fx.click(f.SettingsIconRectangle);
        fx.dragTrackBar(3.0f);
        f.OKButtonClick(nullptr);
        const TVideoCaptureSetting taken = partial ? mode(1280, 720, 24) : mode(1280, 720, 30);
        QCOMPARE(f.CameraComponent->GetCaptureSetting(), taken);
        QCOMPARE(f.CustomCameraResolution, taken);
        QVERIFY(!f.UseDefaultResolution);

        // Open again, move the thumb to 320x240, and cancel with a tap.
        f.OutputRectangleClick(nullptr);
        fx.click(f.SettingsIconRectangle);
        QCOMPARE(f.CameraResolutionsLabel->Text(), labelOf(1280, 720));
        QCOMPARE(f.CameraResolutionsTrackBar->Value(), 3.0f);
        fx.dragTrackBar(1.0f);
        QCOMPARE(f.CameraResolutionsLabel->Text(), labelOf(320, 240));
        f.OutputRectangleClick(nullptr);

        QCOMPARE(f.CameraComponent->GetCaptureSetting(), taken);
        QCOMPARE(f.CameraResolutionsLabel->Text(), partial ? labelOf(320, 240) : labelOf(1280, 720));
        QCOMPARE(f.CameraResolutionsTrackBar->Value(), partial ? 1.0f : 3.0f);
    }
};

QTEST_MAIN(TestCamera)
#include "tst_camera.moc"
