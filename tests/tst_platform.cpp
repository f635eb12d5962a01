// Mouse input goes through the window, as a real pointer's would: Qt picks
// the widget under the pointer, so stacking, visibility and HitTest are
// what decides who gets the click.
#define QTEST_QPA_MOUSE_HANDLING

#include <QGraphicsEffect>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <memory>

#include "platform/controls.h"
#include "platform/form.h"
#include "platform/screen.h"
#include "platform/style_book.h"
#include "platform/timing.h"
#include "support/fake_screen_service.h"
#include "support/manual_clock.h"

namespace {

// A shown window of the given client size with an optional list of
// rectangles (all children of the window, in stacking order).
std::unique_ptr<TForm> shownForm(int W = 400, int H = 300)
{
    auto form = std::make_unique<TForm>(nullptr);
    form->SetClientWidth(W);
    form->SetClientHeight(H);
    form->Show();
    return form;
}

TRectangle* addRectangle(TForm& Form, const char* Name, TRectF R, QStringList* Log)
{
    auto* rect = new TRectangle(&Form);
    rect->SetName(Name);
    rect->SetParent(&Form);
    rect->SetPosition({R.Left, R.Top});
    rect->SetSize(R.Width(), R.Height());
    if (Log) {
        const QString name = QString::fromLatin1(Name);
        rect->OnClick = [Log, name](TObject*) { *Log << name + ":click"; };
        rect->OnMouseDown = [Log, name](TObject*, TMouseButton, TShiftState, float X, float Y) {
            *Log << QStringLiteral("%1:down(%2,%3)").arg(name).arg(X).arg(Y);
        };
        rect->OnMouseUp = [Log, name](TObject*, TMouseButton, TShiftState, float, float) { *Log << name + ":up"; };
        rect->OnMouseLeave = [Log, name](TObject*) { *Log << name + ":leave"; };
    }
    return rect;
}

QImage solidImage(int W, int H, QRgb Colour)
{
    QImage image(W, H, QImage::Format_ARGB32);
    image.fill(Colour);
    return image;
}

}  // namespace

class TstPlatform : public QObject {
    Q_OBJECT

private slots:
    void widgetGeometry_data();
    void widgetGeometry();
    void faceIsPaintedAtScale_data();
    void faceIsPaintedAtScale();
    void fillBitmapChangeRepaints();
    void clickGoesToTopmostTaker_data();
    void clickGoesToTopmostTaker();
    void clickNeedsReleaseInside_data();
    void clickNeedsReleaseInside();
    void clickJudgedBeforeMouseUpReshapes();
    void mouseLeave();
    void opaqueOnlyWhenProvable_data();
    void opaqueOnlyWhenProvable();
    void trackBarFromCode_data();
    void trackBarFromCode();
    void trackBarDrag_data();
    void trackBarDrag();
    void alignFollowsResize_data();
    void alignFollowsResize();
    void closeQuery_data();
    void closeQuery();
    void runReturnsAfterCloseFromTimer();
    void keyDown_data();
    void keyDown();
    void ownership();
    void stopwatch_data();
    void stopwatch();
    void timerEnabledAndInterval();
    void styleBook_data();
    void styleBook();
    void memoLines();
    void stockWidgetOpacity();
    void effectiveFontSize();
    void screenService();
};

void TstPlatform::widgetGeometry_data()
{
    QTest::addColumn<float>("x");
    QTest::addColumn<float>("y");
    QTest::addColumn<float>("size");
    QTest::addColumn<float>("scale");
    QTest::addColumn<QRect>("expected");

    QTest::newRow("fractional position is rounded on the widget only") << 459.5f << 280.0f << 80.0f << 1.0f
                                                                        << QRect(460, 280, 80, 80);
    QTest::newRow("pressed icon grows from its top-left corner") << 448.0f << 268.0f << 80.0f << 1.3f
                                                                  << QRect(448, 268, 104, 104);
    QTest::newRow("50 px icon at 1.3") << 10.0f << 20.0f << 50.0f << 1.3f << QRect(10, 20, 65, 65);
    QTest::newRow("49 px icon at 1.3 rounds 63.7") << 0.0f << 0.0f << 49.0f << 1.3f << QRect(0, 0, 64, 64);
}

