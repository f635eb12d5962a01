#include <QtTest>

#include <algorithm>
#include <cmath>
#include <random>

#include "platform/bitmap.h"

// No drawing here produces this pixel (the sources have no green): it shows
// what was left untouched.
constexpr TAlphaColor Untouched = 0xFF00FF00;

static void fillRandom(TBitmap& B, std::uint32_t Mask = 0xFFFFFFFF)
{
    std::mt19937 rng(std::uint32_t(B.Width() * 1000 + B.Height()));
    for (int y = 0; y < B.Height(); ++y)
        for (int x = 0; x < B.Width(); ++x)
            B.scanLine(y)[x] = (rng() & Mask) | 0xFF000000u;
}

Q_DECLARE_METATYPE(TRectF)

class TestBitmap : public QObject {
    Q_OBJECT

private slots:
    // A frame's life in the pipeline, at row widths around the vector
    // code's steps: seeded by Assign into a buffer of the same size (or a new
    // one for a new size), mirrored in place, written through a mapping (the
    // pixel word is the colour 0xAARRGGBB) and kept by swapping buffers,
    // never copying. An empty bitmap can be neither mapped nor drawn on.
    void frameBuffers_data()
    {
        QTest::addColumn<int>("width");
        for (int w : {1, 2, 3, 5, 7, 8, 9, 16, 17, 641})
            QTest::addRow("%d", w) << w;
    }

    void frameBuffers()
    {
        QFETCH(int, width);
        TBitmap camera(width, 3), previous(width, 3), resized(width + 1, 2), empty;
        fillRandom(camera);
        const uchar *cameraBits = camera.image().constBits(), *previousBits = previous.image().constBits();
        int changes = 0;
        previous.OnChange = [&] { ++changes; };
        previous.Assign(camera);
        resized.Assign(camera);
        QVERIFY(previous.image() == camera.image() && resized.image() == camera.image());
        QCOMPARE(previous.image().constBits(), previousBits);
        const QImage mirrored = camera.image().mirrored(true, false);
        camera.FlipHorizontal();
        QCOMPARE(camera.image(), mirrored);
        TBitmapData data;
        QVERIFY(!empty.Map(TMapAccess::ReadWrite, data) && !empty.Canvas().BeginScene());
        QVERIFY(previous.Map(TMapAccess::ReadWrite, data));
        static_cast<std::uint32_t*>(data.GetScanline(2))[width - 1] = 0xFF405060;
        previous.Unmap(data);
        QCOMPARE(previous.image().pixel(width - 1, 2), 0xFF405060u);
        QCOMPARE(changes, 2);
        previous.Swap(camera);
        QCOMPARE(camera.image().constBits(), previousBits);
        QCOMPARE(previous.image().constBits(), cameraBits);
    }

    // An 8x6 source drawn into a 64x48 target cleared to Untouched: exactly
    // the pixels whose centres lie in the destination and map into the
    // source are drawn; equal sizes copy the pixels as they are. Whatever
    // the rectangles, nothing outside either bitmap is touched.
    void drawClipped_data()
    {
        QTest::addColumn<TRectF>("src");
        QTest::addColumn<TRectF>("dst");
        QTest::addColumn<QRect>("drawn");
        const TRectF all(0, 0, 8, 6);
        QTest::newRow("copy, part inside") << TRectF(2, 1, 7, 5) << TRectF(30, 20, 35, 24) << QRect(30, 20, 5, 4);
        QTest::newRow("copy over the top-left") << all << TRectF(-3, -2, 5, 4) << QRect(0, 0, 5, 4);
        QTest::newRow("copy over the bottom-right") << all << TRectF(60, 45, 68, 51) << QRect(60, 45, 4, 3);
        QTest::newRow("copy, source before") << TRectF(-3, -2, 5, 4) << TRectF(10, 10, 18, 16) << QRect(13, 12, 5, 4);
        QTest::newRow("copy, source beyond") << TRectF(4, 3, 12, 9) << TRectF(0, 0, 8, 6) << QRect(0, 0, 4, 3);
        QTest::newRow("fractional edges") << all << TRectF(10.4f, 5.6f, 20.5f, 9.5f) << QRect(10, 6, 10, 3);
        QTest::newRow("scaled, source beyond") << TRectF(4, 0, 12, 6) << TRectF(0, 0, 32, 24) << QRect(0, 0, 16, 24);
        QTest::newRow("scaled, source before") << TRectF(-8, -6, 8, 6) << TRectF(0, 0, 32, 24)
                                               << QRect(16, 12, 16, 12);
        QTest::newRow("huge") << all << TRectF(-1e30f, -1e30f, 1e30f, 1e30f) << QRect(0, 0, 64, 48);
        QTest::newRow("negative width") << all << TRectF(50, 5, 10, 45) << QRect();
        QTest::newRow("NaN") << all << TRectF(0, 0, std::nanf(""), 10) << QRect();
    }

