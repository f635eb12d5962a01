// Mouse input goes through the window, as a real pointer's would: Qt picks
// the widget under the pointer, so stacking, visibility and HitTest decide
// who gets the click.
#define QTEST_QPA_MOUSE_HANDLING

#include <QPlainTextEdit>
#include <QTest>
#include <QTimer>

#include <memory>

#include "platform/controls.h"
#include "platform/form.h"
#include "platform/timing.h"
#include "support/manual_clock.h"

namespace {

std::unique_ptr<TForm> shownForm(int W = 400, int H = 300)
{
    auto form = std::make_unique<TForm>(nullptr);
    form->SetClientWidth(W);
    form->SetClientHeight(H);
    form->Show();
    return form;
}

template <class T>
T* place(T* C, TFmxObject* Parent, TRectF R)
{
    C->SetParent(Parent);
    C->SetPosition({R.Left, R.Top});
    C->SetSize(R.Width(), R.Height());
    return C;
}

TRectangle* logged(TRectangle* R, const QString& Name, QStringList& Log)
{
    R->OnClick = [&Log, Name](TObject*) { Log << Name + ":click"; };
    R->OnMouseDown = [&Log, Name](TObject*, TMouseButton, TShiftState, float X, float Y) {
        Log << QStringLiteral("%1:down(%2,%3)").arg(Name).arg(X).arg(Y);
    };
    R->OnMouseUp = [&Log, Name](auto...) { Log << Name + ":up"; };
    R->OnMouseLeave = [&Log, Name](TObject*) { Log << Name + ":leave"; };
    return R;
}

// Pointer steps in the window: "pX,Y" press, "mX,Y" move, "rX,Y" release.
void drive(TForm& Form, const QString& Steps)
{
    for (const QString& step : Steps.split(' ')) {
        const auto type = step[0] == 'p' ? QTest::MousePress : step[0] == 'r' ? QTest::MouseRelease : QTest::MouseMove;
        const QPoint at(step.mid(1).section(',', 0, 0).toInt(), step.section(',', 1).toInt());
        QTest::mouseEvent(type, Form.widget(), Qt::LeftButton, {}, at);
    }
}

// A control that notes its destruction.
struct Logged : TRectangle {
    Logged(TForm* F, TFmxObject* P, QString N, QStringList& L) : TRectangle(F), name(N), log(L) { SetParent(P); }
    ~Logged() override { log << name; }
    QString name;
    QStringList& log;
};

}  // namespace

class TstPlatform : public QObject {
    Q_OBJECT

private slots:
    // What Qt is told about a rectangle: its widget geometry (position
    // rounded, size scaled then rounded, growing from the top-left) and
    // whether its face hides what lies beneath. Claiming opaque when it is
    // not leaves stale pixels on the screen.
    void rectangleWidget()
    {
        auto form = shownForm(1000, 800);
        auto* rect = place(new TRectangle(form.get()), form.get(), {459.5f, 280, 508.5f, 329});
        rect->Fill().SetKind(TBrushKind::Bitmap);
        rect->Fill().Bitmap().setImage(QImage(64, 48, QImage::Format_RGB32));  // a camera picture
        auto opaque = [&] { return rect->widget()->testAttribute(Qt::WA_OpaquePaintEvent); };
        QCOMPARE(rect->widget()->geometry(), QRect(460, 280, 49, 49));
        QCOMPARE(rect->Position().X, 459.5f);
        QVERIFY(opaque());
        rect->SetScale({1.3f, 1.3f});
        QCOMPARE(rect->widget()->geometry(), QRect(460, 280, 64, 64));  // 63.7 rounds up
        QVERIFY(!opaque());
        rect->SetScale({1, 1});
        QVERIFY(opaque());
        rect->SetWidth(49.5f);
        QVERIFY(!opaque());
        rect->SetWidth(49);
        rect->SetOpacity(0.5f);
        QVERIFY(!opaque());
        rect->SetOpacity(1);
        QImage icon(64, 48, QImage::Format_ARGB32);
        icon.fill(Qt::transparent);
        rect->Fill().Bitmap().setImage(icon);
        QVERIFY(!opaque());
    }

    // A 50x50 rectangle at (10, 10) on a green panel, pressed to scale 1.3:
    // its 4x4 black bitmap is stretched over 65x65, and repainted whenever
    // the program draws into it.
    void rectangleFace()
    {
        auto form = shownForm();
        auto* panel = place(new TRectangle(form.get()), form.get(), {0, 0, 100, 100});
        panel->Fill().SetColor(0xFF00FF00);
        auto* rect = place(new TRectangle(form.get()), panel, {10, 10, 60, 60});
        rect->SetScale({1.3f, 1.3f});
        rect->Fill().SetKind(TBrushKind::Bitmap);
        struct PaintCounter : QObject {
            int paints = 0;
            bool eventFilter(QObject*, QEvent* E) override { return (paints += E->type() == QEvent::Paint), false; }
        } counter;
        rect->widget()->installEventFilter(&counter);
        QTRY_VERIFY(counter.paints > 0);
        counter.paints = 0;
        rect->Fill().Bitmap().SetSize(4, 4);  // a new bitmap is opaque black
        QTRY_VERIFY(counter.paints > 0);
        auto pixel = [&](int X, int Y) { return panel->widget()->grab().toImage().pixel(X, Y); };
        QCOMPARE(pixel(74, 74), qRgb(0, 0, 0));
        QCOMPARE(pixel(75, 75), qRgb(0, 255, 0));
        rect->Fill().SetKind(TBrushKind::Solid);
        rect->Fill().SetColor(0x00000000);
        QCOMPARE(pixel(30, 30), qRgb(0, 255, 0));  // a transparent colour paints nothing
    }

