// Window layout, the icons' press feedback and the tools' auto-hide, through
// the real window: resizes and presses go through Qt's event system, timer
// ticks are handler calls.

// Mouse events go through the window system, so Qt's own hit testing,
// stacking and mouse-transparency decide which control gets them.
#define QTEST_QPA_MOUSE_HANDLING
#include <QtTest>

#include <QMouseEvent>

#include "support/layout_fixture.h"

namespace {

using F = TQuorlEyeMainForm;

// The five icons in a 1000 x 800 window (80 x 80 each): where each rests
// and where it is drawn while pressed, 1.3 times as large around the same
// centre.
struct IconCase {
    const char* Name;
    TRectangle* F::*Icon;
    int Id;
    int F::*Left;
    int F::*CentreX;
    QPoint Rest;
    QPoint Pressed;
    // Whether the icon's click handler acted (read after the click).
    bool (*Acted)(const F&);
};

const IconCase Icons[] = {
    {"switch", &F::SwitchFrontAndBackCameraIconRectangle, 4, &F::SwitchCameraIconLeft, &F::SwitchCameraIconCentreX,
     {260, 280}, {248, 268}, [](const F& f) { return !f.IsFrontCamera; }},
    {"camera", &F::CameraIconRectangle, 2, &F::CameraIconLeft, &F::CameraIconCentreX, {460, 280}, {448, 268},
     [](const F& f) { return f.CameraComponent->Active(); }},
    {"settings", &F::SettingsIconRectangle, 5, &F::SettingsIconLeft, &F::SettingsIconCentreX, {660, 280},
     {648, 268}, [](const F& f) { return f.CameraResolutionsLabel->Visible(); }},
    {"eye", &F::EyeIconRectangle, 3, &F::EyeIconLeft, &F::EyeIconCentreX, {360, 440}, {348, 428},
     [](const F& f) { return !f.QuorlEyeMode; }},
    {"about", &F::AboutIconRectangle, 1, &F::AboutIconLeft, &F::AboutIconCentreX, {560, 440}, {548, 428},
     [](const F& f) { return f.AboutMemo->Visible(); }},
};

const TVideoCaptureSetting Vga(640, 480, 30.0);

// A point of the picture away from every tool.
const QPoint PictureSpot(40, 760);

std::vector<TRectangle*> rectanglesOf(const F& f)
{
    std::vector<TRectangle*> all;
    for (int i = 0; i < f.ChildrenCount(); ++i)
        if (auto* r = dynamic_cast<TRectangle*>(f.Children(i)))
            all.push_back(r);
    return all;
}

// Index of a widget among the window's child widgets: the last is on top.
int stackingIndex(const F& f, const QWidget* w)
{
    int index = -1, i = 0;
    for (QObject* o : f.widget()->children())
        if (qobject_cast<QWidget*>(o)) {
            if (o == w)
                index = i;
            ++i;
        }
    return index;
}

int topStackingIndex(const F& f)
{
    int n = 0;
    for (QObject* o : f.widget()->children())
        n += qobject_cast<QWidget*>(o) ? 1 : 0;
    return n - 1;
}

// A click that Qt delivers to one widget only, as the window system would
// to a control that still takes the pointer.
void clickWidgetDirectly(QWidget* W, QPoint At)
{
    const QPointF global = W->mapToGlobal(QPointF(At));
    QMouseEvent press(QEvent::MouseButtonPress, QPointF(At), global, Qt::LeftButton, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(W, &press);
    QMouseEvent release(QEvent::MouseButtonRelease, QPointF(At), global, Qt::LeftButton, Qt::NoButton,
                        Qt::NoModifier);
    QCoreApplication::sendEvent(W, &release);
}

void sendLeave(QWidget* W)
{
    QEvent leave(QEvent::Leave);
    QCoreApplication::sendEvent(W, &leave);
}

// 1.0 minus Steps fade steps of 0.1, within float precision.
bool fadedBy(float Opacity, int Steps)
{
    return qAbs(double(Opacity) - (1.0 - 0.1 * Steps)) < 1e-6;
}

}  // namespace

class TestLayout : public QObject {
    Q_OBJECT

