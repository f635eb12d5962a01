// Cameras through a real PipeWire daemon and WirePlumber (started privately
// for each case, support/pipewire_daemon.h) and fake cameras on it: what is
// listed, which settings a camera's formats give, every pixel format through
// a real stream, and how a run ends.

#include <QImage>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include <turbojpeg.h>

#include <algorithm>
#include <condition_variable>
#include <mutex>

#include "app/camera_choice.h"
#include "platform/camera/pipewire_camera_source.h"
#include "support/camera_pattern.h"
#include "support/pipewire_daemon.h"
#include "support/process_census.h"
#include "support/window_fixture.h"

namespace {

constexpr TCameraKind kFront = TCameraKind::FrontCamera, kBack = TCameraKind::BackCamera;

// Takes every frame as RGB32 and keeps the last.
struct Recorder final : CameraSink {
    void frameReady(const CameraFrame& Frame, std::int64_t) override
    {
        QImage Image(Frame.width(), Frame.height(), QImage::Format_RGB32);
        Frame.writeRgb32(Image.bits(), Image.bytesPerLine());
        std::lock_guard Lock(Mutex);
        Last = Image;
        ++Count;
    }
    int count()
    {
        std::lock_guard Lock(Mutex);
        return Count;
    }
    std::mutex Mutex;
    QImage Last;
    int Count = 0;
};

// The BT.601 formula of pixel_conversion.h, one pixel.
QRgb yuv(int Y, int U, int V)
{
    const int C = 298 * (Y - 16) + 128, D = U - 128, E = V - 128;
    auto Clamp = [](int X) { return std::clamp(X >> 8, 0, 255); };
    return qRgb(Clamp(C + 409 * E), Clamp(C - 100 * D - 208 * E), Clamp(C + 516 * D));
}

// The fake's picture as it must arrive, read pixel by pixel from a packed
// copy of it.
QImage expectedPicture(const std::string& Format, int W, int H)
{
    const int Stride = pattern::tightStride(Format, W);
    std::vector<std::uint8_t> Bytes(pattern::pictureBytes(Format, H, Stride));
    pattern::fill(Format, W, H, Stride, 0, Bytes.data());
    const std::uint8_t* Luma = Bytes.data();
    const std::uint8_t* Chroma = Luma + std::size_t(Stride) * H;
    const int ChromaStride = Format == "I420" ? Stride / 2 : Stride;
    const std::uint8_t* V = Chroma + std::size_t(ChromaStride) * ((H + 1) / 2);
    QImage Out(W, H, QImage::Format_RGB32);
    for (int Y = 0; Y < H; ++Y)
        for (int X = 0; X < W; ++X) {
            const std::uint8_t* Row = Luma + Y * Stride;
            const std::uint8_t* C = Chroma + Y / 2 * ChromaStride;
            QRgb P = 0;
            if (Format == "YUY2")
                P = yuv(Row[4 * (X / 2) + 2 * (X % 2)], Row[4 * (X / 2) + 1], Row[4 * (X / 2) + 3]);
            else if (Format == "NV12")
                P = yuv(Row[X], C[X / 2 * 2], C[X / 2 * 2 + 1]);
            else if (Format == "I420")
                P = yuv(Row[X], C[X / 2], V[Y / 2 * ChromaStride + X / 2]);
            else if (const std::uint8_t* Px = Row + X * pattern::bytesPerPixel(Format); Format[0] == 'R')
                P = qRgb(Px[0], Px[1], Px[2]);
            else
                P = qRgb(Px[2], Px[1], Px[0]);
            Out.setPixel(X, Y, P);
        }
    return Out;
}

// A JPEG of W x H (a colour ramp), 4:2:2 as webcams send, into Path; the
// picture it decodes to comes back.
QImage writeJpeg(const QString& Path, int W, int H)
{
    QImage Picture(W, H, QImage::Format_RGB32);
    for (int Y = 0; Y < H; ++Y)
        for (int X = 0; X < W; ++X)
            Picture.setPixel(X, Y, qRgb(X * 255 / W, Y * 255 / H, (X + Y) % 256));
    tjhandle Codec = tjInitCompress();
    unsigned char* Data = nullptr;
    unsigned long Size = 0;
    tjCompress2(Codec, Picture.constBits(), W, int(Picture.bytesPerLine()), H, TJPF_BGRX, &Data, &Size, TJSAMP_422, 90,
                0);
    tjDestroy(Codec);
    QFile File(Path);
    File.open(QIODevice::WriteOnly);
    File.write(reinterpret_cast<const char*>(Data), qint64(Size));
    File.close();
    QImage Decoded(W, H, QImage::Format_RGB32);
    tjhandle Decoder = tjInitDecompress();
    tjDecompress2(Decoder, Data, Size, Decoded.bits(), W, int(Decoded.bytesPerLine()), H, TJPF_BGRA, 0);
    tjDestroy(Decoder);
    tjFree(Data);
    return Decoded;
}

QString settingsText(const std::vector<TVideoCaptureSetting>& Settings)
{
    QStringList Out;
    for (const auto& S : Settings)
        Out << QString::fromStdString(settingText(S));
    return Out.join(", ");
}

QStringList camera(const QString& Name, const QStringList& Modes, const QStringList& More = {})
{
    QStringList Args{"--name", Name, "--description", "Cam " + Name};
    for (const QString& M : Modes)
        Args << "--mode" << M;
    return Args + More;
}

}  // namespace

