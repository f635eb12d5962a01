// Window layout, the icons' press feedback and the tools' auto-hide, through
// the real window: resizes and presses go through Qt's event system, timer
// ticks are handler calls. The arithmetic itself is in tst_layout_math.

// Mouse events go through the window system, so Qt's own hit testing,
// stacking and mouse-transparency decide which control gets them.
#define QTEST_QPA_MOUSE_HANDLING
#include <QtTest>

#include "support/window_fixture.h"

Q_DECLARE_METATYPE(TPointF)

namespace {

using F = TQuorlEyeMainForm;

// The five icons: their click handler, where each rests in a 1000 x 800
// window (80 x 80) and whether the handler acted.
struct IconCase {
    const char* Name;
    TRectangle* F::*Icon;
    void (F::*Click)(TObject*);
    int Id;
    int F::*Left, F::*Top;
    QPoint Rest;
    bool (*Acted)(const F&);
};

const IconCase Icons[] = {
    {"switch", &F::SwitchFrontAndBackCameraIconRectangle, &F::SwitchFrontAndBackCameraIconRectangleClick, 4,
     &F::SwitchCameraIconLeft, &F::SwitchCameraIconTop, {260, 280}, [](const F& f) { return !f.IsFrontCamera; }},
    {"camera", &F::CameraIconRectangle, &F::CameraIconRectangleClick, 2, &F::CameraIconLeft, &F::CameraIconTop,
     {460, 280}, [](const F& f) { return f.CameraComponent->Active(); }},
    {"settings", &F::SettingsIconRectangle, &F::SettingsIconRectangleClick, 5, &F::SettingsIconLeft,
     &F::SettingsIconTop, {660, 280}, [](const F& f) { return f.CameraResolutionsLabel->Visible(); }},
    {"eye", &F::EyeIconRectangle, &F::EyeIconRectangleClick, 3, &F::EyeIconLeft, &F::EyeIconTop, {360, 440},
     [](const F& f) { return !f.QuorlEyeMode; }},
    {"about", &F::AboutIconRectangle, &F::AboutIconRectangleClick, 1, &F::AboutIconLeft, &F::AboutIconTop,
     {560, 440}, [](const F& f) { return f.AboutMemo->Visible(); }},
};

// A point of the picture away from every tool, and the camera icon's centre.
const QPoint PictureSpot(40, 760), CameraSpot(500, 320);

// 1.0 minus Steps fade steps of 0.1, within float precision.
bool fadedBy(float Opacity, int Steps)
{
    return qAbs(double(Opacity) - (1.0 - 0.1 * Steps)) < 1e-6;
}

}  // namespace

class TestLayout : public QObject {
    Q_OBJECT

    std::unique_ptr<WindowRig> m_rig;

    // Shown at 1000 x 800, the tools brought up by a tap on the picture and
    // the first press allowed.
    bool showTools()
    {
        const bool shown = m_rig->show(1000, 800);
        QTest::mouseClick(m_rig->form->widget(), Qt::LeftButton, {}, PictureSpot);
        m_rig->clock.advance(500);
        return shown;
    }

private slots:
    void init() { m_rig = std::make_unique<WindowRig>(); }
    void cleanup() { m_rig.reset(); }

    void layout_data()
    {
        QTest::addColumn<QSize>("size");
        QTest::addColumn<int>("side");
        QTest::addColumn<QList<QPoint>>("rests");  // in the order of Icons
        QTest::addColumn<TPointF>("panel");        // the settings panel's label strip
        QTest::addColumn<TPointF>("ok");
        QTest::newRow("1000 x 800") << QSize(1000, 800) << 80
                                    << QList<QPoint>{{260, 280}, {460, 280}, {660, 280}, {360, 440}, {560, 440}}
                                    << TPointF{360, 360} << TPointF{459.5f, 420};
        QTest::newRow("600 x 900") << QSize(600, 900) << 72
                                   << QList<QPoint>{{144, 324}, {264, 324}, {384, 324}, {204, 504}, {324, 504}}
                                   << TPointF{160, 410} << TPointF{259.5f, 470};
    }