    void drawClipped()
    {
        QFETCH(TRectF, src);
        QFETCH(TRectF, dst);
        QFETCH(QRect, drawn);
        TBitmap source(8, 6), target(64, 48);
        fillRandom(source, 0xFFFF00FF);
        QVERIFY(target.Canvas().BeginScene());
        target.Canvas().Clear(Untouched);
        target.Canvas().DrawBitmap(source, src, dst, 1.0f, false);
        target.Canvas().EndScene();
        for (int y = 0; y < 48; ++y)
            for (int x = 0; x < 64; ++x) {
                QCOMPARE(target.constScanLine(y)[x] != Untouched, drawn.contains(x, y));
                if (drawn.contains(x, y) && src.Width() == dst.Width() && src.Height() == dst.Height())
                    QCOMPARE(target.constScanLine(y)[x],
                             source.constScanLine(y - int(dst.Top - src.Top))[x - int(dst.Left - src.Left)]);
            }
    }

    // Whole pictures against the sampling written out plainly: the centre
    // of target pixel i lies at source coordinate c = (i + 0.5) * from / to.
    // Smooth scaling blends the pixels whose centres lie either side of c
    // (clamped to the edge pixels), weights rounded to 1/256, rows first,
    // then columns.
    void drawScaled_data()
    {
        QTest::addColumn<QSize>("from");
        QTest::addColumn<QSize>("to");
        QTest::newRow("up, odd sizes") << QSize(13, 7) << QSize(29, 11);
        QTest::newRow("down") << QSize(37, 21) << QSize(9, 5);
        QTest::newRow("720p to 562 rows shape") << QSize(128, 72) << QSize(100, 56);
        QTest::newRow("one column") << QSize(1, 5) << QSize(6, 9);
    }

    void drawScaled()
    {
        QFETCH(QSize, from);
        QFETCH(QSize, to);
        TBitmap source(from.width(), from.height()), target(to.width(), to.height());
        fillRandom(source);
        QVERIFY(target.Canvas().BeginScene());
        target.Canvas().DrawBitmap(source, {0, 0, float(from.width()), float(from.height())},
                                   {0, 0, float(to.width()), float(to.height())}, 1.0f, false);
        target.Canvas().EndScene();
        struct Tap { int I0, I1, W; };
        auto tap = [](int I, int From, int To) {
            const double s = std::clamp((I + 0.5) * From / To - 0.5, 0.0, From - 1.0);
            return Tap{int(s), std::min(int(s) + 1, From - 1), int(std::lround((s - std::floor(s)) * 256))};
        };
        auto lerp = [](TAlphaColor A, TAlphaColor B, int W) {
            TAlphaColor r = 0;
            for (int shift = 0; shift < 32; shift += 8)
                r |= ((A >> shift & 0xFF) * (256 - W) + (B >> shift & 0xFF) * W + 128) >> 8 << shift;
            return r;
        };
        for (int y = 0; y < to.height(); ++y) {
            const Tap ty = tap(y, from.height(), to.height());
            const TAlphaColor *r0 = source.constScanLine(ty.I0), *r1 = source.constScanLine(ty.I1);
            auto row = [&](int X) { return lerp(r0[X], r1[X], ty.W); };
            for (int x = 0; x < to.width(); ++x) {
                const Tap tx = tap(x, from.width(), to.width());
                QCOMPARE(target.constScanLine(y)[x], lerp(row(tx.I0), row(tx.I1), tx.W));
            }
        }
    }
};

QTEST_MAIN(TestBitmap)
#include "tst_bitmap.moc"