class TestPipeWireSource : public QObject {
    Q_OBJECT

    PipeWireDaemon daemon;
    std::shared_ptr<QStringList> said;
    std::vector<std::unique_ptr<FakePipeWireCamera>> fakes;

    FakePipeWireCamera* addCamera(const QStringList& Args)
    {
        fakes.push_back(daemon.camera(Args));
        if (!fakes.back())
            qWarning("%s", qPrintable(daemon.why()));
        return fakes.back().get();
    }
    std::shared_ptr<PipeWireCameraSource> source(int FirstFrameTimeoutMs = 3000)
    {
        std::string Error;
        auto S = PipeWireCameraSource::connect(
            Error, [said = said](const std::string& Line) { *said << QString::fromStdString(Line); },
            FirstFrameTimeoutMs);
        if (!S)
            qWarning("%s", Error.c_str());
        return S;
    }

private slots:
    void init()
    {
        said = std::make_shared<QStringList>();
        QVERIFY2(daemon.start(), qPrintable(daemon.why()));
    }
    void cleanup()
    {
        fakes.clear();
        daemon.stop();
    }

    void listing_data()
    {
        QTest::addColumn<QList<QStringList>>("cameras");
        QTest::addColumn<QStringList>("names");
        const QStringList Mode{"YUY2:64x48:30"};
        QTest::newRow("none") << QList<QStringList>{} << QStringList{};
        QTest::newRow("one") << QList<QStringList>{camera("usb-a", Mode)} << QStringList{"usb-a"};
        QTest::newRow("two, by node name") << QList<QStringList>{camera("usb-b", Mode), camera("usb-a", Mode)}
                                           << QStringList{"usb-a", "usb-b"};
        QTest::newRow("screen cast, sink and no role left out")
            << QList<QStringList>{camera("screen", Mode, {"--role", "Screen"}), camera("role-less", Mode, {"--role", ""}),
                                  camera("sink", Mode, {"--class", "Video/Sink"}), camera("usb-c", Mode)}
            << QStringList{"usb-c"};
    }
    void listing()
    {
        QFETCH(QList<QStringList>, cameras);
        QFETCH(QStringList, names);
        for (const QStringList& Args : cameras)
            QVERIFY(addCamera(Args));
        auto S = source();
        QVERIFY(S);
        QStringList Got;
        for (const std::string& N : S->cameraNames())
            Got << QString::fromStdString(N);
        QCOMPARE(Got, names);
        QCOMPARE(S->captureSettings(kBack).empty(), names.size() < 2);
        // The list follows the daemon: a camera that goes is gone at once.
        if (!fakes.empty()) {
            fakes.front()->terminate();
            QCOMPARE(int(S->cameraNames().size()), names.size() - (cameras.size() == 1 || names.size() > 1 ? 1 : 0));
        }
    }

