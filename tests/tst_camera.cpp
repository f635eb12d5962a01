// Camera control through the real window: on/off (press check, availability,
// repeat guard), front/back, the close sequence that stops the camera first,
// the capture resolutions as the track bar, its label and the camera see
// them, and a V4L2 camera that is really off: after a window closed in any
// state, and after the camera was pulled out.

#define QTEST_QPA_MOUSE_HANDLING
#include <QtTest>

#include <xcb/xproto.h>

#include <csignal>

#include "platform/camera/v4l2_camera_source.h"
#include "platform/session.h"
#include "support/fake_v4l2_device.h"
#include "support/process_census.h"
#include "support/window_fixture.h"

// Back catalogue: 1920x1080@30, 800x600@20, 640x480@25 (position 0).
const Settings Back = {mode(1920, 1080, 30), mode(800, 600, 20), mode(640, 480, 25)};

enum Camera { Works, NoSettings, FailsToStart };
// Milliseconds since the previous click's release, milliseconds held, and
// whether the camera runs afterwards.
using Clicks = std::vector<std::tuple<int, int, bool>>;

Q_DECLARE_METATYPE(Clicks)
Q_DECLARE_METATYPE(Settings)

namespace {

// Two YUYV webcams in memory, front 64 x 48 and back 32 x 16.
FakeDeviceSetup webcam(const char* Path, quint32 Width, quint32 Height)
{
    return {.Path = Path, .Formats = {{V4L2_PIX_FMT_YUYV, {{Width, Height, {{1, 30}}}}}}};
}

// The window over them, and the lines the camera source says.
struct V4l2Window {
    std::shared_ptr<FakeV4l2Io> io = std::make_shared<FakeV4l2Io>(
        std::vector{webcam("/dev/video0", 64, 48), webcam("/dev/video2", 32, 16)});
    std::shared_ptr<QStringList> said = std::make_shared<QStringList>();
    CameraFixture fx{std::make_shared<V4l2CameraSource>(
        io, [said = said](const std::string& Line) { *said << QString::fromStdString(Line); })};

    // A frame of the running camera, taken up to the hand-over to the window
    // (which waits: nobody processes events meanwhile).
    bool frameWaiting()
    {
        const TVideoCaptureSetting s = fx.f().CameraComponent->GetCaptureSetting();
        const std::size_t before = io->dequeued();
        io->pushFrame(Bytes(s.Width * s.Height * 2, 0x80));
        return io->waitDequeued(before + 1);
    }
    // A frame of the running camera, drawn on the picture.
    bool frameDrawn()
    {
        QImage& out = fx.f().OutputBitmap().image();
        const QPoint centre = out.rect().center();
        out.setPixel(centre, 0xFF123456u);
        return frameWaiting() && QTest::qWaitFor([&] { return out.pixel(centre) != 0xFF123456u; });
    }
};

}  // namespace

class TestCamera : public QObject {
    Q_OBJECT

private slots:
    void cameraIcon_data()
    {
        QTest::addColumn<int>("camera");
        QTest::addColumn<Clicks>("clicks");
        QTest::addColumn<int>("starts");
        QTest::addColumn<bool>("viaQt");
        auto add = [](const char* name, Camera camera, const Clicks& clicks, int starts) {
            QTest::addRow("%s, handlers", name) << int(camera) << clicks << starts << false;
            QTest::addRow("%s, Qt events", name) << int(camera) << clicks << starts << true;
        };
        // The press at construction gets no feedback, but its click counts.
        add("first click however soon", Works, {{0, 0, true}}, 1);
        add("refused clicks restart the wait", Works,
            {{0, 0, true}, {300, 0, true}, {300, 0, true}, {499, 0, true}, {500, 0, false}}, 1);
        add("exactly 500 ms apart", Works, {{0, 0, true}, {500, 0, false}, {500, 0, true}}, 2);
        add("held 600 ms is no click", Works, {{500, 600, false}, {500, 0, true}, {500, 600, true}}, 1);
        add("held exactly 500 ms counts", Works, {{500, 500, true}, {500, 500, false}}, 1);
        add("no capture settings", NoSettings, {{0, 0, false}, {500, 0, false}}, 0);
        // The icon shows what the camera reports; the failed toggle still
        // starts the repeat guard's wait.
        add("camera fails to start", FailsToStart, {{0, 0, false}, {300, 0, false}}, 1);
    }

