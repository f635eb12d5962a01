// The V4L2 camera source against fake devices: what it offers, what it asks
// the device for, the order it opens and lets go of it, every pixel format
// converted, damaged frames and a camera pulled out mid-stream.

#include <QtTest>

#include <turbojpeg.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cmath>
#include <condition_variable>
#include <mutex>

#include "platform/camera/pixel_conversion.h"
#include "platform/camera/v4l2_camera_source.h"
#include "support/fake_v4l2_device.h"

using Devices = std::vector<FakeDeviceSetup>;
Q_DECLARE_METATYPE(Devices)
Q_DECLARE_METATYPE(FakeV4l2Io::Vanish)
Q_DECLARE_METATYPE(SimdPath)

namespace {

const std::string kVideo0 = "/dev/video0";
constexpr quint32 kSentinel = 0xABABABAB;  // destination padding must keep it
constexpr int kPadPixels = 3;

FakeFrameSize size(std::uint32_t W, std::uint32_t H, std::vector<v4l2_fract> Intervals)
{
    return {W, H, std::move(Intervals)};
}

QString text(const TVideoCaptureSetting& S)
{
    return QStringLiteral("%1x%2@%3").arg(S.Width).arg(S.Height).arg(S.FrameRate);
}

QStringList texts(const std::vector<TVideoCaptureSetting>& Settings)
{
    QStringList List;
    for (const auto& S : Settings)
        List << text(S);
    return List;
}

// A typical USB webcam: YUYV is slow at the large sizes, MJPEG is not.
FakeDeviceSetup webcam(const std::string& Path = kVideo0)
{
    return captureDevice(Path, {{V4L2_PIX_FMT_YUYV,
                                 {size(640, 480, {{1, 30}, {1, 15}}), size(1280, 720, {{1, 10}, {1, 5}}),
                                  size(320, 240, {{1, 30}})}},
                                {V4L2_PIX_FMT_MJPEG,
                                 {size(1280, 720, {{1, 30}}), size(640, 480, {{1, 30}}),
                                  size(1920, 1080, {{1, 15}, {1, 30}})}}});
}

FakeDeviceSetup singleFormat(std::uint32_t PixelFormat, std::uint32_t W, std::uint32_t H, std::uint32_t Padding = 0)
{
    FakeDeviceSetup Setup = captureDevice(kVideo0, {{PixelFormat, {size(W, H, {{1, 30}})}}});
    Setup.BytesPerLinePadding = Padding;
    return Setup;
}

struct Messages {
    QStringList Lines;
    V4l2CameraSource::MessageHandler handler()
    {
        return [this](const std::string& Line) { Lines << QString::fromStdString(Line); };
    }
};

class RecordingSink final : public CameraSink {
public:
    struct Frame {
        int Width = 0;
        int Height = 0;
        std::vector<quint32> Pixels;  // rows of Width + kPadPixels
        std::int64_t Stamp = 0;
        int BuffersHeld = 0;  // by the source while the frame was being taken
        quint32 at(int X, int Y) const { return Pixels[std::size_t(Y * (Width + kPadPixels) + X)]; }
        bool paddingUntouched() const
        {
            for (int Y = 0; Y < Height; ++Y)
                for (int X = Width; X < Width + kPadPixels; ++X)
                    if (at(X, Y) != kSentinel)
                        return false;
            return true;
        }
    };

    RecordingSink(FakeV4l2Io& Io, std::string Path) : m_io(Io), m_path(std::move(Path)) {}

