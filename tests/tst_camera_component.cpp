#include <QtTest>

#include <algorithm>
#include <atomic>
#include <memory>
#include <optional>
#include <random>
#include <set>
#include <stdexcept>
#include <thread>

#include "platform/bitmap.h"
#include "platform/camera/camera_component.h"
#include "platform/camera/demo_camera_source.h"
#include "platform/thread.h"
#include "support/scripted_camera_source.h"

Q_DECLARE_METATYPE(TVideoCaptureSetting)
Q_DECLARE_METATYPE(TCameraKind)

// QCOMPARE cannot print a setting without help, so settings are compared
// through this, naming both sides on failure.
#define COMPARE_SETTING(actual, expected)                                                           \
    do {                                                                                            \
        const TVideoCaptureSetting a_ = (actual), e_ = (expected);                                  \
        QVERIFY2(a_ == e_, qPrintable(QString("%1 is %2, expected %3")                              \
                                          .arg(#actual, QString::fromStdString(settingText(a_)),       \
                                               QString::fromStdString(settingText(e_)))));             \
    } while (false)

namespace {

const TVideoCaptureSetting kVga{640, 480, 30};
const TVideoCaptureSetting kHd{1280, 720, 30};
const TVideoCaptureSetting kFullHd15{1920, 1080, 15};

// What the main window does with a frame: hand it to the UI thread and copy
// it there, as long as the camera is active.
struct FrameRecorder {
    explicit FrameRecorder(TCameraComponent& Camera) : camera(&Camera) { attach(); }

    void attach()
    {
        camera->OnSampleBufferReady = [this](TObject* Sender, std::int64_t) {
            ++events;
            if (Sender != camera)
                ++wrongSender;
            TThread::Synchronize(TThread::CurrentThread(), [this] { process(); });
        };
    }

    void process()
    {
        if (!TThread::isUiThread())
            ++offUiThread;
        if (!expectFrames)
            ++afterStop;
        if (!camera->Active())
            return;
        camera->SampleBufferToBitmap(bitmap, resize);
        const TVideoCaptureSetting s = camera->GetCaptureSetting();
        if (bitmap.Width() != s.Width || bitmap.Height() != s.Height)
            ++wrongSize;
        ++processed;
    }

    TCameraComponent* camera;
    TBitmap bitmap;
    bool resize = true;
    bool expectFrames = true;
    std::atomic<int> events{0};
    int wrongSender = 0;
    int processed = 0;
    int offUiThread = 0;
    int afterStop = 0;
    int wrongSize = 0;
};

// A 4 x 3 frame whose pixels all differ:
//   row 0: 0xFF000000 0xFF010000 0xFF020000 0xFF030000
//   row 1: 0xFF000100 ...      (red counts columns, green rows)
QImage patternImage(int Width, int Height)
{
    QImage image(Width, Height, QImage::Format_RGB32);
    for (int y = 0; y < Height; ++y)
        for (int x = 0; x < Width; ++x)
            image.setPixel(x, y, 0xFF000000u | std::uint32_t(x % 256) << 16 | std::uint32_t(y % 256) << 8 | 0x40u);
    return image;
}

QImage renderScene(TCameraKind Kind, int Width, int Height, double Seconds, std::uint32_t Number)
{
    const DemoScene scene(Kind, Width, Height);
    QImage image(Width, Height, QImage::Format_RGB32);
    scene.render(image.bits(), image.bytesPerLine(), Seconds, Number);
    return image;
}

int channelDistance(QRgb A, QRgb B)
{
    return std::max({std::abs(qRed(A) - qRed(B)), std::abs(qGreen(A) - qGreen(B)), std::abs(qBlue(A) - qBlue(B))});
}

// Cancels Gate when the first queued call reaches the application object:
// the hand-over is then queued but has not started.
class CancelWhenDelivered : public QObject {
public:
    explicit CancelWhenDelivered(SyncGate& Gate) : m_gate(Gate) {}
    bool seen = false;

protected:
    bool eventFilter(QObject* Watched, QEvent* Event) override
    {
        if (!seen && Watched == QCoreApplication::instance() && Event->type() == QEvent::MetaCall) {
            seen = true;
            m_gate.cancel();
        }
        return false;
    }

private:
    SyncGate& m_gate;
};

}  // namespace

