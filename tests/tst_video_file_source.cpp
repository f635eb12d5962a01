// A video file played as the camera: probing, pictures, looping, pacing,
// stopping, and the files it must refuse. Every clip is encoded here.

#include <QPainter>
#include <QProcess>
#include <QRandomGenerator>
#include <QtTest>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libswscale/swscale.h>
}

#include <grp.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <optional>

#include "platform/camera/video_file_source.h"
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
// makes a file too big for FFmpeg to hold in its read buffer.
struct Clip {
    const char* container; AVCodecID codec; QSize size; AVRational rate{100, 1}; int frames = 4;
    int changeAt = -1; QSize changedSize{}; bool noise = false;
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
        picture->pts = i;
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
// and opaque everywhere.
bool looksLike(const QImage& Img, int Index)
{
    for (qsizetype i = 3; i < Img.sizeInBytes(); i += 4)  // B, G, R, A
        if (Img.constBits()[i] != 0xff)
            return false;
    auto near = [&](int X, QRgb Want) {
        const QRgb p = Img.pixel(X, Img.height() / 2);
        return qAbs(qRed(p) - qRed(Want)) + qAbs(qGreen(p) - qGreen(Want)) + qAbs(qBlue(p) - qBlue(Want)) <= 40;
    };
    return near(Img.width() / 4, Palette[Index % 5]) && near(Img.width() * 3 / 4, 0xff000000);
}

}  // namespace

Q_DECLARE_METATYPE(Clip)

class TestVideoFileSource : public QObject {
    Q_OBJECT

    QTemporaryDir m_dir;
    std::string m_error;

    std::unique_ptr<VideoFileSource> openClip(const QString& Name, const Clip& Recipe)
    {
        av_log_set_level(AV_LOG_ERROR);  // the encoders' chatter
        writeClip(m_dir.filePath(Name), Recipe);
        return VideoFileSource::open(m_dir.filePath(Name).toStdString(), m_error);
    }

private slots:
    void plays_data()
    {
        QTest::addColumn<Clip>("recipe");
        QTest::newRow("MJPEG in AVI") << Clip{"avi", AV_CODEC_ID_MJPEG, {64, 48}};
        QTest::newRow("MPEG-4 in MP4") << Clip{"mp4", AV_CODEC_ID_MPEG4, {80, 64}};
        QTest::newRow("MPEG-4 in Matroska, NTSC rate") << Clip{"matroska", AV_CODEC_ID_MPEG4, {62, 40}, {30000, 1001}};
    }

    // The file offers its size and rate as the one setting of either camera.
    // Its pictures come at that rate (picture i is due i periods after the
    // first, which may itself be late), stamped with the steady clock when
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
        QCOMPARE(QSize(s.Width, s.Height), recipe.size);
        QVERIFY2(qAbs(s.FrameRate - av_q2d(recipe.rate)) < 1e-3, qPrintable(QString::number(s.FrameRate)));
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
            QVERIFY2(looksLike(sink.frames[i], i % recipe.frames), qPrintable(QString::number(i)));
            QVERIFY(i == 0 || sink.stamps[i] - sink.stamps[0] >= (i - 1) * period);  // never early
        }
        QVERIFY(sink.stamps[n - 1] - sink.stamps[0] < 3 * (n - 1) * period);  // nor much late

        QVERIFY(source->start(TCameraKind::BackCamera, s, again));
        QTRY_VERIFY(again.count >= 3);
        source->stop();
        QVERIFY(looksLike(again.frames[0], 0));
        QCOMPARE(sink.frames.size(), atStop);
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
    // any more, and the source stops by itself, its thread with it.
    // Starting again finds nothing to play, and neither hangs nor crashes.
    void stopsWhenFileIsCut()
    {
        RecordingSink sink;
        const int threads = threadCount();
        auto source = openClip("cut-while-playing.avi", Clip{"avi", AV_CODEC_ID_MJPEG, {320, 240}, {100, 1}, 8,
                                                             -1, {}, true});
        QVERIFY2(source, m_error.c_str());
        QVERIFY(source->start(TCameraKind::FrontCamera, source->setting(), sink));
        QTRY_VERIFY(sink.count >= 2);
        QVERIFY(QFile::resize(m_dir.filePath("cut-while-playing.avi"), 0));
        QTRY_VERIFY_WITH_TIMEOUT(!source->isRunning(), 20'000);
        QTRY_COMPARE(threadCount(), threads);
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
                                                  << "cannot decode video (no mpeg4 picture could be decoded)";
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
                QVERIFY2(recipe.size.width() < 2 || make != "clip" || looksLike(sink.frames[i], i % recipe.frames),
                         qPrintable(QString::number(i)));
            }
            return;
        }

        QProcess run;
        if (asNobody)
            run.setChildProcessModifier([] {
                if (setgroups(0, nullptr) != 0 || setgid(65534) != 0 || setuid(65534) != 0)
                    _exit(99);
            });
        run.start(program, {"--source", path});
        // A window would keep it running.
        QVERIFY2(run.waitForFinished(20'000), "still running: a window opened, or it hangs");
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