    void settings_data()
    {
        QTest::addColumn<QStringList>("modes");
        QTest::addColumn<QString>("settings");
        QTest::addColumn<QString>("format");  // what the camera is asked for, for the setting of the first row
        QTest::newRow("fixed") << QStringList{"YUY2:640x480:30"} << "640x480 @ 30" << "YUY2 640x480@30";
        QTest::newRow("lists, in the camera's order")
            << QStringList{"NV12:320x240,160x120:30,15"}
            << "320x240 @ 30, 320x240 @ 15, 160x120 @ 30, 160x120 @ 15" << "NV12 320x240@30";
        QTest::newRow("ranges: standard sizes on the step, standard rates")
            << QStringList{"I420:300x200-700x500/20x20:14-25"}
            << "320x240 @ 25, 320x240 @ 24, 320x240 @ 20, 320x240 @ 15, 640x360 @ 25, 640x360 @ 24, "
               "640x360 @ 20, 640x360 @ 15, 640x480 @ 25, 640x480 @ 24, 640x480 @ 20, 640x480 @ 15"
            << "I420 320x240@25";
        QTest::newRow("a setting offered twice: uncompressed wins")
            << QStringList{"MJPG:640x480,1280x720:30", "YUY2:640x480:30,10"}
            << "640x480 @ 30, 1280x720 @ 30, 640x480 @ 10" << "YUY2 640x480@30";
    }
    void settings()
    {
        QFETCH(QStringList, modes);
        QFETCH(QString, settings);
        QFETCH(QString, format);
        FakePipeWireCamera* Fake = addCamera(camera("cam", modes));
        QVERIFY(Fake);
        auto S = source();
        const std::vector<TVideoCaptureSetting> Offered = S->captureSettings(kFront);
        QCOMPARE(settingsText(Offered), settings);
        Recorder R;
        QCOMPARE(S->start(kFront, Offered.front(), R), std::optional(Offered.front()));
        QCOMPARE(Fake->waitFor("format "), "format " + format);
    }

    void frames_data()
    {
        QTest::addColumn<QString>("format");
        QTest::addColumn<QSize>("size");
        QTest::addColumn<QStringList>("flags");
        for (const char* F : {"YUY2", "NV12", "I420", "RGBx", "BGRx", "RGB", "BGR"})
            QTest::addRow("%s, padded rows", F) << F << QSize(34, 18) << QStringList{"--padded"};
        QTest::newRow("NV12, odd size, stride 0") << "NV12" << QSize(33, 17) << QStringList{"--zero-stride"};
        QTest::newRow("I420, odd size, stride 0") << "I420" << QSize(35, 9) << QStringList{"--zero-stride"};
        QTest::newRow("YUY2, odd width") << "YUY2" << QSize(33, 4) << QStringList{};
        QTest::newRow("I420, wider than one conversion chunk") << "I420" << QSize(2100, 4) << QStringList{"--padded"};
        QTest::newRow("MJPG") << "MJPG" << QSize(64, 32) << QStringList{};
    }
    void frames()
    {
        QFETCH(QString, format);
        QFETCH(QSize, size);
        QFETCH(QStringList, flags);
        const QString Mode = QString("%1:%2x%3:30").arg(format).arg(size.width()).arg(size.height());
        QTemporaryDir Dir;
        QImage Expected;
        if (format == "MJPG") {
            Expected = writeJpeg(Dir.filePath("a.jpg"), size.width(), size.height());
            flags << "--jpeg" << Dir.filePath("a.jpg");
        } else {
            Expected = expectedPicture(format.toStdString(), size.width(), size.height());
        }
        QVERIFY(addCamera(camera("cam", {Mode}, flags)));
        auto S = source();
        Recorder R;
        QVERIFY(S->start(kFront, {size.width(), size.height(), 30}, R));
        QTRY_VERIFY(R.count() >= 2);
        S->stop();
        const QImage Got = R.Last;
        QCOMPARE(Got.size(), size);
        for (int Y = 0; Y < size.height(); ++Y)
            for (int X = 0; X < size.width(); ++X)
                if (Got.pixel(X, Y) != Expected.pixel(X, Y))
                    QFAIL(qPrintable(QString("pixel %1,%2 is %3, not %4")
                                         .arg(X).arg(Y).arg(Got.pixel(X, Y), 8, 16).arg(Expected.pixel(X, Y), 8, 16)));
        QVERIFY(said->isEmpty());
    }

