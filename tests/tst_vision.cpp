// The frame pipeline through the real window: frames delivered by a
// scripted camera on the UI thread run the whole pipeline at once, so every
// pixel of the working bitmaps and of the output can be checked. The output
// is as large as the frames wherever pixels are compared, so drawing copies
// them without any smoothing.

#define QTEST_QPA_MOUSE_HANDLING
#include <QtTest>

#include "platform/thread.h"
#include "support/layout_fixture.h"

namespace {

using F = TQuorlEyeMainForm;

constexpr unsigned Red = 0xFF0000, Blue = 0x0000FF, White = 0xFFFFFF, Black = 0x000000;
constexpr unsigned Dim = 0x0A0A0A, Brown = 0xC86432, MidGrey = 0x646464;

// An asymmetric 4 x 2 frame:
//
//        x=0     x=1    x=2    x=3
//   y=0  red     dim    dim    blue
//   y=1  brown   white  black  mid grey       brown = (200, 100, 50)
//
// Mirrored, each row reads backwards. Against its own mirror image the
// changes are |red - blue| = 510 -> 170, |dim - dim| = 0,
// |brown - mid grey| = 150 -> 50 and |white - black| = 765 -> 255.
QImage asymmetricFrame()
{
    return pictureOf({{Red, Dim, Dim, Blue}, {Brown, White, Black, MidGrey}});
}

QImage mirroredAsymmetricFrame()
{
    return pictureOf({{Blue, Dim, Dim, Red}, {MidGrey, Black, White, Brown}});
}

unsigned grey(unsigned V)
{
    return V * 0x010101u;
}

QImage mirrorDifference()
{
    return pictureOf({{grey(170), 0, 0, grey(170)}, {grey(50), grey(255), grey(255), grey(50)}});
}

// A picture with detail everywhere, wide enough for the vector paths.
QImage noiseFrame(int Width, int Height, unsigned Seed)
{
    QImage image(Width, Height, QImage::Format_RGB32);
    unsigned s = Seed * 2654435761u + 1;
    for (int y = 0; y < Height; ++y)
        for (int x = 0; x < Width; ++x) {
            s = s * 1664525u + 1013904223u;
            image.setPixel(x, y, 0xFF000000u | (s >> 8));
        }
    return image;
}

// Noise whose every row reads the same from either end.
QImage palindromeFrame(int Width, int Height)
{
    QImage image = noiseFrame(Width, Height, 5);
    for (int y = 0; y < Height; ++y)
        for (int x = 0; x < Width / 2; ++x)
            image.setPixel(Width - 1 - x, y, image.pixel(x, y));
    return image;
}

QImage solid(int Width, int Height, unsigned Colour)
{
    return solidImage(Width, Height, 0xFF000000u | Colour);
}

// The part of Image inside R (whole pixels).
QImage inside(const QImage& Image, const TRectF& R)
{
    return Image.copy(QRect(int(R.Left), int(R.Top), int(R.Right - R.Left), int(R.Bottom - R.Top)));
}

bool allPixels(const QImage& Image, unsigned Colour)
{
    for (int y = 0; y < Image.height(); ++y)
        for (int x = 0; x < Image.width(); ++x)
            if (Image.pixel(x, y) != (0xFF000000u | Colour))
                return false;
    return true;
}

// Whether every pixel outside R is Colour.
bool outsideIs(const QImage& Image, const TRectF& R, unsigned Colour)
{
    for (int y = 0; y < Image.height(); ++y)
        for (int x = 0; x < Image.width(); ++x) {
            const bool in = x >= R.Left && x < R.Right && y >= R.Top && y < R.Bottom;
            if (!in && Image.pixel(x, y) != (0xFF000000u | Colour))
                return false;
        }
    return true;
}

void paintOutput(F& Form, unsigned Colour)
{
    TCanvas& canvas = Form.OutputBitmap().Canvas();
    QVERIFY(canvas.BeginScene());
    canvas.Clear(0xFF000000u | Colour);
    canvas.EndScene();
}

}  // namespace

class TestVision : public QObject {
    Q_OBJECT

