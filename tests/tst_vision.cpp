// The frame pipeline through the real window: frames delivered by a
// scripted camera on the UI thread run the whole pipeline at once, so every
// pixel of the working bitmaps and of the output can be checked. The output
// is as large as the frames wherever pixels are compared, so drawing copies
// them without any smoothing. The grey arithmetic is in tst_motion_filter.

#define QTEST_QPA_MOUSE_HANDLING
#include <QtTest>

#include <array>
#include <utility>

#include "platform/thread.h"
#include "support/window_fixture.h"

namespace {

using F = TQuorlEyeMainForm;

constexpr QRgb Red = 0xFFFF0000, Blue = 0xFF0000FF, White = 0xFFFFFFFF, Black = 0xFF000000, Dim = 0xFF0A0A0A;
constexpr QRgb Brown = 0xFFC86432, MidGrey = 0xFF646464, Grey50 = 0xFF323232, Grey170 = 0xFFAAAAAA;

// A 4 x 2 frame given row after row.
QImage picture(std::array<QRgb, 8> Pixels)
{
    return QImage(reinterpret_cast<const uchar*>(Pixels.data()), 4, 2, QImage::Format_RGB32).copy();
}

// An asymmetric frame (brown = (200, 100, 50)) and its mirror image. Against
// each other the changes are |red - blue| = 510 -> 170, dim 0,
// |brown - mid grey| = 150 -> 50 and |white - black| = 765 -> 255.
const QImage Frame = picture({Red, Dim, Dim, Blue, Brown, White, Black, MidGrey});
const QImage Mirrored = picture({Blue, Dim, Dim, Red, MidGrey, Black, White, Brown});
const QImage MirrorChange = picture({Grey170, Black, Black, Grey170, Grey50, White, White, Grey50});

}  // namespace

class TestVision : public QObject {
    Q_OBJECT

    std::unique_ptr<WindowRig> m_rig;

    // A window whose output is Width x Height, both cameras offering that
    // size; the camera is switched on with its icon.
    F& cameraOn(int Width, int Height, bool Front = true)
    {
        m_rig = std::make_unique<WindowRig>(TVideoCaptureSetting(Width, Height, 30.0));
        F& f = *m_rig->form;
        if (!Front)
            f.SwitchFrontAndBackCameraIconRectangleClick(f.SwitchFrontAndBackCameraIconRectangle);
        m_rig->resizeHidden(Width, Height);
        f.CameraIconRectangleClick(f.CameraIconRectangle);
        return f;
    }

    void deliver(const QImage& Image) { m_rig->source->deliver(Image); }

private slots:
    void cleanup() { m_rig.reset(); }

    void frames_data()
    {
        QTest::addColumn<bool>("front");
        QTest::newRow("back camera") << false;
        QTest::newRow("front camera: mirrored") << true;
    }

    // The first frame seeds the working bitmaps before it is mirrored: the
    // back camera compares it with itself, the front camera the mirrored
    // frame with the unmirrored one. Human-eye mode shows the frame itself,
    // and the next motion picture is compared with the frame last shown.
    void frames()
    {
        QFETCH(bool, front);
        F& f = cameraOn(4, 2, front);
        const QImage shown = front ? Mirrored : Frame;
        deliver(Frame);
        QCOMPARE(f.OutputBitmap().image(), front ? MirrorChange : solidImage(4, 2, Black));
        QCOMPARE(f.PreviousBitmap->image(), shown);

        f.EyeIconRectangleClick(f.EyeIconRectangle);
        deliver(Frame);
        QCOMPARE(f.OutputBitmap().image(), shown);
        deliver(solidImage(4, 2, White));
        f.EyeIconRectangleClick(f.EyeIconRectangle);
        deliver(solidImage(4, 2, White));
        QCOMPARE(f.OutputBitmap().image(), solidImage(4, 2, Black));
    }