    void cameraIcon()
    {
        QFETCH(int, camera);
        QFETCH(Clicks, clicks);
        QFETCH(int, starts);
        QFETCH(bool, viaQt);
        CameraFixture fx(camera == NoSettings ? Settings{} : FrontSettings, {},
                         [camera](ScriptedCameraSource& s) { s.failStart = camera == FailsToStart; });
        auto& f = fx.f();
        QVERIFY(!viaQt || fx.show());
        int step = 0;
        for (const auto& [afterMs, heldMs, on] : clicks) {
            const QByteArray at = "click " + QByteArray::number(++step);
            fx.clock.advance(afterMs);
            f.ButtonsVisibleTimerCount = 77;
            f.ButtonsVisibleTimer->SetEnabled(false);
            viaQt ? fx.qtPress(f.CameraIconRectangle, heldMs) : fx.press(f.CameraIconRectangle, heldMs);
            QVERIFY2(f.CameraComponent->Active() == on, at);
            QVERIFY2(fx.shows(f.CameraIconRectangle, on ? "camera_on" : "camera_off"), at);
            // Every counted click restarts the auto-hide countdown, also a
            // refused one; a long press touches nothing.
            const bool counted = heldMs <= 500;
            QVERIFY2(f.ButtonsVisibleTimerCount == (counted ? 0 : 77), at);
            QVERIFY2(f.ButtonsVisibleTimer->Enabled() == counted, at);
        }
        QCOMPARE(fx.source->startCount(), starts);
    }

    void frontBack_data()
    {
        QTest::addColumn<bool>("on");
        QTest::addColumn<int>("heldMs");
        QTest::newRow("camera off") << false << 0;
        QTest::newRow("camera on, held 500 ms") << true << 500;
        QTest::newRow("held 600 ms is no click") << true << 600;
    }

    void frontBack()
    {
        QFETCH(bool, on);
        QFETCH(int, heldMs);
        CameraFixture fx(FrontSettings, Back);
        auto& f = fx.f();
        if (on)
            fx.press(f.CameraIconRectangle);
        // A user resolution in force and a picture drawn: the other camera
        // starts at its default, on a cleared picture.
        f.UseDefaultResolution = false;
        f.IsClearOutputNeeded = false;
        fx.clock.advance(500);
        fx.press(f.SwitchFrontAndBackCameraIconRectangle, heldMs);
        const bool acts = heldMs <= 500;
        QCOMPARE(f.IsFrontCamera, !acts);
        QCOMPARE(f.UseDefaultResolution && f.IsClearOutputNeeded, acts);
        QCOMPARE(f.CameraCaptureSettings, acts ? Back : FrontSettings);
        if (!acts)
            return;
        QCOMPARE(f.CameraComponent->Kind(), TCameraKind::BackCamera);
        QVERIFY(fx.shows(f.SwitchFrontAndBackCameraIconRectangle, "camera_back"));
        QCOMPARE(fx.trackBar(), "640x480 @ 0/2");
        QCOMPARE(f.CameraComponent->GetCaptureSetting(), mode(640, 480, 25));
        // A running camera is stopped for the change and started once, the
        // back one, already at its default.
        QCOMPARE(f.CameraComponent->Active(), on);
        QCOMPARE(fx.source->startCount(), on ? 2 : 0);
        QCOMPARE(f.ActiveCaptureSetting, on ? mode(640, 480, 25) : TVideoCaptureSetting());  // the picture fitted

        // No repeat guard: a second click right away switches back.
        fx.press(f.SwitchFrontAndBackCameraIconRectangle);
        QVERIFY(f.IsFrontCamera && f.CameraComponent->Kind() == TCameraKind::FrontCamera);
        QVERIFY(fx.shows(f.SwitchFrontAndBackCameraIconRectangle, "camera_front") && f.CameraComponent->Active() == on);
        QCOMPARE(f.CameraComponent->GetCaptureSetting(), mode(640, 480, 30));
    }