    // However a run ends, the camera is let go (the fake goes idle, when it
    // is still there), the capture thread is gone, and the user reads one
    // line for a run that ended by itself.
    void ends_data()
    {
        QTest::addColumn<QString>("how");
        QTest::addColumn<QString>("line");
        QTest::newRow("stopped") << "stop" << "";
        QTest::newRow("no picture in time") << "silent" << "quorl-eye: the camera 'Cam cam' sent no picture within 3 seconds (another program may be using it); camera off";
        QTest::newRow("camera killed") << "kill camera" << "quorl-eye: the camera 'Cam cam' went away; camera off";
        QTest::newRow("daemon killed") << "kill daemon" << "quorl-eye: the PipeWire daemon went away; camera off";
    }
    void ends()
    {
        QFETCH(QString, how);
        QFETCH(QString, line);
        const int Threads = threadCount();
        FakePipeWireCamera* Fake =
            addCamera(camera("cam", {"YUY2:64x48:30"}, how == "silent" ? QStringList{"--silent"} : QStringList{}));
        QVERIFY(Fake);
        {
            auto S = source(300);
            Recorder R;
            QVERIFY(S->start(kFront, {64, 48, 30}, R));
            QVERIFY(!Fake->waitFor("streaming").isEmpty());
            if (how != "silent")
                QTRY_VERIFY(R.count() > 0);
            if (how == "stop")
                S->stop();
            else if (how == "kill camera")
                Fake->kill();
            else if (how == "kill daemon")
                daemon.killDaemon();
            QTRY_VERIFY(!S->isRunning());
            if (how == "stop" || how == "silent")
                QVERIFY(!Fake->waitFor("idle").isEmpty());
            QCOMPARE(*said, line.isEmpty() ? QStringList() : QStringList{line});
            if (how == "kill daemon")  // nothing to list, nothing starts, nothing hangs
                QVERIFY(S->captureSettings(kFront).empty() && !S->start(kFront, {64, 48, 30}, R));
        }
        QTRY_COMPARE(threadCount(), Threads);
    }

    // The window over two PipeWire cameras: it starts the front one, switches
    // to the back one, changes its size through the settings panel, and
    // camera off lets the camera go.
    void window()
    {
        FakePipeWireCamera* Front = addCamera(camera("a-front", {"YUY2:64x48,32x24:30"}, {"--moving"}));
        FakePipeWireCamera* Back = addCamera(camera("b-back", {"NV12:96x64,48x32:30"}, {"--moving"}));
        QVERIFY(Front && Back);
        CameraFixture fx(source());
        auto& f = fx.f();
        QVERIFY(fx.show());
        auto drawn = [&] {
            QImage& out = f.OutputBitmap().image();
            const QPoint centre = out.rect().center();
            out.setPixel(centre, 0xFF123456u);
            return QTest::qWaitFor([&] { return out.pixel(centre) != 0xFF123456u; });
        };
        fx.click(f.CameraIconRectangle);
        QVERIFY(f.CameraComponent->Active());
        QCOMPARE(Front->waitFor("format "), "format YUY2 64x48@30");
        QVERIFY(drawn());
        fx.click(f.SwitchFrontAndBackCameraIconRectangle);
        QVERIFY(!Front->waitFor("idle").isEmpty());
        QCOMPARE(Back->waitFor("format "), "format NV12 96x64@30");
        QVERIFY(drawn());
        fx.openSettings();
        fx.dragTrackBar(0.0f);
        f.OKButtonClick(nullptr);
        QCOMPARE(Back->waitFor("format "), "format NV12 48x32@30");
        QVERIFY(drawn());
        QCOMPARE(f.CameraComponent->GetCaptureSetting(), mode(48, 32, 30));
        fx.click(f.CameraIconRectangle);
        QVERIFY(!f.CameraComponent->Active());
        QVERIFY(!Back->waitFor("idle").isEmpty());
        QVERIFY(said->isEmpty());
    }