    // Shows the window at the given client size and lets it lay itself out.
    static bool showAt(WindowRig& Rig, int Width, int Height)
    {
        Rig.form->SetClientWidth(Width);
        Rig.form->SetClientHeight(Height);
        Rig.form->Show();
        return QTest::qWaitForWindowExposed(Rig.form->widget());
    }

private slots:
    // ------------------------------------------------------------- layout

    void firstShowLaysOutTheWindow()
    {
        WindowRig rig({Vga});
        F& f = *rig.form;
        // Before the window is shown the icons keep their images' size.
        QCOMPARE(f.CameraIconRectangle->Height(), 128.0f);
        QVERIFY(!f.IsFormResized);

        QVERIFY(showAt(rig, 640, 480));
        QVERIFY(f.IsFormResized);
        QCOMPARE(f.ScreenLongSide, 640.0);
        QCOMPARE(f.OutputBitmap().Width(), 640);
        QCOMPARE(f.OutputBitmap().Height(), 480);
        // 640 x 0.08 = 51.2, centred on (320, 192); the rest geometry drops
        // the fractions.
        QCOMPARE(f.CameraIconRectangle->Height(), 51.2f);
        QCOMPARE(f.CameraIconRectangle->Position(), (TPointF{294.4f, 166.4f}));
        QCOMPARE(f.CameraIconLeft, 294);
        QCOMPARE(f.CameraIconTop, 166);
        QCOMPARE(f.CameraIconRectangle->widget()->geometry(), QRect(294, 166, 51, 51));
    }

    void layoutAt1000x800_data()
    {
        QTest::addColumn<bool>("throughWidget");
        QTest::newRow("client size") << false;
        QTest::newRow("widget resize") << true;
    }

    void layoutAt1000x800()
    {
        QFETCH(bool, throughWidget);
        WindowRig rig({Vga});
        F& f = *rig.form;
        QVERIFY(showAt(rig, 640, 480));
        f.IsFormResized = false;

        if (throughWidget) {
            f.widget()->resize(1000, 800);
        } else {
            f.SetClientWidth(1000);
            f.SetClientHeight(800);
        }
        QTRY_COMPARE(f.ScreenHeight, 800.0);
        QCOMPARE(f.ScreenWidth, 1000.0);
        QCOMPARE(f.ScreenLongSide, 1000.0);
        QVERIFY(f.IsFormResized);
        QCOMPARE(f.OutputBitmap().Width(), 1000);
        QCOMPARE(f.OutputBitmap().Height(), 800);

        for (const IconCase& c : Icons) {
            TRectangle* icon = f.*c.Icon;
            QVERIFY2(icon->Width() == 80.0f && icon->Height() == 80.0f, c.Name);
            QCOMPARE(icon->Position(), (TPointF{float(c.Rest.x()), float(c.Rest.y())}));
            QCOMPARE(f.*c.Left, c.Rest.x());
            QCOMPARE(f.*c.CentreX, c.Rest.x() + 40);
            QCOMPARE(icon->widget()->geometry(), QRect(c.Rest, QSize(80, 80)));
        }
        QCOMPARE(f.CameraIconCentreY, 320);
        QCOMPARE(f.EyeIconCentreY, 480);

        // The settings panel: label strip above the centred track bar, OK
        // below it, its half pixel kept on the control.
        QCOMPARE(f.CameraResolutionsTrackBar->Position(), (TPointF{360, 390}));
        QCOMPARE(f.CameraResolutionsRectangle->Position(), (TPointF{360, 360}));
        QCOMPARE(f.CameraResolutionsRectangle->Width(), 280.0f);
        QCOMPARE(f.CameraResolutionsRectangle->Height(), 20.0f);
        QCOMPARE(f.CameraResolutionsLabel->Width(), 272.0f);
        QCOMPARE(f.OKButton->Position(), (TPointF{459.5f, 420.0f}));
    }