    // Escape and a stopped camera are covered with the commands. A signal
    // and a window destroyed by another X client end the run as the close
    // box does.
    void closeSequence_data()
    {
        QTest::addColumn<int>("ending");  // 0: the close box; -1: the window destroyed; else the signal
        QTest::newRow("close box") << 0;
        QTest::newRow("SIGINT") << SIGINT;
        QTest::newRow("SIGTERM") << SIGTERM;
        QTest::newRow("window destroyed by another program") << -1;
    }

    void closeSequence()
    {
        QFETCH(int, ending);
        CameraFixture fx(FrontSettings);
        auto& f = fx.f();
        QVERIFY(fx.show());
        fx.press(f.CameraIconRectangle);
        if (ending > 0)
            std::signal(ending, SIG_DFL);  // as from an interactive shell, whatever this test inherited
        Session::watch();
        auto unwatch = qScopeGuard(Session::unwatch);
        if (ending == 0) {
            QVERIFY(!f.widget()->close());
        } else if (ending > 0) {
            QCOMPARE(std::raise(ending), 0);
        } else {
            // What the X server sends every client that watches the window.
            xcb_destroy_notify_event_t gone{};
            gone.response_type = XCB_DESTROY_NOTIFY;
            gone.window = gone.event = xcb_window_t(f.widget()->internalWinId());
            qintptr result = 0;
            QAbstractEventDispatcher::instance()->filterNativeEvent("xcb_generic_event_t", &gone, &result);
        }
        QTRY_VERIFY(f.ExitCameraTimer->Enabled());
        QVERIFY(f.widget()->isVisible() && f.CameraComponent->Active());
        QCOMPARE(Session::endSignal(), std::max(ending, 0));
        fx.exitTicks(1);  // count 0: stop
        QVERIFY(!f.CameraComponent->Active());
        fx.exitTicks(2);  // counts 1 and 2: wait
        QVERIFY(!f.isClosed());
        QCOMPARE(f.ExitCameraTimerCount, 3);
        // "camera_off" is loaded only for a camera still running at count 1.
        QVERIFY(fx.shows(f.CameraIconRectangle, "camera_on"));
        fx.exitTicks(1);  // count 3: close
        QVERIFY(f.isClosed() && !f.widget()->isVisible() && !f.ExitCameraTimer->Enabled());
        QCOMPARE(f.ExitCameraTimerCount, 1);
        QCOMPARE(fx.source->stopCount(), 1);
    }

    void cameraRunningDuringClose()
    {
        CameraFixture fx(FrontSettings);
        auto& f = fx.f();
        fx.press(f.CameraIconRectangle);
        f.Close();
        fx.exitTicks(1);
        fx.click(f.CameraIconRectangle);  // on again before count 1
        fx.exitTicks(1);
        // The stop is asked for at count 0 only.
        QVERIFY(fx.shows(f.CameraIconRectangle, "camera_off") && f.CameraComponent->Active());
        fx.exitTicks(5);
        QVERIFY(!f.isClosed() && f.ExitCameraTimer->Enabled());
        QCOMPARE(f.ExitCameraTimerCount, 7);
        // A new request while the camera runs starts the sequence over; once
        // the camera is off, a request closes the window at once.
        f.Close();
        QCOMPARE(f.ExitCameraTimerCount, 0);
        fx.exitTicks(1);
        QVERIFY(!f.CameraComponent->Active() && !f.isClosed());
        f.Close();
        QVERIFY(f.isClosed());
    }