void TstPlatform::widgetGeometry()
{
    QFETCH(float, x);
    QFETCH(float, y);
    QFETCH(float, size);
    QFETCH(float, scale);
    QFETCH(QRect, expected);

    auto form = shownForm(1000, 800);
    TRectangle* rect = addRectangle(*form, "R", {0, 0, size, size}, nullptr);
    rect->SetScale({scale, scale});
    rect->SetPosition({x, y});

    QCOMPARE(rect->widget()->geometry(), expected);
    // The control keeps the exact values the program gave it.
    QCOMPARE(rect->Position(), (TPointF{x, y}));
    QCOMPARE(rect->Width(), size);
}

void TstPlatform::faceIsPaintedAtScale_data()
{
    QTest::addColumn<int>("kind");
    QTest::addColumn<uint>("colour");
    QTest::addColumn<float>("scale");
    QTest::addColumn<QPoint>("probe");
    QTest::addColumn<QRgb>("expected");

    const int bitmap = int(TBrushKind::Bitmap);
    const int solid = int(TBrushKind::Solid);
    // A 50x50 rectangle at (10, 10) on a green panel; its bitmap is a 4x4
    // red square, stretched.
    QTest::newRow("bitmap covers the rectangle") << bitmap << 0u << 1.0f << QPoint(59, 59) << qRgb(255, 0, 0);
    QTest::newRow("scaled bitmap covers 65x65") << bitmap << 0u << 1.3f << QPoint(74, 74) << qRgb(255, 0, 0);
    QTest::newRow("nothing past the scaled face") << bitmap << 0u << 1.3f << QPoint(75, 75) << qRgb(0, 255, 0);
    QTest::newRow("solid colour") << solid << 0xFF0000FFu << 1.0f << QPoint(30, 30) << qRgb(0, 0, 255);
    QTest::newRow("transparent colour paints nothing") << solid << 0x00000000u << 1.0f << QPoint(30, 30)
                                                       << qRgb(0, 255, 0);
}

void TstPlatform::faceIsPaintedAtScale()
{
    QFETCH(int, kind);
    QFETCH(uint, colour);
    QFETCH(float, scale);
    QFETCH(QPoint, probe);
    QFETCH(QRgb, expected);

    auto form = shownForm();
    TRectangle* panel = addRectangle(*form, "Panel", {0, 0, 100, 100}, nullptr);
    panel->Fill().SetColor(0xFF00FF00);
    panel->Stroke().SetKind(TBrushKind::None);
    auto* rect = new TRectangle(form.get());
    rect->SetParent(panel);
    rect->SetPosition({10, 10});
    rect->SetSize(50, 50);
    rect->SetScale({scale, scale});
    rect->Stroke().SetKind(TBrushKind::None);
    rect->Fill().SetKind(TBrushKind(kind));
    rect->Fill().SetColor(colour);
    rect->Fill().SetWrapMode(TWrapMode::TileStretch);
    rect->Fill().Bitmap().setImage(solidImage(4, 4, qRgb(255, 0, 0)));

    const QImage picture = panel->widget()->grab().toImage();
    QCOMPARE(QColor(picture.pixel(probe)), QColor(expected));
}

void TstPlatform::fillBitmapChangeRepaints()
{
    auto form = shownForm();
    QVERIFY(QTest::qWaitForWindowExposed(form->widget()));
    TRectangle* rect = addRectangle(*form, "Output", {0, 0, 100, 100}, nullptr);
    rect->Fill().SetKind(TBrushKind::Bitmap);
    rect->Fill().Bitmap().SetSize(100, 100);

    struct PaintCounter : QObject {
        int paints = 0;
        bool eventFilter(QObject*, QEvent* E) override
        {
            paints += E->type() == QEvent::Paint;
            return false;
        }
    } counter;
    rect->widget()->installEventFilter(&counter);
    QTRY_VERIFY(counter.paints > 0);
    counter.paints = 0;

    // Drawing into the bitmap is all the program does; the picture must
    // follow without being asked.
    rect->Fill().Bitmap().setImage(solidImage(100, 100, qRgb(1, 2, 3)));
    QTRY_VERIFY(counter.paints > 0);
}

