#include <QtTest>

#include <cstdint>
#include <random>
#include <vector>

#include "vision/motion_filter.h"

namespace {

using RowFunction = void (*)(const std::uint32_t*, const std::uint32_t*, std::uint32_t*, int);

std::uint32_t pixel(int A, int R, int G, int B)
{
    return std::uint32_t(A) << 24 | std::uint32_t(R) << 16 | std::uint32_t(G) << 8 | std::uint32_t(B);
}

}  // namespace

Q_DECLARE_METATYPE(RowFunction)

class TestMotionFilter : public QObject {
    Q_OBJECT

private:
    // Every kernel, on any machine; AVX2 only where the processor has it.
    static void addKernelRows()
    {
        QTest::addColumn<RowFunction>("row");
        QTest::newRow("chosen") << RowFunction(motionFilterRow);
        QTest::newRow("sse2") << RowFunction(motionKernels::rowSse2);
        QTest::newRow("avx2") << (motionKernels::hasAvx2() ? RowFunction(motionKernels::rowAvx2) : nullptr);
    }

private slots:
    // The reference the kernels are held to: d = 150, still, d = 2
    // truncates, d = 765, d = 510, alpha ignored.
    void workedValues()
    {
        QCOMPARE(motionPixel(pixel(255, 200, 100, 50), pixel(255, 100, 100, 100)), 0xFF323232u);
        QCOMPARE(motionPixel(pixel(255, 10, 10, 10), pixel(255, 10, 10, 10)), 0xFF000000u);
        QCOMPARE(motionPixel(pixel(255, 11, 10, 11), pixel(255, 10, 10, 10)), 0xFF000000u);
        QCOMPARE(motionPixel(pixel(255, 255, 255, 255), pixel(255, 0, 0, 0)), 0xFFFFFFFFu);
        QCOMPARE(motionPixel(pixel(255, 0, 0, 255), pixel(255, 255, 0, 0)), 0xFFAAAAAAu);
        QCOMPARE(motionPixel(pixel(0, 200, 100, 50), pixel(77, 100, 100, 100)), 0xFF323232u);
    }

    void everyChannelSum_data() { addKernelRows(); }

    // Every total change d = 0..765, split over the channels in several
    // ways (greedy from red, greedy from blue, even, random), either frame
    // the brighter, alpha bytes random: the grey is d / 3, in every kernel.
    void everyChannelSum()
    {
        QFETCH(RowFunction, row);
        if (!row)
            QSKIP("no AVX2 on this processor");
        std::mt19937 rng(765);
        auto upTo = [&](int Lo, int Hi) { return std::uniform_int_distribution<int>(Lo, Hi)(rng); };
        std::vector<std::uint32_t> cur, prev;
        std::vector<int> sums;
        for (int d = 0; d <= 765; ++d) {
            const int r = std::min(d, 255), g = std::min(d - r, 255), b = std::min(d, 255), gb = std::min(d - b, 255);
            const int rr = upTo(std::max(0, d - 510), std::min(d, 255));
            const int rg = upTo(std::max(0, d - rr - 255), std::min(d - rr, 255));
            const int splits[][3] = {{r, g, d - r - g},
                                     {d - b - gb, gb, b},
                                     {d / 3 + (d % 3 > 0), d / 3 + (d % 3 > 1), d / 3},
                                     {rr, rg, d - rr - rg}};
            for (const auto& split : splits)
                for (bool curBrighter : {true, false}) {
                    int c[3], p[3];
                    for (int ch = 0; ch < 3; ++ch) {
                        const int low = upTo(0, 255 - split[ch]);
                        (curBrighter ? c : p)[ch] = low + split[ch];
                        (curBrighter ? p : c)[ch] = low;
                    }
                    cur.push_back(pixel(upTo(0, 255), c[0], c[1], c[2]));
                    prev.push_back(pixel(upTo(0, 255), p[0], p[1], p[2]));
                    sums.push_back(d);
                }
        }
        std::vector<std::uint32_t> out(cur.size(), 0);
        row(cur.data(), prev.data(), out.data(), int(cur.size()));
        for (std::size_t i = 0; i < cur.size(); ++i) {
            const std::uint32_t grey = 0xFF000000u | std::uint32_t(sums[i] / 3) * 0x010101u;
            QCOMPARE(motionPixel(cur[i], prev[i]), grey);
            if (out[i] != grey)
                QFAIL(qPrintable(QStringLiteral("d=%1, pixel %2: %3").arg(sums[i]).arg(i).arg(out[i], 0, 16)));
        }
    }

    void randomRows_data() { addKernelRows(); }

    // Rows of every width up to 67, starting at any 4-byte alignment: the
    // vector loops and their tails match the reference, and nothing beyond
    // Count is written.
    void randomRows()
    {
        QFETCH(RowFunction, row);
        if (!row)
            QSKIP("no AVX2 on this processor");
        constexpr std::uint32_t guard = 0xDEADBEEF;
        std::mt19937 rng(67);
        for (int width = 1; width <= 67; ++width)
            for (int offset = 0; offset < 4; ++offset) {
                std::vector<std::uint32_t> cur(std::size_t(width + offset)), prev(cur.size());
                for (std::size_t i = 0; i < cur.size(); ++i)
                    cur[i] = rng(), prev[i] = rng();
                std::vector<std::uint32_t> out(std::size_t(width + offset + 8), guard);
                row(cur.data() + offset, prev.data() + offset, out.data() + offset, width);
                for (std::size_t i = 0; i < out.size(); ++i) {
                    const bool inside = int(i) >= offset && int(i) < offset + width;
                    if (out[i] != (inside ? motionPixel(cur[i], prev[i]) : guard))
                        QFAIL(qPrintable(QStringLiteral("width %1 offset %2: pixel %3").arg(width).arg(offset).arg(i)));
                }
            }
    }
};

QTEST_APPLESS_MAIN(TestMotionFilter)
#include "tst_motion_filter.moc"
