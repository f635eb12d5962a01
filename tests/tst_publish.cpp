#include <QtTest>

#include <cstdint>
#include <random>
#include <vector>

#include "platform/camera/pipewire_camera_source.h"
#include "platform/i420_conversion.h"
#include "platform/picture_publisher.h"
#include "platform/pipewire/camera_publisher.h"
#include "support/pipewire_consumer.h"
#include "support/pipewire_daemon.h"
#include "support/window_fixture.h"
#include "vision/motion_filter.h"

namespace {

std::uint32_t rgb(int R, int G, int B)
{
    return 0xFF000000u | std::uint32_t(R) << 16 | std::uint32_t(G) << 8 | std::uint32_t(B);
}

// A picture in I420, in the layout it is published in.
struct I420Picture {
    I420Picture(int W, int H) : Layout(i420Layout(W, H)), Bytes(Layout.Size, 0xEE) {}
    I420Planes planes()
    {
        return {Bytes.data(), Layout.YBytesPerLine, Bytes.data() + Layout.UOffset, Bytes.data() + Layout.VOffset,
                Layout.ChromaBytesPerLine};
    }
    int y(int X, int Y) const { return Bytes[std::size_t(Y * Layout.YBytesPerLine + X)]; }
    int u(int X, int Y) const { return Bytes[Layout.UOffset + std::size_t(Y / 2 * Layout.ChromaBytesPerLine + X / 2)]; }
    int v(int X, int Y) const { return Bytes[Layout.VOffset + std::size_t(Y / 2 * Layout.ChromaBytesPerLine + X / 2)]; }
    I420Layout Layout;
    std::vector<std::uint8_t> Bytes;
};

I420Picture convert(const std::vector<std::uint32_t>& Pixels, int W, int H, I420Path Path)
{
    I420Picture out(W, H);
    rgb32ToI420(reinterpret_cast<const std::uint8_t*>(Pixels.data()), W * 4, out.planes(), W, H, Path);
    return out;
}

// ---- through a private PipeWire daemon ----

// Counts what the window hands over and what went to a consumer.
struct CountingPublisher : PicturePublisher {
    explicit CountingPublisher(std::shared_ptr<PicturePublisher> P) : Inner(std::move(P)) {}
    bool publish(const TBitmap& Picture, double FrameRate) override
    {
        ++Offered;
        LastOk = Inner->publish(Picture, FrameRate);
        Published += LastOk;
        return LastOk;
    }
    std::shared_ptr<PicturePublisher> Inner;
    int Offered = 0;
    int Published = 0;
    bool LastOk = false;
};

// An asymmetric test picture: a diagonal ramp whose colours differ per
// channel, so that a mirrored or shifted picture never matches.
QImage pattern(int W, int H, int Seed)
{
    QImage image(W, H, QImage::Format_RGB32);
    for (int y = 0; y < H; ++y)
        for (int x = 0; x < W; ++x)
            image.setPixel(x, y, qRgb((x * 7 + y * 3 + Seed) & 0xFF, (x * x + Seed * 5) & 0xFF, (y * 11 + x) & 0xFF));
    return image;
}

QImage motionOf(const QImage& A, const QImage& B)
{
    QImage out(A.size(), QImage::Format_RGB32);
    for (int y = 0; y < A.height(); ++y)
        for (int x = 0; x < A.width(); ++x)
            out.setPixel(x, y, motionPixel(A.pixel(x, y), B.pixel(x, y)));
    return out;
}

// The pixels of a frame without the padding of its rows (I420 rows are
// 4-byte multiples).
QByteArray withoutPadding(const QByteArray& Bytes, int W, int H, bool I420)
{
    if (!I420)
        return Bytes;
    const I420Layout l = i420Layout(W, H);
    QByteArray out;
    for (int y = 0; y < H; ++y)
        out.append(Bytes.mid(y * l.YBytesPerLine, W));
    for (std::size_t plane : {l.UOffset, l.VOffset})
        for (int y = 0; y < (H + 1) / 2; ++y)
            out.append(Bytes.mid(int(plane) + y * l.ChromaBytesPerLine, (W + 1) / 2));
    return out;
}

// The pixels a consumer receives for Picture in the format.
QByteArray sent(const QImage& Picture, bool I420)
{
    if (!I420)  // RGB32 rows need no padding
        return QByteArray(reinterpret_cast<const char*>(Picture.constBits()), int(Picture.sizeInBytes()));
    I420Picture out(Picture.width(), Picture.height());
    rgb32ToI420(Picture.constBits(), Picture.bytesPerLine(), out.planes(), Picture.width(), Picture.height());
    return withoutPadding(QByteArray(reinterpret_cast<const char*>(out.Bytes.data()), int(out.Bytes.size())),
                          Picture.width(), Picture.height(), true);
}

std::shared_ptr<PicturePublisher> publisher()
{
    std::string error;
    std::shared_ptr<PicturePublisher> made = PipeWireCameraPublisher::create(error);
    if (!made)
        qWarning("cannot publish the camera: %s", error.c_str());
    return made;
}

}  // namespace