    void iconsFollowTheLongerSide_data()
    {
        QTest::addColumn<int>("width");
        QTest::addColumn<int>("height");
        QTest::addColumn<float>("size");
        QTest::addColumn<QPoint>("camera");
        QTest::addColumn<QPoint>("eye");

        QTest::newRow("portrait 600 x 900") << 600 << 900 << 72.0f << QPoint(264, 324) << QPoint(204, 504);
        QTest::newRow("square 700 x 700") << 700 << 700 << 56.0f << QPoint(322, 252) << QPoint(252, 392);
        QTest::newRow("wide 1200 x 400") << 1200 << 400 << 96.0f << QPoint(552, 112) << QPoint(432, 192);
    }

    void iconsFollowTheLongerSide()
    {
        QFETCH(int, width);
        QFETCH(int, height);
        QFETCH(float, size);
        QFETCH(QPoint, camera);
        QFETCH(QPoint, eye);

        WindowRig rig({Vga});
        F& f = *rig.form;
        QVERIFY(showAt(rig, 1000, 800));
        f.SetClientWidth(width);
        f.SetClientHeight(height);
        QTRY_COMPARE(f.ScreenHeight, double(height));
        QCOMPARE(f.ScreenLongSide, double(qMax(width, height)));
        for (const IconCase& c : Icons)
            QVERIFY2((f.*c.Icon)->Width() == size && (f.*c.Icon)->Height() == size, c.Name);
        QCOMPARE(QPoint(f.CameraIconLeft, f.CameraIconTop), camera);
        QCOMPARE(QPoint(f.EyeIconLeft, f.EyeIconTop), eye);
        QCOMPARE(f.OutputBitmap().Width(), width);
        QCOMPARE(f.OutputBitmap().Height(), height);
    }

    // A measured title bar of 25 at screen scale 2 makes the output 812.5
    // high; the bitmap takes whole pixels.
    void outputBitmapTakesWholePixels()
    {
        WindowRig rig({Vga});
        F& f = *rig.form;
        rig.screen.scale = 2.0f;
        f.TitleBarHeight = 25.0;
        rig.resizeHidden(1000, 800);
        QCOMPARE(f.ScreenHeight, 812.5);
        QCOMPARE(f.OutputBitmap().Width(), 1000);
        QCOMPARE(f.OutputBitmap().Height(), 812);
        // A camera never seen running fits as the largest centred square.
        QCOMPARE(f.OutputDestRect, (TRectF{94, 0, 906, 812}));
    }

    void resizeRefitsThePicture()
    {
        WindowRig rig({TVideoCaptureSetting(1280, 720, 30.0)});
        F& f = *rig.form;
        QVERIFY(showAt(rig, 1000, 800));
        f.CameraComponent->SetActive(true);
        f.GetCameraRectSize();
        QCOMPARE(f.OutputDestRect, (TRectF{0, 119, 1000, 681}));

        f.SetClientHeight(700);
        QTRY_COMPARE(f.OutputDestRect, (TRectF{0, 69, 1000, 631}));
        f.SetClientHeight(500);
        QTRY_COMPARE(f.OutputDestRect, (TRectF{56, 0, 944, 500}));
        QCOMPARE(f.CameraSourceRect, (TRectF{0, 0, 1280, 720}));

        // Stopped, the last size the camera ran with still counts.
        f.CameraComponent->SetActive(false);
        f.SetClientHeight(700);
        QTRY_COMPARE(f.OutputDestRect, (TRectF{0, 69, 1000, 631}));
    }

    // ------------------------------------------------------ press feedback

    void pressGrowsAroundTheCentre_data()
    {
        QTest::addColumn<int>("icon");
        for (int i = 0; i < int(std::size(Icons)); ++i)
            QTest::newRow(Icons[i].Name) << i;
    }