    void frameReady(const CameraFrame& F, std::int64_t TimeStampNs) override
    {
        Frame R{F.width(), F.height(), {}, TimeStampNs, m_io.buffersHeld(m_path)};
        R.Pixels.assign(std::size_t((F.width() + kPadPixels) * F.height()), kSentinel);
        F.writeRgb32(reinterpret_cast<std::uint8_t*>(R.Pixels.data()), (F.width() + kPadPixels) * 4);
        std::lock_guard Lock(m_mutex);
        m_frames.push_back(std::move(R));
        m_changed.notify_all();
    }
    bool waitFor(std::size_t Count)
    {
        std::unique_lock Lock(m_mutex);
        return m_changed.wait_for(Lock, std::chrono::seconds(10), [&] { return m_frames.size() >= Count; });
    }
    Frame frame(std::size_t Index)
    {
        std::lock_guard Lock(m_mutex);
        return m_frames.at(Index);
    }
    std::size_t count()
    {
        std::lock_guard Lock(m_mutex);
        return m_frames.size();
    }

private:
    FakeV4l2Io& m_io;
    std::string m_path;
    std::mutex m_mutex;
    std::condition_variable m_changed;
    std::vector<Frame> m_frames;
};

// BT.601 limited range with real coefficients, rounded: the conversion must
// stay within one step of it.
int exactChannel(double Value)
{
    return int(std::lround(std::clamp(Value, 0.0, 255.0)));
}

quint32 exactBt601(int Y, int U, int V)
{
    const double C = Y - 16, D = U - 128, E = V - 128;
    return 0xFF000000u | quint32(exactChannel(1.164383 * C + 1.596027 * E)) << 16
        | quint32(exactChannel(1.164383 * C - 0.391762 * D - 0.812968 * E)) << 8
        | quint32(exactChannel(1.164383 * C + 2.017232 * D));
}

// The documented 8.8 fixed-point formula, evaluated with a floating floor.
quint32 documentedYuv(int Y, int U, int V)
{
    const double C = 298.0 * (Y - 16) + 128, D = U - 128, E = V - 128;
    auto Channel = [](double Sum) { return quint32(std::clamp(int(std::floor(Sum / 256.0)), 0, 255)); };
    return 0xFF000000u | Channel(C + 409 * E) << 16 | Channel(C - 100 * D - 208 * E) << 8 | Channel(C + 516 * D);
}

bool channelsWithin(quint32 A, quint32 B, int Tolerance)
{
    for (int Shift = 0; Shift < 32; Shift += 8)
        if (std::abs(int((A >> Shift) & 0xFF) - int((B >> Shift) & 0xFF)) > Tolerance)
            return false;
    return true;
}

// Test picture for the JPEG frames, 32 x 16, four blocks on MCU borders:
//
//   0        16       32
// 0 +--------+--------+
//   |  red   | green  |
// 8 +--------+--------+
//   |  blue  | white  |
//16 +--------+--------+
quint32 blockColour(int X, int Y)
{
    static const quint32 Colours[4] = {0xFFFF0000, 0xFF00FF00, 0xFF0000FF, 0xFFFFFFFF};
    return Colours[(Y >= 8) * 2 + (X >= 16)];
}

std::vector<std::uint8_t> encodeJpeg(int Width, int Height, int Subsampling, quint32 (*Colour)(int, int))
{
    std::vector<quint32> Pixels(std::size_t(Width * Height));
    for (int Y = 0; Y < Height; ++Y)
        for (int X = 0; X < Width; ++X)
            Pixels[std::size_t(Y * Width + X)] = Colour(X, Y);
    tjhandle Encoder = tjInitCompress();
    unsigned char* Jpeg = nullptr;
    unsigned long Size = 0;
    const int Result = tjCompress2(Encoder, reinterpret_cast<const unsigned char*>(Pixels.data()), Width, 0, Height,
                                   TJPF_BGRX, &Jpeg, &Size, Subsampling, 100, 0);
    std::vector<std::uint8_t> Bytes;
    if (Result == 0)
        Bytes.assign(Jpeg, Jpeg + Size);
    tjFree(Jpeg);
    tjDestroy(Encoder);
    return Bytes;
}

quint32 red(int, int)
{
    return 0xFFFF0000;
}

std::vector<std::uint8_t> yuyvBytes(int Width, int Height, int Padding, std::array<std::uint8_t, 4> Pair)
{
    std::vector<std::uint8_t> Bytes;
    for (int Y = 0; Y < Height; ++Y) {
        for (int X = 0; X < Width / 2; ++X)
            Bytes.insert(Bytes.end(), Pair.begin(), Pair.end());
        Bytes.insert(Bytes.end(), std::size_t(Padding), 0x55);
    }
    return Bytes;
}

}  // namespace

class TestV4l2Source : public QObject {
    Q_OBJECT

private slots:
    void sortsVideoNodesByNumber()
    {
        const std::vector<std::string> Sorted =
            sortVideoNodes({"/dev/video10", "/dev/video2", "/dev/video-x", "/dev/video0", "/dev/video1"});
        const std::vector<std::string> Expected = {"/dev/video0", "/dev/video1", "/dev/video2", "/dev/video10",
                                                   "/dev/video-x"};
        QVERIFY(Sorted == Expected);
    }

