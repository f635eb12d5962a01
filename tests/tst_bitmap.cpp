#include <QtTest>

#include <algorithm>
#include <cmath>
#include <limits>
#include <random>

#include "platform/bitmap.h"

namespace {

// A pixel no drawing in these tests produces: shows what was left untouched.
constexpr TAlphaColor Untouched = 0xFF00FF00;

// Source pixel (x, y) = opaque (R = x, G = 0, B = y): every pixel distinct
// for sizes up to 256 and never equal to Untouched.
void fillCoordinates(TBitmap& B)
{
    for (int y = 0; y < B.Height(); ++y)
        for (int x = 0; x < B.Width(); ++x)
            B.scanLine(y)[x] = 0xFF000000u | std::uint32_t(x) << 16 | std::uint32_t(y);
}

void fill(TBitmap& B, TAlphaColor C)
{
    QVERIFY(B.Canvas().BeginScene());
    B.Canvas().Clear(C);
    B.Canvas().EndScene();
}

// The pixels of Row as colours.
std::vector<TAlphaColor> rowOf(const TBitmap& B, int Row)
{
    return {B.constScanLine(Row), B.constScanLine(Row) + B.Width()};
}

constexpr float NaN = std::numeric_limits<float>::quiet_NaN();

}  // namespace

Q_DECLARE_METATYPE(TRectF)

class TestBitmap : public QObject {
    Q_OBJECT

private slots:
    void assign_data()
    {
        QTest::addColumn<QSize>("from");
        QTest::addColumn<QSize>("to");
        QTest::newRow("same size reuses the buffer") << QSize(7, 5) << QSize(7, 5);
        QTest::newRow("grows") << QSize(9, 6) << QSize(3, 2);
        QTest::newRow("shrinks") << QSize(2, 3) << QSize(8, 8);
        QTest::newRow("into empty") << QSize(4, 4) << QSize(0, 0);
        QTest::newRow("from empty") << QSize(0, 0) << QSize(4, 4);
    }

    void assign()
    {
        QFETCH(QSize, from);
        QFETCH(QSize, to);
        TBitmap source(from.width(), from.height()), target(to.width(), to.height());
        fillCoordinates(source);
        if (!target.IsEmpty())
            fill(target, Untouched);
        int changes = 0;
        target.OnChange = [&] { ++changes; };
        const uchar* before = target.image().constBits();

        target.Assign(source);

        QCOMPARE(target.Width(), source.Width());
        QCOMPARE(target.Height(), source.Height());
        for (int y = 0; y < source.Height(); ++y)
            QCOMPARE(rowOf(target, y), rowOf(source, y));
        if (from == to && !from.isEmpty())
            QCOMPARE(target.image().constBits(), before);
        QVERIFY(target.image().constBits() != source.image().constBits() || source.IsEmpty());
        QCOMPARE(changes, 1);
    }

    void assignedCopyIsIndependent()
    {
        TBitmap a(3, 3), b(3, 3);
        fill(a, 0xFF111111);
        b.Assign(a);
        a.scanLine(1)[1] = 0xFF222222;
        QCOMPARE(b.constScanLine(1)[1], 0xFF111111u);
        QVERIFY(b.image().isDetached());

        // An image already in the bitmap's format is copied, not shared.
        QImage picture(2, 2, QImage::Format_RGB32);
        picture.fill(0xFF333333);
        b.setImage(picture);
        QVERIFY(b.image().isDetached());
        QVERIFY(!b.hasAlpha());
        QCOMPARE(b.constScanLine(1)[1], 0xFF333333u);
    }

    void setSizeKeepsBufferWhenSizeIsSame()
    {
        TBitmap b(10, 4);
        const uchar* before = b.image().constBits();
        b.SetSize(10, 4);
        QCOMPARE(b.image().constBits(), before);
        b.SetSize(4, 10);
        QCOMPARE(b.Width(), 4);
        QCOMPARE(b.Height(), 10);
        b.SetSize(0, 10);
        QVERIFY(b.IsEmpty());
    }

    void swapExchangesBuffers()
    {
        TBitmap a(2, 3), b(5, 1);
        const uchar* bitsA = a.image().constBits();
        const uchar* bitsB = b.image().constBits();
        a.Swap(b);
        QCOMPARE(a.image().constBits(), bitsB);
        QCOMPARE(b.image().constBits(), bitsA);
        QCOMPARE(a.Width(), 5);
        QCOMPARE(b.Height(), 3);
    }

    void flipHorizontal_data()
    {
        QTest::addColumn<int>("width");
        for (int w : {1, 2, 3, 4, 5, 7, 8, 9, 15, 16, 17, 640, 641})
            QTest::newRow(qPrintable(QString::number(w))) << w;
    }