    void pressGrowsAroundTheCentre()
    {
        QFETCH(int, icon);
        const IconCase& c = Icons[icon];
        WindowRig rig({Vga}, {Vga});
        F& f = *rig.form;
        QVERIFY(showAt(rig, 1000, 800));
        QTest::mouseClick(f.widget(), Qt::LeftButton, {}, PictureSpot);
        QVERIFY(f.IsToolsVisible);
        rig.clock.advance(500);

        TRectangle* r = f.*c.Icon;
        const QPoint at = c.Rest + QPoint(40, 40);
        QTest::mousePress(f.widget(), Qt::LeftButton, {}, at);
        QCOMPARE(f.PressedIconId, c.Id);
        QCOMPARE(r->Scale(), (TPointF{1.3f, 1.3f}));
        QCOMPARE(r->Position(), (TPointF{float(c.Pressed.x()), float(c.Pressed.y())}));
        QCOMPARE(r->widget()->geometry(), QRect(c.Pressed, QSize(104, 104)));
        QCOMPARE(f.Children(f.ChildrenCount() - 1), static_cast<TControl*>(r));
        QCOMPARE(stackingIndex(f, r->widget()), topStackingIndex(f));
        QVERIFY(f.IconPressStopwatch.IsRunning());
        // Only the pressed icon still takes the pointer; controls that are
        // no rectangles keep theirs.
        for (TRectangle* other : rectanglesOf(f))
            QVERIFY2(other->HitTest() == (other == r), other->Name().c_str());
        QVERIFY(f.CameraResolutionsTrackBar->HitTest());
        QVERIFY(f.OKButton->HitTest());

        rig.clock.advance(120);
        QTest::mouseRelease(f.widget(), Qt::LeftButton, {}, at);
        QCOMPARE(r->Scale(), (TPointF{1.0f, 1.0f}));
        QCOMPARE(r->Position(), (TPointF{float(c.Rest.x()), float(c.Rest.y())}));
        QCOMPARE(r->widget()->geometry(), QRect(c.Rest, QSize(80, 80)));
        QVERIFY(!f.IconPressStopwatch.IsRunning());
        QCOMPARE(f.IconPressStopwatch.ElapsedMilliseconds(), qint64(120));
        for (TRectangle* any : rectanglesOf(f))
            QVERIFY2(any->HitTest(), any->Name().c_str());
        // It stays in front, and the click reached the icon's handler.
        QCOMPARE(f.Children(f.ChildrenCount() - 1), static_cast<TControl*>(r));
        QVERIFY(c.Acted(f));
    }

    void fractionalRestReturnsWhole()
    {
        WindowRig rig({Vga});
        F& f = *rig.form;
        QVERIFY(showAt(rig, 1000, 800));
        rig.clock.advance(500);
        TRectangle* r = f.CameraIconRectangle;
        r->SetPositionX(459.5f);

        // Centre trunc(459.5 + 40) = 499, so the pressed icon lies at
        // 499 - 52 = 447.
        QTest::mousePress(f.widget(), Qt::LeftButton, {}, QPoint(500, 320));
        QCOMPARE(r->Position(), (TPointF{447, 268}));
        QTest::mouseRelease(f.widget(), Qt::LeftButton, {}, QPoint(500, 320));
        QCOMPARE(r->Position(), (TPointF{459, 280}));
        QCOMPARE(f.CameraIconLeft, 459);
    }

