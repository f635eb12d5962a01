// The V4L2 camera source against fake devices: what it offers, what it asks
// the device for, the order it opens and lets go of it, every pixel format
// converted, damaged frames and a camera pulled out mid-stream.

#include <QtTest>

#include <turbojpeg.h>

#include <algorithm>
#include <cmath>
#include <condition_variable>
#include <cstdlib>
#include <mutex>

#include "platform/camera/pixel_conversion.h"
#include "platform/camera/v4l2_camera_source.h"
#include "support/fake_v4l2_device.h"
#include "support/process_census.h"

using Devices = std::vector<FakeDeviceSetup>;
using Pixels = QList<quint32>;
Q_DECLARE_METATYPE(Devices)
Q_DECLARE_METATYPE(Bytes)
Q_DECLARE_METATYPE(TVideoCaptureSetting)

namespace {

constexpr quint32 kSentinel = 0xABABABAB;  // fills the kPad pixels right of each delivered row
constexpr int kPad = 3;
constexpr auto kFront = TCameraKind::FrontCamera;
const quint32 kYuyv = V4L2_PIX_FMT_YUYV, kMjpeg = V4L2_PIX_FMT_MJPEG;
const quint32 kRgb = V4L2_PIX_FMT_RGB24, kBgr = V4L2_PIX_FMT_BGR24;

QString text(const TVideoCaptureSetting& S)
{
    return QStringLiteral("%1x%2@%3").arg(S.Width).arg(S.Height).arg(S.FrameRate);
}

FakeDeviceSetup single(quint32 Format, quint32 W, quint32 H, v4l2_fract Rate = {1, 30},
                       std::string Path = "/dev/video0")
{
    return {.Path = Path, .Formats = {{Format, {{W, H, {Rate}}}}}, .Padding = 3};
}

// A typical USB webcam: YUYV is slow at the large sizes, MJPEG is not.
FakeDeviceSetup webcam()
{
    return {.Path = "/dev/video0",
            .Formats = {{kYuyv, {{640, 480, {{1, 30}, {1, 15}}}, {1280, 720, {{1, 10}}}, {320, 240, {{1, 30}}}}},
                        {kMjpeg, {{1280, 720, {{1, 30}}}, {640, 480, {{1, 30}}}, {1920, 1080, {{1, 15}, {1, 30}}}}}}};
}

struct Frame {
    Pixels Image;  // rows of the frame's width + kPad
    std::int64_t Stamp;
    std::size_t Held;  // buffers the source held while the frame was being taken
};

// A source over fake devices, with the lines it says and the frames it delivers.
struct Rig final : CameraSink {
    explicit Rig(Devices D) : Io(std::make_shared<FakeV4l2Io>(std::move(D))) {}
    void frameReady(const CameraFrame& F, std::int64_t Stamp) override
    {
        Frame Taken{Pixels((F.width() + kPad) * F.height(), kSentinel), Stamp, Io->buffersHeld()};
        F.writeRgb32(reinterpret_cast<std::uint8_t*>(Taken.Image.data()), (F.width() + kPad) * 4);
        std::lock_guard Lock(Mutex);
        Frames.push_back(std::move(Taken));
        Delivered.notify_all();
    }
    bool waitFor(std::size_t Count)
    {
        std::unique_lock Lock(Mutex);
        return Delivered.wait_for(Lock, std::chrono::seconds(10), [&] { return Frames.size() >= Count; });
    }