    // The window system resizes the shown window: everything follows.
    void layout()
    {
        QFETCH(QSize, size);
        QFETCH(int, side);
        QFETCH(QList<QPoint>, rests);
        QFETCH(TPointF, panel);
        QFETCH(TPointF, ok);
        F& f = *m_rig->form;
        QVERIFY(m_rig->show(640, 480));

        f.widget()->resize(size);
        QTRY_COMPARE(QSize(f.OutputBitmap().Width(), f.OutputBitmap().Height()), size);
        for (int i = 0; i < rests.size(); ++i) {
            QCOMPARE((f.*Icons[i].Icon)->widget()->geometry(), QRect(rests[i], QSize(side, side)));
            QCOMPARE(QPoint(f.*Icons[i].Left, f.*Icons[i].Top), rests[i]);
        }
        // Label strip above the centred track bar, OK below it with its half
        // pixel kept on the control.
        QCOMPARE(f.CameraResolutionsRectangle->Position(), panel);
        QCOMPARE(f.OKButton->Position(), ok);
    }

    void pressAndRelease_data()
    {
        QTest::addColumn<int>("icon");
        QTest::addColumn<int>("held");
        QTest::addColumn<float>("restX");  // where the icon rests before the press
        QTest::addColumn<QPoint>("pressed");
        QTest::addColumn<QPoint>("rest");  // and after the release
        for (int i = 0; i < int(std::size(Icons)); ++i)
            for (int held : {500, 501})
                QTest::addRow("%s held %d ms", Icons[i].Name, held)
                    << i << held << float(Icons[i].Rest.x()) << Icons[i].Rest - QPoint(12, 12) << Icons[i].Rest;
        // Centre trunc(459.5 + 40) = 499, pressed at 499 - 52; the release
        // drops the fraction.
        QTest::newRow("camera resting at 459.5") << 1 << 100 << 459.5f << QPoint(447, 268) << QPoint(459, 280);
    }

    // Pressed, an icon grows 1.3 times around its centre (80 -> 104: the
    // camera icon from (460, 280) to (448, 268)), comes to the front and is
    // the only rectangle that takes the pointer: the picture is deaf.
    // Released, it rests again and its command runs unless it was held
    // longer than 500 ms.
    void pressAndRelease()
    {
        QFETCH(int, icon);
        QFETCH(int, held);
        QFETCH(float, restX);
        QFETCH(QPoint, pressed);
        QFETCH(QPoint, rest);
        const IconCase& c = Icons[icon];
        QVERIFY(showTools());
        F& f = *m_rig->form;
        TRectangle* r = f.*c.Icon;
        const QPoint at = centreOf(r);
        r->SetPositionX(restX);

        QTest::mousePress(f.widget(), Qt::LeftButton, {}, at);
        QEvent leave(QEvent::Leave);  // another icon's leave changes nothing
        QCoreApplication::sendEvent((f.*Icons[(icon + 1) % std::size(Icons)].Icon)->widget(), &leave);
        QCOMPARE(f.PressedIconId, c.Id);
        QCOMPARE(r->Scale(), (TPointF{1.3f, 1.3f}));
        QCOMPARE(r->widget()->geometry(), QRect(pressed, QSize(104, 104)));
        QCOMPARE(f.Children(f.ChildrenCount() - 1), static_cast<TControl*>(r));
        QVERIFY(f.widget()->childAt(PictureSpot) != f.OutputRectangle->widget());
        for (const IconCase& other : Icons)
            QVERIFY2((f.*other.Icon)->HitTest() == (&other == &c), other.Name);

        m_rig->clock.advance(held);
        QTest::mouseRelease(f.widget(), Qt::LeftButton, {}, at);
        QCOMPARE(r->widget()->geometry(), QRect(rest, QSize(80, 80)));
        QCOMPARE(f.widget()->childAt(PictureSpot), f.OutputRectangle->widget());
        for (const IconCase& any : Icons)
            QVERIFY2((f.*any.Icon)->HitTest(), any.Name);
        QCOMPARE(c.Acted(f), held <= 500);
    }

    // 499 ms after the eye's accepted press the camera icon gets no feedback
    // and the wait is not restarted; the click is judged on the eye's press,
    // which was short. (The first press, 500 ms after start, is accepted:
    // pressAndRelease.)
    void pressTooSoonIsIgnored()
    {
        QVERIFY(showTools());
        F& f = *m_rig->form;
        QTest::mouseClick(f.widget(), Qt::LeftButton, {}, centreOf(f.EyeIconRectangle));
        m_rig->clock.advance(499);
        QTest::mousePress(f.widget(), Qt::LeftButton, {}, CameraSpot);
        QCOMPARE(f.CameraIconRectangle->widget()->geometry(), QRect(460, 280, 80, 80));
        QCOMPARE(f.PressedIconId, 3);
        QCOMPARE(f.IconRepeatStopwatch.ElapsedMilliseconds(), qint64(499));
        QTest::mouseRelease(f.widget(), Qt::LeftButton, {}, CameraSpot);
        QVERIFY(f.CameraComponent->Active());
    }