    // The layout starts from scratch but keeps the press: the held icon
    // takes its new size and rest place at scale 1.3, and the release
    // brings it to the new rest place.
    void resizeWhileHeld()
    {
        WindowRig rig({Vga});
        F& f = *rig.form;
        QVERIFY(showAt(rig, 1000, 800));
        rig.clock.advance(500);
        TRectangle* r = f.CameraIconRectangle;

        QTest::mousePress(f.widget(), Qt::LeftButton, {}, QPoint(500, 320));
        f.SetClientWidth(600);
        f.SetClientHeight(900);
        QTRY_COMPARE(f.ScreenHeight, 900.0);
        QCOMPARE(r->Position(), (TPointF{264, 324}));
        QCOMPARE(r->Scale(), (TPointF{1.3f, 1.3f}));
        QCOMPARE(r->widget()->geometry(), QRect(264, 324, 94, 94));
        QVERIFY(!f.OutputRectangle->HitTest());
        QVERIFY(r->HitTest());

        QTest::mouseRelease(f.widget(), Qt::LeftButton, {}, QPoint(300, 360));
        QCOMPARE(r->Scale(), (TPointF{1.0f, 1.0f}));
        QCOMPARE(r->Position(), (TPointF{264, 324}));
        QCOMPARE(r->widget()->geometry(), QRect(264, 324, 72, 72));
        QVERIFY(f.OutputRectangle->HitTest());
    }

    void pressTooSoonShowsNoFeedback_data()
    {
        QTest::addColumn<bool>("afterAnotherPress");
        QTest::addColumn<int>("gap");
        QTest::addColumn<bool>("feedback");

        QTest::newRow("499 ms after start") << false << 499 << false;
        QTest::newRow("500 ms after start") << false << 500 << true;
        QTest::newRow("499 ms after the eye's press") << true << 499 << false;
        QTest::newRow("500 ms after the eye's press") << true << 500 << true;
    }

    void pressTooSoonShowsNoFeedback()
    {
        QFETCH(bool, afterAnotherPress);
        QFETCH(int, gap);
        QFETCH(bool, feedback);

        WindowRig rig({Vga});
        F& f = *rig.form;
        QVERIFY(showAt(rig, 1000, 800));
        QTest::mouseClick(f.widget(), Qt::LeftButton, {}, PictureSpot);
        int pressedBefore = 0;
        if (afterAnotherPress) {
            rig.clock.advance(500);
            QTest::mouseClick(f.widget(), Qt::LeftButton, {}, QPoint(400, 480));
            QVERIFY(!f.QuorlEyeMode);
            pressedBefore = 3;
        }

        rig.clock.advance(gap);
        TRectangle* r = f.CameraIconRectangle;
        QTest::mousePress(f.widget(), Qt::LeftButton, {}, QPoint(500, 320));
        QCOMPARE(r->Scale().X == 1.3f, feedback);
        QCOMPARE(r->Position(), feedback ? (TPointF{448, 268}) : (TPointF{460, 280}));
        QCOMPARE(f.PressedIconId, feedback ? 2 : pressedBefore);
        QCOMPARE(f.OutputRectangle->HitTest(), !feedback);
        // A refused press does not restart the wait.
        QCOMPARE(f.IconRepeatStopwatch.ElapsedMilliseconds(), feedback ? qint64(0) : qint64(gap));

        // The click is judged on the last accepted press, which was short.
        QTest::mouseRelease(f.widget(), Qt::LeftButton, {}, QPoint(500, 320));
        QCOMPARE(r->Position(), (TPointF{460, 280}));
        QVERIFY(f.CameraComponent->Active());
        QCOMPARE(rig.source->startCount(), 1);
    }