    void flipHorizontal()
    {
        QFETCH(int, width);
        TBitmap b(width, 3);
        fillCoordinates(b);
        std::vector<std::vector<TAlphaColor>> before;
        for (int y = 0; y < 3; ++y)
            before.push_back(rowOf(b, y));
        const uchar* bits = b.image().constBits();
        b.FlipHorizontal();
        QCOMPARE(b.image().constBits(), bits);
        for (int y = 0; y < 3; ++y) {
            std::reverse(before[std::size_t(y)].begin(), before[std::size_t(y)].end());
            QCOMPARE(rowOf(b, y), before[std::size_t(y)]);
        }
    }

    void mapAndPixelConversions()
    {
        TBitmap empty;
        TBitmapData data;
        QVERIFY(!empty.Map(TMapAccess::ReadWrite, data));

        TBitmap b(3, 2);
        int changes = 0;
        b.OnChange = [&] { ++changes; };
        QVERIFY(b.Map(TMapAccess::ReadWrite, data));
        QCOMPARE(data.Width, 3);
        QCOMPARE(data.Height, 2);
        QCOMPARE(data.PixelFormat, TPixelFormat::BGRA);
        QVERIFY(data.Pitch >= 12);
        // In memory a pixel is B, G, R, A from the lowest address up.
        const std::uint8_t bgra[4] = {0x30, 0x20, 0x10, 0xFF};
        QCOMPARE(PixelToAlphaColor(bgra, TPixelFormat::BGRA), 0xFF102030u);
        auto* p = static_cast<std::uint8_t*>(data.GetScanline(1)) + 4 * 2;
        AlphaColorToPixel(0xFF405060, p, TPixelFormat::BGRA);
        QCOMPARE(p[0], 0x60);
        QCOMPARE(p[2], 0x40);
        b.Unmap(data);
        QCOMPARE(changes, 1);
        QCOMPARE(b.constScanLine(1)[2], 0xFF405060u);

        QVERIFY(b.Map(TMapAccess::Read, data));
        b.Unmap(data);
        QCOMPARE(changes, 1);
    }

    void sceneOnEmptyAndClear()
    {
        TBitmap empty;
        QVERIFY(!empty.Canvas().BeginScene());

        TBitmap b(4, 3);
        int changes = 0;
        b.OnChange = [&] { ++changes; };
        fill(b, 0xFF123456);
        QCOMPARE(changes, 1);
        for (int y = 0; y < 3; ++y)
            QCOMPARE(rowOf(b, y), std::vector<TAlphaColor>(4, 0xFF123456));
    }

    // Equal whole-pixel sizes copy exactly; whatever lies outside either
    // bitmap is left out and nothing else is touched.
    void drawExactCopy_data()
    {
        QTest::addColumn<QRect>("src");
        QTest::addColumn<QPoint>("dst");
        QTest::newRow("whole") << QRect(0, 0, 12, 10) << QPoint(0, 0);
        QTest::newRow("part inside") << QRect(2, 3, 5, 4) << QPoint(6, 1);
        QTest::newRow("target left/top") << QRect(0, 0, 12, 10) << QPoint(-5, -7);
        QTest::newRow("target right/bottom") << QRect(0, 0, 12, 10) << QPoint(15, 9);
        QTest::newRow("source before") << QRect(-3, 8, 10, 10) << QPoint(2, 2);
        QTest::newRow("source beyond") << QRect(8, 4, 10, 10) << QPoint(0, 0);
        QTest::newRow("all outside") << QRect(0, 0, 12, 10) << QPoint(40, 0);
    }

    void drawExactCopy()
    {
        QFETCH(QRect, src);
        QFETCH(QPoint, dst);
        TBitmap source(12, 10), target(20, 12);
        fillCoordinates(source);
        fill(target, Untouched);
        QVERIFY(target.Canvas().BeginScene());
        target.Canvas().DrawBitmap(source, TRectF(src.left(), src.top(), src.left() + src.width(), src.top() + src.height()),
                                   TRectF(dst.x(), dst.y(), dst.x() + src.width(), dst.y() + src.height()), 1.0f, false);
        target.Canvas().EndScene();
        for (int y = 0; y < target.Height(); ++y) {
            for (int x = 0; x < target.Width(); ++x) {
                const QPoint from = QPoint(x, y) - dst + src.topLeft();
                const bool copied = src.contains(from) && QRect(0, 0, 12, 10).contains(from);
                const TAlphaColor want = copied ? source.constScanLine(from.y())[from.x()] : Untouched;
                if (target.constScanLine(y)[x] != want)
                    QFAIL(qPrintable(QStringLiteral("pixel %1,%2").arg(x).arg(y)));
            }
        }
    }