    void fadeTickByTick_data()
    {
        QTest::addColumn<bool>("warning");
        QTest::newRow("tool icons") << false;
        QTest::newRow("warning callout") << true;
    }

    // 200 ticks (the warning: 50) at full opacity, then 0.1 less a tick. In
    // floats nine steps end at 0.0999999, below 0.1: hidden a step early.
    // The settings panel is left alone.
    void fadeTickByTick()
    {
        QFETCH(bool, warning);
        F& f = *m_rig->form;
        const int limit = warning ? 50 : 200;
        TTimer* timer = warning ? f.WarningTimer : f.ButtonsVisibleTimer;
        std::vector<TControl*> faded{f.SettingsIconRectangle, f.CameraIconRectangle, f.EyeIconRectangle,
                                     f.SwitchFrontAndBackCameraIconRectangle, f.AboutIconRectangle};
        f.OutputRectangleClick(f.OutputRectangle);
        f.CameraResolutionsLabel->SetVisible(true);
        f.CameraResolutionsTrackBar->SetVisible(true);
        if (warning) {
            faded = {f.WarningCalloutRectangle};
            f.WarningCalloutRectangle->SetVisible(true);
            timer->SetEnabled(true);
        }

        for (int tick = 1; tick <= limit + 9; ++tick) {
            warning ? f.WarningTimerTimer(timer) : f.ButtonsVisibleTimerTimer(timer);
            const bool shown = tick < limit + 9;
            bool ok = (warning ? f.WarningTimerCount : f.ButtonsVisibleTimerCount) == (shown ? tick : 0) &&
                      timer->Enabled() == shown && (warning || f.IsToolsVisible == shown);
            for (TControl* c : faded)
                ok = ok && fadedBy(c->Opacity(), qMax(0, tick - limit)) && c->Visible() == shown;
            QVERIFY2(ok, qPrintable(QString("tick %1").arg(tick)));
        }
        QCOMPARE(QString::number(faded[0]->Opacity(), 'g', 6), QString("0.0999999"));
        QVERIFY(f.CameraResolutionsLabel->Visible() && f.CameraResolutionsTrackBar->Visible());
        QVERIFY(f.CameraResolutionsLabel->Opacity() == 1.0f && f.CameraResolutionsTrackBar->Opacity() == 1.0f);
    }

    void commandHoldsTheOpacity_data()
    {
        QTest::addColumn<int>("icon");
        QTest::addColumn<int>("ticksBefore");
        QTest::newRow("eye during the fade") << 3 << 203;
        QTest::newRow("front/back during the fade") << 0 << 205;
        QTest::newRow("camera after the icons hid") << 1 << 209;
    }

    // A command gives the icons 200 ticks more at the opacity it found, then
    // the fade goes on from there; icons already below 0.1 hide at once.
    void commandHoldsTheOpacity()
    {
        QFETCH(int, icon);
        QFETCH(int, ticksBefore);
        F& f = *m_rig->form;
        auto tick = [&f] { f.ButtonsVisibleTimerTimer(f.ButtonsVisibleTimer); };
        f.OutputRectangleClick(f.OutputRectangle);
        for (int i = 0; i < ticksBefore; ++i)
            tick();
        const int steps = ticksBefore - 200, hold = steps < 9 ? 200 : 0;
        const float held = f.SettingsIconRectangle->Opacity();
        // Through a reference: with -fsanitize=undefined, GCC 12 reads a
        // garbage index in Icons[icon] written inline in a member-pointer call.
        const IconCase& c = Icons[icon];
        (f.*c.Click)(f.*c.Icon);

        for (int i = 1; i <= hold; ++i)
            tick();
        QCOMPARE(f.SettingsIconRectangle->Opacity(), held);
        tick();
        QCOMPARE(f.ButtonsVisibleTimer->Enabled(), hold > 0);
        QVERIFY(fadedBy(f.EyeIconRectangle->Opacity(), hold > 0 ? steps + 1 : steps));
    }
};

QTEST_MAIN(TestLayout)
#include "tst_layout.moc"
