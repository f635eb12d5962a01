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

enum Pattern { Flat, Chequer, Pixel, Column, Row };

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
        QTest::newRow("shrunk from a huge source") << TRectF(-100, -100, 108, 106) << TRectF(0, 0, 64, 48)
                                                   << QRect(31, 23, 2, 2);
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
    // Smooth scaling to at least half the size blends the pixels whose
    // centres lie either side of c (clamped to the edge pixels), weights
    // rounded to 1/256, rows first, then columns.
    void drawScaled_data()
    {
        QTest::addColumn<QSize>("from");
        QTest::addColumn<QSize>("to");
        QTest::newRow("up, odd sizes") << QSize(13, 7) << QSize(29, 11);
        QTest::newRow("down to just over half") << QSize(37, 21) << QSize(19, 11);
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

    // Shrinking to less than half in a direction averages there: every
    // target pixel is the mean of the source pixels its footprint covers,
    // cut to what can be read, so edges are not darkened. Checked against
    // the mean worked out exactly, with a lit pixel, column or row at every
    // phase of the scale factor: none is dropped or counted twice. Flat
    // colours come out exactly; a chequerboard flat grey.
    void drawAveraged_data()
    {
        QTest::addColumn<QSize>("from");
        QTest::addColumn<TRectF>("src");
        QTest::addColumn<QSize>("to");
        QTest::addColumn<int>("pattern");
        auto row = [](const char* Name, int W, int H, TRectF Src, int ToW, int ToH, Pattern P) {
            QTest::newRow(Name) << QSize(W, H) << Src << QSize(ToW, ToH) << int(P);
        };
        row("flat, 3x", 192, 108, {0, 0, 192, 108}, 64, 36, Flat);
        row("flat, 3.84x, source partly outside", 96, 54, {-8, -4, 88, 50}, 25, 12, Flat);
        row("flat, fractional source", 96, 54, {0.3f, 0.7f, 95.2f, 53.1f}, 20, 11, Flat);
        row("chequerboard, 4x", 64, 48, {0, 0, 64, 48}, 16, 12, Chequer);
        row("chequerboard, 6x", 60, 36, {0, 0, 60, 36}, 10, 6, Chequer);
        row("lit pixel, 3x", 24, 24, {0, 0, 24, 24}, 8, 8, Pixel);
        row("lit pixel, 2.4x", 24, 24, {0, 0, 24, 24}, 10, 10, Pixel);
        row("lit column, 3x", 48, 6, {0, 0, 48, 6}, 16, 2, Column);
        row("lit column, 3.84x", 96, 8, {0, 0, 96, 8}, 25, 2, Column);
        row("lit column, 3x, rows blended", 48, 8, {0, 0, 48, 8}, 16, 7, Column);
        row("lit row, 3x", 6, 48, {0, 0, 6, 48}, 2, 16, Row);
        row("lit row, 2.5x", 6, 40, {0, 0, 6, 40}, 2, 16, Row);
    }

    void drawAveraged()
    {
        QFETCH(QSize, from);
        QFETCH(TRectF, src);
        QFETCH(QSize, to);
        QFETCH(int, pattern);
        constexpr TAlphaColor Grey = 0xFF8A5C21, Lit = 0xFFFFFFFF, Dark = 0xFF000000;
        TBitmap source(from.width(), from.height()), target(to.width(), to.height());
        // The part of source pixel I covered by target pixel T's footprint,
        // and the footprint's length, along one axis.
        struct Axis {
            double S0, Scale, Lo, Hi;
            double a(int T) const { return std::max(S0 + T * Scale, Lo); }
            double b(int T) const { return std::min(S0 + (T + 1) * Scale, Hi); }
            double part(int T, int I) const { return std::max(0.0, std::min(b(T), I + 1.0) - std::max(a(T), double(I))); }
            bool drawn(int T) const { const double c = S0 + (T + 0.5) * Scale; return c >= Lo && c < Hi; }
        };
        const Axis ax{src.Left, src.Width() / to.width(), std::max(0.0, double(src.Left)),
                      std::min(double(from.width()), double(src.Right))};
        const Axis ay{src.Top, src.Height() / to.height(), std::max(0.0, double(src.Top)),
                      std::min(double(from.height()), double(src.Bottom))};
        // One drawing for each phase of the lit pixel, column or row.
        const int phasesX = pattern == Pixel || pattern == Column ? from.width() : 1;
        const int phasesY = pattern == Pixel || pattern == Row ? from.height() : 1;
        for (int py = 0; py < phasesY; ++py)
            for (int px = 0; px < phasesX; ++px) {
                auto value = [&](int X, int Y) {
                    switch (Pattern(pattern)) {
                    case Flat: return Grey;
                    case Chequer: return (X + Y) % 2 ? Lit : Dark;
                    case Pixel: return X == px && Y == py ? Lit : Dark;
                    case Column: return X == px ? Lit : Dark;
                    case Row: return Y == py ? Lit : Dark;
                    }
                    return Dark;
                };
                for (int y = 0; y < from.height(); ++y)
                    for (int x = 0; x < from.width(); ++x)
                        source.scanLine(y)[x] = value(x, y);
                QVERIFY(target.Canvas().BeginScene());
                target.Canvas().Clear(Untouched);
                target.Canvas().DrawBitmap(source, src, {0, 0, float(to.width()), float(to.height())}, 1.0f, false);
                target.Canvas().EndScene();
                for (int ty = 0; ty < to.height(); ++ty)
                    for (int tx = 0; tx < to.width(); ++tx) {
                        const TAlphaColor got = target.constScanLine(ty)[tx];
                        if (!ax.drawn(tx) || !ay.drawn(ty)) {
                            QCOMPARE(got, Untouched);
                            continue;
                        }
                        if (pattern == Flat) {
                            QCOMPARE(got, Grey);
                            continue;
                        }
                        double mean = 0.0;
                        for (int y = int(ay.a(ty)); y < std::ceil(ay.b(ty)); ++y)
                            for (int x = int(ax.a(tx)); x < std::ceil(ax.b(tx)); ++x)
                                mean += ax.part(tx, x) * ay.part(ty, y) * (value(x, y) & 0xFF);
                        mean /= (ax.b(tx) - ax.a(tx)) * (ay.b(ty) - ay.a(ty));
                        if (pattern == Chequer)
                            QCOMPARE(got, target.constScanLine(0)[0]);
                        QVERIFY2(std::abs((got & 0xFF) - mean) <= 1.0 && got == (got & 0xFF) * 0x010101u + 0xFF000000u,
                                 qPrintable(QStringLiteral("phase (%1, %2), pixel (%3, %4): %5, want %6")
                                                .arg(px).arg(py).arg(tx).arg(ty)
                                                .arg(got, 8, 16, QLatin1Char('0')).arg(mean)));
                    }
            }
    }

    // The AVX2 row kernels of the scaled drawing give exactly what the SSE2
    // ones and the one-pixel reference give: rows of `span` source pixels
    // (random bytes, alpha included) blended with each other, and drawn into
    // `width` target pixels with the taps the drawing takes (target pixel
    // centres mapped into the row and clamped to its end pixels); the
    // averaging kernels the same way, over rows and along a row.
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
        QTest::newRow("frame, 1920 to 640") << 1920 << 640;
        QTest::newRow("down to a sixth, odd widths") << 115 << 19;
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
        // The averaging kernels: every target pixel averages `boxTaps` pixels
        // (or rows) with weights of a random split of 256, starting where
        // its footprint would, kept inside the row.
        const int boxTaps = std::min(span, span / width + 2);
        std::vector<std::int32_t> boxFirst(width);
        std::vector<std::uint16_t> boxWeight(std::size_t(width) * boxTaps);
        for (int x = 0; x < width; ++x) {
            boxFirst[x] = std::min(x * span / width, span - boxTaps);
            int left = 256;
            for (int k = 0; k < boxTaps; ++k) {
                const int w = k == boxTaps - 1 ? left : int(rng() % std::uint32_t(left + 1));
                boxWeight[std::size_t(x) * boxTaps + k] = std::uint16_t(w);
                left -= w;
            }
        }
        BoxTaps boxes;
        boxes.assign(boxFirst.data(), boxWeight.data(), boxTaps, width, span);
        std::vector<std::uint32_t> rows(std::size_t(span) * boxTaps);
        for (auto& p : rows)
            p = rng();

        struct Kernels {
            const char* Name;
            void (*LerpRow)(const std::uint32_t*, const std::uint32_t*, std::uint32_t*, int, std::uint32_t);
            void (*BlendColumns)(const std::uint32_t*, const ColumnTaps&, std::uint32_t*);
            void (*AverageRows)(const std::uint32_t*, std::ptrdiff_t, const std::uint16_t*, int, std::uint32_t*, int);
            void (*AverageColumns)(const std::uint32_t*, const BoxTaps&, std::uint32_t*);
        };
        const Kernels kernels[] = {{"sse2", scaleKernels::lerpRowSse2, scaleKernels::blendColumnsSse2,
                                    scaleKernels::averageRowsSse2, scaleKernels::averageColumnsSse2},
                                   {"avx2", scaleKernels::lerpRowAvx2, scaleKernels::blendColumnsAvx2,
                                    scaleKernels::averageRowsAvx2, scaleKernels::averageColumnsAvx2}};
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
            std::vector<std::uint32_t> averaged(span, Untouched), averagedWant(span);
            k.AverageRows(rows.data(), span, boxWeight.data(), boxTaps, averaged.data(), span);
            for (int i = 0; i < span; ++i)
                averagedWant[i] = averagePixels(rows.data() + i, span, boxWeight.data(), boxTaps);
            QString difference = firstDifference(averaged, averagedWant);
            QVERIFY2(difference.isEmpty(),
                     qPrintable(QStringLiteral("%1 averaged rows: %2").arg(QLatin1String(k.Name)).arg(difference)));
            std::vector<std::uint32_t> boxGot(width, Untouched), boxWant(width);
            k.AverageColumns(a.data(), boxes, boxGot.data());
            for (int x = 0; x < width; ++x)
                boxWant[x] = averagePixels(a.data() + boxFirst[x], 1, boxWeight.data() + std::size_t(x) * boxTaps, boxTaps);
            difference = firstDifference(boxGot, boxWant);
            QVERIFY2(difference.isEmpty(),
                     qPrintable(QStringLiteral("%1 averaged columns: %2").arg(QLatin1String(k.Name)).arg(difference)));
            if (span == 1)
                continue;
            std::vector<std::uint32_t> got(width, Untouched), want(width);
            k.BlendColumns(a.data(), taps, got.data());
            for (int x = 0; x < width; ++x)
                want[x] = lerpPixel(a[first[x]], a[std::min(first[x] + 1, span - 1)], weight[x]);
            difference = firstDifference(got, want);
            QVERIFY2(difference.isEmpty(),
                     qPrintable(QStringLiteral("%1 columns: %2").arg(QLatin1String(k.Name)).arg(difference)));
        }
    }
};

QTEST_MAIN(TestBitmap)
#include "tst_bitmap.moc"