    void enumeration_data()
    {
        QTest::addColumn<Devices>("devices");
        QTest::addColumn<QStringList>("front");
        QTest::addColumn<QStringList>("back");
        QTest::addColumn<QStringList>("messages");

        const QStringList Webcam = {"640x480@30", "1280x720@30", "320x240@30", "1920x1080@30"};
        QTest::newRow("two formats, sizes listed by both appear once at the faster rate")
            << Devices{webcam()} << Webcam << QStringList() << QStringList();

        FakeDeviceSetup Ntsc =
            captureDevice(kVideo0, {{V4L2_PIX_FMT_YUYV, {size(640, 480, {{1001, 15000}, {1001, 30000}})}}});
        QTest::newRow("fastest of several intervals, NTSC fractions")
            << Devices{Ntsc} << QStringList{"640x480@29.97"} << QStringList() << QStringList();

        FakeDeviceSetup Second = captureDevice("/dev/video2", {{V4L2_PIX_FMT_MJPEG, {size(1280, 720, {{1, 60}})}}});
        QTest::newRow("metadata nodes skipped: back is the second capture device")
            << Devices{webcam(), metadataNode("/dev/video1"), Second, metadataNode("/dev/video3")} << Webcam
            << QStringList{"1280x720@60"} << QStringList();

        FakeDeviceSetup OldDriver = webcam();
        OldDriver.Capabilities = V4L2_CAP_VIDEO_CAPTURE | V4L2_CAP_STREAMING;
        OldDriver.DeviceCaps = 0;
        QTest::newRow("driver without device caps") << Devices{OldDriver} << Webcam << QStringList() << QStringList();

        FakeDeviceSetup ReadOnly = webcam();
        ReadOnly.DeviceCaps = V4L2_CAP_VIDEO_CAPTURE | V4L2_CAP_READWRITE;
        QTest::newRow("capture without streaming skipped")
            << Devices{ReadOnly, Second} << QStringList{"1280x720@60"} << QStringList() << QStringList();

        FakeDeviceSetup Nv12 = captureDevice(kVideo0, {{V4L2_PIX_FMT_NV12, {size(640, 480, {{1, 30}})}}});
        QTest::newRow("device with no convertible format")
            << Devices{Nv12, Second} << QStringList{"1280x720@60"} << QStringList()
            << QStringList{"quorl-eye: /dev/video0 offers no picture format quorl-eye can show (YUYV, MJPEG or RGB)"};

        FakeDeviceSetup Stepwise = captureDevice(
            kVideo0, {{V4L2_PIX_FMT_YUYV, {}, 0, true}, {V4L2_PIX_FMT_MJPEG, {size(800, 600, {{1, 25}})}}});
        QTest::newRow("stepwise sizes skipped")
            << Devices{Stepwise} << QStringList{"800x600@25"} << QStringList() << QStringList();

        FakeDeviceSetup Emulated = captureDevice(
            kVideo0, {{V4L2_PIX_FMT_SGRBG8, {size(1600, 1200, {{1, 10}})}},
                      {V4L2_PIX_FMT_RGB24, {size(1600, 1200, {{1, 10}})}, V4L2_FMT_FLAG_EMULATED}});
        QTest::newRow("libv4l2's RGB conversion of a raw sensor")
            << Devices{Emulated} << QStringList{"1600x1200@10"} << QStringList() << QStringList();

        QTest::newRow("no device") << Devices{} << QStringList() << QStringList()
                                   << QStringList{"quorl-eye: no camera found (no video capture device under /dev)"};

        QTest::newRow("only metadata nodes")
            << Devices{metadataNode(kVideo0)} << QStringList() << QStringList()
            << QStringList{"quorl-eye: no camera found (no video capture device under /dev)"};

        FakeDeviceSetup Locked = webcam();
        Locked.OpenErrno = EACCES;
        QTest::newRow("node that cannot be opened")
            << Devices{Locked, Second} << QStringList{"1280x720@60"} << QStringList()
            << QStringList{"quorl-eye: cannot open /dev/video0: Permission denied"};
    }

    void enumeration()
    {
        QFETCH(Devices, devices);
        QFETCH(QStringList, front);
        QFETCH(QStringList, back);
        QFETCH(QStringList, messages);

        auto Io = std::make_shared<FakeV4l2Io>(devices);
        Messages Said;
        V4l2CameraSource Source(Io, Said.handler());
        QCOMPARE(texts(Source.captureSettings(TCameraKind::FrontCamera)), front);
        QCOMPARE(texts(Source.captureSettings(TCameraKind::BackCamera)), back);
        QCOMPARE(Said.Lines, messages);
        QCOMPARE(Io->openDescriptors(), 0);  // looking does not keep anything open
    }

