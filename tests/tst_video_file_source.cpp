// A video file played as the camera: probing, pictures, looping, pacing,
// stopping, and the files it must refuse. Every clip is encoded here.

#include <QFile>
#include <QImage>
#include <QTemporaryDir>
#include <QtTest>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libswscale/swscale.h>
}

#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>

#include "platform/camera/video_file_source.h"

using namespace std::chrono_literals;

namespace {

// Clip pictures: the left half shows frame i's colour, the right half stays
// black, so a mirrored or shifted picture is caught too.
//   +--------+--------+
//   | Pal[i] | black  |
//   +--------+--------+
const QRgb Palette[] = {0xffe02020, 0xff20e020, 0xff2020e0, 0xffe0e0e0, 0xffe0e020};
constexpr int PaletteSize = 5;

QImage clipPicture(int Index, QSize Size)
{
    QImage Img(Size, QImage::Format_RGB32);
    Img.fill(Qt::black);
    for (int Y = 0; Y < Size.height(); ++Y)
        for (int X = 0; X < Size.width() / 2; ++X)
            Img.setPixel(X, Y, Palette[Index % PaletteSize]);
    return Img;
}

struct Clip {
    Clip(const char* AContainer = "avi", AVCodecID ACodec = AV_CODEC_ID_MJPEG, QSize ASize = {64, 48},
         AVRational ARate = {10, 1}, int AFrames = 5)
        : Container(AContainer), Codec(ACodec), Size(ASize), Rate(ARate), Frames(AFrames)
    {
    }
    const char* Container;  // FFmpeg muxer name
    AVCodecID Codec;
    QSize Size;
    AVRational Rate;
    int Frames;
    // From frame ChangeAt on, pictures have ChangedSize (MJPEG pictures are
    // independent, so one stream can carry two sizes).
    int ChangeAt = -1;
    QSize ChangedSize;
    // Random pictures defeat compression and make a large file.
    bool Noise = false;
};

AVPixelFormat encoderFormat(AVCodecID Codec)
{
    switch (Codec) {
    case AV_CODEC_ID_MJPEG: return AV_PIX_FMT_YUVJ420P;
    case AV_CODEC_ID_FFV1: return AV_PIX_FMT_BGR0;  // lossless RGB
    default: return AV_PIX_FMT_YUV420P;
    }
}

struct Encoder {
    AVCodecContext* Ctx = nullptr;
    ~Encoder() { avcodec_free_context(&Ctx); }
};

// Encodes Recipe into Path; an empty string on success, else what failed.
QString writeClip(const QString& Path, const Clip& Recipe)
{
    const AVCodec* Codec = avcodec_find_encoder(Recipe.Codec);
    if (!Codec)
        return QStringLiteral("no %1 encoder").arg(avcodec_get_name(Recipe.Codec));
    AVFormatContext* Out = nullptr;
    const QByteArray File = QFile::encodeName(Path);
    if (avformat_alloc_output_context2(&Out, nullptr, Recipe.Container, File.constData()) < 0)
        return "no muxer";
    AVStream* Stream = avformat_new_stream(Out, nullptr);
    auto makeEncoder = [&](QSize Size, Encoder& E) {
        E.Ctx = avcodec_alloc_context3(Codec);
        E.Ctx->width = Size.width();
        E.Ctx->height = Size.height();
        E.Ctx->time_base = av_inv_q(Recipe.Rate);
        E.Ctx->framerate = Recipe.Rate;
        E.Ctx->pix_fmt = encoderFormat(Recipe.Codec);
        E.Ctx->flags |= AV_CODEC_FLAG_QSCALE;  // fine quantiser: colours survive
        E.Ctx->global_quality = FF_QP2LAMBDA * 2;
        if (Out->oformat->flags & AVFMT_GLOBALHEADER)
            E.Ctx->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
        return avcodec_open2(E.Ctx, Codec, nullptr) >= 0;
    };
    Encoder First, Second;
    bool Ok = makeEncoder(Recipe.Size, First) && (Recipe.ChangeAt < 0 || makeEncoder(Recipe.ChangedSize, Second));
    Ok = Ok && avcodec_parameters_from_context(Stream->codecpar, First.Ctx) >= 0;
    Stream->time_base = First.Ctx->time_base;
    Stream->avg_frame_rate = Recipe.Rate;
    Ok = Ok && avio_open(&Out->pb, ("file:" + File).constData(), AVIO_FLAG_WRITE) >= 0;
    Ok = Ok && avformat_write_header(Out, nullptr) >= 0;

    AVPacket* Packet = av_packet_alloc();
    auto drain = [&](AVCodecContext* Ctx) {
        while (avcodec_receive_packet(Ctx, Packet) == 0) {
            av_packet_rescale_ts(Packet, Ctx->time_base, Stream->time_base);
            Packet->stream_index = Stream->index;
            Ok = Ok && av_interleaved_write_frame(Out, Packet) >= 0;
        }
    };
    QRandomGenerator Random(7);
    for (int I = 0; Ok && I < Recipe.Frames; ++I) {
        AVCodecContext* Ctx = (Recipe.ChangeAt >= 0 && I >= Recipe.ChangeAt) ? Second.Ctx : First.Ctx;
        QImage Img = clipPicture(I, QSize(Ctx->width, Ctx->height));
        if (Recipe.Noise)
            Random.fillRange(reinterpret_cast<quint32*>(Img.bits()), Img.sizeInBytes() / 4);
        AVFrame* Picture = av_frame_alloc();
        Picture->width = Ctx->width;
        Picture->height = Ctx->height;
        Picture->format = Ctx->pix_fmt;
        av_frame_get_buffer(Picture, 0);
        SwsContext* Sws = sws_getContext(Ctx->width, Ctx->height, AV_PIX_FMT_BGRA, Ctx->width, Ctx->height,
                                         Ctx->pix_fmt, SWS_BILINEAR, nullptr, nullptr, nullptr);
        const uint8_t* Src[4] = {Img.constBits(), nullptr, nullptr, nullptr};
        const int SrcStride[4] = {int(Img.bytesPerLine()), 0, 0, 0};
        sws_scale(Sws, Src, SrcStride, 0, Ctx->height, Picture->data, Picture->linesize);
        sws_freeContext(Sws);
        Picture->pts = I;
        Ok = avcodec_send_frame(Ctx, Picture) >= 0;
        av_frame_free(&Picture);
        drain(Ctx);
    }
    for (Encoder* E : {&First, &Second})
        if (E->Ctx && Ok) {
            avcodec_send_frame(E->Ctx, nullptr);
            drain(E->Ctx);
        }
    Ok = Ok && av_write_trailer(Out) >= 0;
    av_packet_free(&Packet);
    avio_closep(&Out->pb);
    avformat_free_context(Out);
    return Ok ? QString() : QStringLiteral("encoding failed");
}

// Records what the source delivers: the pictures (written into bitmaps
// that start transparent, so a missing alpha shows) and the time stamps.
class RecordingSink : public CameraSink {
public:
    void frameReady(const CameraFrame& Frame, std::int64_t TimeStampNs) override
    {
        QImage Img(Frame.width(), Frame.height(), QImage::Format_RGB32);
        Img.fill(0x00000000);
        Frame.writeRgb32(Img.bits(), Img.bytesPerLine());
        const auto Now = std::chrono::steady_clock::now().time_since_epoch();
        std::lock_guard Lock(m_mutex);
        m_frames.append(Img);
        m_stamps.append(TimeStampNs);
        m_stampLag = std::max(m_stampLag, std::chrono::nanoseconds(Now).count() - TimeStampNs);
        m_arrived.notify_all();
    }
    // Waits (on a condition, not a sleep) until Count frames have come.
    bool waitFor(int Count)
    {
        std::unique_lock Lock(m_mutex);
        return m_arrived.wait_for(Lock, 20s, [&] { return m_frames.size() >= Count; });
    }
    int count()
    {
        std::lock_guard Lock(m_mutex);
        return m_frames.size();
    }
    QImage frame(int I)
    {
        std::lock_guard Lock(m_mutex);
        return m_frames.at(I);
    }
    QList<std::int64_t> stamps()
    {
        std::lock_guard Lock(m_mutex);
        return m_stamps;
    }
    std::int64_t stampLag()
    {
        std::lock_guard Lock(m_mutex);
        return m_stampLag;
    }

private:
    std::mutex m_mutex;
    std::condition_variable m_arrived;
    QList<QImage> m_frames;
    QList<std::int64_t> m_stamps;
    std::int64_t m_stampLag = 0;
};

// The mean colour of a block, compared with a tolerance for lossy codecs.
bool near(const QImage& Img, QPoint Centre, QRgb Want, int Tolerance = 24)
{
    int R = 0, G = 0, B = 0, N = 0;
    for (int Y = Centre.y() - 2; Y <= Centre.y() + 2; ++Y)
        for (int X = Centre.x() - 2; X <= Centre.x() + 2; ++X, ++N) {
            const QRgb P = Img.pixel(X, Y);
            R += qRed(P), G += qGreen(P), B += qBlue(P);
        }
    return qAbs(R / N - qRed(Want)) <= Tolerance && qAbs(G / N - qGreen(Want)) <= Tolerance
        && qAbs(B / N - qBlue(Want)) <= Tolerance;
}

// Which palette colour the left half shows; -1 when none is near.
int colourIndex(const QImage& Img)
{
    for (int I = 0; I < PaletteSize; ++I)
        if (near(Img, QPoint(Img.width() / 4, Img.height() / 2), Palette[I]))
            return I;
    return -1;
}

bool allOpaque(const QImage& Img)
{
    for (int Y = 0; Y < Img.height(); ++Y)
        for (int X = 0; X < Img.width(); ++X)
            if (qAlpha(Img.pixel(X, Y)) != 0xff)
                return false;
    return true;
}

} // namespace