    void heldIconMakesThePictureDeaf()
    {
        WindowRig rig({Vga});
        F& f = *rig.form;
        QVERIFY(showAt(rig, 1000, 800));
        QVERIFY(!f.IsToolsVisible);
        rig.clock.advance(500);

        QTest::mousePress(f.widget(), Qt::LeftButton, {}, QPoint(500, 320));
        QWidget* picture = f.OutputRectangle->widget();
        // Qt's hit testing passes through the picture, and a click given to
        // its widget all the same reaches no handler.
        QVERIFY(f.widget()->childAt(PictureSpot) != picture);
        clickWidgetDirectly(picture, PictureSpot);
        QVERIFY(!f.IsToolsVisible);
        QVERIFY(!f.ButtonsVisibleTimer->Enabled());

        // Released beside the icon: no click, but the picture hears again.
        QTest::mouseRelease(f.widget(), Qt::LeftButton, {}, QPoint(300, 600));
        QVERIFY(!f.CameraComponent->Active());
        QCOMPARE(f.widget()->childAt(PictureSpot), picture);
        QTest::mouseClick(f.widget(), Qt::LeftButton, {}, PictureSpot);
        QVERIFY(f.IsToolsVisible);
        QVERIFY(f.ButtonsVisibleTimer->Enabled());
    }

    void leaveActsOnlyForThePressedIcon()
    {
        WindowRig rig({Vga});
        F& f = *rig.form;
        QVERIFY(showAt(rig, 1000, 800));
        QTest::mouseClick(f.widget(), Qt::LeftButton, {}, PictureSpot);
        rig.clock.advance(500);
        TRectangle* camera = f.CameraIconRectangle;

        QTest::mousePress(f.widget(), Qt::LeftButton, {}, QPoint(500, 320));
        sendLeave(f.EyeIconRectangle->widget());
        QCOMPARE(camera->Scale(), (TPointF{1.3f, 1.3f}));
        QCOMPARE(camera->Position(), (TPointF{448, 268}));
        QVERIFY(!f.OutputRectangle->HitTest());
        QVERIFY(!f.EyeIconRectangle->HitTest());
        QVERIFY(f.IconPressStopwatch.IsRunning());
        QCOMPARE(f.EyeIconRectangle->Position(), (TPointF{360, 440}));

        // Leaving the pressed icon releases it like a release would.
        rig.clock.advance(30);
        sendLeave(camera->widget());
        QCOMPARE(camera->Scale(), (TPointF{1.0f, 1.0f}));
        QCOMPARE(camera->Position(), (TPointF{460, 280}));
        QVERIFY(f.OutputRectangle->HitTest());
        QVERIFY(!f.IconPressStopwatch.IsRunning());
        QCOMPARE(f.IconPressStopwatch.ElapsedMilliseconds(), qint64(30));
        QTest::mouseRelease(f.widget(), Qt::LeftButton, {}, QPoint(500, 320));
        QCOMPARE(camera->Position(), (TPointF{460, 280}));
    }

    void longPressIsNoClick_data()
    {
        QTest::addColumn<int>("icon");
        QTest::addColumn<int>("held");
        QTest::addColumn<bool>("acts");
        for (int i = 0; i < int(std::size(Icons)); ++i) {
            QTest::addRow("%s held 500 ms", Icons[i].Name) << i << 500 << true;
            QTest::addRow("%s held 501 ms", Icons[i].Name) << i << 501 << false;
        }
    }

    void longPressIsNoClick()
    {
        QFETCH(int, icon);
        QFETCH(int, held);
        QFETCH(bool, acts);
        const IconCase& c = Icons[icon];

        WindowRig rig({Vga}, {Vga});
        F& f = *rig.form;
        QVERIFY(showAt(rig, 1000, 800));
        QTest::mouseClick(f.widget(), Qt::LeftButton, {}, PictureSpot);
        rig.clock.advance(500);
        QVERIFY(!c.Acted(f));

        const QPoint at = c.Rest + QPoint(40, 40);
        QTest::mousePress(f.widget(), Qt::LeftButton, {}, at);
        rig.clock.advance(held);
        QTest::mouseRelease(f.widget(), Qt::LeftButton, {}, at);
        QCOMPARE(c.Acted(f), acts);
        QCOMPARE((f.*c.Icon)->Position(), (TPointF{float(c.Rest.x()), float(c.Rest.y())}));
    }

    // ----------------------------------------------------------- auto-hide