    void formatChoice_data()
    {
        QTest::addColumn<Devices>("devices");
        QTest::addColumn<int>("width");
        QTest::addColumn<int>("height");
        QTest::addColumn<quint32>("pixelFormat");

        QTest::newRow("same rate: YUYV over MJPEG") << Devices{webcam()} << 640 << 480 << quint32(V4L2_PIX_FMT_YUYV);
        QTest::newRow("YUYV only") << Devices{webcam()} << 320 << 240 << quint32(V4L2_PIX_FMT_YUYV);
        QTest::newRow("MJPEG where YUYV is slower") << Devices{webcam()} << 1280 << 720 << quint32(V4L2_PIX_FMT_MJPEG);
        QTest::newRow("MJPEG only") << Devices{webcam()} << 1920 << 1080 << quint32(V4L2_PIX_FMT_MJPEG);

        FakeDeviceSetup WithEmulation = webcam();
        WithEmulation.Formats.push_back(
            {V4L2_PIX_FMT_RGB24, {size(1920, 1080, {{1, 30}})}, V4L2_FMT_FLAG_EMULATED});
        QTest::newRow("native MJPEG over emulated RGB")
            << Devices{WithEmulation} << 1920 << 1080 << quint32(V4L2_PIX_FMT_MJPEG);

        FakeDeviceSetup Rgb = captureDevice(
            kVideo0, {{V4L2_PIX_FMT_BGR24, {size(640, 480, {{1, 30}})}, V4L2_FMT_FLAG_EMULATED},
                      {V4L2_PIX_FMT_RGB24, {size(640, 480, {{1, 30}})}}});
        QTest::newRow("native RGB over emulated BGR") << Devices{Rgb} << 640 << 480 << quint32(V4L2_PIX_FMT_RGB24);
    }

    void formatChoice()
    {
        QFETCH(Devices, devices);
        QFETCH(int, width);
        QFETCH(int, height);
        QFETCH(quint32, pixelFormat);

        auto Io = std::make_shared<FakeV4l2Io>(devices);
        V4l2CameraSource Source(Io);
        const TVideoCaptureSetting Wanted = Source.resolveSetting(TCameraKind::FrontCamera, {width, height, 30});
        RecordingSink Sink(*Io, kVideo0);
        QVERIFY(Source.start(TCameraKind::FrontCamera, Wanted, Sink));
        QCOMPARE(Io->format(kVideo0).pixelformat, pixelFormat);
        QCOMPARE(int(Io->format(kVideo0).width), width);
        Source.stop();
    }

    void resolveSetting_data()
    {
        QTest::addColumn<int>("width");
        QTest::addColumn<int>("height");
        QTest::addColumn<double>("rate");
        QTest::addColumn<QString>("resolved");

        QTest::newRow("offered") << 1280 << 720 << 30.0 << "1280x720@30";
        QTest::newRow("faster than offered") << 1280 << 720 << 60.0 << "1280x720@30";
        QTest::newRow("size not offered") << 1300 << 700 << 30.0 << "1280x720@30";
        QTest::newRow("all zero") << 0 << 0 << 0.0 << "320x240@30";
        QTest::newRow("larger than any") << 4096 << 2160 << 30.0 << "1920x1080@30";
    }

    void resolveSetting()
    {
        QFETCH(int, width);
        QFETCH(int, height);
        QFETCH(double, rate);
        QFETCH(QString, resolved);

        V4l2CameraSource Source(std::make_shared<FakeV4l2Io>(Devices{webcam()}));
        QCOMPARE(text(Source.resolveSetting(TCameraKind::FrontCamera, {width, height, rate})), resolved);
        // No back camera: nothing to resolve against, the wish stays as it is.
        QCOMPARE(text(Source.resolveSetting(TCameraKind::BackCamera, {width, height, rate})),
                 text({width, height, rate}));
    }

    void startReportsWhatTheDeviceTook_data()
    {
        QTest::addColumn<Devices>("devices");
        QTest::addColumn<int>("width");
        QTest::addColumn<int>("height");
        QTest::addColumn<double>("rate");
        QTest::addColumn<QString>("taken");

        QTest::newRow("as offered") << Devices{webcam()} << 1280 << 720 << 30.0 << "1280x720@30";

        FakeDeviceSetup Cropping = webcam();
        Cropping.AdjustFormat = [](v4l2_pix_format& Pix) {
            Pix.width = 1184;
            Pix.height = 656;
        };
        QTest::newRow("device adjusts the size") << Devices{Cropping} << 1280 << 720 << 30.0 << "1184x656@30";

        FakeDeviceSetup Slow = webcam();
        Slow.ForcedInterval = v4l2_fract{1, 15};
        QTest::newRow("device lowers the rate") << Devices{Slow} << 1280 << 720 << 30.0 << "1280x720@15";

        FakeDeviceSetup NoRateControl = webcam();
        NoRateControl.TimePerFrame = false;
        QTest::newRow("device without rate control") << Devices{NoRateControl} << 640 << 480 << 30.0 << "640x480@30";

        FakeDeviceSetup Ntsc = captureDevice(kVideo0, {{V4L2_PIX_FMT_YUYV, {size(640, 480, {{1001, 30000}})}}});
        QTest::newRow("NTSC rate") << Devices{Ntsc} << 640 << 480 << 30000.0 / 1001.0 << "640x480@29.97";
    }