class TestCameraComponent : public QObject {
    Q_OBJECT

private slots:
    // Hand-over to the UI thread.
    void synchronizeFromWorkerRunsOnUiThread();
    void synchronizeOnUiThread_data();
    void synchronizeOnUiThread();
    void cancelReleasesQueuedHandOver();
    void cancelReleasesBlockedWorkerWithoutUi();
    void exceptionReachesTheCaller();

    // The component over a scripted camera.
    void oneArgumentConstructorTakesTheInstalledSource();
    void failingStartStaysInactive();
    void vanishedCameraIsInactiveAndStartsAgain_data();
    void vanishedCameraIsInactiveAndStartsAgain();
    void captureSetting_data();
    void captureSetting();
    void setKind_data();
    void setKind();
    void sampleBufferToBitmap_data();
    void sampleBufferToBitmap();
    void framesAfterStopAreDroppedAndNotCopied();
    void destructorStops();

    // Starting, stopping, switching and closing while frames flow.
    void stress_data();
    void stress();

    // The demo cameras.
    void demoSettingsLists();
    void demoResolveSetting_data();
    void demoResolveSetting();
    void demoSceneMovesOverAStillBackground_data();
    void demoSceneMovesOverAStillBackground();
    void demoFrontAndBackShowDifferentScenes();
    void demoDeliversFramesOfTheSetting_data();
    void demoDeliversFramesOfTheSetting();
};

// --- Hand-over ---------------------------------------------------------------

void TestCameraComponent::synchronizeFromWorkerRunsOnUiThread()
{
    std::atomic<bool> ran{false}, ranOnUi{false}, ranBeforeReturn{false}, returned{false};
    std::thread worker([&] {
        TThread::Synchronize(TThread::CurrentThread(), [&] {
            ranOnUi = TThread::isUiThread();
            ran = true;
        });
        ranBeforeReturn = ran.load();
        returned = true;
    });
    QTRY_VERIFY(returned.load());
    worker.join();
    QVERIFY(ranOnUi);
    QVERIFY(ranBeforeReturn);
    QCOMPARE(TThread::waitingCount(), 0);
}

void TestCameraComponent::synchronizeOnUiThread_data()
{
    QTest::addColumn<int>("gate");  // 0 none, 1 open, 2 cancelled
    QTest::addColumn<bool>("runs");
    QTest::newRow("no gate") << 0 << true;
    QTest::newRow("open gate") << 1 << true;
    QTest::newRow("cancelled gate") << 2 << false;
}

void TestCameraComponent::synchronizeOnUiThread()
{
    QFETCH(int, gate);
    QFETCH(bool, runs);
    SyncGate syncGate;
    if (gate == 2)
        syncGate.cancel();
    std::optional<SyncGateScope> scope;
    if (gate != 0)
        scope.emplace(syncGate);

    // No event processing in between: the method must run inside the call.
    bool ran = false;
    TThread::Synchronize(TThread::CurrentThread(), [&] { ran = true; });
    QCOMPARE(ran, runs);
}

void TestCameraComponent::cancelReleasesQueuedHandOver()
{
    SyncGate gate;
    CancelWhenDelivered canceller(gate);
    qApp->installEventFilter(&canceller);
    std::atomic<bool> ran{false}, returned{false};
    std::thread worker([&] {
        SyncGateScope scope(gate);
        TThread::Synchronize(TThread::CurrentThread(), [&] { ran = true; });
        returned = true;
    });
    QTRY_VERIFY(returned.load());
    worker.join();
    qApp->removeEventFilter(&canceller);
    QVERIFY(canceller.seen);
    QVERIFY(!ran);

    // Later hand-overs under the cancelled gate return at once.
    std::thread late([&] {
        SyncGateScope scope(gate);
        TThread::Synchronize(TThread::CurrentThread(), [&] { ran = true; });
    });
    late.join();
    QCoreApplication::processEvents();
    QVERIFY(!ran);
}