    // A uniform source scales to exactly its colour, so every pixel is
    // either drawn (the colour) or untouched; which ones must match the
    // destination clipped to the target.
    void drawScaledClipping_data()
    {
        QTest::addColumn<TRectF>("src");
        QTest::addColumn<TRectF>("dst");
        QTest::addColumn<QRect>("drawn");
        const TRectF all(0, 0, 8, 6);
        QTest::newRow("inside") << all << TRectF(10, 5, 50, 45) << QRect(10, 5, 40, 40);
        QTest::newRow("fractional edges") << all << TRectF(10.4f, 5.6f, 20.5f, 9.5f) << QRect(10, 6, 10, 3);
        QTest::newRow("over every edge") << all << TRectF(-100, -50, 300, 200) << QRect(0, 0, 64, 48);
        QTest::newRow("source beyond") << TRectF(4, 0, 12, 6) << TRectF(0, 0, 32, 24) << QRect(0, 0, 16, 24);
        QTest::newRow("source before") << TRectF(-8, -6, 8, 6) << TRectF(0, 0, 32, 24) << QRect(16, 12, 16, 12);
        QTest::newRow("huge") << all << TRectF(-1e30f, -1e30f, 1e30f, 1e30f) << QRect(0, 0, 64, 48);
        QTest::newRow("far away") << all << TRectF(1e9f, 0, 2e9f, 10) << QRect();
        QTest::newRow("negative width") << all << TRectF(50, 5, 10, 45) << QRect();
        QTest::newRow("empty") << all << TRectF(10, 5, 10, 45) << QRect();
        QTest::newRow("NaN dst") << all << TRectF(0, 0, NaN, 10) << QRect();
        QTest::newRow("NaN src") << TRectF(NaN, 0, 8, 6) << TRectF(0, 0, 10, 10) << QRect();
        QTest::newRow("infinite") << all << TRectF(0, 0, std::numeric_limits<float>::infinity(), 10) << QRect();
        QTest::newRow("source entirely outside") << TRectF(20, 20, 30, 30) << TRectF(0, 0, 10, 10) << QRect();
    }

    void drawScaledClipping()
    {
        QFETCH(TRectF, src);
        QFETCH(TRectF, dst);
        QFETCH(QRect, drawn);
        constexpr TAlphaColor colour = 0xFF3366CC;
        TBitmap source(8, 6), target(64, 48);
        fill(source, colour);
        for (bool highSpeed : {false, true}) {
            fill(target, Untouched);
            QVERIFY(target.Canvas().BeginScene());
            target.Canvas().DrawBitmap(source, src, dst, 1.0f, highSpeed);
            target.Canvas().EndScene();
            for (int y = 0; y < 48; ++y)
                for (int x = 0; x < 64; ++x)
                    if (target.constScanLine(y)[x] != (drawn.contains(x, y) ? colour : Untouched))
                        QFAIL(qPrintable(QStringLiteral("pixel %1,%2 high speed %3").arg(x).arg(y).arg(highSpeed)));
        }
    }

    // One row of grey levels scaled along x: smooth sampling interpolates
    // between pixel centres, high speed takes the nearest pixel.
    void drawScaledValues_data()
    {
        QTest::addColumn<QList<int>>("source");
        QTest::addColumn<int>("width");
        QTest::addColumn<bool>("highSpeed");
        QTest::addColumn<QList<int>>("expected");
        QTest::newRow("2x up smooth") << QList<int>{0, 255} << 4 << false << QList<int>{0, 64, 191, 255};
        QTest::newRow("2x up fast") << QList<int>{0, 255} << 4 << true << QList<int>{0, 0, 255, 255};
        QTest::newRow("2x down smooth") << QList<int>{0, 100, 200, 255} << 2 << false << QList<int>{50, 228};
        QTest::newRow("2x down fast") << QList<int>{0, 100, 200, 255} << 2 << true << QList<int>{100, 255};
    }

    void drawScaledValues()
    {
        QFETCH(QList<int>, source);
        QFETCH(int, width);
        QFETCH(bool, highSpeed);
        QFETCH(QList<int>, expected);
        TBitmap src(int(source.size()), 1), target(width, 1);
        for (int x = 0; x < src.Width(); ++x)
            src.scanLine(0)[x] = 0xFF000000u | std::uint32_t(source[x]) * 0x010101u;
        QVERIFY(target.Canvas().BeginScene());
        target.Canvas().DrawBitmap(src, TRectF(0, 0, float(src.Width()), 1), TRectF(0, 0, float(width), 1), 1.0f,
                                   highSpeed);
        target.Canvas().EndScene();
        QList<int> got;
        for (int x = 0; x < width; ++x)
            got << int(target.constScanLine(0)[x] & 0xFF);
        QCOMPARE(got, expected);
        QCOMPARE(target.constScanLine(0)[0] >> 24, 0xFFu);
    }