    // A (0,0 100x100) lies under B (50,50 100x100).
    void pointer_data()
    {
        QTest::addColumn<QString>("change");
        QTest::addColumn<QString>("steps");
        QTest::addColumn<QString>("expected");
        const QString both = "p75,75 r75,75", aClicked = "A:down(75,75) A:up A:click";
        QTest::newRow("later child on top") << "" << both << "B:down(25,25) B:up B:click";
        QTest::newRow("A brought to front") << "A.BringToFront" << both << aClicked;
        QTest::newRow("B without HitTest passes it on") << "B.HitTest=false" << both << aClicked;
        QTest::newRow("hidden B takes nothing") << "B.Visible=false" << both << aClicked;
        QTest::newRow("neither takes it") << "A.HitTest=false B.HitTest=false" << both << "";
        QTest::newRow("scaled B, unscaled coordinates") << "B.Scale=2" << both << "B:down(12.5,12.5) B:up B:click";
        QTest::newRow("released elsewhere inside") << "" << "p10,10 m40,90 r40,90" << "A:down(10,10) A:up A:click";
        QTest::newRow("released on the window") << "" << "p10,10 m250,250 r250,250" << "A:down(10,10) A:up A:leave";
        // A pressed icon grows and shrinks back in OnMouseUp: a release on
        // the edge of the grown icon still clicks it.
        QTest::newRow("click judged before OnMouseUp reshapes") << "A.Grows" << "p10,10 m110,110 r110,110"
                                                                << "A:up A:click";
        QTest::newRow("leaving") << "" << "m20,20 m120,120 m300,250" << "A:leave B:leave";
    }

    void pointer()
    {
        QFETCH(QString, change);
        QFETCH(QString, steps);
        auto form = shownForm();
        QStringList log;
        auto* a = logged(place(new TRectangle(form.get()), form.get(), {0, 0, 100, 100}), "A", log);
        auto* b = logged(place(new TRectangle(form.get()), form.get(), {50, 50, 150, 150}), "B", log);
        if (change.contains("A.BringToFront"))
            a->BringToFront();
        a->SetHitTest(!change.contains("A.HitTest=false"));
        b->SetHitTest(!change.contains("B.HitTest=false"));
        b->SetVisible(!change.contains("B.Visible=false"));
        b->SetScale(change.contains("B.Scale=2") ? TPointF{2, 2} : TPointF{1, 1});
        if (change.contains("A.Grows")) {
            a->OnMouseDown = [a](auto...) { a->BringToFront(), a->SetScale({1.3f, 1.3f}), a->SetPosition({-15, -15}); };
            a->OnMouseUp = [a, &log](auto...) { a->SetScale({1, 1}), a->SetPosition({0, 0}), log << "A:up"; };
        }
        drive(*form, steps);
        QTEST(log.join(' '), "expected");
    }

    // Dragging over a memo's text selects it; a press on the selection
    // starts a new selection rather than a text drag. A drag would take the
    // press over: the memo would never get its release, and its auto-scroll
    // (started by the move out of the box) would go on starting drags that
    // take the press from other controls.
    void memoPressOnSelection()
    {
        auto form = shownForm();
        auto* memo = place(new TMemo(form.get()), form.get(), {0, 0, 300, 100});
        memo->SetReadOnly(true);
        memo->Lines().Add("Some animals see only what moves, never what stands still.");
        QStringList log;
        memo->OnMouseUp = [&log](auto...) { log << "M:up"; };
        logged(place(new TRectangle(form.get()), form.get(), {0, 200, 100, 300}), "R", log);
        auto* edit = static_cast<QPlainTextEdit*>(memo->widget());
        drive(*form, "p10,12 m200,12 r200,12");
        const QTextCursor first = edit->textCursor();
        QVERIFY(first.hasSelection());
        drive(*form, "p60,12 m350,250 r350,250");
        QVERIFY(edit->textCursor().selectionStart() > first.selectionStart());
        drive(*form, "p50,250 m51,251 r51,251");
        QCOMPARE(log.join(' '), "M:up M:up R:down(50,50) R:up R:click");
    }