class TestPublish : public QObject {
    Q_OBJECT

    PipeWireDaemon m_daemon;

private slots:
    void initTestCase() { QVERIFY2(m_daemon.start(), qPrintable(m_daemon.why())); }
    void cleanupTestCase() { m_daemon.stop(); }
    void cleanup() { InstallPicturePublisher(nullptr); }

    // A 2 x 2 block (top left, top right, bottom left, bottom right) tiled
    // over 34 x 3 pixels: the vector steps, the columns after them and an odd
    // last row (its block counts the row twice) all give the block's values.
    void i420Values_data()
    {
        QTest::addColumn<std::vector<std::uint32_t>>("block");
        QTest::addColumn<std::vector<int>>("expected");  // Y of the four, U, V
        auto same = [](std::uint32_t P) { return std::vector<std::uint32_t>{P, P, P, P}; };
        QTest::newRow("black") << same(rgb(0, 0, 0)) << std::vector<int>{16, 16, 16, 16, 128, 128};
        QTest::newRow("white") << same(rgb(255, 255, 255)) << std::vector<int>{235, 235, 235, 235, 128, 128};
        QTest::newRow("motion grey 50") << same(rgb(50, 50, 50)) << std::vector<int>{59, 59, 59, 59, 128, 128};
        QTest::newRow("red") << same(rgb(255, 0, 0)) << std::vector<int>{82, 82, 82, 82, 90, 240};
        QTest::newRow("green") << same(rgb(0, 255, 0)) << std::vector<int>{144, 144, 144, 144, 54, 34};
        QTest::newRow("blue") << same(rgb(0, 0, 255)) << std::vector<int>{41, 41, 41, 41, 240, 110};
        QTest::newRow("red above blue") << std::vector<std::uint32_t>{rgb(255, 0, 0), rgb(255, 0, 0), rgb(0, 0, 255),
                                                                      rgb(0, 0, 255)}
                                        << std::vector<int>{82, 82, 41, 41, 165, 175};
        QTest::newRow("alpha plays no part")
            << std::vector<std::uint32_t>{0x00323232u, 0x7F000000u, 0x12FFFFFFu, 0xFF000000u}
            << std::vector<int>{59, 16, 235, 16, 128, 128};
    }

    void i420Values()
    {
        QFETCH(std::vector<std::uint32_t>, block);
        QFETCH(std::vector<int>, expected);
        const int W = 34, H = 3;
        std::vector<std::uint32_t> pixels(std::size_t(W * H));
        for (int y = 0; y < H; ++y)
            for (int x = 0; x < W; ++x)
                pixels[std::size_t(y * W + x)] = block[std::size_t(y % 2 * 2 + x % 2)];
        for (I420Path path : {I420Path::Scalar, I420Path::Avx2, I420Path::Avx2Stream}) {
            if (path != I420Path::Scalar && !i420HasAvx2())
                continue;
            const I420Picture out = convert(pixels, W, H, path);
            for (int y = 0; y < 2; ++y)
                for (int x = 0; x < W; ++x)
                    QCOMPARE(out.y(x, y), expected[std::size_t(y * 2 + x % 2)]);
            for (int x = 0; x < W; x += 2) {
                QCOMPARE(out.u(x, 0), expected[4]);
                QCOMPARE(out.v(x, 0), expected[5]);
                QCOMPARE(out.y(x, 2), expected[0]);
            }
        }
    }

    // Random pictures of awkward sizes: the vector path gives exactly the
    // scalar bytes, the padding of the planes is left alone, and an odd last
    // column counts twice in its block.
    void i420VectorMatchesScalar_data()
    {
        QTest::addColumn<QSize>("size");
        for (const QSize s : {QSize(1, 1), QSize(16, 2), QSize(37, 5), QSize(50, 4), QSize(1921, 3)})
            QTest::newRow(qPrintable(QString("%1x%2").arg(s.width()).arg(s.height()))) << s;
    }