    // Whole pictures against bilinear sampling written out plainly: pixel
    // centres mapped into the source, clamped to its edge pixels, weights
    // rounded to 1/256, rows blended first, then columns.
    void drawScaledMatchesBilinear_data()
    {
        QTest::addColumn<QSize>("from");
        QTest::addColumn<QSize>("to");
        QTest::newRow("up, odd sizes") << QSize(13, 7) << QSize(29, 11);
        QTest::newRow("down") << QSize(37, 21) << QSize(9, 5);
        QTest::newRow("720p to 562 rows shape") << QSize(128, 72) << QSize(100, 56);
        QTest::newRow("one column") << QSize(1, 5) << QSize(6, 9);
        QTest::newRow("stretch one axis") << QSize(16, 16) << QSize(16, 23);
    }

    void drawScaledMatchesBilinear()
    {
        QFETCH(QSize, from);
        QFETCH(QSize, to);
        TBitmap source(from.width(), from.height()), target(to.width(), to.height());
        std::mt19937 rng(7);
        for (int y = 0; y < source.Height(); ++y)
            for (int x = 0; x < source.Width(); ++x)
                source.scanLine(y)[x] = rng() | 0xFF000000u;
        QVERIFY(target.Canvas().BeginScene());
        target.Canvas().DrawBitmap(source, TRectF(0, 0, float(from.width()), float(from.height())),
                                   TRectF(0, 0, float(to.width()), float(to.height())), 1.0f, false);
        target.Canvas().EndScene();

        struct Sample {
            int I0, I1, W;
        };
        auto sample = [](int Index, int From, int To) {
            const double c = std::clamp((Index + 0.5) * From / To - 0.5, 0.0, From - 1.0);
            const int i0 = int(std::floor(c));
            return Sample{i0, std::min(i0 + 1, From - 1), int(std::lround((c - i0) * 256))};
        };
        auto lerp = [](TAlphaColor A, TAlphaColor B, int W) {
            TAlphaColor r = 0;
            for (int shift = 0; shift < 32; shift += 8) {
                const int a = int(A >> shift & 0xFF), b = int(B >> shift & 0xFF);
                r |= TAlphaColor((a * (256 - W) + b * W + 128) >> 8) << shift;
            }
            return r;
        };
        for (int y = 0; y < to.height(); ++y) {
            const Sample sy = sample(y, from.height(), to.height());
            for (int x = 0; x < to.width(); ++x) {
                const Sample sx = sample(x, from.width(), to.width());
                auto column = [&](int i) {
                    return lerp(source.constScanLine(sy.I0)[i], source.constScanLine(sy.I1)[i], sy.W);
                };
                const TAlphaColor want = lerp(column(sx.I0), column(sx.I1), sx.W);
                if (target.constScanLine(y)[x] != want)
                    QFAIL(qPrintable(QStringLiteral("pixel %1,%2: %3, want %4")
                                         .arg(x)
                                         .arg(y)
                                         .arg(target.constScanLine(y)[x], 8, 16)
                                         .arg(want, 8, 16)));
            }
        }
    }

    // Translucent drawing blends, and stays inside the destination.
    void drawWithOpacityAndAlpha()
    {
        TBitmap white(4, 4), target(16, 16);
        fill(white, 0xFFFFFFFF);
        fill(target, 0xFF000000);
        QVERIFY(target.Canvas().BeginScene());
        target.Canvas().DrawBitmap(white, TRectF(0, 0, 4, 4), TRectF(4, 4, 12, 12), 0.5f, false);
        target.Canvas().EndScene();
        QVERIFY(std::abs(int(target.constScanLine(8)[8] & 0xFF) - 128) <= 1);
        QCOMPARE(target.constScanLine(3)[8], 0xFF000000u);
        QCOMPARE(target.constScanLine(12)[8], 0xFF000000u);

        // An icon: left half transparent, right half opaque red.
        QImage icon(2, 1, QImage::Format_ARGB32);
        icon.setPixel(0, 0, 0x00FFFFFF);
        icon.setPixel(1, 0, 0xFFFF0000);
        TBitmap iconBitmap;
        iconBitmap.setImage(icon);
        QVERIFY(iconBitmap.hasAlpha());
        fill(target, 0xFF000000);
        QVERIFY(target.Canvas().BeginScene());
        target.Canvas().DrawBitmap(iconBitmap, TRectF(0, 0, 2, 1), TRectF(0, 0, 2, 1), 1.0f, true);
        target.Canvas().EndScene();
        QCOMPARE(target.constScanLine(0)[0], 0xFF000000u);
        QCOMPARE(target.constScanLine(0)[1], 0xFFFF0000u);
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