    // A frame 8 x 4 in an output 8 x 8 leaves bands of two rows above and
    // below the picture. They turn black only at the one clear that follows
    // the start, a camera switch or a resize.
    void clearOnlyOnce()
    {
        F& f = cameraOn(8, 4);
        m_rig->resizeHidden(8, 8);
        auto bandsAfterAFrame = [&](QRgb Band) {
            f.OutputBitmap().image().fill(White);
            deliver(solidImage(8, 4, Red));
            const QImage out = f.OutputBitmap().image();
            return out.copy(0, 0, 8, 2) == solidImage(8, 2, Band) && out.copy(0, 6, 8, 2) == solidImage(8, 2, Band);
        };
        QVERIFY(bandsAfterAFrame(Black));
        QVERIFY(bandsAfterAFrame(White));
        f.SwitchFrontAndBackCameraIconRectangleClick(f.SwitchFrontAndBackCameraIconRectangle);
        QVERIFY(bandsAfterAFrame(Black));
        QVERIFY(bandsAfterAFrame(White));
        f.FormResize(&f);
        QVERIFY(bandsAfterAFrame(Black));
        QVERIFY(bandsAfterAFrame(White));
    }

    // A frame and a hand-over that come after the camera was switched off
    // change nothing.
    void lateFrameChangesNothing()
    {
        F& f = cameraOn(4, 2);
        deliver(Frame);
        f.OutputBitmap().image().fill(Blue);
        f.CameraComponent->SetActive(false);
        deliver(solidImage(4, 2, White));
        f.CameraComponentSampleBufferReady(f.CameraComponent, 0);
        QCOMPARE(f.OutputBitmap().image(), solidImage(4, 2, Blue));
        QCOMPARE(f.PreviousBitmap->image(), Mirrored);
        QCOMPARE(f.MotionBitmap->image(), MirrorChange);
    }

    void frameOfAnotherSize_data()
    {
        QTest::addColumn<QSize>("before");
        QTest::addColumn<QSize>("after");
        QTest::newRow("smaller") << QSize(40, 8) << QSize(20, 4);
        QTest::newRow("wider") << QSize(20, 4) << QSize(41, 4);
        QTest::newRow("taller") << QSize(20, 4) << QSize(20, 9);
    }

    // A frame of another size reseeds the working bitmaps from itself, as
    // the first frame does, and the filter covers all of the new size.
    void frameOfAnotherSize()
    {
        QFETCH(QSize, before);
        QFETCH(QSize, after);
        F& f = cameraOn(before.width(), before.height());
        const int w = after.width(), h = after.height();
        deliver(solidImage(before.width(), before.height(), White));
        deliver(solidImage(w, h, MidGrey));
        QCOMPARE(f.MotionBitmap->image(), solidImage(w, h, Black));
        deliver(solidImage(w, h, Brown));
        QCOMPARE(f.MotionBitmap->image(), solidImage(w, h, Grey50));
    }

    void shrunkLine_data()
    {
        QTest::addColumn<bool>("column");  // a column moving right, or a row moving down
        QTest::addColumn<bool>("motion");
        QTest::addColumn<int>("brightness");
        QTest::newRow("column, motion picture") << true << true << 170;
        QTest::newRow("row, motion picture") << false << true << 170;
        QTest::newRow("column, plain picture") << true << false << 85;
        QTest::newRow("row, plain picture") << false << false << 85;
    }