Q_DECLARE_METATYPE(AVCodecID)

class TestVideoFileSource : public QObject {
    Q_OBJECT

private:
    QTemporaryDir m_dir;

    QString clipPath(const QString& Name, const Clip& Recipe)
    {
        const QString Path = m_dir.filePath(Name);
        const QString Error = writeClip(Path, Recipe);
        if (!Error.isEmpty())
            qWarning("%s: %s", qPrintable(Name), qPrintable(Error));
        return Error.isEmpty() ? Path : QString();
    }

    std::unique_ptr<VideoFileSource> openClip(const QString& Path)
    {
        std::string Error;
        auto Source = VideoFileSource::open(Path.toStdString(), Error);
        if (!Source)
            qWarning("%s", Error.c_str());
        return Source;
    }

private slots:
    void initTestCase()
    {
        QVERIFY(m_dir.isValid());
        av_log_set_level(AV_LOG_ERROR);  // the encoders' chatter
    }

    void frameRateOfFile_data()
    {
        QTest::addColumn<int>("avgNum");
        QTest::addColumn<int>("avgDen");
        QTest::addColumn<int>("baseNum");
        QTest::addColumn<int>("baseDen");
        QTest::addColumn<double>("rate");
        QTest::newRow("average") << 30 << 1 << 60 << 1 << 30.0;
        QTest::newRow("NTSC") << 30000 << 1001 << 0 << 0 << 30000.0 / 1001.0;
        QTest::newRow("no average: base") << 0 << 0 << 24 << 1 << 24.0;
        QTest::newRow("average x/0: base") << 5 << 0 << 12 << 1 << 12.0;
        QTest::newRow("average is a time base") << 90000 << 1 << 15 << 1 << 15.0;
        QTest::newRow("nothing known") << 0 << 0 << 0 << 0 << 25.0;
        QTest::newRow("both absurd") << 1000000 << 1 << -1 << 1 << 25.0;
        QTest::newRow("one frame a minute") << 1 << 60 << 0 << 0 << 1.0 / 60.0;
    }
    void frameRateOfFile()
    {
        QFETCH(int, avgNum);
        QFETCH(int, avgDen);
        QFETCH(int, baseNum);
        QFETCH(int, baseDen);
        QFETCH(double, rate);
        QCOMPARE(videoFrameRate(avgNum, avgDen, baseNum, baseDen), rate);
    }