    std::shared_ptr<FakeV4l2Io> Io;
    QStringList Said;
    std::mutex Mutex;
    std::condition_variable Delivered;
    std::vector<Frame> Frames;
    // Last, so it goes first, its thread with it.
    V4l2CameraSource Source{Io, [this](const std::string& Line) { Said << QString::fromStdString(Line); }};
};

// The test picture, 32 x 16: red, green / blue, white blocks on MCU borders.
quint32 blockColour(int X, int Y)
{
    static const quint32 Colours[4] = {0xFFFF0000, 0xFF00FF00, 0xFF0000FF, 0xFFFFFFFF};
    return Colours[(Y >= 8) * 2 + (X >= 16)];
}

// The YUYV picture: row Y repeats the pair (bytes Y0 U Y1 V) kPairs[Y % 7]: black, white,
// red, two lumas on one chroma, dark green, all 0 and all 255 (R and B clamp low, then high).
constexpr quint32 kPairs[7] = {0x10801080, 0xEB80EB80, 0x515A51F0, 0x3264C8B4, 0x286E2D46, 0x00000000, 0xFFFFFFFF};

quint32 yuyvColour(int X, int Y)  // BT.601 limited range with exact coefficients, rounded
{
    const quint32 Pair = kPairs[Y % 7];
    const double L = 1.164383 * (int(Pair >> (X % 2 ? 8 : 24) & 0xFF) - 16), D = int(Pair >> 16 & 0xFF) - 128.0;
    const double E = int(Pair & 0xFF) - 128.0;
    auto C = [](double V) { return quint32(std::lround(std::clamp(V, 0.0, 255.0))); };
    return 0xFF000000u | C(L + 1.596027 * E) << 16 | C(L - 0.391762 * D - 0.812968 * E) << 8 | C(L + 2.017232 * D);
}

// A picture 16 high; 0 (not checked) where subsampled chroma blends two blocks.
Pixels image(quint32 (*Colour)(int, int), bool Blended = false, int Width = 32)
{
    Pixels Out;
    for (int Y = 0; Y < 16; ++Y)
        for (int X = 0; X < Width; ++X)
            Out << (Blended && std::min(std::abs(X - 15.5), std::abs(Y - 7.5)) < 2 ? 0 : Colour(X, Y));
    return Out;
}

// The frame of a 32 x 16 picture in a packed format, rows padded by 3 bytes.
Bytes packed(quint32 Format)
{
    Bytes Out;
    for (int Y = 0; Y < 16; ++Y, Out.insert(Out.end(), 3, 0x55))
        for (int I = 0; I < 32 * (Format == kYuyv ? 2 : 3); ++I) {
            const int Shift = Format == kYuyv ? 24 - 8 * (I % 4) : Format == kBgr ? 8 * (I % 3) : 16 - 8 * (I % 3);
            Out.push_back(std::uint8_t((Format == kYuyv ? kPairs[Y % 7] : blockColour(I / 3, Y)) >> Shift));
        }
    return Out;
}

Bytes jpeg(int Width)  // of the test picture, 4:2:2 as webcams send
{
    const Pixels Picture = image(blockColour, false, Width);
    Bytes Out(tjBufSize(Width, 16, TJSAMP_422));
    unsigned char* Data = Out.data();
    unsigned long Size = 0;
    tjhandle Encoder = tjInitCompress();
    tjCompress2(Encoder, reinterpret_cast<const unsigned char*>(Picture.data()), Width, 0, 16, TJPF_BGRX, &Data, &Size,
                TJSAMP_422, 100, TJFLAG_NOREALLOC);
    tjDestroy(Encoder);
    Out.resize(Size);
    return Out;
}

}  // namespace

class TestV4l2Source : public QObject {
    Q_OBJECT

private slots:
    void sortsVideoNodesByNumber()
    {
        QVERIFY(sortVideoNodes({"/dev/video10", "/dev/video2", "/dev/video-x", "/dev/video0"})
                == std::vector<std::string>({"/dev/video0", "/dev/video2", "/dev/video10", "/dev/video-x"}));
    }