    // A window whose output is Width x Height, with both cameras offering
    // one setting of that size; the camera is switched on with its icon.
    static std::unique_ptr<WindowRig> cameraOn(int Width, int Height, bool Front)
    {
        const TVideoCaptureSetting setting(Width, Height, 30.0);
        auto rig = std::make_unique<WindowRig>(std::vector{setting}, std::vector{setting});
        F& f = *rig->form;
        if (!Front)
            f.SwitchFrontAndBackCameraIconRectangleClick(f.SwitchFrontAndBackCameraIconRectangle);
        rig->resizeHidden(Width, Height);
        f.CameraIconRectangleClick(f.CameraIconRectangle);
        return rig;
    }

private slots:
    void firstFrame_data()
    {
        QTest::addColumn<bool>("front");
        QTest::newRow("back camera") << false;
        QTest::newRow("front camera") << true;
    }

    // The first frame seeds the working bitmaps before it is mirrored: the
    // back camera compares it with itself, the front camera compares the
    // mirrored frame with the unmirrored one.
    void firstFrame()
    {
        QFETCH(bool, front);
        auto rig = cameraOn(4, 2, front);
        F& f = *rig->form;
        QVERIFY(f.CameraComponent->Active());
        QCOMPARE(f.IsFrontCamera, front);
        QCOMPARE(f.OutputDestRect, (TRectF{0, 0, 4, 2}));

        rig->source->deliver(asymmetricFrame());
        QVERIFY(!f.IsFirstFrame);
        const QImage expected = front ? mirrorDifference() : solid(4, 2, Black);
        QCOMPARE(f.MotionBitmap->image(), expected);
        QCOMPARE(f.OutputBitmap().image(), expected);
        QCOMPARE(f.PreviousBitmap->image(), front ? mirroredAsymmetricFrame() : asymmetricFrame());
    }

    void identicalFramesGiveBlack_data()
    {
        QTest::addColumn<bool>("front");
        QTest::addColumn<int>("outputHeight");
        QTest::newRow("back camera, picture fills the output") << false << 5;
        QTest::newRow("front camera, picture fills the output") << true << 5;
        QTest::newRow("front camera, bands above and below") << true << 9;
    }

    void identicalFramesGiveBlack()
    {
        QFETCH(bool, front);
        QFETCH(int, outputHeight);
        auto rig = cameraOn(37, 5, front);
        F& f = *rig->form;
        rig->resizeHidden(37, outputHeight);
        QCOMPARE(f.OutputDestRect.Bottom - f.OutputDestRect.Top, 5.0f);

        const QImage frame = noiseFrame(37, 5, 1);
        rig->source->deliver(frame);
        paintOutput(f, White);
        rig->source->deliver(frame);
        QVERIFY(allPixels(f.MotionBitmap->image(), Black));
        QVERIFY(allPixels(inside(f.OutputBitmap().image(), f.OutputDestRect), Black));
        QVERIFY(outsideIs(f.OutputBitmap().image(), f.OutputDestRect, White));
    }

    void greyOfTheChange_data()
    {
        QTest::addColumn<unsigned>("previous");
        QTest::addColumn<unsigned>("current");
        QTest::addColumn<unsigned>("shown");

        QTest::newRow("150 -> 50") << 0x646464u << 0xC86432u << 0x323232u;
        QTest::newRow("no change") << 0x0A0A0Au << 0x0A0A0Au << 0x000000u;
        QTest::newRow("a change of 2 truncates to 0") << 0x0A0A0Au << 0x0B0A0Bu << 0x000000u;
        QTest::newRow("black to white") << 0x000000u << 0xFFFFFFu << 0xFFFFFFu;
        QTest::newRow("red to blue") << 0xFF0000u << 0x0000FFu << 0xAAAAAAu;
        QTest::newRow("a change of 5 truncates to 1") << 0x101010u << 0x121111u << 0x010101u;
    }

    // Whole frames of one colour after another, with the back camera: every
    // output pixel is the grey of the change.
    void greyOfTheChange()
    {
        QFETCH(unsigned, previous);
        QFETCH(unsigned, current);
        QFETCH(unsigned, shown);
        auto rig = cameraOn(37, 5, false);
        F& f = *rig->form;

        rig->source->deliver(solid(37, 5, previous));
        rig->source->deliver(solid(37, 5, current));
        QVERIFY(allPixels(f.MotionBitmap->image(), shown));
        QVERIFY(allPixels(f.OutputBitmap().image(), shown));
        QVERIFY(allPixels(f.PreviousBitmap->image(), current));
    }