void TstPlatform::clickGoesToTopmostTaker_data()
{
    QTest::addColumn<QString>("change");
    QTest::addColumn<QStringList>("expected");

    // A (0,0 100x100) lies under B (50,50 100x100); the click is at (75,75).
    QTest::newRow("later child on top") << "" << QStringList{"B:down(25,25)", "B:up", "B:click"};
    QTest::newRow("A brought to front") << "A.BringToFront" << QStringList{"A:down(75,75)", "A:up", "A:click"};
    QTest::newRow("B without HitTest passes it on") << "B.HitTest=false"
                                                    << QStringList{"A:down(75,75)", "A:up", "A:click"};
    QTest::newRow("hidden B takes nothing") << "B.Visible=false" << QStringList{"A:down(75,75)", "A:up", "A:click"};
    QTest::newRow("neither takes it") << "A.HitTest=false B.HitTest=false" << QStringList{};
    QTest::newRow("B scaled, coordinates unscaled")
        << "B.Scale=2" << QStringList{"B:down(12.5,12.5)", "B:up", "B:click"};
}

void TstPlatform::clickGoesToTopmostTaker()
{
    QFETCH(QString, change);
    QFETCH(QStringList, expected);

    auto form = shownForm();
    QStringList log;
    TRectangle* a = addRectangle(*form, "A", {0, 0, 100, 100}, &log);
    TRectangle* b = addRectangle(*form, "B", {50, 50, 150, 150}, &log);
    if (change.contains("A.BringToFront"))
        a->BringToFront();
    if (change.contains("A.HitTest=false"))
        a->SetHitTest(false);
    if (change.contains("B.HitTest=false"))
        b->SetHitTest(false);
    if (change.contains("B.Visible=false"))
        b->SetVisible(false);
    if (change.contains("B.Scale=2"))
        b->SetScale({2.0f, 2.0f});

    QTest::mouseClick(form->widget(), Qt::LeftButton, {}, QPoint(75, 75));
    QCOMPARE(log, expected);
    // The child list is the stacking order.
    QCOMPARE(form->Children(form->ChildrenCount() - 1), change.contains("BringToFront") ? a : b);
}

void TstPlatform::clickNeedsReleaseInside_data()
{
    QTest::addColumn<QPoint>("release");
    QTest::addColumn<QStringList>("expected");

    // A at (0,0 100x100), B at (200,0 100x100); the press is in A.
    QTest::newRow("released inside") << QPoint(90, 90) << QStringList{"A:down(10,10)", "A:up", "A:click"};
    QTest::newRow("released on the window") << QPoint(150, 50) << QStringList{"A:down(10,10)", "A:up"};
    QTest::newRow("released on another control") << QPoint(250, 50) << QStringList{"A:down(10,10)", "A:up"};
}

void TstPlatform::clickNeedsReleaseInside()
{
    QFETCH(QPoint, release);
    QFETCH(QStringList, expected);

    auto form = shownForm();
    QStringList log;
    addRectangle(*form, "A", {0, 0, 100, 100}, &log);
    addRectangle(*form, "B", {200, 0, 300, 100}, &log);

    QTest::mousePress(form->widget(), Qt::LeftButton, {}, QPoint(10, 10));
    QTest::mouseMove(form->widget(), release);
    QTest::mouseRelease(form->widget(), Qt::LeftButton, {}, release);
    log.removeAll("A:leave");  // leaving while held is not what this is about
    QCOMPARE(log, expected);
}

// A pressed icon grows around its centre and shrinks back in OnMouseUp; a
// release near the edge of the grown icon is still a click on it.
void TstPlatform::clickJudgedBeforeMouseUpReshapes()
{
    auto form = shownForm();
    QStringList log;
    TRectangle* icon = addRectangle(*form, "Icon", {100, 100, 180, 180}, &log);
    icon->OnMouseDown = [icon](TObject*, TMouseButton, TShiftState, float, float) {
        icon->SetScale({1.3f, 1.3f});
        icon->SetPosition({88, 88});
    };
    icon->OnMouseUp = [icon, &log](TObject*, TMouseButton, TShiftState, float, float) {
        icon->SetScale({1.0f, 1.0f});
        icon->SetPosition({100, 100});
        log << "Icon:up";
    };

    QTest::mousePress(form->widget(), Qt::LeftButton, {}, QPoint(140, 140));
    QCOMPARE(icon->widget()->geometry(), QRect(88, 88, 104, 104));
    QTest::mouseMove(form->widget(), QPoint(188, 188));
    QTest::mouseRelease(form->widget(), Qt::LeftButton, {}, QPoint(188, 188));
    log.removeAll("Icon:leave");
    QCOMPARE(log, (QStringList{"Icon:up", "Icon:click"}));
    QCOMPARE(icon->widget()->geometry(), QRect(100, 100, 80, 80));
}