    // A 280 px bar from 0 to 10 at Value 5: the thumb centre runs from x 6
    // to x 274, so x 140 is 5. "=N" sets Value from code.
    void trackBar_data()
    {
        QTest::addColumn<bool>("tracking");
        QTest::addColumn<QString>("steps");
        QTest::addColumn<float>("value");
        QTest::addColumn<int>("trackings");
        QTest::addColumn<int>("changes");
        QTest::newRow("code: new value") << true << "=7" << 7.0f << 0 << 1;
        QTest::newRow("code: same value") << true << "=5" << 5.0f << 0 << 0;
        QTest::newRow("code: above Max clamps") << true << "=12" << 10.0f << 0 << 1;
        QTest::newRow("tracking: a change per step") << true << "p6,10 m140,10 r274,10" << 10.0f << 3 << 3;
        QTest::newRow("no tracking: one change on release") << false << "p6,10 m140,10 r274,10" << 10.0f << 3 << 1;
        QTest::newRow("no tracking: back where it began") << false << "p140,10 m274,10 r140,10" << 5.0f << 2 << 0;
        QTest::newRow("dragging past the end clamps") << true << "p140,10 m400,10 r500,10" << 10.0f << 1 << 1;
    }

    void trackBar()
    {
        QFETCH(bool, tracking);
        QFETCH(QString, steps);
        auto form = shownForm(600, 300);
        auto* bar = place(new TTrackBar(form.get()), form.get(), {0, 0, 280, 20});
        bar->SetValue(5);
        bar->SetTracking(tracking);
        int changed = 0, tracked = 0;
        bar->OnChange = [&](TObject*) { ++changed; };
        bar->OnTracking = [&](TObject*) { ++tracked; };
        if (steps.startsWith('='))
            bar->SetValue(steps.mid(1).toFloat());
        else
            drive(*form, steps);
        QTEST(bar->Value(), "value");
        QTEST(tracked, "trackings");
        QTEST(changed, "changes");
    }

    // Client fills the window and follows it; Center keeps its size and
    // stays centred, on half pixels for an odd size.
    void alignFollowsResize()
    {
        auto form = shownForm();
        int resizes = 0;
        form->OnResize = [&](TObject*) { ++resizes; };
        auto* output = place(new TRectangle(form.get()), form.get(), {0, 0, 640, 480});
        output->SetAlign(TAlignLayout::Client);
        auto* callout = place(new TRectangle(form.get()), form.get(), {0, 0, 240, 100});
        callout->SetAlign(TAlignLayout::Center);
        form->SetClientWidth(501);
        form->SetClientHeight(301);
        QTRY_VERIFY(resizes > 0);
        QCOMPARE(output->widget()->geometry(), QRect(0, 0, 501, 301));
        QCOMPARE(callout->Position(), (TPointF{130.5f, 100.5f}));
    }

    // The program's close sequence, ticked by a timer that starts disabled
    // as the window definition leaves it: the close box is refused, then
    // Close() from inside the timer's own handler is allowed and Run comes
    // back. A disabled timer never ticks meanwhile.
    void closeSequence()
    {
        TForm* form = nullptr;
        Application.CreateForm(form);
        QList<bool> visible;
        form->OnCloseQuery = [&](TObject*, bool& CanClose) { CanClose = !visible.isEmpty(); };
        auto* timer = new TTimer(form);
        auto* idle = new TTimer(form);
        int idleTicks = 0;
        idle->OnTimer = [&](TObject*) { ++idleTicks; };
        for (TTimer* t : {timer, idle}) {
            t->SetEnabled(false);
            t->SetInterval(1);
        }
        timer->SetEnabled(true);
        timer->OnTimer = [&](TObject*) {
            visible.isEmpty() ? void(form->widget()->close()) : form->Close();
            visible << form->widget()->isVisible();
            timer->SetEnabled(!form->isClosed());
        };
        QTimer::singleShot(10000, qApp, [] { qApp->quit(); });  // a guard, should Run never return
        Application.Run();
        QCOMPARE(visible, (QList<bool>{true, false}));
        QCOMPARE(idleTicks, 0);
        Application.Terminate();
    }

    // An owner deletes what it owns, newest first; a deleted control leaves
    // its parent and its owner.
    void ownership()
    {
        QStringList destroyed;
        auto form = std::make_unique<TForm>(nullptr);
        auto* panel = new Logged(form.get(), form.get(), "panel", destroyed);
        new Logged(form.get(), panel, "label", destroyed);
        delete new Logged(form.get(), form.get(), "icon", destroyed);
        QCOMPARE(form->ChildrenCount(), 1);
        new Logged(form.get(), nullptr, "timer-like", destroyed);
        form.reset();
        QCOMPARE(destroyed, (QStringList{"icon", "timer-like", "label", "panel"}));
    }

    void stopwatch()
    {
        ManualClock clock(1'000'000);
        TStopwatch watch = TStopwatch::Create();
        clock.advance(100);
        QCOMPARE(watch.ElapsedMilliseconds(), 0);
        watch.Start();
        clock.advance(120);
        watch.Stop();
        clock.advance(500);
        QCOMPARE(watch.ElapsedMilliseconds(), 120);
        watch.Start();
        clock.advance(30);
        QCOMPARE(watch.ElapsedMilliseconds(), 150);
        watch.Reset();
        clock.advance(40);
        QCOMPARE(watch.ElapsedMilliseconds(), 0);  // and stopped
    }
};

QTEST_MAIN(TstPlatform)
#include "tst_platform.moc"