// What stopping a camera relies on: the UI thread cancels and then joins the
// capture thread without ever processing events. (Whether the worker had
// queued its call before the cancel or not, it must come back.)
void TestCameraComponent::cancelReleasesBlockedWorkerWithoutUi()
{
    for (int round = 0; round < 50; ++round) {
        SyncGate gate;
        std::atomic<bool> ran{false};
        std::thread worker([&] {
            SyncGateScope scope(gate);
            TThread::Synchronize(TThread::CurrentThread(), [&] { ran = true; });
        });
        gate.cancel();
        worker.join();
        QCoreApplication::processEvents();
        QVERIFY(!ran);
        QCOMPARE(TThread::waitingCount(), 0);
    }
}

void TestCameraComponent::exceptionReachesTheCaller()
{
    std::atomic<bool> returned{false};
    std::string message;
    std::thread worker([&] {
        try {
            TThread::Synchronize(TThread::CurrentThread(), [] { throw std::runtime_error("disk full"); });
        } catch (const std::runtime_error& e) {
            message = e.what();
        }
        returned = true;
    });
    QTRY_VERIFY(returned.load());
    worker.join();
    QCOMPARE(QString::fromStdString(message), QString("disk full"));
}

// --- Component ---------------------------------------------------------------

void TestCameraComponent::oneArgumentConstructorTakesTheInstalledSource()
{
    auto source = std::make_shared<ScriptedCameraSource>();
    InstallCameraSource(source);
    {
        TCameraComponent camera(nullptr);
        QCOMPARE(&camera.source(), source.get());
    }
    InstallCameraSource(nullptr);
    TCameraComponent demo(nullptr);
    QVERIFY(dynamic_cast<DemoCameraSource*>(&demo.source()) != nullptr);
    COMPARE_SETTING(demo.GetCaptureSetting(), DemoCameraSource::offeredSettings(TCameraKind::FrontCamera).front());
}

void TestCameraComponent::failingStartStaysInactive()
{
    auto source = std::make_shared<ScriptedCameraSource>();
    source->setCaptureSettings(TCameraKind::FrontCamera, {kVga});
    source->failStart = true;
    TCameraComponent camera(nullptr, source);
    FrameRecorder recorder(camera);

    camera.SetActive(true);
    QVERIFY(!camera.Active());
    QCOMPARE(source->startCount(), 1);
    source->deliver(patternImage(640, 480));
    QCOMPARE(recorder.events.load(), 0);

    source->failStart = false;
    camera.SetActive(true);
    QVERIFY(camera.Active());
    QCOMPARE(source->startCount(), 2);
    source->deliver(patternImage(640, 480));
    QCOMPARE(recorder.processed, 1);
}

void TestCameraComponent::vanishedCameraIsInactiveAndStartsAgain_data()
{
    QTest::addColumn<bool>("captureThread");
    QTest::newRow("frames from the test") << false;
    QTest::newRow("frames from a capture thread") << true;
}

void TestCameraComponent::vanishedCameraIsInactiveAndStartsAgain()
{
    QFETCH(bool, captureThread);
    auto source = std::make_shared<ScriptedCameraSource>();
    source->setCaptureSettings(TCameraKind::FrontCamera, {kVga});
    source->setCaptureThread(captureThread);
    TCameraComponent camera(nullptr, source);
    FrameRecorder recorder(camera);

    camera.SetActive(true);
    QVERIFY(camera.Active());
    if (captureThread)
        QTRY_VERIFY(recorder.processed > 0);
    source->vanish();
    QVERIFY(!camera.Active());
    QCoreApplication::processEvents();  // a frame still queued sees the camera inactive

    const int processed = recorder.processed;
    camera.SetActive(true);
    QVERIFY(camera.Active());
    QCOMPARE(source->stopCount(), 1);  // the vanished run was closed first
    QCOMPARE(source->startCount(), 2);
    if (captureThread)
        QTRY_VERIFY(recorder.processed > processed);
    else
        source->deliver(patternImage(640, 480));
    QVERIFY(recorder.processed > processed);
    camera.SetActive(false);
    QCOMPARE(recorder.wrongSize, 0);
}