    void startReportsWhatTheDeviceTook()
    {
        QFETCH(Devices, devices);
        QFETCH(int, width);
        QFETCH(int, height);
        QFETCH(double, rate);
        QFETCH(QString, taken);

        auto Io = std::make_shared<FakeV4l2Io>(devices);
        V4l2CameraSource Source(Io);
        RecordingSink Sink(*Io, kVideo0);
        const TVideoCaptureSetting Asked(width, height, rate);
        const auto InForce = Source.start(TCameraKind::FrontCamera, Asked, Sink);
        QVERIFY(InForce);
        QCOMPARE(text(*InForce), taken);
        // The settings catalogue matches the setting in force by exact
        // equality: a setting taken as offered must come back bit for bit.
        if (text(Asked) == taken)
            QVERIFY(*InForce == Source.resolveSetting(TCameraKind::FrontCamera, Asked));
    }

    void startStopCloseOrder()
    {
        auto Io = std::make_shared<FakeV4l2Io>(Devices{webcam()});
        V4l2CameraSource Source(Io);
        RecordingSink Sink(*Io, kVideo0);
        QVERIFY(!Source.isRunning());

        for (int Run = 0; Run < 2; ++Run) {  // a stopped camera starts again
            const std::size_t Before = Io->calls().size();
            QVERIFY(Source.start(TCameraKind::FrontCamera, {640, 480, 30}, Sink));
            QVERIFY(Source.isRunning());
            QVERIFY(Io->streaming(kVideo0));
            std::vector<std::string> Started = Io->calls();
            Started.erase(Started.begin(), Started.begin() + std::ptrdiff_t(Before));
            std::vector<std::string> Expected = {"open", "S_FMT", "G_FMT", "S_PARM", "G_PARM", "REQBUFS"};
            for (int I = 0; I < 4; ++I)
                Expected.insert(Expected.end(), {"QUERYBUF", "mmap"});
            Expected.insert(Expected.end(), 4, "QBUF");
            Expected.push_back("STREAMON");
            for (auto& Call : Expected)
                Call += " " + kVideo0;
            QCOMPARE(Started, Expected);

            Io->pushFrame(kVideo0, yuyvBytes(640, 480, 0, {128, 128, 128, 128}), 1234567890123000);
            QVERIFY(Sink.waitFor(std::size_t(Run) + 1));
            QCOMPARE(Sink.frame(std::size_t(Run)).Stamp, std::int64_t(1234567890123000));

            const std::size_t Running = Io->calls().size();
            Source.stop();
            QVERIFY(!Source.isRunning());
            std::vector<std::string> Stopped = Io->calls();
            Stopped.erase(Stopped.begin(), Stopped.begin() + std::ptrdiff_t(Running));
            // Frame traffic before the stop is not part of it.
            std::erase_if(Stopped, [](const std::string& Call) {
                return Call.starts_with("DQBUF") || Call.starts_with("QBUF");
            });
            Expected = {"STREAMOFF " + kVideo0};
            Expected.insert(Expected.end(), 4, "munmap " + kVideo0);
            Expected.push_back("close " + kVideo0);
            QCOMPARE(Stopped, Expected);
            QCOMPARE(Io->openDescriptors(), 0);  // the camera light goes out
            QCOMPARE(Io->mappings(), 0);
        }
    }

    void busyDeviceIsReportedAndClosed()
    {
        FakeDeviceSetup Busy = webcam();
        Busy.S_FMTErrno = EBUSY;
        auto Io = std::make_shared<FakeV4l2Io>(Devices{Busy});
        Messages Said;
        V4l2CameraSource Source(Io, Said.handler());
        RecordingSink Sink(*Io, kVideo0);
        QVERIFY(!Source.start(TCameraKind::FrontCamera, {640, 480, 30}, Sink));
        QVERIFY(!Source.isRunning());
        QCOMPARE(Said.Lines, QStringList{"quorl-eye: cannot start /dev/video0: Device or resource busy"});
        QCOMPARE(Io->openDescriptors(), 0);
    }