    void fadeTickByTick()
    {
        WindowRig rig({Vga});
        F& f = *rig.form;
        f.OutputRectangleClick(f.OutputRectangle);
        TRectangle* const icons[] = {f.SettingsIconRectangle, f.CameraIconRectangle, f.EyeIconRectangle,
                                     f.SwitchFrontAndBackCameraIconRectangle, f.AboutIconRectangle};

        for (int tick = 1; tick <= 208; ++tick) {
            f.ButtonsVisibleTimerTimer(f.ButtonsVisibleTimer);
            const int steps = qMax(0, tick - 200);
            for (TRectangle* icon : icons) {
                QVERIFY2(fadedBy(icon->Opacity(), steps), qPrintable(QString("tick %1").arg(tick)));
                QVERIFY(icon->Visible());
            }
            QCOMPARE(f.ButtonsVisibleTimerCount, tick);
            QVERIFY(f.ButtonsVisibleTimer->Enabled());
            QVERIFY(f.IsToolsVisible);
        }

        // Nine steps of 0.1 in floats end just under 0.1: hidden at tick 209.
        f.ButtonsVisibleTimerTimer(f.ButtonsVisibleTimer);
        for (TRectangle* icon : icons) {
            QVERIFY(icon->Opacity() < 0.1f);
            QCOMPARE(QString::number(icon->Opacity(), 'g', 6), QString("0.0999999"));
            QVERIFY(!icon->Visible());
        }
        QVERIFY(!f.IsToolsVisible);
        QVERIFY(!f.ButtonsVisibleTimer->Enabled());
        QCOMPARE(f.ButtonsVisibleTimerCount, 0);

        // The settings panel's label and track bar are never faded or hidden.
        QCOMPARE(f.CameraResolutionsLabel->Opacity(), 1.0f);
        QCOMPARE(f.CameraResolutionsTrackBar->Opacity(), 1.0f);
        QVERIFY(!f.CameraResolutionsLabel->Visible());
        QVERIFY(!f.CameraResolutionsTrackBar->Visible());
    }

    void panelStaysWhileToolsFade()
    {
        WindowRig rig({Vga});
        F& f = *rig.form;
        f.OutputRectangleClick(f.OutputRectangle);
        f.CameraResolutionsLabel->SetVisible(true);
        f.CameraResolutionsTrackBar->SetVisible(true);
        for (int tick = 1; tick <= 209; ++tick)
            f.ButtonsVisibleTimerTimer(f.ButtonsVisibleTimer);
        QVERIFY(!f.SettingsIconRectangle->Visible());
        QVERIFY(f.CameraResolutionsLabel->Visible());
        QVERIFY(f.CameraResolutionsTrackBar->Visible());
        QCOMPARE(f.CameraResolutionsLabel->Opacity(), 1.0f);
        QCOMPARE(f.CameraResolutionsTrackBar->Opacity(), 1.0f);
    }

    void commandHoldsTheOpacity_data()
    {
        QTest::addColumn<int>("command");
        QTest::addColumn<int>("ticksBefore");
        QTest::addColumn<int>("stepsBefore");

        // 0: eye, 1: front/back, 2: camera.
        QTest::newRow("eye before the fade") << 0 << 150 << 0;
        QTest::newRow("front/back before the fade") << 1 << 200 << 0;
        QTest::newRow("eye during the fade") << 0 << 203 << 3;
        QTest::newRow("front/back during the fade") << 1 << 205 << 5;
        QTest::newRow("camera during the fade") << 2 << 201 << 1;
    }