void TestCameraComponent::captureSetting_data()
{
    QTest::addColumn<bool>("running");
    QTest::addColumn<TVideoCaptureSetting>("wanted");
    QTest::addColumn<TVideoCaptureSetting>("inForce");
    QTest::addColumn<int>("starts");

    // The camera starts with 640x480 @ 30. It takes any size, but only at
    // 30 frames a second.
    QTest::newRow("stopped, taken as asked") << false << kHd << kHd << 0;
    QTest::newRow("stopped, taken in part") << false << kFullHd15 << TVideoCaptureSetting(1920, 1080, 30) << 0;
    QTest::newRow("stopped, all zero ignored") << false << TVideoCaptureSetting() << kVga << 0;
    QTest::newRow("running, another setting restarts") << true << kHd << kHd << 2;
    QTest::newRow("running, taken in part restarts")
        << true << TVideoCaptureSetting(1280, 720, 25) << kHd << 2;
    QTest::newRow("running, the setting in force") << true << kVga << kVga << 1;
    QTest::newRow("running, taken as the setting in force")
        << true << TVideoCaptureSetting(640, 480, 12) << kVga << 1;
    QTest::newRow("running, all zero ignored") << true << TVideoCaptureSetting() << kVga << 1;
}

void TestCameraComponent::captureSetting()
{
    QFETCH(bool, running);
    QFETCH(TVideoCaptureSetting, wanted);
    QFETCH(TVideoCaptureSetting, inForce);
    QFETCH(int, starts);

    auto source = std::make_shared<ScriptedCameraSource>();
    source->setCaptureSettings(TCameraKind::FrontCamera, {kVga, kHd, kFullHd15});
    int asked = 0;
    source->resolveRule = [&asked](TCameraKind, const TVideoCaptureSetting& W) {
        ++asked;
        return TVideoCaptureSetting(W.Width, W.Height, 30);
    };
    TCameraComponent camera(nullptr, source);
    FrameRecorder recorder(camera);
    if (running)
        camera.SetActive(true);
    asked = 0;

    camera.InternalSetCaptureSetting(wanted);
    COMPARE_SETTING(camera.GetCaptureSetting(), inForce);
    QCOMPARE(source->startCount(), starts);
    QCOMPARE(camera.Active(), running);
    if (wanted.isZero())
        QCOMPARE(asked, 0);  // not even asked
    if (running) {
        COMPARE_SETTING(source->lastStartedSetting(), inForce);
        source->deliver(patternImage(inForce.Width, inForce.Height));
        QCOMPARE(recorder.bitmap.Width(), inForce.Width);
    } else {
        // Taken at the next start.
        camera.SetActive(true);
        COMPARE_SETTING(source->lastStartedSetting(), inForce);
    }
}

void TestCameraComponent::setKind_data()
{
    QTest::addColumn<bool>("running");
    QTest::addColumn<TCameraKind>("kind");
    QTest::addColumn<TVideoCaptureSetting>("inForce");
    QTest::addColumn<int>("stops");

    const TVideoCaptureSetting cif(352, 288, 30);
    QTest::newRow("stopped, to the back camera") << false << TCameraKind::BackCamera << cif << 0;
    QTest::newRow("running, to the back camera") << true << TCameraKind::BackCamera << cif << 1;
    QTest::newRow("running, the same camera") << true << TCameraKind::FrontCamera << kHd << 1;
    QTest::newRow("a camera that does not exist") << false << TCameraKind::Default << TVideoCaptureSetting() << 0;
}

void TestCameraComponent::setKind()
{
    QFETCH(bool, running);
    QFETCH(TCameraKind, kind);
    QFETCH(TVideoCaptureSetting, inForce);
    QFETCH(int, stops);

    auto source = std::make_shared<ScriptedCameraSource>();
    source->setCaptureSettings(TCameraKind::FrontCamera, {kHd, kVga});
    source->setCaptureSettings(TCameraKind::BackCamera, {{352, 288, 30}, kVga});
    source->resolveRule = [](TCameraKind K, const TVideoCaptureSetting& W) {
        return K == TCameraKind::Default ? TVideoCaptureSetting() : W;
    };
    TCameraComponent camera(nullptr, source);
    camera.InternalSetCaptureSetting(kVga);
    if (running)
        camera.SetActive(true);

    camera.SetKind(kind);
    QVERIFY(!camera.Active());
    QCOMPARE(camera.Kind(), kind);
    COMPARE_SETTING(camera.GetCaptureSetting(), inForce);
    QCOMPARE(source->stopCount(), stops);
    QCOMPARE(int(camera.GetAvailableCaptureSettings().size()), kind == TCameraKind::Default ? 0 : 2);

    camera.SetActive(true);
    QCOMPARE(source->lastStartedKind(), kind);
    COMPARE_SETTING(source->lastStartedSetting(), inForce);
}