    void yuyvFrame_data()
    {
        QTest::addColumn<int>("y0");
        QTest::addColumn<int>("u");
        QTest::addColumn<int>("y1");
        QTest::addColumn<int>("v");
        QTest::addColumn<quint32>("left");  // 0: no literal value

        QTest::newRow("black") << 16 << 128 << 16 << 128 << 0xFF000000u;
        QTest::newRow("white") << 235 << 128 << 235 << 128 << 0xFFFFFFFFu;
        QTest::newRow("mid grey") << 128 << 128 << 128 << 128 << 0xFF828282u;
        QTest::newRow("red") << 81 << 90 << 81 << 240 << 0xFFFF0000u;
        QTest::newRow("all zero clamps R and B low") << 0 << 0 << 0 << 0 << 0xFF008700u;
        QTest::newRow("all 255 clamps R and B high") << 255 << 255 << 255 << 255 << 0xFFFF7DFFu;
        QTest::newRow("blue beyond range") << 235 << 255 << 235 << 128 << 0xFFFFCDFFu;
        QTest::newRow("two lumas share chroma") << 50 << 100 << 200 << 180 << 0u;
        QTest::newRow("dark green") << 40 << 60 << 45 << 70 << 0u;
        QTest::newRow("saturated magenta") << 106 << 202 << 110 << 222 << 0u;
    }

    void yuyvFrame()
    {
        QFETCH(int, y0);
        QFETCH(int, u);
        QFETCH(int, y1);
        QFETCH(int, v);
        QFETCH(quint32, left);

        // 20 pixels wide: one AVX2 step, then the SSE2 and scalar tails.
        const int Width = 20, Height = 3, Padding = 24;
        auto Io = std::make_shared<FakeV4l2Io>(Devices{singleFormat(V4L2_PIX_FMT_YUYV, Width, Height, Padding)});
        V4l2CameraSource Source(Io);
        RecordingSink Sink(*Io, kVideo0);
        QVERIFY(Source.start(TCameraKind::FrontCamera, {Width, Height, 30}, Sink));
        Io->pushFrame(kVideo0, yuyvBytes(Width, Height, Padding,
                                         {std::uint8_t(y0), std::uint8_t(u), std::uint8_t(y1), std::uint8_t(v)}));
        QVERIFY(Sink.waitFor(1));
        const RecordingSink::Frame F = Sink.frame(0);
        QCOMPARE(F.Width, Width);
        QCOMPARE(F.Height, Height);
        QCOMPARE(F.BuffersHeld, 1);  // the buffer goes back only after the frame was taken
        QVERIFY(F.paddingUntouched());
        if (left != 0)
            QCOMPARE(F.at(0, 0), left);
        for (int Y = 0; Y < Height; ++Y)
            for (int X = 0; X < Width; ++X) {
                const int Luma = X % 2 ? y1 : y0;
                QCOMPARE(F.at(X, Y), documentedYuv(Luma, u, v));
                QVERIFY(channelsWithin(F.at(X, Y), exactBt601(Luma, u, v), 1));
            }
    }

    void yuyvPathsAgree_data()
    {
        QTest::addColumn<SimdPath>("path");
        QTest::addColumn<int>("width");
        const std::pair<const char*, SimdPath> Paths[] = {
            {"avx2", SimdPath::Avx2}, {"sse2", SimdPath::Sse2}, {"best", SimdPath::Best}};
        for (const auto& [Name, Path] : Paths)
            for (int Width : {2, 6, 8, 16, 18, 30, 46, 640})
                QTest::addRow("%s, %d wide", Name, Width) << Path << Width;
    }

    // Every byte value through every vector path, against the scalar
    // reference: a wrong shuffle or lane order shows at once.
    void yuyvPathsAgree()
    {
        QFETCH(SimdPath, path);
        QFETCH(int, width);
        if (path == SimdPath::Avx2 && !cpuHasAvx2())
            QSKIP("no AVX2 on this processor");

        const int Height = 4096 / width + 2;
        const std::ptrdiff_t SrcPitch = width * 2 + 6;
        std::vector<std::uint8_t> Src(std::size_t(SrcPitch * Height));
        std::uint32_t State = 12345;
        for (auto& Byte : Src)
            Byte = std::uint8_t((State = State * 1664525u + 1013904223u) >> 24);
        const std::ptrdiff_t DstPitch = (width + kPadPixels) * 4;
        std::vector<quint32> Got(std::size_t(DstPitch / 4 * Height), kSentinel);
        std::vector<quint32> Reference(Got.size(), kSentinel);
        yuyvToRgb32(Src.data(), SrcPitch, reinterpret_cast<std::uint8_t*>(Got.data()), DstPitch, width, Height, path);
        yuyvToRgb32(Src.data(), SrcPitch, reinterpret_cast<std::uint8_t*>(Reference.data()), DstPitch, width, Height,
                    SimdPath::Scalar);
        QVERIFY(Got == Reference);
        QCOMPARE(Reference[std::size_t(width + 1)], kSentinel);
        const std::uint8_t* Pair = Src.data() + SrcPitch;  // row 1, pixels 0 and 1
        QCOMPARE(Reference[std::size_t(DstPitch / 4 + 1)], documentedYuv(Pair[2], Pair[1], Pair[3]));
    }