void TstPlatform::mouseLeave()
{
    auto form = shownForm();
    QStringList log;
    addRectangle(*form, "A", {0, 0, 100, 100}, &log);
    addRectangle(*form, "B", {200, 0, 300, 100}, &log);

    QTest::mouseMove(form->widget(), QPoint(50, 50));
    QTest::mouseMove(form->widget(), QPoint(250, 50));
    QCOMPARE(log, QStringList{"A:leave"});
    QTest::mouseMove(form->widget(), QPoint(150, 150));
    QCOMPARE(log, (QStringList{"A:leave", "B:leave"}));
}

void TstPlatform::opaqueOnlyWhenProvable_data()
{
    QTest::addColumn<bool>("alpha");
    QTest::addColumn<float>("opacity");
    QTest::addColumn<float>("scale");
    QTest::addColumn<float>("width");
    QTest::addColumn<bool>("opaque");

    // Claiming opaque when it is not leaves stale pixels on the screen.
    QTest::newRow("camera picture") << false << 1.0f << 1.0f << 640.0f << true;
    QTest::newRow("icon with transparent corners") << true << 1.0f << 1.0f << 640.0f << false;
    QTest::newRow("fading") << false << 0.5f << 1.0f << 640.0f << false;
    QTest::newRow("scaled") << false << 1.0f << 1.3f << 640.0f << false;
    QTest::newRow("half pixel wide") << false << 1.0f << 1.0f << 640.5f << false;
}

void TstPlatform::opaqueOnlyWhenProvable()
{
    QFETCH(bool, alpha);
    QFETCH(float, opacity);
    QFETCH(float, scale);
    QFETCH(float, width);
    QFETCH(bool, opaque);

    auto form = shownForm(700, 500);
    TRectangle* rect = addRectangle(*form, "Output", {0, 0, 640, 480}, nullptr);
    rect->Fill().SetKind(TBrushKind::Bitmap);
    const QImage picture = alpha ? solidImage(64, 48, qRgba(0, 0, 0, 0)) : QImage(64, 48, QImage::Format_RGB32);
    rect->Fill().Bitmap().setImage(picture);
    rect->SetOpacity(opacity);
    rect->SetScale({scale, scale});
    rect->SetWidth(width);
    QCOMPARE(rect->widget()->testAttribute(Qt::WA_OpaquePaintEvent), opaque);

    // Back to a solid colour fill, nothing is claimed any more.
    rect->Fill().SetKind(TBrushKind::Solid);
    QVERIFY(!rect->widget()->testAttribute(Qt::WA_OpaquePaintEvent));
}

void TstPlatform::trackBarFromCode_data()
{
    QTest::addColumn<QString>("property");
    QTest::addColumn<float>("argument");
    QTest::addColumn<bool>("attached");
    QTest::addColumn<float>("value");
    QTest::addColumn<int>("changes");

    // The bar starts at Min 0, Max 10, Value 4.
    QTest::newRow("new value") << "Value" << 7.0f << true << 7.0f << 1;
    QTest::newRow("same value") << "Value" << 4.0f << true << 4.0f << 0;
    QTest::newRow("value above Max clamps") << "Value" << 12.0f << true << 10.0f << 1;
    QTest::newRow("Max below Value clamps") << "Max" << 3.0f << true << 3.0f << 1;
    QTest::newRow("Min above Value clamps") << "Min" << 5.0f << true << 5.0f << 1;
    QTest::newRow("wider range keeps Value") << "Max" << 20.0f << true << 4.0f << 0;
    QTest::newRow("detached handlers") << "Value" << 7.0f << false << 7.0f << 0;
    QTest::newRow("detached, clamping range") << "Max" << 1.0f << false << 1.0f << 0;
}

void TstPlatform::trackBarFromCode()
{
    QFETCH(QString, property);
    QFETCH(float, argument);
    QFETCH(bool, attached);
    QFETCH(float, value);
    QFETCH(int, changes);

    TTrackBar bar(nullptr);
    bar.SetMax(10.0f);
    bar.SetValue(4.0f);
    int changed = 0;
    int tracked = 0;
    if (attached) {
        bar.OnChange = [&](TObject* Sender) {
            QCOMPARE(Sender, static_cast<TObject*>(&bar));
            ++changed;
        };
        bar.OnTracking = [&](TObject*) { ++tracked; };
    }

    if (property == "Value")
        bar.SetValue(argument);
    else if (property == "Max")
        bar.SetMax(argument);
    else
        bar.SetMin(argument);

    QCOMPARE(bar.Value(), value);
    QCOMPARE(changed, changes);
    QCOMPARE(tracked, 0);
}