    void probe_data()
    {
        QTest::addColumn<QString>("container");
        QTest::addColumn<AVCodecID>("codec");
        QTest::addColumn<QSize>("size");
        QTest::addColumn<int>("rateNum");
        QTest::addColumn<int>("rateDen");
        QTest::newRow("MJPEG in AVI") << "avi" << AV_CODEC_ID_MJPEG << QSize(64, 48) << 10 << 1;
        QTest::newRow("MPEG-4 in MP4") << "mp4" << AV_CODEC_ID_MPEG4 << QSize(80, 60) << 25 << 1;
        QTest::newRow("MPEG-4 in Matroska") << "matroska" << AV_CODEC_ID_MPEG4 << QSize(32, 24) << 100 << 1;
        QTest::newRow("FFV1 in Matroska, NTSC") << "matroska" << AV_CODEC_ID_FFV1 << QSize(66, 50) << 30000 << 1001;
        QTest::newRow("MJPEG, a frame in 30 s") << "avi" << AV_CODEC_ID_MJPEG << QSize(16, 16) << 1 << 30;
    }
    void probe()
    {
        QFETCH(QString, container);
        QFETCH(AVCodecID, codec);
        QFETCH(QSize, size);
        QFETCH(int, rateNum);
        QFETCH(int, rateDen);
        const QByteArray Muxer = container.toLatin1();
        const QString Path =
            clipPath(QString("probe-%1.%2").arg(QTest::currentDataTag()).arg(container),
                     Clip{Muxer.constData(), codec, size, {rateNum, rateDen}});
        QVERIFY(!Path.isEmpty());
        auto Source = openClip(Path);
        QVERIFY(Source);

        const TVideoCaptureSetting S = Source->setting();
        QCOMPARE(S.Width, size.width());
        QCOMPARE(S.Height, size.height());
        QVERIFY2(qAbs(S.FrameRate - double(rateNum) / rateDen) < 1e-3, qPrintable(QString::number(S.FrameRate)));
        QCOMPARE(S.MinFrameRate, S.FrameRate);
        // One setting, the same for both cameras, whatever is asked for.
        const std::vector<TVideoCaptureSetting> One{S};
        QVERIFY(Source->captureSettings(TCameraKind::FrontCamera) == One);
        QVERIFY(Source->captureSettings(TCameraKind::BackCamera) == One);
        QVERIFY(Source->resolveSetting(TCameraKind::BackCamera, TVideoCaptureSetting(1920, 1080, 60)) == S);
        QVERIFY(!Source->isRunning());
    }