    void humanEyeMode_data()
    {
        QTest::addColumn<bool>("front");
        QTest::newRow("back camera: the plain frame") << false;
        QTest::newRow("front camera: the mirrored frame") << true;
    }

    void humanEyeMode()
    {
        QFETCH(bool, front);
        auto rig = cameraOn(4, 2, front);
        F& f = *rig->form;
        f.EyeIconRectangleClick(f.EyeIconRectangle);
        QVERIFY(!f.QuorlEyeMode);

        const QImage shown = front ? mirroredAsymmetricFrame() : asymmetricFrame();
        rig->source->deliver(solid(4, 2, White));
        rig->source->deliver(asymmetricFrame());
        QCOMPARE(f.OutputBitmap().image(), shown);
        QCOMPARE(f.PreviousBitmap->image(), shown);

        // Back in quorl-eye mode the next frame is compared with the one
        // just shown.
        f.EyeIconRectangleClick(f.EyeIconRectangle);
        rig->source->deliver(asymmetricFrame());
        QVERIFY(allPixels(f.OutputBitmap().image(), Black));
    }

    void clearOnlyOnceAfter_data()
    {
        QTest::addColumn<int>("trigger");
        QTest::newRow("front/back switch") << 0;
        QTest::newRow("window resize") << 1;
    }

    // A frame 8 x 4 in an output 8 x 8 leaves bands of two rows above and
    // below the picture. They turn black only at the one clear that follows
    // a camera switch or a resize.
    void clearOnlyOnceAfter()
    {
        QFETCH(int, trigger);
        auto rig = cameraOn(8, 4, true);
        F& f = *rig->form;
        rig->resizeHidden(8, 8);
        QCOMPARE(f.OutputDestRect, (TRectF{0, 2, 8, 6}));
        const QImage frame = noiseFrame(8, 4, 7);

        // The first frame clears (start and resize both asked for it).
        paintOutput(f, White);
        rig->source->deliver(frame);
        QVERIFY(outsideIs(f.OutputBitmap().image(), f.OutputDestRect, Black));
        QVERIFY(!f.IsClearOutputNeeded);
        QVERIFY(!f.IsFormResized);

        paintOutput(f, White);
        rig->source->deliver(frame);
        QVERIFY(outsideIs(f.OutputBitmap().image(), f.OutputDestRect, White));

        if (trigger == 0)
            f.SwitchFrontAndBackCameraIconRectangleClick(f.SwitchFrontAndBackCameraIconRectangle);
        else
            f.FormResize(&f);
        QVERIFY(f.CameraComponent->Active());
        paintOutput(f, White);
        rig->source->deliver(frame);
        QVERIFY(outsideIs(f.OutputBitmap().image(), f.OutputDestRect, Black));
        QVERIFY(!f.IsClearOutputNeeded);
        QVERIFY(!f.IsFormResized);

        paintOutput(f, White);
        rig->source->deliver(frame);
        QVERIFY(outsideIs(f.OutputBitmap().image(), f.OutputDestRect, White));
    }

    void lateFrameChangesNothing_data()
    {
        QTest::addColumn<int>("how");
        QTest::newRow("frame after the camera was switched off") << 0;
        QTest::newRow("hand-over after the camera was switched off") << 1;
        QTest::newRow("frame after the camera vanished") << 2;
    }

    void lateFrameChangesNothing()
    {
        QFETCH(int, how);
        auto rig = cameraOn(4, 2, true);
        F& f = *rig->form;
        rig->source->deliver(asymmetricFrame());
        rig->source->deliver(solid(4, 2, White));
        f.FormResize(&f);
        paintOutput(f, Blue);
        const QImage camera = f.CameraBitmap->image().copy();
        const QImage previous = f.PreviousBitmap->image().copy();
        const QImage motion = f.MotionBitmap->image().copy();

        switch (how) {
        case 0:
            f.CameraComponent->SetActive(false);
            rig->source->deliver(asymmetricFrame());
            break;
        case 1:
            f.CameraComponent->SetActive(false);
            f.CameraComponentSampleBufferReady(f.CameraComponent, 0);
            break;
        case 2:
            rig->source->vanish();
            QVERIFY(!f.CameraComponent->Active());
            rig->source->deliver(asymmetricFrame());
            break;
        }
        QVERIFY(allPixels(f.OutputBitmap().image(), Blue));
        QVERIFY(f.IsFormResized);
        QCOMPARE(f.CameraBitmap->image(), camera);
        QCOMPARE(f.PreviousBitmap->image(), previous);
        QCOMPARE(f.MotionBitmap->image(), motion);
    }

