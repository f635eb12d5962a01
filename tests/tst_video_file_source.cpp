// A video file played as the camera: probing, pictures, looping, pacing,
// stopping, and the files it must refuse. Every clip is encoded here.

#include <QPainter>
#include <QProcess>
#include <QRandomGenerator>
#include <QtTest>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/display.h>
#include <libavutil/pixdesc.h>
#include <libswscale/swscale.h>
}

#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <optional>

#include "platform/camera/video_file_source.h"
#include "platform/camera/video_frame_converter.h"
#include "support/process_census.h"

using namespace std::chrono_literals;

// Under ThreadSanitizer: the test forks (QProcess) while it has threads (Qt
// Test's watchdog, FFmpeg's decoders), which it takes for a fault by default;
// the child only runs the program. Options given in TSAN_OPTIONS still win.
extern "C" const char* __tsan_default_options() { return "die_after_fork=0"; }

namespace {

const QRgb Palette[] = {0xffe02020, 0xff20e020, 0xff2020e0, 0xffe0e0e0, 0xffe0e020};

// A clip to encode: FFmpeg's muxer name, the codec, size, frame rate,
// pictures; from picture changeAt on, pictures of changedSize (MJPEG pictures
// stand alone, so one stream can carry two sizes); noise instead of pictures
// makes a file too big for FFmpeg to hold in its read buffer; rotation is
// the angle of the display matrix (FFmpeg turns the picture by it); after picture pause the
// next comes ten periods later (a variable-rate file).
struct Clip {
    const char* container; AVCodecID codec; QSize size; AVRational rate{100, 1}; int frames = 4;
    int changeAt = -1; QSize changedSize{}; bool noise = false; int rotation = 0; int pause = -1;
};

// Encodes C into Path; what fails shows when the clip is opened. Picture i:
//   +--------+--------+
//   | Pal[i] | black  |   so a mirrored or shifted picture is caught too
//   +--------+--------+
void writeClip(const QString& Path, const Clip& C)
{
    const AVCodec* codec = avcodec_find_encoder(C.codec);
    AVFormatContext* out = nullptr;
    if (!codec || avformat_alloc_output_context2(&out, nullptr, C.container, nullptr) < 0)
        return;
    AVStream* stream = avformat_new_stream(out, nullptr);
    auto encoder = [&](QSize size) {
        AVCodecContext* enc = avcodec_alloc_context3(codec);
        enc->width = size.width();
        enc->height = size.height();
        enc->time_base = av_inv_q(C.rate);
        enc->framerate = stream->avg_frame_rate = C.rate;
        enc->pix_fmt = C.codec == AV_CODEC_ID_MJPEG ? AV_PIX_FMT_YUVJ420P : AV_PIX_FMT_YUV420P;
        enc->flags |= AV_CODEC_FLAG_QSCALE | (out->oformat->flags & AVFMT_GLOBALHEADER ? AV_CODEC_FLAG_GLOBAL_HEADER : 0);
        enc->global_quality = FF_QP2LAMBDA * 2;  // a fine quantiser: colours survive
        avcodec_open2(enc, codec, nullptr);
        return enc;
    };
    AVCodecContext* encoders[2] = {encoder(C.size), C.changeAt < 0 ? nullptr : encoder(C.changedSize)};
    avcodec_parameters_from_context(stream->codecpar, encoders[0]);
    if (C.rotation) {
#if LIBAVCODEC_VERSION_INT >= AV_VERSION_INT(60, 29, 100)
        AVPacketSideData* side = av_packet_side_data_new(&stream->codecpar->coded_side_data,
                                                         &stream->codecpar->nb_coded_side_data,
                                                         AV_PKT_DATA_DISPLAYMATRIX, 9 * sizeof(int32_t), 0);
        av_display_rotation_set(reinterpret_cast<int32_t*>(side->data), C.rotation);
#else
        av_display_rotation_set(reinterpret_cast<int32_t*>(
            av_stream_new_side_data(stream, AV_PKT_DATA_DISPLAYMATRIX, 9 * sizeof(int32_t))), C.rotation);
#endif
    }
    stream->time_base = encoders[0]->time_base;
    const bool ok = avio_open(&out->pb, ("file:" + QFile::encodeName(Path)).constData(), AVIO_FLAG_WRITE) >= 0 &&
                    avformat_write_header(out, nullptr) >= 0;

    AVPacket* packet = av_packet_alloc();
    AVFrame* picture = av_frame_alloc();
    QRandomGenerator random(7);
    auto send = [&](AVCodecContext* enc, AVFrame* frame) {
        avcodec_send_frame(enc, frame);
        while (avcodec_receive_packet(enc, packet) == 0) {
            av_packet_rescale_ts(packet, enc->time_base, stream->time_base);
            av_interleaved_write_frame(out, packet);
        }
    };
    for (int i = 0; ok && i < C.frames; ++i) {
        AVCodecContext* enc = encoders[C.changeAt >= 0 && i >= C.changeAt];
        QImage img(enc->width, enc->height, QImage::Format_RGB32);
        img.fill(Qt::black);
        if (C.noise)
            random.fillRange(reinterpret_cast<quint32*>(img.bits()), img.sizeInBytes() / 4);
        else
            QPainter(&img).fillRect(0, 0, img.width() / 2, img.height(), QColor(Palette[i % 5]));
        av_frame_unref(picture);
        picture->width = enc->width;
        picture->height = enc->height;
        picture->format = enc->pix_fmt;
        av_frame_get_buffer(picture, 0);
        SwsContext* sws = sws_getContext(enc->width, enc->height, AV_PIX_FMT_BGRA, enc->width, enc->height,
                                         enc->pix_fmt, SWS_BILINEAR, nullptr, nullptr, nullptr);
        const uint8_t* src[4] = {img.constBits()};
        const int stride[4] = {int(img.bytesPerLine())};
        sws_scale(sws, src, stride, 0, enc->height, picture->data, picture->linesize);
        sws_freeContext(sws);
        picture->pts = i + (C.pause >= 0 && i > C.pause ? 9 : 0);
        send(enc, picture);
    }
    for (AVCodecContext* enc : encoders)
        if (enc && ok)
            send(enc, nullptr);  // drains it
    if (ok)
        av_write_trailer(out);
    av_frame_free(&picture);
    av_packet_free(&packet);
    for (AVCodecContext*& enc : encoders)
        avcodec_free_context(&enc);
    avio_closep(&out->pb);
    avformat_free_context(out);
}

// Keeps what the source delivers: the pictures (written into images that
// start transparent, so a missing alpha shows) and their time stamps.
// Read the lists only after stop(), which joins the source's thread.
struct RecordingSink : CameraSink {
    void frameReady(const CameraFrame& Frame, std::int64_t TimeStampNs) override
    {
        QImage img(Frame.width(), Frame.height(), QImage::Format_RGB32);
        img.fill(0u);
        Frame.writeRgb32(img.bits(), img.bytesPerLine());
        frames.append(img);
        stamps.append(TimeStampNs);
        ++count;
    }
    QList<QImage> frames;
    QList<std::int64_t> stamps;
    std::atomic<int> count{0};
};

// Picture Index of a clip (lossy: near enough in the middle of either half),
// and opaque everywhere. Shown turned clockwise by Rotation, its coloured
// half is at the top (90), right (180) or bottom (270).
bool looksLike(const QImage& Img, int Index, int Rotation = 0)
{
    for (qsizetype i = 3; i < Img.sizeInBytes(); i += 4)  // B, G, R, A
        if (Img.constBits()[i] != 0xff)
            return false;
    const int w = Img.width(), h = Img.height();
    QPoint colour{w / 4, h / 2}, black{w * 3 / 4, h / 2};
    if (Rotation == 90)
        colour = {w / 2, h / 4}, black = {w / 2, h * 3 / 4};
    else if (Rotation == 180)
        std::swap(colour, black);
    else if (Rotation == 270)
        colour = {w / 2, h * 3 / 4}, black = {w / 2, h / 4};
    auto near = [&](QPoint At, QRgb Want) {
        const QRgb p = Img.pixel(At);
        return qAbs(qRed(p) - qRed(Want)) + qAbs(qGreen(p) - qGreen(Want)) + qAbs(qBlue(p) - qBlue(Want)) <= 40;
    };
    return near(colour, Palette[Index % 5]) && near(black, 0xff000000);
}

}  // namespace