    // The name is a file's name, whatever FFmpeg protocol it resembles.
    void namesAreFileNames()
    {
        const QString Path = clipPath("concat:clip.avi", Clip());
        QVERIFY(!Path.isEmpty());
        QVERIFY(openClip(Path));
        std::string Error;
        QVERIFY(!VideoFileSource::open("http://localhost:1/clip.avi", Error));
        QVERIFY2(QString::fromStdString(Error).contains("No such file or directory"), Error.c_str());
    }

    void pictures_data()
    {
        QTest::addColumn<QString>("container");
        QTest::addColumn<AVCodecID>("codec");
        QTest::addColumn<QSize>("size");
        QTest::addColumn<int>("tolerance");
        QTest::newRow("MJPEG in AVI") << "avi" << AV_CODEC_ID_MJPEG << QSize(64, 48) << 24;
        QTest::newRow("MPEG-4 in MP4") << "mp4" << AV_CODEC_ID_MPEG4 << QSize(80, 64) << 24;
        QTest::newRow("lossless RGB") << "matroska" << AV_CODEC_ID_FFV1 << QSize(62, 40) << 0;
    }
    void pictures()
    {
        QFETCH(QString, container);
        QFETCH(AVCodecID, codec);
        QFETCH(QSize, size);
        QFETCH(int, tolerance);
        const QByteArray Muxer = container.toLatin1();
        const QString Path = clipPath(QString("pictures-%1.%2").arg(QTest::currentDataTag()).arg(container),
                                      Clip{Muxer.constData(), codec, size, {100, 1}});
        QVERIFY(!Path.isEmpty());
        auto Source = openClip(Path);
        QVERIFY(Source);
        RecordingSink Sink;
        QVERIFY(Source->start(TCameraKind::FrontCamera, Source->setting(), Sink) == Source->setting());
        QVERIFY(Source->isRunning());
        QVERIFY(Sink.waitFor(5));
        Source->stop();
        QVERIFY(!Source->isRunning());

        for (int I = 0; I < 5; ++I) {
            const QImage Img = Sink.frame(I);
            QCOMPARE(Img.size(), size);
            QVERIFY2(near(Img, QPoint(size.width() / 4, size.height() / 2), Palette[I], tolerance),
                     qPrintable(QString("frame %1 left %2").arg(I).arg(Img.pixel(size.width() / 4, 20), 0, 16)));
            QVERIFY(near(Img, QPoint(size.width() * 3 / 4, size.height() / 2), 0xff000000, tolerance));
            QVERIFY2(allOpaque(Img), qPrintable(QString("frame %1").arg(I)));
        }
    }