void TstPlatform::trackBarDrag_data()
{
    QTest::addColumn<float>("start");
    QTest::addColumn<bool>("tracking");
    QTest::addColumn<bool>("attached");
    QTest::addColumn<QList<int>>("path");  // x of press, moves..., release
    QTest::addColumn<float>("value");
    QTest::addColumn<int>("trackings");
    QTest::addColumn<int>("changes");

    // A 280 px bar from 0 to 10; the thumb centre runs from x 6 to x 274,
    // so x 140 is 5.
    const QList<int> across{6, 140, 274};
    const QList<int> outAndBack{6, 140, 6};
    const QList<int> pastTheEnd{140, 400, 500};
    QTest::newRow("tracking: a change per step") << 0.0f << true << true << across << 10.0f << 2 << 2;
    QTest::newRow("no tracking: one change on release") << 0.0f << false << true << across << 10.0f << 2 << 1;
    QTest::newRow("no tracking: back where it began") << 0.0f << false << true << outAndBack << 0.0f << 2 << 0;
    QTest::newRow("press off the thumb jumps there") << 0.0f << false << true << QList<int>{140} << 5.0f << 1 << 1;
    QTest::newRow("dragging past the end clamps") << 0.0f << true << true << pastTheEnd << 10.0f << 2 << 2;
    QTest::newRow("detached handlers fire nothing") << 0.0f << false << false << across << 10.0f << 0 << 0;
    QTest::newRow("no tracking: back to a value set by code")
        << 5.0f << false << true << QList<int>{140, 274, 140} << 5.0f << 2 << 0;
}

void TstPlatform::trackBarDrag()
{
    QFETCH(float, start);
    QFETCH(bool, tracking);
    QFETCH(bool, attached);
    QFETCH(QList<int>, path);
    QFETCH(float, value);
    QFETCH(int, trackings);
    QFETCH(int, changes);

    auto form = shownForm(600, 300);
    auto* bar = new TTrackBar(form.get());
    bar->SetParent(form.get());
    bar->SetPosition({0, 100});
    bar->SetSize(280, 20);
    bar->SetMax(10.0f);
    bar->SetValue(start);
    bar->SetTracking(tracking);
    int changed = 0;
    int tracked = 0;
    if (attached) {
        bar->OnChange = [&](TObject*) { ++changed; };
        bar->OnTracking = [&](TObject*) { ++tracked; };
    }

    QWidget* w = bar->widget();
    QTest::mousePress(w, Qt::LeftButton, {}, QPoint(path.first(), 10));
    for (int i = 1; i < path.size(); ++i)
        QTest::mouseMove(w, QPoint(path[i], 10));
    QTest::mouseRelease(w, Qt::LeftButton, {}, QPoint(path.last(), 10));

    QCOMPARE(bar->Value(), value);
    QCOMPARE(tracked, trackings);
    QCOMPARE(changed, changes);
}

void TstPlatform::alignFollowsResize_data()
{
    QTest::addColumn<QSize>("client");

    QTest::newRow("larger") << QSize(800, 600);
    QTest::newRow("smaller") << QSize(300, 200);
    QTest::newRow("odd size centres on half pixels") << QSize(501, 301);
}

void TstPlatform::alignFollowsResize()
{
    QFETCH(QSize, client);

    auto form = shownForm(640, 480);
    QVERIFY(QTest::qWaitForWindowExposed(form->widget()));
    int resizes = 0;
    form->OnResize = [&](TObject*) { ++resizes; };
    TRectangle* output = addRectangle(*form, "Output", {0, 0, 640, 480}, nullptr);
    output->SetAlign(TAlignLayout::Client);
    TRectangle* callout = addRectangle(*form, "Callout", {0, 0, 240, 100}, nullptr);
    callout->SetAlign(TAlignLayout::Center);
    auto* text = new TText(form.get());
    text->SetParent(callout);
    text->SetAlign(TAlignLayout::Client);

    form->SetClientWidth(client.width());
    form->SetClientHeight(client.height());

    QTRY_COMPARE(form->ClientWidth(), client.width());
    QTRY_COMPARE(form->ClientHeight(), client.height());
    QTRY_VERIFY(resizes > 0);
    QCOMPARE(output->Width(), float(client.width()));
    QCOMPARE(output->Height(), float(client.height()));
    QCOMPARE(output->widget()->geometry(), QRect(QPoint(0, 0), client));
    QCOMPARE(callout->Width(), 240.0f);
    QCOMPARE(callout->Position(), (TPointF{(client.width() - 240) / 2.0f, (client.height() - 100) / 2.0f}));
    QCOMPARE(text->Width(), 240.0f);
    QCOMPARE(text->Height(), 100.0f);
}