    void i420VectorMatchesScalar()
    {
        QFETCH(QSize, size);
        if (!i420HasAvx2())
            QSKIP("no AVX2 on this processor");
        const int W = size.width(), H = size.height();
        std::mt19937 rng(420);
        std::vector<std::uint32_t> pixels(std::size_t(W * H));
        for (auto& p : pixels)
            p = std::uint32_t(rng());
        const I420Picture scalar = convert(pixels, W, H, I420Path::Scalar);
        QVERIFY(scalar.Bytes == convert(pixels, W, H, I420Path::Avx2).Bytes);
        QVERIFY(scalar.Bytes == convert(pixels, W, H, I420Path::Avx2Stream).Bytes);
        if (W % 2) {
            const std::uint32_t edge = pixels[std::size_t(W - 1)], below = pixels[std::size_t(H > 1 ? W + W - 1 : W - 1)];
            std::vector<std::uint32_t> doubled{edge, edge, below, below};
            QCOMPARE(scalar.u(W - 1, 0), convert(doubled, 2, 2, I420Path::Scalar).u(0, 0));
        }
        QCOMPARE(int(scalar.Bytes[std::size_t(scalar.Layout.YBytesPerLine - 1)]), W % 4 ? 0xEE : scalar.y(W - 1, 0));
    }

    // A consumer receives exactly the picture the window computes, at the
    // capture size: the motion greys, or the plain picture mirrored for the
    // front camera; after a change of size, the new size. When the
    // publisher goes (the program ends), the node goes and the stream ends.
    void publishedPicture_data()
    {
        QTest::addColumn<QString>("format");
        QTest::addColumn<bool>("front");
        QTest::addColumn<bool>("motion");
        QTest::newRow("BGRx, motion, back") << "BGRx" << false << true;
        QTest::newRow("I420, motion, front") << "I420" << true << true;
        QTest::newRow("BGRx, plain, front: mirrored") << "BGRx" << true << false;
        QTest::newRow("I420, plain, back") << "I420" << false << false;
    }

    void publishedPicture()
    {
        QFETCH(QString, format);
        QFETCH(bool, front);
        QFETCH(bool, motion);
        std::shared_ptr<PicturePublisher> published = publisher();
        QVERIFY(published);
        InstallPicturePublisher(published);
        PipeWireConsumer consumer(format);
        {
            CameraFixture rig({mode(64, 32, 30)}, {mode(64, 32, 30)});
            TQuorlEyeMainForm& f = rig.f();
            if (!front)
                f.SwitchFrontAndBackCameraIconRectangleClick(f.SwitchFrontAndBackCameraIconRectangle);
            f.CameraIconRectangleClick(f.CameraIconRectangle);
            if (!motion)
                f.EyeIconRectangleClick(f.EyeIconRectangle);
            for (const QSize size : {QSize(64, 32), QSize(46, 18)}) {
                const QImage a = pattern(size.width(), size.height(), 0), b = pattern(size.width(), size.height(), 90);
                auto shown = [&](const QImage& I) { return front ? I.mirrored(true, false) : I; };
                const QByteArray expected = sent(motion ? motionOf(shown(a), shown(b)) : shown(a), format == "I420");
                int n = 0;
                const ConsumedFrame frame = consumer.waitFrame(
                    [&](const ConsumedFrame& F) {
                        return F.Width == size.width() && F.Height == size.height() &&
                               withoutPadding(F.Bytes, F.Width, F.Height, F.I420) == expected;
                    },
                                                               [&] { rig.source->deliver(motion && n++ % 2 ? b : a); });
                QVERIFY2(frame.Number > 0, qPrintable(QString("no %1x%2 picture as expected").arg(size.width()).arg(size.height())));
                QCOMPARE(QSize(frame.Width, frame.Height), size);
                QCOMPARE(frame.I420, format == "I420");
            }
        }
        InstallPicturePublisher(nullptr);
        published.reset();
        QVERIFY(consumer.waitStreamEnded());
        QVERIFY(consumer.waitNodeListed(false));
    }

    // A consumer that never takes a buffer gets as many frames as it has
    // buffers; the window processes every frame all the same.
    void stuckConsumerIsLeftBehind()
    {
        auto counting = std::make_shared<CountingPublisher>(publisher());
        QVERIFY(counting->Inner);
        InstallPicturePublisher(counting);
        WindowRig rig(TVideoCaptureSetting(64, 32, 30.0));
        rig.f().CameraIconRectangleClick(rig.f().CameraIconRectangle);
        PipeWireConsumer stuck("BGRx", true);
        const QImage a = pattern(64, 32, 0);
        // Frames go out until the consumer holds every buffer it was given ...
        QTRY_VERIFY_WITH_TIMEOUT((rig.source->deliver(a), counting->Published > 0 && !counting->LastOk), 10000);
        const int offered = counting->Offered, published = counting->Published;
        for (int i = 0; i < 300; ++i)
            rig.source->deliver(a);
        // ... then every frame is still processed, and published only when
        // the consumer got a new set of buffers (renegotiating) meanwhile.
        QCOMPARE(counting->Offered, offered + 300);
        QVERIFY2(counting->Published - published <= 16, qPrintable(QString::number(counting->Published - published)));
    }