    // --source camera takes PipeWire only when it offers a camera;
    // --source pipewire keeps it whatever it offers, and without a daemon
    // says so in one line and offers no camera.
    void sourceChoice_data()
    {
        QTest::addColumn<int>("kind");
        QTest::addColumn<QString>("daemon");  // none, empty, camera
        QTest::addColumn<QString>("chosen");
        QTest::addColumn<QString>("line");
        QTest::newRow("camera, no daemon") << int(Options::Camera) << "none" << "v4l2" << "";
        QTest::newRow("camera, no camera") << int(Options::Camera) << "empty" << "v4l2" << "";
        QTest::newRow("camera, a camera") << int(Options::Camera) << "camera" << "pipewire" << "";
        QTest::newRow("pipewire, no daemon") << int(Options::PipeWire) << "none" << "nothing"
                                             << "quorl-eye: cannot use PipeWire: no PipeWire daemon answers";
        QTest::newRow("pipewire, no camera") << int(Options::PipeWire) << "empty" << "pipewire"
                                             << "quorl-eye: PipeWire offers no camera";
        QTest::newRow("v4l2, a camera on PipeWire") << int(Options::V4l2) << "camera" << "v4l2" << "";
    }
    void sourceChoice()
    {
        QFETCH(int, kind);
        QFETCH(QString, daemon);
        QFETCH(QString, chosen);
        QFETCH(QString, line);
        if (daemon == "camera")
            QVERIFY(addCamera(camera("cam", {"YUY2:64x48:30"})));
        if (daemon == "none")
            this->daemon.killDaemon();
        auto V4l2 = std::make_shared<ScriptedCameraSource>();
        QStringList Lines;
        const std::shared_ptr<CameraSource> Got = chooseCameraSource(
            Options::SourceKind(kind), [&](const std::string& L) { Lines << QString::fromStdString(L); },
            [&] { return V4l2; });
        QCOMPARE(Got == V4l2 ? "v4l2" : dynamic_cast<PipeWireCameraSource*>(Got.get()) ? "pipewire" : "nothing",
                 chosen);
        QCOMPARE(Lines, line.isEmpty() ? QStringList() : QStringList{line});
        if (chosen == "nothing") {  // the window opens all the same, with no camera
            CameraFixture fx(Got);
            QVERIFY(fx.f().CameraComponent->GetAvailableCaptureSettings().empty());
        }
    }

    // The program itself, told to use PipeWire where there is none: one
    // line, and it goes on running (its window open).
    void programWithoutDaemon()
    {
        daemon.killDaemon();
        QProcess Program;
        QProcessEnvironment Env = daemon.environment();
        Env.insert("QT_QPA_PLATFORM", "offscreen");
        Program.setProcessEnvironment(Env);
        Program.start(QUORL_EYE_PROGRAM, {"--source", "pipewire"});
        QByteArray Err;
        QTRY_VERIFY_WITH_TIMEOUT((Err += Program.readAllStandardError()).contains("\n"), 10000);
        QCOMPARE(Err.left(Err.indexOf('\n')),
                 "quorl-eye: cannot use PipeWire: no PipeWire daemon answers");
        QCOMPARE(Program.state(), QProcess::Running);
        Program.kill();
        Program.waitForFinished();
    }
};

QTEST_MAIN(TestPipeWireSource)
#include "tst_pipewire_source.moc"
