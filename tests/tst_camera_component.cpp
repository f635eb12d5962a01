#include <QtTest>

#include <atomic>
#include <memory>
#include <random>
#include <stdexcept>
#include <thread>

#include "platform/bitmap.h"
#include "platform/camera/camera_component.h"
#include "platform/camera/demo_camera_source.h"
#include "platform/thread.h"
#include "support/process_census.h"
#include "support/scripted_camera_source.h"

char* toString(const TVideoCaptureSetting& S) { return qstrdup(settingText(S).c_str()); }

namespace {

using S = TVideoCaptureSetting;
using Settings = std::vector<S>;
constexpr TCameraKind F = TCameraKind::FrontCamera, B = TCameraKind::BackCamera;
const S kVga{640, 480, 30}, kHd{1280, 720, 30}, kCif{352, 288, 30};

// Cancels Gate when a queued hand-over reaches the application, before it runs.
struct CancelOnDelivery : QObject {
    explicit CancelOnDelivery(SyncGate* Gate) : gate(Gate) { qApp->installEventFilter(this); }
    SyncGate* gate;
    bool eventFilter(QObject*, QEvent* Event) override
    {
        if (gate && Event->type() == QEvent::MetaCall)
            gate->cancel();
        return false;
    }
};
enum Cancel { Never, Before, WhenQueued };

// A camera, running or not, is asked for wanted.
struct SettingCase { bool running; S wanted, inForce; int starts; };

}  // namespace

Q_DECLARE_METATYPE(SettingCase)

class TestCameraComponent : public QObject {
    Q_OBJECT

private slots:
    void synchronize_data()
    {
        QTest::addColumn<int>("cancel");
        QTest::newRow("open gate") << int(Never);
        QTest::newRow("cancelled gate") << int(Before);
        QTest::newRow("cancelled while queued") << int(WhenQueued);
    }

    // The method runs on the UI thread before Synchronize returns, and what
    // it throws is thrown again in the caller. What stopping a camera relies
    // on: a cancelled gate releases the caller without the UI thread's help,
    // and a call still queued never runs.
    void synchronize()
    {
        QFETCH(int, cancel);
        SyncGate gate;
        if (cancel == Before)
            gate.cancel();
        CancelOnDelivery canceller(cancel == WhenQueued ? &gate : nullptr);
        std::atomic<bool> ranOnUi{false}, returned{false};
        bool ranBeforeReturn = false, caught = false;
        std::thread worker([&] {
            SyncGateScope scope(gate);
            try {
                TThread::Synchronize(TThread::CurrentThread(), [&] {
                    ranOnUi = TThread::isUiThread();
                    throw std::runtime_error("disk full");
                });
            } catch (const std::runtime_error&) {
                caught = true;
            }
            ranBeforeReturn = ranOnUi;
            returned = true;
        });
        if (cancel != Before)  // a cancelled gate needs no event processing
            QTRY_VERIFY(returned.load());
        worker.join();
        QCoreApplication::processEvents();
        QCOMPARE(ranBeforeReturn, cancel == Never);
        QCOMPARE(ranOnUi.load(), cancel == Never);
        QCOMPARE(caught, cancel == Never);
        QCOMPARE(TThread::waitingCount(), 0);
    }

    // Copying a frame, a camera that vanishes and starts again, a late frame
    // after the stop, and closing a running camera.
    void lifeOfACamera()
    {
        auto source = std::make_shared<ScriptedCameraSource>();
        source->setCaptureSettings(F, {{4, 3, 30}});
        auto camera = std::make_unique<TCameraComponent>(nullptr, source);
        TBitmap target(8, 2);
        target.image().fill(0xFF123456u);
        bool resize = false;
        camera->OnSampleBufferReady = [&](TObject*, std::int64_t) { camera->SampleBufferToBitmap(target, resize); };
        QImage frame = solidImage(4, 3, 0xFF102030);
        frame.setPixel(3, 2, 0xFFABCDEF);
        camera->SetActive(true);
        source->deliver(frame);  // another size, not to be resized: untouched
        QCOMPARE(target.image().pixel(7, 1), 0xFF123456u);
        resize = true;
        source->deliver(frame);
        QCOMPARE(target.image(), frame);

        source->vanish();
        QVERIFY(!camera->Active());
        camera->SetActive(true);
        QCOMPARE(source->stopCount(), 1);  // the vanished run was closed first
        camera->SetActive(false);
        source->deliver(solidImage(4, 3, 0xFF000000));  // late: dropped
        QCOMPARE(target.image(), frame);
        TBitmap outside(2, 2);  // outside a frame event there is nothing to copy
        camera->SampleBufferToBitmap(outside, true);
        QCOMPARE(outside.Width(), 2);

        // A back camera plugged in after it was selected starts with its first setting.
        camera->SetKind(B);
        source->setCaptureSettings(B, {{8, 6, 15}, {2, 2, 30}});
        camera->SetActive(true);
        QCOMPARE(source->lastStartedSetting(), TVideoCaptureSetting(8, 6, 15));
        camera.reset();
        QVERIFY(!source->isRunning());
        InstallCameraSource(nullptr);  // without one installed, the demo cameras
        QVERIFY(dynamic_cast<DemoCameraSource*>(&TCameraComponent(nullptr).source()));
    }