    void commandHoldsTheOpacity()
    {
        QFETCH(int, command);
        QFETCH(int, ticksBefore);
        QFETCH(int, stepsBefore);

        WindowRig rig({Vga}, {Vga});
        F& f = *rig.form;
        f.OutputRectangleClick(f.OutputRectangle);
        for (int tick = 0; tick < ticksBefore; ++tick)
            f.ButtonsVisibleTimerTimer(f.ButtonsVisibleTimer);
        const float held = f.SettingsIconRectangle->Opacity();
        QVERIFY(fadedBy(held, stepsBefore));

        switch (command) {
        case 0: f.EyeIconRectangleClick(f.EyeIconRectangle); break;
        case 1: f.SwitchFrontAndBackCameraIconRectangleClick(f.SwitchFrontAndBackCameraIconRectangle); break;
        case 2: f.CameraIconRectangleClick(f.CameraIconRectangle); break;
        }
        QCOMPARE(f.ButtonsVisibleTimerCount, 0);

        // A full 200 ticks more at the opacity the command found, then the
        // fade goes on from there.
        for (int tick = 1; tick <= 200; ++tick) {
            f.ButtonsVisibleTimerTimer(f.ButtonsVisibleTimer);
            QVERIFY2(f.SettingsIconRectangle->Opacity() == held && f.AboutIconRectangle->Opacity() == held,
                     qPrintable(QString("tick %1").arg(tick)));
        }
        QVERIFY(f.IsToolsVisible);
        f.ButtonsVisibleTimerTimer(f.ButtonsVisibleTimer);
        QVERIFY(fadedBy(f.SettingsIconRectangle->Opacity(), stepsBefore + 1));
        QVERIFY(fadedBy(f.EyeIconRectangle->Opacity(), stepsBefore + 1));
    }

    void faintIconsHideAtTheFirstTick()
    {
        WindowRig rig({Vga});
        F& f = *rig.form;
        f.OutputRectangleClick(f.OutputRectangle);
        for (int tick = 1; tick <= 209; ++tick)
            f.ButtonsVisibleTimerTimer(f.ButtonsVisibleTimer);
        const float faint = f.SettingsIconRectangle->Opacity();
        QVERIFY(!f.ButtonsVisibleTimer->Enabled());

        // The camera command restarts the countdown but not the opacity.
        f.CameraIconRectangleClick(f.CameraIconRectangle);
        QVERIFY(f.ButtonsVisibleTimer->Enabled());
        QCOMPARE(f.SettingsIconRectangle->Opacity(), faint);
        f.ButtonsVisibleTimerTimer(f.ButtonsVisibleTimer);
        QVERIFY(!f.ButtonsVisibleTimer->Enabled());
        QCOMPARE(f.ButtonsVisibleTimerCount, 0);
        QCOMPARE(f.SettingsIconRectangle->Opacity(), faint);
        QVERIFY(!f.CameraIconRectangle->Visible());

        // A tap on the picture brings them back whole.
        f.OutputRectangleClick(f.OutputRectangle);
        QCOMPARE(f.SettingsIconRectangle->Opacity(), 1.0f);
        QVERIFY(f.CameraIconRectangle->Visible());
    }

    void warningCalloutHidesAtTick59()
    {
        WindowRig rig({Vga});
        F& f = *rig.form;
        TCalloutRectangle* callout = f.WarningCalloutRectangle;
        callout->SetVisible(true);
        f.WarningTimer->SetEnabled(true);

        for (int tick = 1; tick <= 58; ++tick) {
            f.WarningTimerTimer(f.WarningTimer);
            QVERIFY2(fadedBy(callout->Opacity(), qMax(0, tick - 50)), qPrintable(QString("tick %1").arg(tick)));
            QVERIFY(callout->Visible());
            QCOMPARE(f.WarningTimerCount, tick);
        }
        f.WarningTimerTimer(f.WarningTimer);
        QVERIFY(callout->Opacity() < 0.1f);
        QVERIFY(!callout->Visible());
        QVERIFY(!f.WarningTimer->Enabled());
        QCOMPARE(f.WarningTimerCount, 0);
        // The tools' countdown is a separate one.
        QCOMPARE(f.CameraIconRectangle->Opacity(), 1.0f);
        QVERIFY(f.CameraIconRectangle->Visible());
    }
};

QTEST_MAIN(TestLayout)
#include "tst_layout.moc"