void TestCameraComponent::sampleBufferToBitmap_data()
{
    QTest::addColumn<QSize>("frame");
    QTest::addColumn<QSize>("bitmap");
    QTest::addColumn<bool>("resize");
    QTest::addColumn<bool>("copied");

    QTest::newRow("same size") << QSize(4, 3) << QSize(4, 3) << true << true;
    QTest::newRow("resized to the frame") << QSize(4, 3) << QSize(8, 2) << true << true;
    QTest::newRow("empty bitmap resized") << QSize(5, 7) << QSize(0, 0) << true << true;
    QTest::newRow("same size, no resize") << QSize(4, 3) << QSize(4, 3) << false << true;
    QTest::newRow("other size, no resize: untouched") << QSize(4, 3) << QSize(8, 2) << false << false;
}

void TestCameraComponent::sampleBufferToBitmap()
{
    QFETCH(QSize, frame);
    QFETCH(QSize, bitmap);
    QFETCH(bool, resize);
    QFETCH(bool, copied);

    auto source = std::make_shared<ScriptedCameraSource>();
    source->setCaptureSettings(TCameraKind::FrontCamera, {{frame.width(), frame.height(), 30}});
    TCameraComponent camera(nullptr, source);
    FrameRecorder recorder(camera);
    recorder.resize = resize;
    recorder.bitmap.SetSize(bitmap.width(), bitmap.height());
    if (!recorder.bitmap.IsEmpty())
        recorder.bitmap.image().fill(0xFF123456u);
    int changes = 0;
    recorder.bitmap.OnChange = [&changes] { ++changes; };
    camera.SetActive(true);

    const QImage image = patternImage(frame.width(), frame.height());
    source->deliver(image);
    QCOMPARE(recorder.events.load(), 1);
    QCOMPARE(recorder.wrongSender, 0);
    if (copied) {
        QCOMPARE(recorder.bitmap.image(), image);
        QVERIFY(changes > 0);
    } else {
        QCOMPARE(recorder.bitmap.Width(), bitmap.width());
        QCOMPARE(recorder.bitmap.Height(), bitmap.height());
        QCOMPARE(recorder.bitmap.image().pixel(0, 0), 0xFF123456u);
    }
}

void TestCameraComponent::framesAfterStopAreDroppedAndNotCopied()
{
    auto source = std::make_shared<ScriptedCameraSource>();
    source->setCaptureSettings(TCameraKind::FrontCamera, {{4, 3, 30}});
    TCameraComponent camera(nullptr, source);
    FrameRecorder recorder(camera);
    camera.SetActive(true);
    source->deliver(patternImage(4, 3));
    QCOMPARE(recorder.events.load(), 1);

    camera.SetActive(false);
    source->deliver(patternImage(4, 3));
    QCOMPARE(recorder.events.load(), 1);
    QCOMPARE(recorder.processed, 1);

    // Outside a frame event there is nothing to copy.
    TBitmap bitmap(2, 2);
    bitmap.image().fill(0xFF123456u);
    camera.SampleBufferToBitmap(bitmap, true);
    QCOMPARE(bitmap.Width(), 2);
    QCOMPARE(bitmap.image().pixel(1, 1), 0xFF123456u);
}

void TestCameraComponent::destructorStops()
{
    auto source = std::make_shared<ScriptedCameraSource>();
    source->setCaptureSettings(TCameraKind::FrontCamera, {{4, 3, 30}});
    source->setCaptureThread(true);
    {
        TCameraComponent camera(nullptr, source);
        FrameRecorder recorder(camera);
        camera.SetActive(true);
        QTRY_VERIFY(recorder.processed > 0);
    }
    QVERIFY(!source->isRunning());
    QCOMPARE(source->stopCount(), 1);
    QCOMPARE(TThread::waitingCount(), 0);
}