    void frameOfAnotherSize_data()
    {
        QTest::addColumn<QSize>("before");
        QTest::addColumn<QSize>("after");
        QTest::addColumn<bool>("front");

        QTest::newRow("smaller") << QSize(40, 8) << QSize(20, 4) << false;
        QTest::newRow("larger") << QSize(20, 4) << QSize(40, 8) << false;
        QTest::newRow("wider, front") << QSize(20, 4) << QSize(41, 4) << true;
        QTest::newRow("taller, front") << QSize(20, 4) << QSize(20, 9) << true;
        QTest::newRow("narrower and taller") << QSize(40, 4) << QSize(9, 12) << false;
    }

    // A frame of another size reseeds the working bitmaps from itself, as
    // the first frame does, before anything compares it.
    void frameOfAnotherSize()
    {
        QFETCH(QSize, before);
        QFETCH(QSize, after);
        QFETCH(bool, front);
        auto rig = cameraOn(before.width(), before.height(), front);
        F& f = *rig->form;
        rig->source->deliver(noiseFrame(before.width(), before.height(), 1));
        rig->source->deliver(noiseFrame(before.width(), before.height(), 2));

        // The front camera gets rows that read the same both ways, so that
        // a frame compared with its own copy is black with either camera.
        const QImage seed = front ? palindromeFrame(after.width(), after.height())
                                  : noiseFrame(after.width(), after.height(), 3);
        rig->source->deliver(seed);
        QCOMPARE(f.PreviousBitmap->image().size(), after);
        QCOMPARE(f.MotionBitmap->image().size(), after);
        QVERIFY(allPixels(f.MotionBitmap->image(), Black));

        // The filter covers the whole new size, beyond the old one too.
        rig->source->deliver(solid(after.width(), after.height(), MidGrey));
        rig->source->deliver(solid(after.width(), after.height(), Brown));
        QVERIFY(allPixels(f.MotionBitmap->image(), grey(50)));
    }

    // The back camera captures at another size than the front one: after
    // the switch the picture is refitted and the frames of the new size
    // are drawn into it.
    void switchToACameraOfAnotherSize()
    {
        auto rig = std::make_unique<WindowRig>(std::vector{TVideoCaptureSetting(16, 8, 30.0)},
                                               std::vector{TVideoCaptureSetting(8, 4, 30.0)});
        F& f = *rig->form;
        rig->resizeHidden(8, 4);
        f.CameraIconRectangleClick(f.CameraIconRectangle);
        rig->source->deliver(noiseFrame(16, 8, 1));
        rig->source->deliver(noiseFrame(16, 8, 2));

        f.SwitchFrontAndBackCameraIconRectangleClick(f.SwitchFrontAndBackCameraIconRectangle);
        QCOMPARE(rig->source->lastStartedKind(), TCameraKind::BackCamera);
        QCOMPARE(f.CameraSourceRect, (TRectF{0, 0, 8, 4}));
        QCOMPARE(f.OutputDestRect, (TRectF{0, 0, 8, 4}));
        rig->source->deliver(asymmetricFrame().scaled(8, 4));
        QVERIFY(allPixels(f.OutputBitmap().image(), Black));
        f.EyeIconRectangleClick(f.EyeIconRectangle);
        rig->source->deliver(solid(8, 4, Brown));
        QVERIFY(allPixels(f.OutputBitmap().image(), Brown));
    }