void TstPlatform::closeQuery_data()
{
    QTest::addColumn<bool>("closeBox");
    QTest::addColumn<bool>("allow");

    QTest::newRow("Close refused") << false << false;
    QTest::newRow("Close allowed") << false << true;
    QTest::newRow("close box refused") << true << false;
    QTest::newRow("close box allowed") << true << true;
}

void TstPlatform::closeQuery()
{
    QFETCH(bool, closeBox);
    QFETCH(bool, allow);

    auto form = shownForm();
    int queries = 0;
    form->OnCloseQuery = [&](TObject*, bool& CanClose) {
        ++queries;
        CanClose = allow;
    };
    if (closeBox)
        form->widget()->close();  // what the window manager's close box does
    else
        form->Close();

    QCOMPARE(queries, 1);
    QCOMPARE(form->widget()->isVisible(), !allow);
    QCOMPARE(form->isClosed(), allow);
}

// The program's close sequence: a timer refuses, then closes on a later
// tick from inside its own handler; Run must come back.
void TstPlatform::runReturnsAfterCloseFromTimer()
{
    TForm* form = nullptr;
    Application.CreateForm(form);
    int queries = 0;
    form->OnCloseQuery = [&](TObject*, bool& CanClose) { CanClose = ++queries >= 2; };
    auto* timer = new TTimer(form);
    timer->SetInterval(1);
    timer->OnTimer = [form, timer](TObject*) {
        form->Close();
        if (form->isClosed())
            timer->SetEnabled(false);
    };
    bool guardFired = false;
    QTimer::singleShot(10000, qApp, [&] {
        guardFired = true;
        qApp->quit();
    });

    Application.Run();

    QVERIFY(!guardFired);
    QCOMPARE(queries, 2);
    QVERIFY(form->isClosed());
    QCOMPARE(Application.MainForm(), form);
    Application.Terminate();
    QCOMPARE(Application.MainForm(), nullptr);
}

void TstPlatform::keyDown_data()
{
    QTest::addColumn<int>("qtKey");
    QTest::addColumn<int>("modifiers");
    QTest::addColumn<int>("key");
    QTest::addColumn<uint>("shift");

    QTest::newRow("Escape") << int(Qt::Key_Escape) << int(Qt::NoModifier) << int(vkEscape) << 0u;
    QTest::newRow("shifted letter") << int(Qt::Key_A) << int(Qt::ShiftModifier) << int('A') << uint(TShift::Shift);
    QTest::newRow("ctrl+alt digit") << int(Qt::Key_5) << int(Qt::ControlModifier | Qt::AltModifier) << int('5')
                                    << uint(TShift::Ctrl | TShift::Alt);
    QTest::newRow("key without a code") << int(Qt::Key_F1) << int(Qt::NoModifier) << 0 << 0u;
}

void TstPlatform::keyDown()
{
    QFETCH(int, qtKey);
    QFETCH(int, modifiers);
    QFETCH(int, key);
    QFETCH(uint, shift);

    auto form = shownForm();
    QList<int> keys;
    TShiftState seen = 0xFFFF;
    form->OnKeyDown = [&](TObject* Sender, std::uint16_t& Key, char16_t&, TShiftState Shift) {
        QCOMPARE(Sender, static_cast<TObject*>(form.get()));
        keys << Key;
        seen = Shift;
    };
    // QTest presses the modifier keys first, as a keyboard would.
    QTest::keyClick(form->widget(), Qt::Key(qtKey), Qt::KeyboardModifiers(modifiers));
    QVERIFY(!keys.isEmpty());
    QCOMPARE(keys.last(), key);
    QCOMPARE(seen, shift);
}