    void closedInAnyState_data()
    {
        QTest::addColumn<QString>("state");
        QTest::addColumn<bool>("running");  // then a frame waits for the window as it goes
        QTest::newRow("camera off") << "" << false;
        QTest::newRow("camera on") << "on" << true;
        QTest::newRow("camera on, frames drawn") << "on draw draw" << true;
        QTest::newRow("switched to the back camera") << "on draw switch" << true;
        QTest::newRow("switched while off") << "switch" << false;
        QTest::newRow("settings panel open") << "on settings" << true;
        QTest::newRow("about panel open") << "on about" << true;
        QTest::newRow("close asked, camera still on") << "on close" << true;
        QTest::newRow("close under way, camera stopped") << "on close tick" << false;
        QTest::newRow("camera pulled out") << "on draw unplug" << false;
        QTest::newRow("camera failed to stream") << "refuse on" << false;
    }

    // However the window goes, it leaves the process as it found it: no
    // capture thread (one may be waiting for the window right then), no
    // device or other descriptor, no hand-over waiting.
    void closedInAnyState()
    {
        QFETCH(QString, state);
        QFETCH(bool, running);
        const int threads = threadCount(), descriptors = descriptorCount();
        V4l2Window w;
        auto& f = w.fx.f();
        QVERIFY(w.fx.show());
        for (const QString& step : state.split(' ', Qt::SkipEmptyParts)) {
            if (step == "on") {
                w.fx.click(f.CameraIconRectangle);
            } else if (step == "draw") {
                QVERIFY(w.frameDrawn());
            } else if (step == "switch") {
                w.fx.click(f.SwitchFrontAndBackCameraIconRectangle);
            } else if (step == "settings") {
                w.fx.openSettings();
                QVERIFY(f.CameraResolutionsRectangle->Visible());
            } else if (step == "about") {
                f.OutputRectangleClick(nullptr);
                w.fx.click(f.AboutIconRectangle);
                QVERIFY(f.AboutMemo->Visible());
            } else if (step == "close") {
                QVERIFY(!f.widget()->close());
            } else if (step == "tick") {
                w.fx.exitTicks(2);
            } else if (step == "unplug") {
                w.io->vanish();
                QTRY_VERIFY(!f.CameraComponent->source().isRunning());
            } else {
                QCOMPARE(step, "refuse");
                w.io->refuse("/dev/video0", "STREAMON", ENOSPC);
            }
        }
        QVERIFY(!f.isClosed());
        QCOMPARE(f.CameraComponent->Active(), running);
        QVERIFY(!running || w.frameWaiting());
        w.fx.form.reset();
        QCOMPARE(TThread::waitingCount(), 0);
        QVERIFY(w.io->released());
        QTRY_COMPARE(threadCount(), threads);
        QCOMPARE(descriptorCount(), descriptors);
    }

    // A camera pulled out while it streams: the window goes on answering,
    // reports the camera off, cannot start it while it is gone, and starts
    // it again, frames and all, once it is back.
    void cameraPulledOut()
    {
        V4l2Window w;
        auto& f = w.fx.f();
        QVERIFY(w.fx.show());
        w.fx.click(f.CameraIconRectangle);
        QVERIFY(w.frameDrawn());
        w.io->vanish();
        QTRY_VERIFY(!f.CameraComponent->Active());
        w.fx.click(f.CameraIconRectangle);
        QVERIFY(!f.CameraComponent->Active() && w.fx.shows(f.CameraIconRectangle, "camera_off"));
        QCOMPARE(*w.said, QStringList{"quorl-eye: cannot open /dev/video0: No such file or directory"});
        w.io->replug();
        w.fx.clock.advance(500);
        w.fx.qtPress(f.CameraIconRectangle);  // through Qt: the window still takes clicks
        QVERIFY(f.CameraComponent->Active() && w.fx.shows(f.CameraIconRectangle, "camera_on"));
        QVERIFY(w.frameDrawn());
    }