    void packedRgbFrame_data()
    {
        QTest::addColumn<quint32>("pixelFormat");
        QTest::addColumn<quint32>("expected");  // of the bytes 0x10 0x80 0xF0
        QTest::newRow("RGB24") << quint32(V4L2_PIX_FMT_RGB24) << 0xFF1080F0u;
        QTest::newRow("BGR24") << quint32(V4L2_PIX_FMT_BGR24) << 0xFFF08010u;
    }

    void packedRgbFrame()
    {
        QFETCH(quint32, pixelFormat);
        QFETCH(quint32, expected);

        const int Width = 5, Height = 2, Padding = 1;
        auto Io = std::make_shared<FakeV4l2Io>(Devices{singleFormat(pixelFormat, Width, Height, Padding)});
        V4l2CameraSource Source(Io);
        RecordingSink Sink(*Io, kVideo0);
        QVERIFY(Source.start(TCameraKind::FrontCamera, {Width, Height, 30}, Sink));
        std::vector<std::uint8_t> Bytes;
        for (int Y = 0; Y < Height; ++Y) {
            for (int X = 0; X < Width; ++X)
                Bytes.insert(Bytes.end(), {0x10, 0x80, 0xF0});
            Bytes.push_back(0x00);
        }
        Io->pushFrame(kVideo0, Bytes);
        QVERIFY(Sink.waitFor(1));
        const RecordingSink::Frame F = Sink.frame(0);
        QVERIFY(F.paddingUntouched());
        for (int Y = 0; Y < Height; ++Y)
            for (int X = 0; X < Width; ++X)
                QCOMPARE(F.at(X, Y), expected);
    }

    void mjpegFrame_data()
    {
        QTest::addColumn<int>("subsampling");
        QTest::addColumn<int>("blend");  // pixels either side of a block edge where chroma is interpolated
        QTest::newRow("4:2:2, as webcams send") << int(TJSAMP_422) << 2;
        QTest::newRow("4:2:0") << int(TJSAMP_420) << 2;
        QTest::newRow("4:4:4") << int(TJSAMP_444) << 0;
    }

    void mjpegFrame()
    {
        QFETCH(int, subsampling);
        QFETCH(int, blend);

        auto Io = std::make_shared<FakeV4l2Io>(Devices{singleFormat(V4L2_PIX_FMT_MJPEG, 32, 16)});
        V4l2CameraSource Source(Io);
        RecordingSink Sink(*Io, kVideo0);
        QVERIFY(Source.start(TCameraKind::FrontCamera, {32, 16, 30}, Sink));
        Io->pushFrame(kVideo0, encodeJpeg(32, 16, subsampling, blockColour));
        QVERIFY(Sink.waitFor(1));
        const RecordingSink::Frame F = Sink.frame(0);
        QVERIFY(F.paddingUntouched());
        for (int Y = 0; Y < 16; ++Y)
            for (int X = 0; X < 32; ++X) {
                QCOMPARE(F.at(X, Y) >> 24, 0xFFu);  // opaque, as RGB32 needs
                // Subsampled chroma is upsampled smoothly across block
                // edges; those pixels are a blend of both colours.
                if (std::abs(X - 16) < blend || std::abs(X + 1 - 16) < blend || std::abs(Y - 8) < blend
                    || std::abs(Y + 1 - 8) < blend)
                    continue;
                if (!channelsWithin(F.at(X, Y), blockColour(X, Y), 4))
                    QFAIL(qPrintable(QStringLiteral("pixel %1,%2 is %3").arg(X).arg(Y).arg(F.at(X, Y), 8, 16)));
            }
    }