Q_DECLARE_METATYPE(Clip)
Q_DECLARE_METATYPE(VideoOpenStep)

class TestVideoFileSource : public QObject {
    Q_OBJECT

    QTemporaryDir m_dir;
    std::string m_error;

    std::unique_ptr<VideoFileSource> openClip(const QString& Name, const Clip& Recipe,
                                              VideoFileSource::MessageHandler Report = {})
    {
        av_log_set_level(AV_LOG_ERROR);  // the encoders' chatter
        writeClip(m_dir.filePath(Name), Recipe);
        return VideoFileSource::open(m_dir.filePath(Name).toStdString(), m_error, std::move(Report));
    }

private slots:
    void plays_data()
    {
        QTest::addColumn<Clip>("recipe");
        QTest::newRow("MJPEG in AVI") << Clip{"avi", AV_CODEC_ID_MJPEG, {64, 48}};
        QTest::newRow("MPEG-4 in MP4") << Clip{"mp4", AV_CODEC_ID_MPEG4, {80, 64}};
        QTest::newRow("MPEG-4 in Matroska, NTSC rate") << Clip{"matroska", AV_CODEC_ID_MPEG4, {62, 40}, {30000, 1001}};
        const Clip turned{"mp4", AV_CODEC_ID_MPEG4, {64, 48}};
        for (int angle : {90, 180, -90})
            QTest::newRow(qPrintable(QString("turned %1").arg(angle))) << Clip{turned.container, turned.codec,
                                                                          turned.size, turned.rate, 4, -1, {}, false, angle};
        QTest::newRow("variable rate") << Clip{"matroska", AV_CODEC_ID_MPEG4, {48, 32}, {100, 1}, 4, -1, {}, false, 0, 1};
    }