// --- Stress --------------------------------------------------------------------

void TestCameraComponent::stress_data()
{
    QTest::addColumn<bool>("demo");
    QTest::addColumn<int>("cycles");
    QTest::newRow("scripted camera at full speed") << false << 500;
    QTest::newRow("demo cameras") << true << 200;
}

// The UI thread starts, stops, switches, changes the setting and closes the
// camera at random while a capture thread delivers frames, each handed over
// with Synchronize as the main window does. After every stop no frame may
// be processed and no thread may be left waiting; every processed frame
// has the size of the setting in force.
void TestCameraComponent::stress()
{
    QFETCH(bool, demo);
    QFETCH(int, cycles);

    std::shared_ptr<CameraSource> source;
    std::vector<TVideoCaptureSetting> front, back;
    if (demo) {
        // Small sizes keep the test quick; the demo's own lists start large.
        source = std::make_shared<DemoCameraSource>();
        front = {{320, 240, 30}, {640, 480, 30}, {640, 480, 15}};
        back = {{176, 144, 15}, {352, 288, 30}};
    } else {
        auto scripted = std::make_shared<ScriptedCameraSource>();
        front = {{64, 48, 30}, {32, 24, 30}, {16, 8, 15}};
        back = {{40, 30, 30}, {8, 6, 30}};
        scripted->setCaptureSettings(TCameraKind::FrontCamera, front);
        scripted->setCaptureSettings(TCameraKind::BackCamera, back);
        scripted->setCaptureThread(true);
        source = scripted;
    }

    auto camera = std::make_unique<TCameraComponent>(nullptr, source);
    auto recorder = std::make_unique<FrameRecorder>(*camera);
    recorder->expectFrames = false;
    std::mt19937 random(20240611);
    int processed = 0, starts = 0, waits = 0;

    auto checkStopped = [&](const char* what) {
        recorder->expectFrames = false;
        QVERIFY2(!camera->Active(), what);
        QCOMPARE(TThread::waitingCount(), 0);
        QCoreApplication::processEvents();
        QVERIFY2(recorder->afterStop == 0, what);
    };
    auto pickSetting = [&] {
        const auto& list = camera->Kind() == TCameraKind::BackCamera ? back : front;
        return list[random() % list.size()];
    };

    for (int cycle = 0; cycle < cycles; ++cycle) {
        switch (random() % 7) {
        case 0:
        case 1:
            recorder->expectFrames = true;
            camera->InternalSetCaptureSetting(pickSetting());
            camera->SetActive(true);
            ++starts;
            QVERIFY(camera->Active());
            // Now and then make sure frames really get through.
            if (cycle % 5 == 0) {
                ++waits;
                const int before = recorder->processed;
                QTRY_VERIFY_WITH_TIMEOUT(recorder->processed > before, 10000);
            }
            break;
        case 2:
            camera->SetActive(false);
            checkStopped("stop");
            break;
        case 3:
            camera->SetKind(camera->Kind() == TCameraKind::BackCamera ? TCameraKind::FrontCamera
                                                                      : TCameraKind::BackCamera);
            checkStopped("switch");
            camera->InternalSetCaptureSetting(pickSetting());
            break;
        case 4:
            // A running camera restarts with the new setting.
            camera->InternalSetCaptureSetting(pickSetting());
            break;
        case 5: {
            processed += recorder->processed;
            QCOMPARE(recorder->offUiThread, 0);
            QCOMPARE(recorder->wrongSize, 0);
            QCOMPARE(recorder->wrongSender, 0);
            const bool wasActive = camera->Active();
            recorder->expectFrames = false;
            camera.reset();  // closes the camera
            QCOMPARE(TThread::waitingCount(), 0);
            QCoreApplication::processEvents();
            QCOMPARE(recorder->afterStop, 0);
            camera = std::make_unique<TCameraComponent>(nullptr, source);
            recorder = std::make_unique<FrameRecorder>(*camera);
            recorder->expectFrames = wasActive;
            if (wasActive)
                camera->SetActive(true);
            break;
        }
        case 6:
            if (!demo && camera->Active()) {
                static_cast<ScriptedCameraSource&>(*source).vanish();
                QVERIFY(!camera->Active());
            }
            break;
        }
        // Let a few frames through between operations.
        for (int i = 0; i < 4; ++i)
            QCoreApplication::processEvents();
    }
    camera->SetActive(false);
    checkStopped("end");
    processed += recorder->processed;
    QCOMPARE(recorder->offUiThread, 0);
    QCOMPARE(recorder->wrongSize, 0);
    QVERIFY(starts > cycles / 5);
    QVERIFY(waits > cycles / 50);
    QVERIFY(processed >= waits);
    qInfo("%d starts, %d frames processed", starts, processed);
}