void TstPlatform::ownership()
{
    QStringList destroyed;
    struct Logged : TRectangle {
        Logged(TComponent* Owner, QString Name, QStringList& Log) : TRectangle(Owner), m_name(Name), m_log(Log) {}
        ~Logged() override { m_log << m_name; }
        QString m_name;
        QStringList& m_log;
    };

    auto form = std::make_unique<TForm>(nullptr);
    auto* panel = new Logged(form.get(), "panel", destroyed);
    panel->SetParent(form.get());
    auto* label = new Logged(form.get(), "label", destroyed);
    label->SetParent(panel);
    auto* icon = new Logged(form.get(), "icon", destroyed);
    icon->SetParent(form.get());
    QCOMPARE(form->ComponentCount(), 3);
    QCOMPARE(form->ChildrenCount(), 2);

    // A deleted control leaves its parent and its owner.
    delete icon;
    QCOMPARE(form->ChildrenCount(), 1);
    QCOMPARE(form->ComponentCount(), 2);
    QCOMPARE(form->Components(1), label);

    new Logged(form.get(), "timer-like", destroyed);
    form.reset();
    QCOMPARE(destroyed, (QStringList{"icon", "timer-like", "label", "panel"}));
}

void TstPlatform::stopwatch_data()
{
    QTest::addColumn<QString>("script");  // s start, p stop, r reset, +N ms pass
    QTest::addColumn<qint64>("elapsed");
    QTest::addColumn<bool>("running");

    QTest::newRow("created stopped") << "+100" << qint64(0) << false;
    QTest::newRow("running") << "s +120" << qint64(120) << true;
    QTest::newRow("stopped keeps its time") << "s +120 p +500" << qint64(120) << false;
    QTest::newRow("accumulates across runs") << "s +100 p +50 s +30" << qint64(130) << true;
    QTest::newRow("start twice counts once") << "s +10 s +10" << qint64(20) << true;
    QTest::newRow("reset stops and zeroes") << "s +100 r +40" << qint64(0) << false;
    QTest::newRow("reset then start") << "s +100 r s +40" << qint64(40) << true;
}

void TstPlatform::stopwatch()
{
    QFETCH(QString, script);
    QFETCH(qint64, elapsed);
    QFETCH(bool, running);

    ManualClock clock(1'000'000);
    TStopwatch watch = TStopwatch::Create();
    for (const QString& step : script.split(' ')) {
        if (step == "s")
            watch.Start();
        else if (step == "p")
            watch.Stop();
        else if (step == "r")
            watch.Reset();
        else
            clock.advance(step.mid(1).toLongLong());
    }
    QCOMPARE(watch.ElapsedMilliseconds(), elapsed);
    QCOMPARE(watch.IsRunning(), running);
}

void TstPlatform::timerEnabledAndInterval()
{
    TTimer on(nullptr);
    QVERIFY(on.Enabled());  // a new timer runs until the window definition says otherwise
    TTimer off(nullptr);
    TTimer noInterval(nullptr);
    int onTicks = 0, offTicks = 0, noIntervalTicks = 0;
    on.OnTimer = [&](TObject* Sender) {
        QCOMPARE(Sender, static_cast<TObject*>(&on));
        ++onTicks;
    };
    off.OnTimer = [&](TObject*) { ++offTicks; };
    noInterval.OnTimer = [&](TObject*) { ++noIntervalTicks; };
    off.SetEnabled(false);
    off.SetInterval(1);
    noInterval.SetInterval(0);
    on.SetInterval(1);
    QCOMPARE(on.Interval(), 1);

    QTRY_VERIFY(onTicks >= 5);
    QCOMPARE(offTicks, 0);
    QCOMPARE(noIntervalTicks, 0);

    on.SetEnabled(false);
    off.SetEnabled(true);
    const int onBefore = onTicks;
    QTRY_VERIFY(offTicks >= 5);
    QCOMPARE(onTicks, onBefore);
}

void TstPlatform::styleBook_data()
{
    QTest::addColumn<QString>("file");
    QTest::addColumn<bool>("loads");

    QTest::newRow("png with transparency") << "icon.png" << true;
    QTest::newRow("missing file") << "nowhere.png" << false;
    QTest::newRow("not an image") << "notes.txt" << false;
}