    // The file plays from its first picture again after its last, without
    // losing or repeating a picture at the seam; a new start begins at the
    // first picture too.
    void loopsAndRestarts()
    {
        const QString Path = clipPath("loop.avi", Clip{"avi", AV_CODEC_ID_MJPEG, {64, 48}, {100, 1}, 5});
        QVERIFY(!Path.isEmpty());
        auto Source = openClip(Path);
        QVERIFY(Source);
        RecordingSink Sink;
        QVERIFY(Source->start(TCameraKind::FrontCamera, Source->setting(), Sink));
        QVERIFY(Sink.waitFor(13));
        Source->stop();
        for (int I = 0; I < 13; ++I)
            QCOMPARE(colourIndex(Sink.frame(I)), I % 5);

        RecordingSink Again;
        QVERIFY(Source->start(TCameraKind::BackCamera, Source->setting(), Again));
        QVERIFY(Again.waitFor(2));
        Source->stop();
        QCOMPARE(colourIndex(Again.frame(0)), 0);
        QCOMPARE(colourIndex(Again.frame(1)), 1);
    }

    // Frames come at the file's rate. Each frame is due one period after
    // the previous one was due, and never before: so stamp i is at least
    // i-1 periods after stamp 0 (the first may itself be late). Stamps are
    // steady-clock capture times, not file times.
    void pacesAtFileRate()
    {
        const QString Path = clipPath("pace.mkv", Clip{"matroska", AV_CODEC_ID_MPEG4, {32, 24}, {100, 1}, 5});
        QVERIFY(!Path.isEmpty());
        auto Source = openClip(Path);
        QVERIFY(Source);
        RecordingSink Sink;
        QVERIFY(Source->start(TCameraKind::FrontCamera, Source->setting(), Sink));
        QVERIFY(Sink.waitFor(31));
        Source->stop();
        const QList<std::int64_t> Stamps = Sink.stamps();
        const std::int64_t Period = 10'000'000;
        for (int I = 1; I <= 30; ++I) {
            QVERIFY(Stamps[I] > Stamps[I - 1]);
            QVERIFY2(Stamps[I] - Stamps[0] >= (I - 1) * Period, qPrintable(QString("frame %1").arg(I)));
        }
        // Not slower than the file either (three times the period is far
        // beyond scheduling noise).
        QVERIFY2(Stamps[30] - Stamps[0] < 30 * 3 * Period, qPrintable(QString::number(Stamps[30] - Stamps[0])));
        QVERIFY(Sink.stampLag() >= 0);
        QVERIFY(Sink.stampLag() < 1'000'000'000);
    }

    // A source waiting thirty seconds for its next frame stops at once, and
    // delivers nothing afterwards.
    void stopsPromptly()
    {
        const QString Path = clipPath("slow.avi", Clip{"avi", AV_CODEC_ID_MJPEG, {16, 16}, {1, 30}, 3});
        QVERIFY(!Path.isEmpty());
        auto Slow = openClip(Path);
        QVERIFY(Slow);
        RecordingSink Sink;
        QVERIFY(Slow->start(TCameraKind::FrontCamera, Slow->setting(), Sink));
        QVERIFY(Sink.waitFor(1));
        QElapsedTimer Clock;
        Clock.start();
        Slow->stop();
        QVERIFY2(Clock.elapsed() < 10'000, "stop() waited for the next frame");
        QVERIFY(!Slow->isRunning());

        // Frames flowing at full rate: stopped just the same.
        const QString Fast = clipPath("fast.avi", Clip{"avi", AV_CODEC_ID_MJPEG, {16, 16}, {100, 1}, 3});
        auto Source = openClip(Fast);
        QVERIFY(Source);
        RecordingSink Stopped;
        QVERIFY(Source->start(TCameraKind::FrontCamera, Source->setting(), Stopped));
        QVERIFY(Stopped.waitFor(3));
        Source->stop();
        const int AtStop = Stopped.count();
        // Let time pass by playing another source for ten frames: the
        // stopped one stays silent meanwhile.
        auto Other = openClip(Fast);
        RecordingSink OtherSink;
        QVERIFY(Other->start(TCameraKind::FrontCamera, Other->setting(), OtherSink));
        QVERIFY(OtherSink.waitFor(10));
        Other->stop();
        QCOMPARE(Stopped.count(), AtStop);
        QCOMPARE(Sink.count(), 1);
    }

    // A stream whose pictures change size midway still delivers frames of
    // the size it announced, the picture scaled to it.
    void keepsAnnouncedSize()
    {
        Clip Recipe{"avi", AV_CODEC_ID_MJPEG, {64, 48}, {100, 1}, 4};
        Recipe.ChangeAt = 2;
        Recipe.ChangedSize = QSize(128, 80);
        const QString Path = clipPath("resized.avi", Recipe);
        QVERIFY(!Path.isEmpty());
        auto Source = openClip(Path);
        QVERIFY(Source);
        QCOMPARE(Source->setting().Width, 64);
        RecordingSink Sink;
        QVERIFY(Source->start(TCameraKind::FrontCamera, Source->setting(), Sink));
        QVERIFY(Sink.waitFor(4));
        Source->stop();
        for (int I = 0; I < 4; ++I) {
            const QImage Img = Sink.frame(I);
            QCOMPARE(Img.size(), QSize(64, 48));
            QCOMPARE(colourIndex(Img), I);
            QVERIFY(near(Img, QPoint(48, 24), 0xff000000));
            QVERIFY(allOpaque(Img));
        }
    }

    // A damaged picture in the middle is skipped; the others play on, and
    // so does the loop.
    void skipsDamagedPicture()
    {
        const QString Path = clipPath("damaged.avi", Clip("avi", AV_CODEC_ID_MJPEG, {64, 48}, {100, 1}, 5));
        QVERIFY(!Path.isEmpty());
        QFile File(Path);
        QVERIFY(File.open(QIODevice::ReadWrite));
        QByteArray All = File.readAll();
        // After "movi", each picture is a chunk "00dc" <length> <JPEG data>;
        // blank the third picture's data.
        qsizetype At = All.indexOf("movi");
        for (int I = 0; I < 3; ++I)
            At = All.indexOf("00dc", At + 1);
        const quint32 Length = qFromLittleEndian<quint32>(All.constData() + At + 4);
        All.replace(At + 8, Length, QByteArray(Length, '\0'));
        QVERIFY(File.seek(0));
        QCOMPARE(File.write(All), All.size());
        File.close();

        auto Source = openClip(Path);
        QVERIFY(Source);
        RecordingSink Sink;
        QVERIFY(Source->start(TCameraKind::FrontCamera, Source->setting(), Sink));
        QVERIFY(Sink.waitFor(9));
        Source->stop();
        const int Expected[] = {0, 1, 3, 4, 0, 1, 3, 4, 0};
        for (int I = 0; I < 9; ++I)
            QCOMPARE(colourIndex(Sink.frame(I)), Expected[I]);
    }

    // A file cut short while it plays: the source notices that a pass
    // through it gives no pictures any more and stops by itself.
    void stopsByItselfWhenFileIsCut()
    {
        Clip Recipe{"matroska", AV_CODEC_ID_FFV1, {320, 240}, {100, 1}, 8};
        Recipe.Noise = true;  // a few megabytes: more than FFmpeg reads ahead
        const QString Path = clipPath("cut.mkv", Recipe);
        QVERIFY(!Path.isEmpty());
        auto Source = openClip(Path);
        QVERIFY(Source);
        RecordingSink Sink;
        QVERIFY(Source->start(TCameraKind::FrontCamera, Source->setting(), Sink));
        QVERIFY(Sink.waitFor(2));
        QFile File(Path);
        QVERIFY(File.resize(0));
        QTRY_VERIFY_WITH_TIMEOUT(!Source->isRunning(), 20'000);
        Source->stop();
        // Restarting finds nothing to play, but neither hangs nor crashes.
        Source->start(TCameraKind::FrontCamera, Source->setting(), Sink);
        Source->stop();
    }

    void refusesBrokenFiles_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QByteArray>("content");  // "-" makes no file
        QTest::addColumn<QString>("reason");
        const QByteArray Text = "Shopping list\n- eggs\n- milk\n- bread\n";
        QTest::newRow("missing") << "none.mp4" << QByteArray("-") << "No such file or directory";
        QTest::newRow("directory") << "folder.mp4" << QByteArray("dir") << "Is a directory";
        QTest::newRow("empty") << "empty.mp4" << QByteArray() << "the file is empty";
        QTest::newRow("text") << "notes.mp4" << Text << "not a video file";
        QTest::newRow("text, .txt") << "notes.txt" << Text << "not a video file";
        // FFmpeg would render it as ANSI art.
        QTest::newRow("text, .nfo") << "notes.nfo" << Text << "not a video file (text)";
        QTest::newRow("audio only") << "tone.wav" << QByteArray("wav") << "not a video file (no video stream)";
        QTest::newRow("MP4 cut short") << "cut.mp4" << QByteArray("cut mp4") << "not a video file (unknown or damaged format)";
        QTest::newRow("AVI cut after header") << "cut.avi" << QByteArray("cut avi") << "cannot decode video";
        QTest::newRow("unreadable") << "locked.avi" << QByteArray("locked") << "Permission denied";
    }
    void refusesBrokenFiles()
    {
        QFETCH(QString, name);
        QFETCH(QByteArray, content);
        QFETCH(QString, reason);
        const QString Path = m_dir.filePath(QStringLiteral("broken-") + name);
        if (content == "dir") {
            QVERIFY(QDir().mkpath(Path));
        } else if (content.startsWith("cut ")) {
            const QString Whole = clipPath("whole-" + name, Clip{content.mid(4) == "mp4" ? "mp4" : "avi",
                                                                 AV_CODEC_ID_MPEG4, {64, 48}, {10, 1}, 10});
            QVERIFY(!Whole.isEmpty());
            QFile In(Whole);
            QVERIFY(In.open(QIODevice::ReadOnly));
            // An MP4 loses its index (written last, as when a download
            // broke off); an AVI keeps only its header, up to where the
            // pictures begin.
            const QByteArray All = In.readAll();
            const qsizetype Keep = content.endsWith("mp4") ? All.lastIndexOf("moov") - 4 : All.indexOf("movi") + 4;
            QFile Out(Path);
            QVERIFY(Out.open(QIODevice::WriteOnly));
            Out.write(All.left(Keep));
        } else if (content == "locked") {
            QVERIFY(!clipPath("broken-" + name, Clip{}).isEmpty());
            QFile::setPermissions(Path, QFileDevice::Permissions());
            if (QFileInfo(Path).isReadable() && QFile(Path).open(QIODevice::ReadOnly))
                QSKIP("running with rights that read any file");
        } else if (content != "-") {
            QFile Out(Path);
            QVERIFY(Out.open(QIODevice::WriteOnly));
            if (content == "wav") {
                // One second of 8 kHz 16-bit mono silence in a RIFF WAVE file.
                const quint32 Bytes = 16000;
                QDataStream S(&Out);
                S.setByteOrder(QDataStream::LittleEndian);
                S.writeRawData("RIFF", 4);
                S << quint32(36 + Bytes);
                S.writeRawData("WAVEfmt ", 8);
                S << quint32(16) << quint16(1) << quint16(1) << quint32(8000) << quint32(16000) << quint16(2)
                  << quint16(16);
                S.writeRawData("data", 4);
                S << Bytes;
                Out.write(QByteArray(Bytes, '\0'));
            } else {
                Out.write(content);
            }
        }

        std::string Error;
        auto Source = VideoFileSource::open(Path.toStdString(), Error);
        QVERIFY(!Source);
        const QString Line = QString::fromStdString(Error);
        QVERIFY2(Line.startsWith("quorl-eye: cannot open video file '" + Path + "': "), qPrintable(Line));
        QVERIFY2(Line.contains(reason), qPrintable(Line));
        QVERIFY(!Line.contains('\n'));
    }
};

QTEST_GUILESS_MAIN(TestVideoFileSource)
#include "tst_video_file_source.moc"