    void damagedFramesAreSkipped_data()
    {
        QTest::addColumn<quint32>("pixelFormat");
        QTest::addColumn<QByteArray>("damaged");
        QTest::addColumn<quint32>("flags");

        const std::vector<std::uint8_t> Good = encodeJpeg(32, 16, TJSAMP_422, blockColour);
        const auto Bytes = [](const std::vector<std::uint8_t>& V, std::size_t N) {
            return QByteArray(reinterpret_cast<const char*>(V.data()), qsizetype(std::min(N, V.size())));
        };
        QTest::newRow("JPEG tail lost") << quint32(V4L2_PIX_FMT_MJPEG) << Bytes(Good, Good.size() - 16) << 0u;
        QTest::newRow("JPEG cut in its header") << quint32(V4L2_PIX_FMT_MJPEG) << Bytes(Good, Good.size() / 2) << 0u;
        QTest::newRow("not a JPEG") << quint32(V4L2_PIX_FMT_MJPEG) << QByteArray(900, '\x5a') << 0u;
        QTest::newRow("JPEG of another size") << quint32(V4L2_PIX_FMT_MJPEG)
                                              << Bytes(encodeJpeg(16, 16, TJSAMP_422, blockColour), 1 << 20) << 0u;
        QTest::newRow("buffer marked as error")
            << quint32(V4L2_PIX_FMT_MJPEG) << Bytes(Good, Good.size()) << quint32(V4L2_BUF_FLAG_ERROR);
        QTest::newRow("YUYV cut short") << quint32(V4L2_PIX_FMT_YUYV) << QByteArray(32 * 2 * 15, '\x10') << 0u;
    }

    // Damaged frames are dropped, and their buffers go back to the device:
    // more damaged frames than buffers still let the next good one through.
    void damagedFramesAreSkipped()
    {
        QFETCH(quint32, pixelFormat);
        QFETCH(QByteArray, damaged);
        QFETCH(quint32, flags);

        auto Io = std::make_shared<FakeV4l2Io>(Devices{singleFormat(pixelFormat, 32, 16)});
        V4l2CameraSource Source(Io);
        RecordingSink Sink(*Io, kVideo0);
        QVERIFY(Source.start(TCameraKind::FrontCamera, {32, 16, 30}, Sink));
        for (int I = 0; I < 6; ++I)
            Io->pushFrame(kVideo0, std::vector<std::uint8_t>(damaged.begin(), damaged.end()), 0, flags);
        Io->pushFrame(kVideo0, pixelFormat == V4L2_PIX_FMT_YUYV ? yuyvBytes(32, 16, 0, {81, 90, 81, 240})
                                                                : encodeJpeg(32, 16, TJSAMP_422, red));
        QVERIFY(Sink.waitFor(1));
        // The first frame delivered is the good one: red where the damaged
        // JPEG pictures are white (or grey, where cut off).
        QVERIFY(channelsWithin(Sink.frame(0).at(24, 12), 0xFFFF0000, 4));
        Source.stop();
        QCOMPARE(Sink.count(), std::size_t(1));
    }

    void vanishingCamera_data()
    {
        QTest::addColumn<FakeV4l2Io::Vanish>("how");
        QTest::newRow("poll reports an error") << FakeV4l2Io::Vanish::PollError;
        QTest::newRow("dequeue fails with ENODEV") << FakeV4l2Io::Vanish::DequeueError;
    }

    void vanishingCamera()
    {
        QFETCH(FakeV4l2Io::Vanish, how);

        auto Io = std::make_shared<FakeV4l2Io>(Devices{webcam()});
        Messages Said;
        V4l2CameraSource Source(Io, Said.handler());
        RecordingSink Sink(*Io, kVideo0);
        QVERIFY(Source.start(TCameraKind::FrontCamera, {640, 480, 30}, Sink));
        Io->pushFrame(kVideo0, yuyvBytes(640, 480, 0, {16, 128, 16, 128}));
        QVERIFY(Sink.waitFor(1));

        Io->vanish(kVideo0, how);
        // The source notices on its own thread and lets go of the device.
        QTRY_VERIFY(!Source.isRunning());
        QCOMPARE(Io->openDescriptors(), 0);
        QCOMPARE(Io->mappings(), 0);
        Source.stop();

        // The node is gone: starting again fails with a line saying why.
        QVERIFY(!Source.start(TCameraKind::FrontCamera, {640, 480, 30}, Sink));
        QCOMPARE(Said.Lines, QStringList{"quorl-eye: cannot open /dev/video0: No such file or directory"});
        QCOMPARE(Sink.count(), std::size_t(1));
    }
};

QTEST_GUILESS_MAIN(TestV4l2Source)
#include "tst_v4l2_source.moc"