    void camera_data()
    {
        QTest::addColumn<Devices>("devices");
        QTest::addColumn<QString>("offers");  // front | back
        QTest::addColumn<TVideoCaptureSetting>("asked");
        QTest::addColumn<QString>("taken");  // and in which format
        QTest::addColumn<QStringList>("said");

        const Devices Cam{webcam()};
        const QString Webcam = "640x480@30 1280x720@30 320x240@30 1920x1080@30 | ";
        const FakeDeviceSetup Meta{.Path = "/dev/video1", .DeviceCaps = V4L2_CAP_META_CAPTURE | V4L2_CAP_STREAMING};
        const FakeDeviceSetup Old = single(kMjpeg, 1280, 720, {1, 60}, "/dev/video2");
        FakeDeviceSetup Rgb = single(kBgr, 640, 480), Cropping = webcam(), Busy = webcam();
        Rgb.Formats = {{kBgr, Rgb.Formats[0].Sizes, V4L2_FMT_FLAG_EMULATED}, {kRgb, Rgb.Formats[0].Sizes}};
        Cropping.Adjust = [](auto& Pix, auto& Interval) { Pix.width = 1184; Pix.height = 656; Interval = {1, 15}; };
        Busy.Refused = {{"S_FMT", EBUSY}};
        FakeDeviceSetup Locked = webcam(), Held = webcam();
        Locked.Refused = {{"open", EACCES}};
        Held.Refused = {{"open", EBUSY}};
        const QString BusyLine = "quorl-eye: /dev/video0 is busy (another program is using it)";
        using S = TVideoCaptureSetting;
        const QStringList No;

        QTest::newRow("YUYV where MJPEG is as fast") << Cam << Webcam << S(640, 480, 30) << "640x480@30 YUYV" << No;
        QTest::newRow("nearest offer, MJPEG where YUYV is slower")
            << Cam << Webcam << S(1300, 700, 60) << "1280x720@30 MJPG" << No;
        QTest::newRow("back: the second capture node")
            << Devices{webcam(), Meta, Old} << Webcam + "1280x720@60" << S(640, 480, 30) << "640x480@30 YUYV" << No;
        QTest::newRow("native RGB over emulated BGR") << Devices{Rgb} << "640x480@30 | " << S(640, 480, 30)
                                                      << "640x480@30 RGB3" << No;
        // Ranges: the standard sizes inside and on the step; of intervals from 1/90 s, the fastest standard
        // rate on the step (1/30 = 3/90) or, continuous, at all (1/60; its step field says 1 s).
        const FakeFormat Stepwise{kYuyv, {}, 0, V4L2_FRMSIZE_TYPE_STEPWISE, {320, 1280, 320, 240, 960, 240},
                                  V4L2_FRMIVAL_TYPE_STEPWISE, {{1, 90}, {1, 5}, {1, 90}}};
        const FakeFormat Continuous{kMjpeg, {}, 0, V4L2_FRMSIZE_TYPE_CONTINUOUS, {100, 700, 1, 100, 500, 1},
                                    V4L2_FRMIVAL_TYPE_CONTINUOUS, {{1, 90}, {1, 1}, {1, 1}}};
        QTest::newRow("stepwise range") << Devices{{"/dev/video0", {Stepwise}}}
                                        << "320x240@30 640x480@30 1280x720@30 1280x960@30 | " << S(1280, 720, 30)
                                        << "1280x720@30 YUYV" << No;
        QTest::newRow("continuous range")
            << Devices{{"/dev/video0", {Continuous}}}
            << "160x120@60 176x144@60 320x240@60 352x288@60 640x360@60 640x480@60 | " << S(640, 480, 30)
            << "640x480@60 MJPG" << No;
        QTest::newRow("device adjusts") << Devices{Cropping} << Webcam << S(1280, 720, 30) << "1184x656@15 MJPG" << No;
        QTest::newRow("NTSC rate") << Devices{single(kYuyv, 640, 480, {1001, 30000})} << "640x480@29.97 | "
                                   << S(640, 480, 30000.0 / 1001) << "640x480@29.97 YUYV" << No;
        QTest::newRow("no convertible format") << Devices{single(V4L2_PIX_FMT_NV12, 640, 480), Old} << "1280x720@60 | "
            << S(1280, 720, 60) << "1280x720@60 MJPG"
            << QStringList{"quorl-eye: /dev/video0 offers no picture format quorl-eye can show (YUYV, MJPEG or RGB)"};
        QTest::newRow("busy at start, told once") << Devices{Busy} << Webcam << S(640, 480, 30) << ""
                                                  << QStringList{BusyLine};
        QTest::newRow("busy at open") << Devices{Held} << " | " << S(640, 480, 30) << "" << QStringList{BusyLine};
        QTest::newRow("no permission, the other camera works")
            << Devices{Locked, Old} << "1280x720@60 | " << S(1280, 720, 60) << "1280x720@60 MJPG"
            << QStringList{"quorl-eye: no permission to use /dev/video0 (you may need to be in the 'video' group)"};
        QTest::newRow("no device") << Devices{} << " | " << S(640, 480, 30) << ""
                                   << QStringList{"quorl-eye: no camera found (no video capture device under /dev)"};
    }

