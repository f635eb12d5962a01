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

    // The AVX2 row kernels of the scaled drawing give exactly what the SSE2
    // ones and the one-pixel reference give: rows of `span` source pixels
    // (random bytes, alpha included) blended with each other, and drawn into
    // `width` target pixels with the taps the drawing takes (target pixel
    // centres mapped into the row and clamped to its end pixels).
    void scaleKernelsMatchReference_data()
    {
        QTest::addColumn<int>("span");
        QTest::addColumn<int>("width");
        QTest::newRow("up, odd widths, short rows") << 13 << 29;
        QTest::newRow("up, long rows") << 101 << 257;
        QTest::newRow("frame, 1280 to 1000") << 1280 << 1000;
        QTest::newRow("down, odd widths") << 77 << 45;
        QTest::newRow("down to about half") << 207 << 100;
        QTest::newRow("down to a third") << 99 << 31;
        QTest::newRow("same width") << 33 << 33;
        QTest::newRow("two pixels up") << 2 << 11;
        QTest::newRow("to one pixel") << 9 << 1;
        QTest::newRow("one pixel") << 1 << 1;
    }

    void scaleKernelsMatchReference()
    {
        QFETCH(int, span);
        QFETCH(int, width);
        std::mt19937 rng(std::uint32_t(span * 1000 + width));
        std::vector<std::uint32_t> a(span), b(span);
        for (int i = 0; i < span; ++i) {
            a[i] = rng();
            b[i] = rng();
        }
        std::vector<std::int32_t> first(width);
        std::vector<std::uint16_t> weight(width);
        for (int x = 0; x < width; ++x) {
            const double c = std::clamp((x + 0.5) * span / width - 0.5, 0.0, span - 1.0);
            first[x] = std::int32_t(std::floor(c));
            weight[x] = std::uint16_t(std::lround((c - first[x]) * 256));
        }
        // A one-pixel source row is filled, never blended across.
        ColumnTaps taps;
        if (span > 1)
            taps.assign(first.data(), weight.data(), width, span);

        // The first pixel where Got and Want differ, or an empty string.
        auto firstDifference = [](const std::vector<std::uint32_t>& Got, const std::vector<std::uint32_t>& Want) {
            const auto [g, w] = std::mismatch(Got.begin(), Got.end(), Want.begin());
            return g == Got.end() ? QString()
                                  : QStringLiteral("pixel %1: %2, want %3")
                                        .arg(g - Got.begin())
                                        .arg(*g, 8, 16, QLatin1Char('0'))
                                        .arg(*w, 8, 16, QLatin1Char('0'));
        };
        struct Kernels {
            const char* Name;
            void (*LerpRow)(const std::uint32_t*, const std::uint32_t*, std::uint32_t*, int, std::uint32_t);
            void (*BlendColumns)(const std::uint32_t*, const ColumnTaps&, std::uint32_t*);
        };
        const Kernels kernels[] = {{"sse2", scaleKernels::lerpRowSse2, scaleKernels::blendColumnsSse2},
                                   {"avx2", scaleKernels::lerpRowAvx2, scaleKernels::blendColumnsAvx2}};
        for (const Kernels& k : kernels) {
            if (k.LerpRow == scaleKernels::lerpRowAvx2 && !scaleKernels::hasAvx2())
                QSKIP("This processor has no AVX2; the SSE2 kernels passed.");
            for (const std::uint32_t w : {0u, 1u, 2u, 100u, 127u, 128u, 129u, 255u, 256u}) {
                std::vector<std::uint32_t> got(span, Untouched), want(span);
                k.LerpRow(a.data(), b.data(), got.data(), span, w);
                for (int i = 0; i < span; ++i)
                    want[i] = lerpPixel(a[i], b[i], w);
                const QString difference = firstDifference(got, want);
                QVERIFY2(difference.isEmpty(), qPrintable(QStringLiteral("%1 rows, weight %2: %3")
                                                              .arg(QLatin1String(k.Name))
                                                              .arg(w)
                                                              .arg(difference)));
            }
            if (span == 1)
                continue;
            std::vector<std::uint32_t> got(width, Untouched), want(width);
            k.BlendColumns(a.data(), taps, got.data());
            for (int x = 0; x < width; ++x)
                want[x] = lerpPixel(a[first[x]], a[std::min(first[x] + 1, span - 1)], weight[x]);
            const QString difference = firstDifference(got, want);
            QVERIFY2(difference.isEmpty(),
                     qPrintable(QStringLiteral("%1 columns: %2").arg(QLatin1String(k.Name)).arg(difference)));
        }
    }
};

QTEST_MAIN(TestBitmap)
#include "tst_bitmap.moc"