    // A 1920 x 1080 picture drawn at 640 x 360 (a 3x shrink): a white line
    // one pixel wide on black, moving one pixel a frame through every phase
    // of the shrink and up to both edges, keeps its brightness. Across the
    // line the output adds up to 255 / 3 for each source line lit: two in the
    // motion picture (where the line was and where it is), one in the plain
    // one, within 2 levels, wherever the line is. A flat grey stays exact.
    void shrunkLine()
    {
        QFETCH(bool, column);
        QFETCH(bool, motion);
        QFETCH(int, brightness);
        F& f = cameraOn(1920, 1080, false);
        m_rig->resizeHidden(640, 360);
        if (!motion)
            f.EyeIconRectangleClick(f.EyeIconRectangle);
        const int length = column ? 1920 : 1080;
        bool first = true;
        for (int at : {0, 1, 2, 3, 4, 5, length / 2 - 1, length / 2, length / 2 + 1, length - 3, length - 2,
                       length - 1}) {
            QImage frame = solidImage(1920, 1080, Black);
            for (int i = 0; i < (column ? 1080 : 1920); ++i)
                frame.setPixel(column ? at : i, column ? i : at, White);
            deliver(frame);
            if (std::exchange(first, false) && motion)
                continue;  // the first frame is compared with itself
            const QImage out = f.OutputBitmap().image();
            QCOMPARE(out.size(), QSize(640, 360));
            for (int j = 0; j < (column ? 360 : 640); ++j) {
                int sum = 0;
                for (int k = 0; k < (column ? 640 : 360); ++k)
                    sum += qBlue(out.pixel(column ? k : j, column ? j : k));
                QVERIFY2(std::abs(sum - brightness) <= 2, qPrintable(QString("line at %1: %2").arg(at).arg(sum)));
            }
        }
        if (!motion) {
            deliver(solidImage(1920, 1080, Brown));
            QCOMPARE(f.OutputBitmap().image(), solidImage(640, 360, Brown));
        }
    }

    // A window of no area is not drawn on; the frames still pass through,
    // so the picture is right again as soon as the window has a size.
    void emptyOutputIsSkipped()
    {
        F& f = cameraOn(4, 2);
        m_rig->resizeHidden(0, 0);
        deliver(Frame);
        QVERIFY(f.OutputBitmap().IsEmpty());
        m_rig->resizeHidden(4, 2);
        deliver(Frame);
        QCOMPARE(f.OutputBitmap().image(), solidImage(4, 2, Black));
    }

    // The whole program as the user meets it: frames from a capture thread
    // at full speed, every command a click through Qt, Escape to close.
    void endToEnd()
    {
        constexpr int W = 320, H = 240;
        WindowRig rig(TVideoCaptureSetting(W, H, 30.0));
        F& f = *rig.form;
        // The asymmetric frame blown up to blocks of 80 x 120, then all mid
        // grey. Block by block the front camera's motion picture shows
        // |blue - grey| = 355 -> 118, dim 270 -> 90, 90, red 118 over
        // grey 0, black 300 -> 100, white 465 -> 155 and brown 150 -> 50.
        const QImage change =
            picture({0xFF767676, 0xFF5A5A5A, 0xFF5A5A5A, 0xFF767676, Black, MidGrey, 0xFF9B9B9B, Grey50});
        rig.source->setCaptureThread(true, {Frame.scaled(W, H), solidImage(W, H, MidGrey)});
        QVERIFY(rig.show(W, H));
        auto click = [&](QPoint At) {
            rig.clock.advance(500);
            QTest::mouseClick(f.widget(), Qt::LeftButton, {}, At);
        };

        click(QPoint(10, H - 10));
        click(centreOf(f.CameraIconRectangle));
        QTRY_COMPARE(f.OutputBitmap().image(), change.scaled(W, H));
        click(centreOf(f.EyeIconRectangle));
        QTRY_COMPARE(f.OutputBitmap().image(), Mirrored.scaled(W, H));
        click(centreOf(f.SwitchFrontAndBackCameraIconRectangle));
        QTRY_COMPARE(f.OutputBitmap().image(), Frame.scaled(W, H));
        const std::int64_t delivered = rig.source->framesDelivered();
        QTRY_VERIFY(rig.source->framesDelivered() > delivered + 10);

        QTest::keyClick(f.widget(), Qt::Key_Escape);
        QVERIFY(f.ExitCameraTimer->Enabled());
        for (int tick = 0; tick < 10 && !f.isClosed(); ++tick)
            f.ExitCameraTimerTimer(f.ExitCameraTimer);
        QVERIFY(f.isClosed());
        QVERIFY(!rig.source->isRunning());
        QCOMPARE(TThread::waitingCount(), 0);
        QCOMPARE(rig.source->startCount(), rig.source->stopCount());
    }
};

QTEST_MAIN(TestVision)
#include "tst_vision.moc"