    // The file offers its size (turned upright) and rate as the one setting
    // of either camera. Its pictures come at that rate (picture i is due i
    // periods after the first, which may itself be late), or at the pace of
    // their time stamps where they vary, stamped with the steady clock when
    // taken; they loop without losing or repeating one at the seam, and a
    // new start begins at the first. Nothing comes after a stop, and its
    // thread is gone. (The name
    // looks like an FFmpeg protocol and is still a file's.)
    void plays()
    {
        QFETCH(Clip, recipe);
        RecordingSink sink, again;  // outlive the source, which may still deliver when a check fails
        auto source = openClip(QString("concat:%1").arg(QTest::currentDataTag()), recipe);
        QVERIFY2(source, m_error.c_str());
        const TVideoCaptureSetting s = source->setting();
        const int turn = (recipe.rotation + 360) % 360;
        QCOMPARE(source->rotation(), turn);
        QCOMPARE(QSize(s.Width, s.Height), turn % 180 ? recipe.size.transposed() : recipe.size);
        QVERIFY2(recipe.pause >= 0 || qAbs(s.FrameRate - av_q2d(recipe.rate)) < 1e-3,
                 qPrintable(QString::number(s.FrameRate)));
        QVERIFY(source->captureSettings(TCameraKind::BackCamera) == std::vector{s});
        QVERIFY(source->resolveSetting(TCameraKind::FrontCamera, TVideoCaptureSetting(1920, 1080, 60)) == s);

        const auto nowNs = [] { return std::chrono::steady_clock::now().time_since_epoch() / 1ns; };
        const std::int64_t started = nowNs();
        const int threads = threadCount();
        QVERIFY(source->start(TCameraKind::FrontCamera, s, sink) == s);
        QCOMPARE(threadCount(), threads + 1);
        const int n = 2 * recipe.frames + 1;
        QTRY_VERIFY_WITH_TIMEOUT(sink.count >= n, 20'000);
        source->stop();
        QVERIFY(!source->isRunning());
        QTRY_COMPARE(threadCount(), threads);  // the source's thread is gone
        const qsizetype atStop = sink.frames.size();
        QVERIFY(sink.stamps[0] >= started && sink.stamps.last() <= nowNs());
        const std::int64_t period = 1e9 / s.FrameRate;
        for (int i = 0; i < n; ++i) {
            QVERIFY2(looksLike(sink.frames[i], i % recipe.frames, turn), qPrintable(QString::number(i)));
            QVERIFY(recipe.pause >= 0 || i == 0 || sink.stamps[i] - sink.stamps[0] >= (i - 1) * period);  // never early
        }
        if (recipe.pause < 0)
            QVERIFY(sink.stamps[n - 1] - sink.stamps[0] < 3 * (n - 1) * period);  // nor much late
        else  // the pause, ten of the clip's periods, is kept (the first picture may be late)
            QVERIFY(sink.stamps[recipe.pause + 1] - sink.stamps[0] >= (recipe.pause + 8) * 1e9 / av_q2d(recipe.rate));

        QVERIFY(source->start(TCameraKind::BackCamera, s, again));
        QTRY_VERIFY(again.count >= 3);
        source->stop();
        QVERIFY(looksLike(again.frames[0], 0, turn));
        QCOMPARE(sink.frames.size(), atStop);
    }

    void staysInsideItsPicture_data()
    {
        QTest::addColumn<QString>("format");
        QTest::addColumn<int>("scale");  // the decoded picture is 1/scale of the output size
        QTest::addColumn<int>("rotation");
        for (const char* format : {"yuv420p", "yuvj422p", "nv12", "yuyv422", "yuv420p10le", "gbrp", "pal8", "yuva420p"})
            QTest::newRow(format) << format << 1 << 0;
        QTest::newRow("yuv420p, scaled") << "yuv420p" << 2 << 0;
        QTest::newRow("nv12, scaled") << "nv12" << 2 << 0;
        for (int rotation : {90, 180, 270})
            QTest::newRow(qPrintable(QString("yuv420p, turned %1").arg(rotation))) << "yuv420p" << 1 << rotation;
    }

    // Converting a picture of any width 1-64 writes its rows and not one byte
    // after them, although the last one ends where the memory does: a guard
    // page follows, and the bytes between the end and that page must stay
    // as they were. The rows are those of a picture with room to spare,
    // turned, and opaque even where the picture has alpha.
    void staysInsideItsPicture()
    {
        QFETCH(QString, format);
        QFETCH(int, scale);
        QFETCH(int, rotation);
        const long page = sysconf(_SC_PAGESIZE);
        QRandomGenerator random(5);
        for (int h : {1, 2, 3, 8, 31}) {
            for (int w = 1; w <= 64; ++w) {
                const QString at = QString("%1x%2").arg(w).arg(h);
                AVFrame* picture = av_frame_alloc();
                picture->width = (w + scale - 1) / scale;
                picture->height = (h + scale - 1) / scale;
                picture->format = av_get_pix_fmt(qPrintable(format));
                QVERIFY(av_frame_get_buffer(picture, 0) == 0);
                for (AVBufferRef* plane : picture->buf)
                    if (plane)
                        random.fillRange(reinterpret_cast<quint32*>(plane->data), plane->size / 4);
                VideoFrameConverter converter(w, h, rotation), upright(w, h, 0);
                QVERIFY(converter.prepare(*picture) && upright.prepare(*picture));
                const int outW = converter.width(), outH = converter.height();
                QCOMPARE(QSize(outW, outH), rotation % 180 ? QSize(h, w) : QSize(w, h));

                // [ picture rows | canary up to the page end | PROT_NONE page ]
                const std::size_t bytes = std::size_t(w) * h * 4;
                const std::size_t span = (bytes + 64 + page - 1) / page * page;
                auto* base = static_cast<uchar*>(mmap(nullptr, span + page, PROT_READ | PROT_WRITE,
                                                      MAP_PRIVATE | MAP_ANONYMOUS, -1, 0));
                QVERIFY(base != MAP_FAILED && mprotect(base + span, page, PROT_NONE) == 0);
                std::memset(base, 0xA5, span);
                converter.write(*picture, base, outW * 4);
                const qsizetype stride = w * 4 + 256;  // room to spare after every row
                QByteArray roomy(stride * h + 4096, '\0');
                upright.write(*picture, reinterpret_cast<uchar*>(roomy.data()), stride);
                const auto stored = [&](int x, int y) {
                    return *reinterpret_cast<const quint32*>(roomy.constData() + y * stride + x * 4);
                };
                bool same = true;
                for (int v = 0; v < outH; ++v)
                    for (int u = 0; u < outW; ++u) {
                        const quint32 want = rotation == 90    ? stored(v, h - 1 - u)
                                             : rotation == 180 ? stored(w - 1 - u, h - 1 - v)
                                             : rotation == 270 ? stored(w - 1 - v, u)
                                                               : stored(u, v);
                        // swscale rounds a row's last pixels its own way when the row
                        // has no room to spare: near enough, and opaque.
                        const quint32 got = reinterpret_cast<const quint32*>(base)[v * outW + u];
                        same = same && (got >> 24) == 0xff && qAbs(qRed(got) - qRed(want)) <= 3
                               && qAbs(qGreen(got) - qGreen(want)) <= 3 && qAbs(qBlue(got) - qBlue(want)) <= 3;
                    }
                const bool canary = std::all_of(base + bytes, base + span, [](uchar b) { return b == 0xA5; });
                munmap(base, span + page);
                av_frame_free(&picture);
                QVERIFY2(canary, qPrintable("written after the picture at " + at));
                QVERIFY2(same, qPrintable("wrong pixels at " + at));
            }
        }
    }

    void rotation_data()
    {
        QTest::addColumn<double>("angle");  // as av_display_rotation_set takes it
        QTest::addColumn<int>("clockwise");
        QTest::newRow("none") << 0.0 << 0;
        QTest::newRow("a quarter right") << 90.0 << 90;
        QTest::newRow("a quarter left") << -90.0 << 270;
        QTest::newRow("upside down") << 180.0 << 180;
        QTest::newRow("three quarters left") << -270.0 << 90;
        QTest::newRow("nearly a quarter") << 90.4 << 90;
        QTest::newRow("no quarter turn") << 45.0 << 0;
    }

    // The turn that shows a picture upright, from its display matrix.
    void rotation()
    {
        QFETCH(double, angle);
        QFETCH(int, clockwise);
        int32_t matrix[9];
        av_display_rotation_set(matrix, angle);
        QCOMPARE(videoRotation(matrix), clockwise);
        QCOMPARE(videoRotation(nullptr), 0);
    }

    void frameInterval_data()
    {
        QTest::addColumn<double>("previous");  // time stamps, seconds
        QTest::addColumn<double>("next");
        QTest::addColumn<double>("shownMs");  // the file's nominal period is 33 ms
        const double none = std::numeric_limits<double>::quiet_NaN();
        QTest::newRow("steady") << 1.0 << 1.04 << 40.0;
        QTest::newRow("a pause") << 1.04 << 1.5 << 460.0;
        QTest::newRow("an hour apart") << 0.0 << 3600.0 << 3'600'000.0;
        QTest::newRow("more than an hour") << 0.0 << 3600.5 << 33.0;
        QTest::newRow("first picture") << none << 0.0 << 33.0;
        QTest::newRow("no stamp") << 0.5 << none << 33.0;
        QTest::newRow("back to the start") << 2.0 << 0.0 << 33.0;
        QTest::newRow("the same stamp") << 1.0 << 1.0 << 33.0;
    }

    void frameInterval()
    {
        QFETCH(double, previous);
        QFETCH(double, next);
        QFETCH(double, shownMs);
        const auto shown = videoFrameInterval(previous, next, 33ms);
        QVERIFY2(qAbs(std::chrono::duration<double, std::milli>(shown).count() - shownMs) < 1e-3,
                 qPrintable(QString::number(std::chrono::duration<double, std::milli>(shown).count())));
    }

    // What each failed step tells the user: the file's fault in the user's
    // words, never an error text that means something else.
    void reasons_data()
    {
        QTest::addColumn<VideoOpenStep>("step");
        QTest::addColumn<int>("error");
        QTest::addColumn<QString>("codec");
        QTest::addColumn<QString>("reason");
        using S = VideoOpenStep;
        const QString header = "damaged or unsupported video (its header cannot be read)";
        QTest::newRow("missing") << S::OpenFile << AVERROR(ENOENT) << "" << "No such file or directory";
        QTest::newRow("no access") << S::OpenFile << AVERROR(EACCES) << "" << "Permission denied";
        QTest::newRow("header: busy") << S::OpenFile << AVERROR(EBUSY) << "" << header;
        QTest::newRow("header: end of file") << S::OpenFile << AVERROR_EOF << "" << header;
        QTest::newRow("header: invalid argument") << S::OpenFile << AVERROR(EINVAL) << "" << header;
        QTest::newRow("unknown format") << S::OpenFile << AVERROR_INVALIDDATA << ""
                                        << "not a video file (unknown or damaged format)";
        QTest::newRow("streams: no memory") << S::ReadStreams << AVERROR(ENOMEM) << ""
                                            << "video too large (more memory than there is to decode it)";
        QTest::newRow("streams: end of file") << S::ReadStreams << AVERROR_EOF << ""
                                              << "damaged or unsupported video (its streams cannot be read)";
        QTest::newRow("codec none") << S::FindDecoder << 0 << "none" << "damaged or unsupported video (unknown codec)";
        QTest::newRow("no decoder") << S::FindDecoder << 0 << "vvc" << "damaged or unsupported video (no decoder for vvc)";
        QTest::newRow("decoder refuses") << S::OpenDecoder << AVERROR(EINVAL) << "h264"
                                         << "damaged or unsupported video (the h264 decoder refuses it)";
        QTest::newRow("decoder: no memory") << S::OpenDecoder << AVERROR(ENOMEM) << "h264"
                                            << "video too large (more memory than there is to decode it)";
        QTest::newRow("no picture") << S::DecodePicture << 0 << "mpeg4"
                                    << "damaged or unsupported video (no mpeg4 picture could be decoded)";
    }

    void reasons()
    {
        QFETCH(VideoOpenStep, step);
        QFETCH(int, error);
        QFETCH(QString, codec);
        QFETCH(QString, reason);
        QCOMPARE(QString::fromStdString(videoOpenFailure(step, error, codec.toStdString())), reason);
    }

    // A source waiting half a minute for its next picture stops at once.
    void stopsPromptly()
    {
        RecordingSink sink;
        auto slow = openClip("slow.avi", Clip{"avi", AV_CODEC_ID_MJPEG, {16, 16}, {1, 30}, 2});
        QVERIFY2(slow, m_error.c_str());
        QVERIFY(qAbs(slow->setting().FrameRate - 1.0 / 30) < 1e-6);
        QVERIFY(slow->start(TCameraKind::FrontCamera, slow->setting(), sink));
        QTRY_VERIFY(sink.count == 1);
        const auto stopping = std::chrono::steady_clock::now();
        slow->stop();
        QVERIFY2(std::chrono::steady_clock::now() - stopping < 10s, "stop() waited for the next picture");
        QCOMPARE(sink.frames.size(), 1);
    }

    // A file cut short while it plays: a pass through it gives no picture
    // any more, not even opened anew, and the source stops by itself, its
    // thread with it, saying so in one line. Starting again finds nothing to
    // play, and neither hangs nor crashes.
    void stopsWhenFileIsCut()
    {
        RecordingSink sink;
        const int threads = threadCount();
        QStringList said;
        auto source = openClip("cut-while-playing.avi", Clip{"avi", AV_CODEC_ID_MJPEG, {320, 240}, {100, 1}, 8,
                                                             -1, {}, true},
                               [&said](const std::string& Line) { said << QString::fromStdString(Line); });
        QVERIFY2(source, m_error.c_str());
        QVERIFY(source->start(TCameraKind::FrontCamera, source->setting(), sink));
        QTRY_VERIFY(sink.count >= 2);
        QVERIFY(QFile::resize(m_dir.filePath("cut-while-playing.avi"), 0));
        QTRY_VERIFY_WITH_TIMEOUT(!source->isRunning(), 20'000);
        QTRY_COMPARE(threadCount(), threads);
        QCOMPARE(said, QStringList{"quorl-eye: video file '" + m_dir.filePath("cut-while-playing.avi")
                                   + "' stopped playing: it can no longer be decoded (changed or damaged while it played)"});
        source->start(TCameraKind::FrontCamera, source->setting(), sink);
        QTRY_VERIFY(!source->isRunning());
        source->stop();
    }

    // Broken and odd inputs for --source, each made here. A file that
    // cannot be played ends the program before any window opens: exit code
    // 2 and one line on stderr naming the file and the reason. An odd but
    // valid video plays: every frame at the size the file announced.
    void badSourceFiles_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QByteArray>("make");  // the content, or: "-" none, "dir", "fifo", "locked", "clip", "cut mp4"...
        QTest::addColumn<Clip>("recipe");  // for the clips
        QTest::addColumn<QString>("reason");  // the line's end; empty: it plays
        const QByteArray text = "Shopping list\n- eggs\n- milk\n- bread\n";
        // One second of 8 kHz 16-bit mono silence in a RIFF WAVE file.
        const QByteArray wav = QByteArray::fromHex("52494646a43e000057415645666d74201000000001000100401f0000"
                                                   "803e00000200100064617461803e0000") + QByteArray(16000, '\0');
        QByteArray noise(100'000, '\0');
        QRandomGenerator(11).fillRange(reinterpret_cast<quint32*>(noise.data()), noise.size() / 4);
        const Clip mpeg4{"avi", AV_CODEC_ID_MPEG4, {64, 48}, {10, 1}, 10}, none{};
        QTest::newRow("missing") << "none.mp4" << QByteArray("-") << none << "No such file or directory";
        QTest::newRow("directory") << "folder.mp4" << QByteArray("dir") << none << "Is a directory";
        QTest::newRow("empty") << "empty.mp4" << QByteArray() << none << "the file is empty";
        QTest::newRow("text") << "notes.mp4" << text << none << "not a video file (unknown or damaged format)";
        QTest::newRow("text, .nfo") << "notes.nfo" << text << none << "not a video file (text)";  // FFmpeg's ANSI art
        QTest::newRow("random bytes, .mp4") << "noise.mp4" << noise << none << "not a video file (unknown or damaged format)";
        QTest::newRow("audio only") << "tone.wav" << wav << none << "not a video file (no video stream)";
        QTest::newRow("MP4 cut short") << "cut.mp4" << QByteArray("cut mp4") << Clip{"mp4", AV_CODEC_ID_MPEG4, {64, 48}}
                                       << "not a video file (unknown or damaged format)";
        QTest::newRow("AVI cut after its header") << "cut.avi" << QByteArray("cut avi") << mpeg4
                                                  << "damaged or unsupported video (no mpeg4 picture could be decoded)";
        QTest::newRow("named pipe") << "pipe.mp4" << QByteArray("fifo") << none << "not a regular file (a pipe)";
        QTest::newRow("no read permission") << "locked.avi" << QByteArray("locked") << mpeg4 << "Permission denied";
        QTest::newRow("line break in the name") << "two\nlines.mp4" << text << none
                                                << "not a video file (unknown or damaged format)";
        QTest::newRow("picture wider than 8192") << "wide.avi" << QByteArray("clip")
                                                 << Clip{"avi", AV_CODEC_ID_MJPEG, {8200, 8}, {10, 1}, 1}
                                                 << "video too large (8200 x 8; at most 8192 x 8192)";
        QTest::newRow("1 x 1 video") << "dot.avi" << QByteArray("clip") << Clip{"avi", AV_CODEC_ID_MJPEG, {1, 1}} << "";
        QTest::newRow("size changes midway") << "grows.avi" << QByteArray("clip")
                                             << Clip{"avi", AV_CODEC_ID_MJPEG, {64, 48}, {100, 1}, 4, 2, {128, 80}} << "";
        QTest::newRow("AVI cut halfway through its pictures") << "half.avi" << QByteArray("cut half") << mpeg4 << "";
        QTest::newRow("header declares 20000 x 20000") << "huge.y4m"
            << QByteArray("YUV4MPEG2 W20000 H20000 F25:1 Ip A1:1 C420jpeg\nFRAME\n") + QByteArray(600, '\x80') << none
            << "damaged or unsupported video (its header cannot be read)";
        // A still image is a camera looking at something still; short
        // MPEG-TS clips, whose seeks miss their first picture, loop from it.
        const Clip still{"image", AV_CODEC_ID_NONE, {40, 30}, {25, 1}, 1};
        QTest::newRow("PNG image") << "still.png" << QByteArray("png") << still << "";
        QTest::newRow("JPEG image") << "still.jpg" << QByteArray("jpg") << still << "";
        QTest::newRow("MPEG-2 in MPEG-TS, 10 pictures") << "short.ts" << QByteArray("clip")
                                                        << Clip{"mpegts", AV_CODEC_ID_MPEG2VIDEO, {64, 48}, {25, 1}, 10} << "";
    }

    void badSourceFiles()
    {
        QFETCH(QString, name);
        QFETCH(QByteArray, make);
        QFETCH(Clip, recipe);
        QFETCH(QString, reason);
        // Root reads any file, so the locked file is offered to the program
        // run as nobody, who may not enter the build (a checkout below a
        // private home): a copy of it runs from a directory anyone enters,
        // next to the file.
        const bool asNobody = make == "locked" && geteuid() == 0;
        std::optional<QTemporaryDir> open;
        QString program = QUORL_EYE_PROGRAM;
        if (asNobody) {
            open.emplace();
            const auto anyone = QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner | QFile::ReadGroup |
                                QFile::ExeGroup | QFile::ReadOther | QFile::ExeOther;
            program = open->filePath("quorl-eye");
            QVERIFY(QFile::setPermissions(open->path(), anyone) && QFile::copy(QUORL_EYE_PROGRAM, program) &&
                    QFile::setPermissions(program, anyone));
        }
        const QString path = (asNobody ? open->filePath(name) : m_dir.filePath(name));
        if (make == "dir") {
            QVERIFY(QDir().mkpath(path));
        } else if (make == "fifo") {
            QCOMPARE(mkfifo(QFile::encodeName(path).constData(), 0600), 0);
        } else if (make == "png" || make == "jpg") {
            QImage img(recipe.size, QImage::Format_RGB32);
            img.fill(Qt::black);
            QPainter(&img).fillRect(0, 0, img.width() / 2, img.height(), QColor(Palette[0]));
            QVERIFY(img.save(path, make));
        } else if (make == "clip" || make == "locked" || make.startsWith("cut ")) {
            av_log_set_level(AV_LOG_ERROR);  // the encoders' chatter
            writeClip(path, recipe);
            QFile file(path);
            QVERIFY(file.open(QIODevice::ReadWrite));
            const QByteArray all = file.readAll();
            // An MP4 loses its index (written last, as when a download broke
            // off); an AVI keeps its header, up to where its pictures begin,
            // or half of them.
            if (make.startsWith("cut "))
                QVERIFY(file.resize(make == "cut mp4"   ? all.lastIndexOf("moov") - 4
                                    : make == "cut avi" ? all.indexOf("movi") + 4
                                                        : (all.indexOf("movi") + all.indexOf("idx1")) / 2));
            QVERIFY(make != "locked" || file.setPermissions({}));
        } else if (make != "-") {
            QFile out(path);
            QVERIFY(out.open(QIODevice::WriteOnly) && out.write(make) == make.size());
        }

        if (reason.isEmpty()) {
            auto source = VideoFileSource::open(path.toStdString(), m_error);
            QVERIFY2(source, m_error.c_str());
            const TVideoCaptureSetting s = source->setting();
            QCOMPARE(QSize(s.Width, s.Height), recipe.size);
            RecordingSink sink;
            QVERIFY(source->start(TCameraKind::FrontCamera, s, sink));
            QTRY_VERIFY_WITH_TIMEOUT(sink.count >= 2 * recipe.frames + 1, 20'000);
            source->stop();
            for (int i = 0; i < sink.frames.size(); ++i) {
                QCOMPARE(sink.frames[i].size(), recipe.size);
                // A picture of another size is scaled to the announced one, not cut or smeared.
                const bool drawn = make == "clip" || make == "png" || make == "jpg";
                QVERIFY2(recipe.size.width() < 2 || !drawn || looksLike(sink.frames[i], i % recipe.frames),
                         qPrintable(QString::number(i)));
            }
            return;
        }

        QProcess run;
        // Raw system calls: newer Qt starts the child with vfork, where
        // glibc's setuid() would wait for the parent's threads to follow it.
        if (asNobody)
            run.setChildProcessModifier([] {
                if (syscall(SYS_setgroups, 0, nullptr) != 0 || syscall(SYS_setgid, 65534) != 0 ||
                    syscall(SYS_setuid, 65534) != 0)
                    _exit(99);
            });
        run.start(program, {"--source", path});
        // A window would keep it running; a program that cannot start says why.
        QVERIFY2(run.waitForFinished(20'000), qPrintable("did not end: " + run.errorString()));
        QCOMPARE(run.exitStatus(), QProcess::NormalExit);
        QCOMPARE(run.exitCode(), 2);
        QCOMPARE(run.readAllStandardOutput(), QByteArray());
        const QString err = QString::fromLocal8Bit(run.readAllStandardError());
        QVERIFY2(err.endsWith('\n') && err.count('\n') == 1, qPrintable(err));
        QString printed = path;
        printed.replace('\n', "\\n");
        QCOMPARE(err, "quorl-eye: cannot open video file '" + printed + "': " + reason + '\n');
    }
};

QTEST_GUILESS_MAIN(TestVideoFileSource)
#include "tst_video_file_source.moc"