    void camera()
    {
        QFETCH(Devices, devices);
        QFETCH(QString, offers);
        QFETCH(TVideoCaptureSetting, asked);
        QFETCH(QString, taken);
        QFETCH(QStringList, said);

        Rig R(devices);
        QStringList Offers[2];
        for (int Back : {0, 1})
            for (const auto& S : R.Source.captureSettings(Back ? TCameraKind::BackCamera : kFront))
                Offers[Back] << text(S);
        QCOMPARE(Offers[0].join(' ') + " | " + Offers[1].join(' '), offers);
        auto InForce = R.Source.start(kFront, asked, R);
        if (!InForce)  // a second click on the camera icon: no second line
            InForce = R.Source.start(kFront, asked, R);
        const std::uint32_t Format = R.Io->format().pixelformat;
        QCOMPARE(InForce ? text(*InForce) + ' ' + QLatin1String(reinterpret_cast<const char*>(&Format), 4) : "", taken);
        QCOMPARE(R.Said, said);
        QCOMPARE(R.Io->released(), !InForce);  // a device that did not start is closed again
        // The settings catalogue finds the setting in force by equality: one
        // taken as offered must come back bit for bit.
        const auto Offered = R.Source.resolveSetting(kFront, asked);
        QVERIFY(!InForce || !taken.startsWith(text(Offered) + ' ') || *InForce == Offered);
    }

    // Start, stop, start again, then the camera is unplugged mid-stream: it
    // turns readable and dequeuing fails with ENODEV.
    void lifecycle()
    {
        Rig R({webcam()});
        for (std::size_t Run = 0; Run < 3; ++Run) {
            const std::size_t Before = R.Io->calls().size();
            QVERIFY(R.Source.start(kFront, {640, 480, 30}, R));
            QCOMPARE(QString::fromStdString(R.Io->calls().substr(Before)),
                     "open S_FMT G_FMT S_PARM G_PARM REQBUFS QUERYBUF mmap QUERYBUF mmap QUERYBUF mmap QUERYBUF mmap "
                     "QBUF QBUF QBUF QBUF STREAMON ");
            R.Io->pushFrame(Bytes(640 * 480 * 2, 0x80), 1234567890123000);
            QVERIFY(R.waitFor(Run + 1));
            QCOMPARE(R.Frames[Run].Stamp, std::int64_t(1234567890123000));  // the kernel's stamp
            Run < 2 ? R.Source.stop() : R.Io->vanish();
            QTRY_VERIFY(!R.Source.isRunning());  // on its own after the vanishing
            QVERIFY(R.Io->calls().ends_with(" STREAMOFF munmap munmap munmap munmap close "));
            QVERIFY(R.Io->released());  // the camera light goes out
        }
        QVERIFY(!R.Source.start(kFront, {640, 480, 30}, R));
        QCOMPARE(R.Said, QStringList{"quorl-eye: cannot open /dev/video0: No such file or directory"});
    }

    void releasesDeviceAndThread_data()
    {
        QTest::addColumn<QString>("refused");  // the call the front camera refuses
        QTest::addColumn<int>("errnoValue");
        QTest::addColumn<QString>("ending");
        QTest::newRow("stopped") << "" << 0 << "stop";
        QTest::newRow("switched to the back camera") << "" << 0 << "switch";
        QTest::newRow("unplugged") << "" << 0 << "unplug";
        QTest::newRow("source destroyed while running") << "" << 0 << "destroy";
        QTest::newRow("open refused") << "open" << EACCES << "";
        QTest::newRow("format refused") << "S_FMT" << EBUSY << "";
        QTest::newRow("no buffers") << "REQBUFS" << ENOMEM << "";
        QTest::newRow("mapping refused") << "mmap" << EINVAL << "";
        QTest::newRow("queueing refused") << "QBUF" << EIO << "";
        QTest::newRow("stream refused, as for lack of USB bandwidth") << "STREAMON" << ENOSPC << "";
    }