    // GStreamer's pipewiresrc, a consumer nobody here wrote, receives the
    // motion picture of the front camera byte for byte.
    void gstreamerReceivesThePicture()
    {
        std::shared_ptr<PicturePublisher> published = publisher();
        QVERIFY(published);
        InstallPicturePublisher(published);
        WindowRig rig(TVideoCaptureSetting(64, 32, 30.0));
        rig.f().CameraIconRectangleClick(rig.f().CameraIconRectangle);
        QTemporaryDir dir;
        const QString file = dir.filePath("frames");
        QProcess gst;
        gst.setProcessEnvironment(m_daemon.environment());
        gst.start("gst-launch-1.0", {"-q", "pipewiresrc", "target-object=quorl-eye", "num-buffers=5", "!",
                                     "video/x-raw,format=BGRx", "!", "filesink", "location=" + file});
        const QImage a = pattern(64, 32, 0), b = pattern(64, 32, 90);
        QDeadlineTimer deadline(20000);
        for (int n = 0; gst.state() != QProcess::NotRunning && !deadline.hasExpired(); ++n) {
            rig.source->deliver(n % 2 ? b : a);
            gst.waitForFinished(5);
        }
        QCOMPARE(gst.exitCode(), 0);
        QFile frames(file);
        QVERIFY(frames.open(QIODevice::ReadOnly));
        const QByteArray bytes = frames.readAll();
        const int frameBytes = 64 * 32 * 4;
        QCOMPARE(bytes.size(), 5 * frameBytes);
        QCOMPARE(bytes.right(frameBytes), sent(motionOf(a.mirrored(true, false), b.mirrored(true, false)), false));
    }

    // The program's own published camera is not one of its cameras (it
    // would show its own picture); another program's would be.
    void ownCameraNotListed()
    {
        std::shared_ptr<PicturePublisher> published = publisher();
        QVERIFY(published);
        std::string error;
        std::shared_ptr<PipeWireCameraSource> cameras = PipeWireCameraSource::connect(error);
        QVERIFY2(cameras, error.c_str());
        QCOMPARE(int(cameras->cameraNames().size()), 0);
    }

    // The real program: without a daemon, one line, and the window runs on;
    // with one, the node is listed while the program runs and goes when a
    // signal ends it, and a consumer linked to it sees its stream end.
    void theProgram_data()
    {
        QTest::addColumn<bool>("daemon");
        QTest::newRow("no daemon") << false;
        QTest::newRow("daemon") << true;
    }

    void theProgram()
    {
        QFETCH(bool, daemon);
        QTemporaryDir empty;
        QProcessEnvironment env = m_daemon.environment();
        env.insert("QT_QPA_PLATFORM", "offscreen");
        if (!daemon) {
            for (const char* name : {"XDG_RUNTIME_DIR", "PIPEWIRE_RUNTIME_DIR"})
                env.insert(name, empty.path());
        }
        std::unique_ptr<PipeWireConsumer> watcher = daemon ? std::make_unique<PipeWireConsumer>("BGRx") : nullptr;
        QProcess program;
        program.setProcessEnvironment(env);
        program.start(QUORL_EYE_PROGRAM, {"--source", "demo", "--publish-camera"});
        QVERIFY(program.waitForStarted());
        if (!daemon) {
            QByteArray err;
            QTRY_VERIFY_WITH_TIMEOUT((err += program.readAllStandardError()).contains('\n'), 10000);
            const QList<QByteArray> lines = err.trimmed().split('\n');
            QCOMPARE(lines.size(), 1);
            QVERIFY2(lines[0].startsWith("quorl-eye: cannot publish the camera: no PipeWire daemon answers"),
                     lines[0].constData());
            QCOMPARE(program.state(), QProcess::Running);
        } else {
            QVERIFY(watcher->waitNodeListed(true));
            PipeWireConsumer consumer("I420");
            QVERIFY(consumer.waitLinked());
            program.terminate();
            QVERIFY(program.waitForFinished());
            QVERIFY(consumer.waitStreamEnded());
            QVERIFY(watcher->waitNodeListed(false));
        }
        program.kill();
        program.waitForFinished();
    }
};

QTEST_MAIN(TestPublish)
#include "tst_publish.moc"