    void defaultResolution_data()
    {
        QTest::addColumn<Settings>("offered");
        QTest::addColumn<TVideoCaptureSetting>("inForce");
        QTest::addColumn<QString>("trackBar");
        QTest::newRow("640x480 at its best rate") << FrontSettings << mode(640, 480, 30) << "640x480 @ 2/3";
        QTest::newRow("one entry") << Settings{mode(640, 480, 30)} << mode(640, 480, 30) << "640x480 @ 0/0";
        // Nothing applied: the camera keeps its first setting, the label its
        // placeholder and the thumb the place construction gave it.
        QTest::newRow("no 640x480") << Settings{mode(1280, 720, 30), mode(320, 240, 30)} << mode(1280, 720, 30)
                                    << "Camera Resolutions Label @ 1/1";
    }

    void defaultResolution()
    {
        QFETCH(Settings, offered);
        CameraFixture fx(offered);
        auto& f = fx.f();
        QTEST(f.CameraComponent->GetCaptureSetting(), "inForce");
        QTEST(fx.trackBar(), "trackBar");
        fx.press(f.CameraIconRectangle);
        QTEST(f.ActiveCaptureSetting, "inForce");  // the picture fits what the camera captures
    }

    // Whatever the system itself does to the track bar reaches neither
    // handler: no change is marked and the label is not rewritten. The
    // user's drag does: the label follows, the change counts on release.
    void trackBarHandlers_data()
    {
        QTest::addColumn<Settings>("back");
        QTest::addColumn<QString>("trackBar");
        QTest::addColumn<QString>("dragged");  // to position 0
        QTest::newRow("range shrinks") << Settings{mode(1920, 1080, 30), mode(1280, 720, 30)} << "640x480 @ 1/1"
                                       << "1280x720 @ 0/1";
        QTest::newRow("640x480 moves") << Settings{mode(1280, 720, 30), mode(640, 480, 30), mode(320, 240, 30)}
                                       << "640x480 @ 1/2" << "320x240 @ 0/2";
    }

    void trackBarHandlers()
    {
        QFETCH(Settings, back);
        // 640x480 is entry 0, so the thumb starts at the maximum.
        CameraFixture fx({mode(640, 480, 30), mode(800, 600, 30), mode(1024, 768, 30), mode(1280, 720, 30)}, back);
        auto& f = fx.f();
        QCOMPARE(fx.trackBar(), "640x480 @ 3/3");
        fx.click(f.SwitchFrontAndBackCameraIconRectangle);
        QTEST(fx.trackBar(), "trackBar");
        QVERIFY(!f.IsResolutionChanged);
        const TVideoCaptureSetting inForce = f.CameraComponent->GetCaptureSetting();
        f.CameraResolutionsTrackBar->userTrack(0.0f);
        QTEST(fx.trackBar(), "dragged");
        QVERIFY(!f.IsResolutionChanged);
        f.CameraResolutionsTrackBar->userRelease();
        QVERIFY(f.IsResolutionChanged);
        QCOMPARE(f.CameraComponent->GetCaptureSetting(), inForce);  // nothing before OK
    }

    // The camera takes the user's 1280x720 only in part (at 24 fps): no
    // entry matches the setting in force, so the label and the thumb keep
    // what the user last showed them.
    void settingTakenInPart()
    {
        CameraFixture fx(FrontSettings, {}, [](ScriptedCameraSource& s) {
            s.resolveRule = [](auto, auto w) { return w.Width == 1280 ? mode(1280, 720, 24) : w; };
        });
        auto& f = fx.f();
        fx.openSettings();
        fx.dragTrackBar(3.0f);
        f.OKButtonClick(nullptr);
        QCOMPARE(f.CustomCameraResolution, mode(1280, 720, 24));
        fx.openSettings();
        fx.dragTrackBar(1.0f);
        f.OutputRectangleClick(nullptr);  // cancel
        QCOMPARE(fx.trackBar(), "320x240 @ 1/3");
    }
};

QTEST_MAIN(TestCamera)
#include "tst_camera.moc"