    // A window of no area has nothing to draw on; the frames still pass
    // through, so the picture is right again as soon as the window has a
    // size.
    void emptyOutputIsSkipped()
    {
        auto rig = cameraOn(4, 2, true);
        F& f = *rig->form;
        rig->resizeHidden(0, 0);
        QVERIFY(f.OutputBitmap().IsEmpty());

        rig->source->deliver(solid(4, 2, White));
        rig->source->deliver(asymmetricFrame());
        QVERIFY(f.OutputBitmap().IsEmpty());
        QCOMPARE(f.PreviousBitmap->image(), mirroredAsymmetricFrame());

        rig->resizeHidden(4, 2);
        rig->source->deliver(asymmetricFrame());
        QVERIFY(allPixels(f.OutputBitmap().image(), Black));
    }

    // The whole program as the user meets it: frames from a capture thread
    // at full speed, every command a click through Qt, Escape to close.
    void endToEnd()
    {
        constexpr int W = 320, H = 240;
        const TVideoCaptureSetting setting(W, H, 30.0);
        WindowRig rig({setting}, {setting});
        F& f = *rig.form;
        // Red on the left, blue on the right, then all mid grey: every
        // pixel changes by 155 + 100 + 100 = 355 -> 118 from one to the
        // other.
        QImage halves = solid(W, H, Red);
        for (int y = 0; y < H; ++y)
            for (int x = W / 2; x < W; ++x)
                halves.setPixel(x, y, 0xFF000000u | Blue);
        rig.source->setCaptureThread(true, {halves, solid(W, H, MidGrey)});

        f.SetClientWidth(W);
        f.SetClientHeight(H);
        f.Show();
        QVERIFY(QTest::qWaitForWindowExposed(f.widget()));
        const QImage& output = f.OutputBitmap().image();
        const QPoint left(W / 4, H / 2), right(3 * W / 4, H / 2);
        auto shows = [&](unsigned l, unsigned r) {
            return output.pixel(left) == (0xFF000000u | l) && output.pixel(right) == (0xFF000000u | r);
        };

        QTest::mouseClick(f.widget(), Qt::LeftButton, {}, QPoint(10, H - 10));
        QVERIFY(f.IsToolsVisible);
        rig.clock.advance(500);
        QTest::mouseClick(f.widget(), Qt::LeftButton, {}, centreOf(f.CameraIconRectangle));
        QVERIFY(f.CameraComponent->Active());
        QCOMPARE(f.OutputDestRect, (TRectF{0, 0, W, H}));
        QTRY_VERIFY(shows(grey(118), grey(118)));

        rig.clock.advance(500);
        QTest::mouseClick(f.widget(), Qt::LeftButton, {}, centreOf(f.EyeIconRectangle));
        QVERIFY(!f.QuorlEyeMode);
        QTRY_VERIFY(shows(Blue, Red));

        rig.clock.advance(500);
        QTest::mouseClick(f.widget(), Qt::LeftButton, {}, centreOf(f.SwitchFrontAndBackCameraIconRectangle));
        QVERIFY(!f.IsFrontCamera);
        QVERIFY(f.CameraComponent->Active());
        QCOMPARE(rig.source->lastStartedKind(), TCameraKind::BackCamera);
        QTRY_VERIFY(shows(Red, Blue));
        const std::int64_t delivered = rig.source->framesDelivered();
        QTRY_VERIFY(rig.source->framesDelivered() > delivered + 10);

        QTest::keyClick(f.widget(), Qt::Key_Escape);
        QVERIFY(!f.isClosed());
        QVERIFY(f.ExitCameraTimer->Enabled());
        f.ExitCameraTimerTimer(f.ExitCameraTimer);
        QVERIFY(!f.CameraComponent->Active());
        QVERIFY(!rig.source->isRunning());
        QCOMPARE(TThread::waitingCount(), 0);
        f.ExitCameraTimerTimer(f.ExitCameraTimer);
        f.ExitCameraTimerTimer(f.ExitCameraTimer);
        QVERIFY(!f.isClosed());
        f.ExitCameraTimerTimer(f.ExitCameraTimer);
        QVERIFY(f.isClosed());
        QVERIFY(!f.widget()->isVisible());
        QVERIFY(!f.ExitCameraTimer->Enabled());
        QCOMPARE(rig.source->startCount(), rig.source->stopCount());
    }
};

QTEST_MAIN(TestVision)
#include "tst_vision.moc"