// --- Demo cameras ----------------------------------------------------------------

void TestCameraComponent::demoSettingsLists()
{
    const auto front = DemoCameraSource::offeredSettings(TCameraKind::FrontCamera);
    const auto back = DemoCameraSource::offeredSettings(TCameraKind::BackCamera);
    QVERIFY(front != back);
    QCOMPARE(DemoCameraSource::offeredSettings(TCameraKind::Default), front);
    QVERIFY(std::find(front.begin(), front.end(), TVideoCaptureSetting(640, 480, 30)) != front.end());

    for (const auto& list : {front, back}) {
        std::set<std::pair<int, int>> sizes;
        int taller = 0, twoRates = 0;
        for (const TVideoCaptureSetting& s : list) {
            QVERIFY(s.FrameRate > 0);
            QCOMPARE(s.MinFrameRate, s.FrameRate);
            if (s.Height > 1080)
                ++taller;
            else
                QVERIFY(s.Width <= 1920);
            if (!sizes.insert({s.Width, s.Height}).second)
                ++twoRates;
        }
        QVERIFY(sizes.size() >= 4);
        QCOMPARE(taller, 1);
        QVERIFY(twoRates >= 1);
        QVERIFY(sizes.count({1920, 1080}) == 1);
    }
}

void TestCameraComponent::demoResolveSetting_data()
{
    QTest::addColumn<TCameraKind>("kind");
    QTest::addColumn<TVideoCaptureSetting>("wanted");
    QTest::addColumn<TVideoCaptureSetting>("taken");

    const auto F = TCameraKind::FrontCamera, B = TCameraKind::BackCamera;
    QTest::newRow("offered as asked") << F << kHd << kHd;
    QTest::newRow("same size, nearer the lower rate") << F << TVideoCaptureSetting(640, 480, 20) << TVideoCaptureSetting(640, 480, 15);
    QTest::newRow("same size, nearer the higher rate") << F << TVideoCaptureSetting(640, 480, 25) << kVga;
    QTest::newRow("same size, faster than offered") << F << TVideoCaptureSetting(1920, 1080, 60) << TVideoCaptureSetting(1920, 1080, 30);
    QTest::newRow("size not offered: nearest area") << F << TVideoCaptureSetting(1000, 700, 30) << kHd;
    QTest::newRow("nothing asked: the smallest") << F << TVideoCaptureSetting() << TVideoCaptureSetting(320, 240, 30);
    QTest::newRow("larger than all: the largest") << F << TVideoCaptureSetting(4000, 3000, 30) << TVideoCaptureSetting(2592, 1944, 15);
    QTest::newRow("back has no 640x480") << B << kVga << TVideoCaptureSetting(800, 600, 30);
    QTest::newRow("back, nearer 60") << B << TVideoCaptureSetting(1280, 720, 50) << TVideoCaptureSetting(1280, 720, 60);
    QTest::newRow("a rate tie takes the first listed") << B << TVideoCaptureSetting(1280, 720, 45) << kHd;
}

void TestCameraComponent::demoResolveSetting()
{
    QFETCH(TCameraKind, kind);
    QFETCH(TVideoCaptureSetting, wanted);
    QFETCH(TVideoCaptureSetting, taken);
    DemoCameraSource source;
    COMPARE_SETTING(source.resolveSetting(kind, wanted), taken);
}