void TstPlatform::styleBook()
{
    QFETCH(QString, file);
    QFETCH(bool, loads);

    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    // A 16x16 badge: opaque red centre, fully transparent corner.
    QImage badge = solidImage(16, 16, qRgba(255, 0, 0, 255));
    badge.setPixel(0, 0, qRgba(0, 0, 0, 0));
    QVERIFY(badge.save(dir.filePath("icon.png")));
    QFile notes(dir.filePath("notes.txt"));
    QVERIFY(notes.open(QIODevice::WriteOnly));
    notes.write("not a picture");
    notes.close();

    TStyleBook book(nullptr);
    book.AddImage("settings", std::make_unique<TBitmap>(8, 8));
    QCOMPARE(book.LoadImage("badge", dir.filePath(file).toStdString()), loads);
    QCOMPARE(book.ImageCount(), loads ? 2 : 1);
    QVERIFY(book.FindImage("settings"));
    QCOMPARE(book.FindImage("no such key"), nullptr);

    const TBitmap* image = book.FindImage("badge");
    QCOMPARE(image != nullptr, loads);
    if (image) {
        QCOMPARE(image->Width(), 16);
        QVERIFY(image->hasAlpha());
        QCOMPARE(qAlpha(image->image().pixel(0, 0)), 0);
        QCOMPARE(qAlpha(image->image().pixel(8, 8)), 255);
    }
}

void TstPlatform::memoLines()
{
    auto form = shownForm();
    auto* memo = new TMemo(form.get());
    memo->SetParent(form.get());
    memo->SetSize(200, 100);
    memo->SetReadOnly(true);
    memo->SetWordWrap(true);
    int clicks = 0;
    memo->OnClick = [&](TObject*) { ++clicks; };
    auto* edit = qobject_cast<QPlainTextEdit*>(memo->widget());
    QVERIFY(edit);

    memo->Lines().Add("old");
    memo->Lines().Clear();
    memo->Lines().Add("Quorl Eye Vision v.1.0");
    memo->Lines().Add("");
    memo->Lines().Add("Made by");
    QCOMPARE(memo->Lines().Count(), 3);
    QCOMPARE(edit->toPlainText(), QString("Quorl Eye Vision v.1.0\n\nMade by"));
    QVERIFY(edit->isReadOnly());
    QCOMPARE(edit->lineWrapMode(), QPlainTextEdit::WidgetWidth);
    memo->SetWordWrap(false);
    QCOMPARE(edit->lineWrapMode(), QPlainTextEdit::NoWrap);

    QTest::mouseClick(form->widget(), Qt::LeftButton, {}, QPoint(50, 50));
    QCOMPARE(clicks, 1);
}

void TstPlatform::stockWidgetOpacity()
{
    auto form = shownForm();
    auto* button = new TButton(form.get());
    button->SetParent(form.get());
    button->SetSize(81, 35);
    button->SetText("OK");
    int clicks = 0;
    button->OnClick = [&](TObject*) { ++clicks; };
    auto* push = qobject_cast<QPushButton*>(button->widget());
    QVERIFY(push);
    QCOMPARE(push->text(), QString("OK"));

    button->SetOpacity(0.5f);
    QVERIFY(push->graphicsEffect());
    button->SetOpacity(1.0f);
    QCOMPARE(push->graphicsEffect(), nullptr);

    QTest::mouseClick(form->widget(), Qt::LeftButton, {}, QPoint(40, 17));
    QCOMPARE(clicks, 1);
    button->SetEnabled(false);
    QTest::mouseClick(form->widget(), Qt::LeftButton, {}, QPoint(40, 17));
    QCOMPARE(clicks, 1);
}

void TstPlatform::effectiveFontSize()
{
    TLabel label(nullptr);
    label.SetFontSize(20.0f);
    const float styleSize = label.EffectiveFontSize();
    QVERIFY(styleSize > 0.0f);
    label.SetStyledSettings(label.StyledSettings() & ~TStyledSetting::Size);
    QCOMPARE(label.EffectiveFontSize(), 20.0f);
    label.SetStyledSettings(TStyledSetting::All);
    QCOMPARE(label.EffectiveFontSize(), styleSize);
}

void TstPlatform::screenService()
{
    IFMXScreenService* desktop = ScreenService();
    QVERIFY(desktop);
    QCOMPARE(desktop->GetScreenOrientation(), TScreenOrientation::Landscape);
    QVERIFY(desktop->GetScreenScale() > 0.0f);

    FakeScreenService fake(TScreenOrientation::Portrait, 2.0f);
    InstallScreenService(&fake);
    QCOMPARE(ScreenService()->GetScreenOrientation(), TScreenOrientation::Portrait);
    QCOMPARE(ScreenService()->GetScreenScale(), 2.0f);
    InstallScreenService(nullptr);
    QCOMPARE(ScreenService(), nullptr);
    RestoreDesktopScreenService();
    QCOMPARE(ScreenService(), desktop);
}

QTEST_MAIN(TstPlatform)
#include "tst_platform.moc"