    // The scripted camera takes the nearest offered setting as the demo
    // cameras do: the same size at the nearest rate, else the nearest area,
    // the first listed on a tie.
    void captureSetting_data()
    {
        QTest::addColumn<SettingCase>("c");
        QTest::newRow("stopped, nearer the lower rate") << SettingCase{false, S(640, 480, 20), S(640, 480, 15), 0};
        QTest::newRow("stopped, a rate tie") << SettingCase{false, S(1920, 1080, 22.5), S(1920, 1080, 15), 0};
        QTest::newRow("all zero ignored") << SettingCase{false, S(), kVga, 0};
        QTest::newRow("running, nearest area restarts") << SettingCase{true, S(1000, 700, 30), kHd, 2};
        QTest::newRow("running, larger than all") << SettingCase{true, S(4000, 3000, 60), S(1920, 1080, 15), 2};
        QTest::newRow("running, nearest is the one in force") << SettingCase{true, S(640, 480, 25), kVga, 1};
    }

    void captureSetting()
    {
        QFETCH(SettingCase, c);
        auto source = std::make_shared<ScriptedCameraSource>();
        source->setCaptureSettings(F, {kVga, {640, 480, 15}, kHd, {1920, 1080, 15}, {1920, 1080, 30}});
        source->resolveRule = [s = source.get()](TCameraKind K, const S& W) {
            return nearestOfferedSetting(s->captureSettings(K), W);
        };
        TCameraComponent camera(nullptr, source);
        camera.SetActive(c.running);
        camera.InternalSetCaptureSetting(c.wanted);
        QCOMPARE(camera.GetCaptureSetting(), c.inForce);
        QCOMPARE(source->startCount(), c.starts);
        camera.SetActive(true);  // a stopped camera takes it at its next start
        QCOMPARE(source->lastStartedSetting(), c.inForce);
    }

    void stress_data()
    {
        QTest::addColumn<bool>("demo");
        QTest::addColumn<int>("cycles");
        QTest::newRow("scripted camera at full speed") << false << 500;
        QTest::newRow("demo cameras") << true << 200;
    }

    // The UI thread starts, stops, switches, changes the setting and closes
    // the camera at random while a capture thread delivers frames, handed to
    // the UI thread with Synchronize as the main window does. Nothing may
    // hang, no frame may be handled after a stop, and every frame handled is
    // copied on the UI thread at the size of the setting in force.
    void stress()
    {
        QFETCH(bool, demo);
        QFETCH(int, cycles);
        // Small sizes keep it quick (the demo's own lists start large).
        const Settings front = demo ? Settings{{320, 240, 30}, {640, 480, 15}} : Settings{{64, 48, 30}, {16, 8, 15}};
        const Settings back = demo ? Settings{{176, 144, 15}, kCif} : Settings{{40, 30, 30}, {8, 6, 30}};
        auto scriptedSource = std::make_shared<ScriptedCameraSource>();
        scriptedSource->setCaptureSettings(F, front);
        scriptedSource->setCaptureSettings(B, back);
        scriptedSource->setCaptureThread(true);
        const std::shared_ptr<CameraSource> source =
            demo ? std::shared_ptr<CameraSource>(std::make_shared<DemoCameraSource>()) : scriptedSource;

        std::unique_ptr<TCameraComponent> camera;
        TBitmap bitmap;
        bool expectFrames = false;
        int processed = 0, afterStop = 0;
        std::atomic<int> wrong{0};
        auto open = [&] {
            camera = std::make_unique<TCameraComponent>(nullptr, source);
            camera->OnSampleBufferReady = [&, c = camera.get()](TObject*, std::int64_t) {
                TThread::Synchronize(TThread::CurrentThread(), [&, c] {
                    wrong += !TThread::isUiThread();
                    afterStop += !expectFrames;
                    if (!c->Active())
                        return;
                    c->SampleBufferToBitmap(bitmap, true);
                    const S inForce = c->GetCaptureSetting();
                    wrong += bitmap.Width() != inForce.Width || bitmap.Height() != inForce.Height;
                    ++processed;
                });
            };
        };
        // After a stop or a close: no thread waits, nothing queued runs, and
        // the capture thread is gone.
        const int idleThreads = threadCount();
        auto settle = [&] {
            QCOMPARE(TThread::waitingCount(), 0);
            QTRY_COMPARE(threadCount(), idleThreads);
            QCoreApplication::processEvents();
            QCOMPARE(afterStop, 0);
            QCOMPARE(wrong.load(), 0);
        };
        std::mt19937 random(20240611);
        auto pick = [&] { return (camera->Kind() == B ? back : front)[random() % 2]; };

        open();
        for (int cycle = 0; cycle < cycles && !QTest::currentTestFailed(); ++cycle) {
            const int action = random() % 5;
            if (action == 0) {
                // Starts a stopped camera; restarts a running one with another setting.
                expectFrames = true;
                camera->InternalSetCaptureSetting(pick());
                camera->SetActive(true);
                if (cycle % 3 == 0) {  // now and then make sure frames get through
                    const int before = processed;
                    QTRY_VERIFY_WITH_TIMEOUT(processed > before, 10000);
                }
            } else if (action == 1 || action == 2) {
                expectFrames = false;
                action == 1 ? camera->SetActive(false) : camera->SetKind(camera->Kind() == B ? F : B);
                QVERIFY(!camera->Active());
                settle();
            } else if (action == 3) {
                const bool wasActive = camera->Active();
                expectFrames = false;
                camera.reset();
                settle();
                open();
                camera->SetActive(expectFrames = wasActive);
            } else if (!demo && camera->Active()) {
                scriptedSource->vanish();
                QVERIFY(!camera->Active());
            }
            QCoreApplication::processEvents();
        }
        expectFrames = false;
        camera->SetActive(false);
        settle();
    }
};

QTEST_MAIN(TestCameraComponent)
#include "tst_camera_component.moc"