    // However a run ends, and however far a start got before it failed,
    // afterwards the process holds exactly the threads and descriptors it
    // held before: no device, no wake-up eventfd, no capture thread.
    void releasesDeviceAndThread()
    {
        QFETCH(QString, refused);
        QFETCH(int, errnoValue);
        QFETCH(QString, ending);
        const int Threads = threadCount(), Descriptors = descriptorCount();
        auto R = std::make_unique<Rig>(Devices{webcam(), single(kYuyv, 32, 16, {1, 30}, "/dev/video2")});
        const auto Io = R->Io;
        if (!refused.isEmpty())  // listed fine, then taken by another program, say
            Io->refuse("/dev/video0", refused.toStdString(), errnoValue);
        auto runs = [&](TCameraKind Kind, TVideoCaptureSetting Setting, Bytes Frame) {
            if (!R->Source.start(Kind, Setting, *R))
                return false;
            const std::size_t Before = R->Frames.size();
            Io->pushFrame(std::move(Frame));
            // The capture thread, the device and the wake-up eventfd (a
            // thread stopped just before may take a moment to leave the list).
            return R->waitFor(Before + 1) && QTest::qWaitFor([&] { return threadCount() == Threads + 1; })
                && descriptorCount() == Descriptors + 2;
        };
        const bool Started = runs(kFront, {640, 480, 30}, Bytes(640 * 480 * 2, 0x80));
        QCOMPARE(Started, refused.isEmpty());
        QCOMPARE(R->Said.size(), qsizetype(!Started));
        if (ending == "stop" || ending == "switch")
            R->Source.stop();
        if (ending == "switch") {
            QVERIFY(runs(TCameraKind::BackCamera, {32, 16, 30}, packed(kYuyv)));
            R->Source.stop();
        } else if (ending == "unplug") {
            Io->vanish();
            QTRY_VERIFY(!R->Source.isRunning());
            QTRY_COMPARE(threadCount(), Threads);  // gone by itself, before anyone calls stop()
            QVERIFY(Io->released());
            R->Source.stop();
        } else if (ending == "destroy") {
            R.reset();
        }
        QVERIFY(Io->released());
        QTRY_COMPARE(threadCount(), Threads);
        QCOMPARE(descriptorCount(), Descriptors);
    }

    void frameInEachFormat_data()
    {
        QTest::addColumn<quint32>("format");
        QTest::addColumn<Bytes>("damaged");  // sent first; none: the frame itself, marked as an error
        // A packed frame is whole up to the last pixel of its last row; the padding after it may be missing.
        const Bytes Yuyv = packed(kYuyv), Bgr = packed(kBgr), Jpeg = jpeg(32);
        QTest::newRow("YUYV, cut short") << kYuyv << Bytes(Yuyv.begin(), Yuyv.end() - 4);
        QTest::newRow("RGB24, error flag") << kRgb << Bytes();
        QTest::newRow("BGR24, cut short") << kBgr << Bytes(Bgr.begin(), Bgr.end() - 4);
        QTest::newRow("MJPEG, tail lost") << kMjpeg << Bytes(Jpeg.begin(), Jpeg.end() - 16);
        QTest::newRow("MJPEG, other size") << kMjpeg << jpeg(16);
        QTest::newRow("MJPEG, not a JPEG") << kMjpeg << Bytes(900, 0x5a);
    }

