// Picture fitting and icon geometry, as pure functions.

#include <QtTest>

#include "layout/icon_geometry.h"
#include "layout/picture_fitting.h"

Q_DECLARE_METATYPE(TRectF)

class TestLayoutMath : public QObject {
    Q_OBJECT

private slots:
    void fit_data()
    {
        QTest::addColumn<int>("captureW");
        QTest::addColumn<int>("captureH");
        QTest::addColumn<bool>("landscape");
        QTest::addColumn<double>("screenW");
        QTest::addColumn<double>("screenH");
        QTest::addColumn<TRectF>("dest");

        QTest::newRow("fits the width") << 1280 << 720 << true << 1000.0 << 700.0 << TRectF{0, 69, 1000, 631};
        QTest::newRow("too tall, fits the height") << 1280 << 720 << true << 1000.0 << 500.0
                                                   << TRectF{56, 0, 944, 500};
        QTest::newRow("never seen running: largest square") << 0 << 0 << true << 800.0 << 600.0
                                                            << TRectF{100, 0, 700, 600};
        QTest::newRow("portrait swaps the sides") << 1280 << 720 << false << 1000.0 << 700.0
                                                  << TRectF{303, 0, 696, 700};
        QTest::newRow("same aspect fills exactly") << 640 << 480 << true << 800.0 << 600.0 << TRectF{0, 0, 800, 600};
        QTest::newRow("fractional output truncated") << 1280 << 720 << true << 1000.9 << 700.9
                                                     << TRectF{0, 69, 1000, 631};
        QTest::newRow("odd leftover, smaller half first") << 100 << 100 << true << 100.0 << 101.0
                                                          << TRectF{0, 0, 100, 100};
        QTest::newRow("equal height keeps the width fit") << 1000 << 500 << true << 1000.0 << 500.0
                                                          << TRectF{0, 0, 1000, 500};
        QTest::newRow("one zero side") << 640 << 0 << true << 640.0 << 480.0 << TRectF{0, 239, 640, 240};
        QTest::newRow("empty output") << 640 << 480 << true << 0.0 << 0.0 << TRectF{0, 0, 0, 0};
        QTest::newRow("1 x 1 output") << 1920 << 1080 << true << 1.0 << 1.0 << TRectF{0, 0, 1, 0};
        QTest::newRow("very large output") << 3840 << 2160 << true << 4000.0 << 3000.0
                                           << TRectF{0, 375, 4000, 2625};
    }

    void fit()
    {
        QFETCH(int, captureW);
        QFETCH(int, captureH);
        QFETCH(bool, landscape);
        QFETCH(double, screenW);
        QFETCH(double, screenH);
        QFETCH(TRectF, dest);

        const PictureFit f = fitPicture(captureW, captureH, landscape, screenW, screenH);
        QCOMPARE(f.DestRect, dest);
        const int pw = landscape ? captureW : captureH;
        const int ph = landscape ? captureH : captureW;
        QCOMPARE(f.SourceRect, (TRectF{0, 0, float(pw), float(ph)}));
        // Always inside the truncated output, touching two opposite edges.
        const float ow = float(int(screenW)), oh = float(int(screenH));
        QVERIFY(f.DestRect.Left >= 0 && f.DestRect.Top >= 0 && f.DestRect.Right <= ow && f.DestRect.Bottom <= oh);
        QVERIFY((f.DestRect.Left == 0 && f.DestRect.Right == ow) || (f.DestRect.Top == 0 && f.DestRect.Bottom == oh));
    }