void TestCameraComponent::demoSceneMovesOverAStillBackground_data()
{
    QTest::addColumn<TCameraKind>("kind");
    QTest::addColumn<QSize>("size");
    QTest::newRow("front 640x480") << TCameraKind::FrontCamera << QSize(640, 480);
    QTest::newRow("back 640x480") << TCameraKind::BackCamera << QSize(640, 480);
    QTest::newRow("front 1920x1080") << TCameraKind::FrontCamera << QSize(1920, 1080);
    QTest::newRow("back 176x144") << TCameraKind::BackCamera << QSize(176, 144);
}

// Two frames a thirtieth of a second apart: the moving things changed some
// pixels clearly, the noise touched a few by at most 2, and the rest is the
// same background, so the motion picture is mostly black.
void TestCameraComponent::demoSceneMovesOverAStillBackground()
{
    QFETCH(TCameraKind, kind);
    QFETCH(QSize, size);
    const QImage a = renderScene(kind, size.width(), size.height(), 10.0, 300);
    const QImage b = renderScene(kind, size.width(), size.height(), 10.0 + 1.0 / 30, 301);

    qint64 identical = 0, moved = 0, opaque = 0;
    for (int y = 0; y < size.height(); ++y) {
        for (int x = 0; x < size.width(); ++x) {
            const QRgb p = a.pixel(x, y), q = b.pixel(x, y);
            identical += p == q;
            moved += channelDistance(p, q) > 8;
            opaque += qAlpha(p) == 255 && qAlpha(q) == 255;
        }
    }
    const qint64 all = qint64(size.width()) * size.height();
    QCOMPARE(opaque, all);
    QVERIFY2(moved > all / 1000, qPrintable(QString("moved %1 of %2").arg(moved).arg(all)));
    QVERIFY2(moved < all / 10, qPrintable(QString("moved %1 of %2").arg(moved).arg(all)));
    QVERIFY2(identical > all * 9 / 10, qPrintable(QString("identical %1 of %2").arg(identical).arg(all)));
}

void TestCameraComponent::demoFrontAndBackShowDifferentScenes()
{
    const QImage front = renderScene(TCameraKind::FrontCamera, 320, 240, 5.0, 1);
    const QImage back = renderScene(TCameraKind::BackCamera, 320, 240, 5.0, 1);
    int different = 0;
    for (int y = 0; y < 240; ++y)
        for (int x = 0; x < 320; ++x)
            different += channelDistance(front.pixel(x, y), back.pixel(x, y)) > 16;
    QVERIFY2(different > 320 * 240 / 2, qPrintable(QString::number(different)));
}

void TestCameraComponent::demoDeliversFramesOfTheSetting_data()
{
    QTest::addColumn<TCameraKind>("kind");
    QTest::addColumn<TVideoCaptureSetting>("setting");
    QTest::newRow("front 320x240") << TCameraKind::FrontCamera << TVideoCaptureSetting(320, 240, 30);
    QTest::newRow("back 176x144") << TCameraKind::BackCamera << TVideoCaptureSetting(176, 144, 15);
}

void TestCameraComponent::demoDeliversFramesOfTheSetting()
{
    QFETCH(TCameraKind, kind);
    QFETCH(TVideoCaptureSetting, setting);
    TCameraComponent camera(nullptr, std::make_shared<DemoCameraSource>());
    FrameRecorder recorder(camera);
    camera.SetKind(kind);
    camera.InternalSetCaptureSetting(setting);
    camera.SetActive(true);
    QVERIFY(camera.Active());
    COMPARE_SETTING(camera.GetCaptureSetting(), setting);

    QTRY_VERIFY_WITH_TIMEOUT(recorder.processed >= 3, 10000);
    QCOMPARE(recorder.wrongSize, 0);
    QCOMPARE(recorder.bitmap.Width(), setting.Width);
    QCOMPARE(recorder.bitmap.Height(), setting.Height);
    QCOMPARE(qAlpha(recorder.bitmap.image().pixel(setting.Width / 2, setting.Height / 2)), 255);
    camera.SetActive(false);
    QVERIFY(!camera.Active());
    QCOMPARE(TThread::waitingCount(), 0);
}

QTEST_MAIN(TestCameraComponent)
#include "tst_camera_component.moc"