    void frameInEachFormat()
    {
        QFETCH(quint32, format);
        QFETCH(Bytes, damaged);
        const Bytes Good = format == kMjpeg ? jpeg(32) : packed(format);
        const Pixels Expected = format == kYuyv ? image(yuyvColour) : image(blockColour, format == kMjpeg);
        const int Tolerance = format == kYuyv ? 1 : format == kMjpeg ? 4 : 0;  // BT.601 rounding, JPEG artefacts

        Rig R({single(format, 32, 16)});
        QVERIFY(R.Source.start(kFront, {32, 16, 30}, R));
        for (int I = 0; I < 6; ++I)  // more than the source has buffers
            R.Io->pushFrame(damaged.empty() ? Good : damaged, 0, damaged.empty() ? V4L2_BUF_FLAG_ERROR : 0);
        R.Io->pushFrame(Good);
        QVERIFY(R.waitFor(1));
        R.Source.stop();
        QCOMPARE(R.Frames.size(), std::size_t(1));  // the damaged ones dropped
        QCOMPARE(R.Frames[0].Held, std::size_t(1));  // its buffer goes back only after the frame was taken
        QCOMPARE(R.Frames[0].Image.size(), qsizetype((32 + kPad) * 16));
        QCOMPARE(R.Frames[0].Image.count(kSentinel), qsizetype(16 * kPad));  // the padding right of the rows untouched
        for (int I = 0; I < 32 * 16; ++I) {
            const quint32 Got = R.Frames[0].Image[I / 32 * (32 + kPad) + I % 32];
            bool Right = Got >> 24 == 0xFF;  // opaque, as RGB32 needs
            for (int Shift = 0; Shift < 24 && Expected[I]; Shift += 8)
                Right = Right && std::abs(int(Got >> Shift & 0xFF) - int(Expected[I] >> Shift & 0xFF)) <= Tolerance;
            if (!Right)
                QFAIL(qPrintable(QStringLiteral("pixel %1,%2 is %3").arg(I % 32).arg(I / 32).arg(Got, 8, 16)));
        }
    }

    // Every vector path against the scalar one: random bytes at widths that
    // leave every kind of tail (padded rows, the last at the very end of the
    // source) catch a wrong shuffle or lane order; every (Y, U, V), Y in both
    // pixels of a pair, catches 16-bit overflow, which random bytes seldom do.
    void yuyvPathsAgree()
    {
        const SimdPath Paths[] = {SimdPath::Sse2, SimdPath::Best, cpuHasAvx2() ? SimdPath::Avx2 : SimdPath::Sse2,
                                  cpuHasAvx512() ? SimdPath::Avx512 : SimdPath::Sse2};
        auto differs = [&](const Bytes& Src, int Pitch, int Width, int Height) {  // the first path that does
            const int Dst = (Width + kPad) * 4;
            Pixels Got(Dst / 4 * Height, kSentinel), Scalar(Got);
            yuyvToRgb32(Src.data(), Pitch, reinterpret_cast<quint8*>(Scalar.data()), Dst, Width, Height, SimdPath::Scalar);
            for (const SimdPath Path : Paths) {
                Got.fill(kSentinel);  // nothing left over from the path before
                yuyvToRgb32(Src.data(), Pitch, reinterpret_cast<quint8*>(Got.data()), Dst, Width, Height, Path);
                if (Got != Scalar)
                    return int(Path);
            }
            return -1;
        };
        Bytes Src(700 * 2 * 8);
        std::generate(Src.begin(), Src.end(), [] { return std::rand(); });
        for (int Width : {2, 6, 18, 30, 47, 640})
            QCOMPARE(differs(Src, Width * 2 + 6, Width, int(Src.size()) / (Width * 2 + 6)), -1);
        // One picture per U: row V holds the pairs (Y, U, 255 - Y, V) for every Y.
        Src.resize(256 * 256 * 4);
        for (int U = 0; U < 256; ++U) {
            for (int V = 0; V < 256; ++V)
                for (int Y = 0; Y < 256; ++Y) {
                    quint8* Pair = &Src[std::size_t(V * 256 + Y) * 4];
                    Pair[0] = quint8(Y), Pair[1] = quint8(U), Pair[2] = quint8(255 - Y), Pair[3] = quint8(V);
                }
            QCOMPARE(differs(Src, 1024, 512, 256), -1);
        }
    }
};

QTEST_GUILESS_MAIN(TestV4l2Source)
#include "tst_v4l2_source.moc"