    void iconPlacement_data()
    {
        QTest::addColumn<double>("screenW");
        QTest::addColumn<double>("screenH");
        QTest::addColumn<int>("imageW");
        QTest::addColumn<int>("imageH");
        QTest::addColumn<double>("fx");
        QTest::addColumn<double>("fy");
        QTest::addColumn<QRectF>("placed");   // x, y, width, height as stored
        QTest::addColumn<QPoint>("restTopLeft");
        QTest::addColumn<QPoint>("restCentre");

        // 1000 x 800: every icon 80 x 80.
        QTest::newRow("switch") << 1000.0 << 800.0 << 128 << 128 << 0.3 << 0.4 << QRectF(260, 280, 80, 80)
                                << QPoint(260, 280) << QPoint(300, 320);
        QTest::newRow("camera") << 1000.0 << 800.0 << 128 << 128 << 0.5 << 0.4 << QRectF(460, 280, 80, 80)
                                << QPoint(460, 280) << QPoint(500, 320);
        QTest::newRow("settings") << 1000.0 << 800.0 << 128 << 128 << 0.7 << 0.4 << QRectF(660, 280, 80, 80)
                                  << QPoint(660, 280) << QPoint(700, 320);
        QTest::newRow("eye") << 1000.0 << 800.0 << 128 << 128 << 0.4 << 0.6 << QRectF(360, 440, 80, 80)
                             << QPoint(360, 440) << QPoint(400, 480);
        QTest::newRow("about") << 1000.0 << 800.0 << 128 << 128 << 0.6 << 0.6 << QRectF(560, 440, 80, 80)
                               << QPoint(560, 440) << QPoint(600, 480);
        // Taller than wide: sized from the height, 72 x 72.
        QTest::newRow("portrait camera") << 600.0 << 900.0 << 128 << 128 << 0.5 << 0.4 << QRectF(264, 324, 72, 72)
                                         << QPoint(264, 324) << QPoint(300, 360);
        QTest::newRow("portrait eye") << 600.0 << 900.0 << 128 << 128 << 0.4 << 0.6 << QRectF(204, 504, 72, 72)
                                      << QPoint(204, 504) << QPoint(240, 540);
        // A 128 x 64 image gives a 160 x 80 icon on the same centre.
        QTest::newRow("non-square image") << 1000.0 << 800.0 << 128 << 64 << 0.5 << 0.4
                                          << QRectF(420, 280, 160, 80) << QPoint(420, 280) << QPoint(500, 320);
        // Fractional places stay on the control; the rest geometry truncates.
        QTest::newRow("fractional") << 1001.0 << 801.0 << 128 << 128 << 0.5 << 0.4
                                    << QRectF(460.46, 280.36, 80.08, 80.08) << QPoint(460, 280)
                                    << QPoint(500, 320);
    }

    void iconPlacement()
    {
        QFETCH(double, screenW);
        QFETCH(double, screenH);
        QFETCH(int, imageW);
        QFETCH(int, imageH);
        QFETCH(double, fx);
        QFETCH(double, fy);
        QFETCH(QRectF, placed);
        QFETCH(QPoint, restTopLeft);
        QFETCH(QPoint, restCentre);

        const double longSide = screenW > screenH ? screenW : screenH;
        const IconPlacement p = placeIcon(screenW, screenH, longSide, 0.08, imageW, imageH, fx, fy);
        QCOMPARE(p.X, float(placed.x()));
        QCOMPARE(p.Y, float(placed.y()));
        QCOMPARE(p.Width, float(placed.width()));
        QCOMPARE(p.Height, float(placed.height()));
        QCOMPARE(QPoint(p.Left, p.Top), restTopLeft);
        QCOMPARE(QPoint(p.CentreX, p.CentreY), restCentre);
    }

    void press_data()
    {
        QTest::addColumn<QPointF>("position");
        QTest::addColumn<float>("size");
        QTest::addColumn<QPointF>("pressedAt");
        QTest::addColumn<QPoint>("rest");
        QTest::addColumn<QPoint>("centre");

        QTest::newRow("80 x 80 at (460, 280)") << QPointF(460, 280) << 80.0f << QPointF(448, 268) << QPoint(460, 280)
                                               << QPoint(500, 320);
        QTest::newRow("fractional rest drops the fraction") << QPointF(459.5, 280) << 81.0f
                                                            << QPointF(447.35, 267.35) << QPoint(459, 280)
                                                            << QPoint(500, 320);
        QTest::newRow("50 x 50 at the origin") << QPointF(0, 0) << 50.0f << QPointF(-7.5, -7.5) << QPoint(0, 0)
                                               << QPoint(25, 25);
    }

    void press()
    {
        QFETCH(QPointF, position);
        QFETCH(float, size);
        QFETCH(QPointF, pressedAt);
        QFETCH(QPoint, rest);
        QFETCH(QPoint, centre);

        const PressPlacement p = pressIcon({float(position.x()), float(position.y())}, size, size, 1.3f);
        QCOMPARE(QPoint(p.Left, p.Top), rest);
        QCOMPARE(QPoint(p.CentreX, p.CentreY), centre);
        QCOMPARE(p.Position.X, float(pressedAt.x()));
        QCOMPARE(p.Position.Y, float(pressedAt.y()));
    }
};

QTEST_APPLESS_MAIN(TestLayoutMath)
#include "tst_layout_math.moc"
