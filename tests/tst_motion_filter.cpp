#include <QtTest>

#include <cstdint>
#include <random>
#include <vector>

#include "vision/motion_filter.h"

namespace {

enum class Kernel { Chosen, Sse2, Avx2 };
using RowFunction = void (*)(const std::uint32_t*, const std::uint32_t*, std::uint32_t*, int);

RowFunction rowFunction(Kernel K)
{
    switch (K) {
    case Kernel::Sse2:
        return motionKernels::rowSse2;
    case Kernel::Avx2:
        return motionKernels::rowAvx2;
    default:
        return motionFilterRow;
    }
}

void addKernelRows()
{
    QTest::addColumn<Kernel>("kernel");
    QTest::newRow("chosen") << Kernel::Chosen;
    QTest::newRow("sse2") << Kernel::Sse2;
    QTest::newRow("avx2") << Kernel::Avx2;
}

std::uint32_t pixel(int A, int R, int G, int B)
{
    return std::uint32_t(A) << 24 | std::uint32_t(R) << 16 | std::uint32_t(G) << 8 | std::uint32_t(B);
}

}  // namespace

Q_DECLARE_METATYPE(Kernel)

class TestMotionFilter : public QObject {
    Q_OBJECT

private:
    RowFunction kernelUnderTest()
    {
        QFETCH(Kernel, kernel);
        if (kernel == Kernel::Avx2 && !motionKernels::hasAvx2())
            return nullptr;
        return rowFunction(kernel);
    }

private slots:
    void workedValues_data()
    {
        QTest::addColumn<std::uint32_t>("cur");
        QTest::addColumn<std::uint32_t>("prev");
        QTest::addColumn<std::uint32_t>("expected");
        QTest::newRow("d=150") << pixel(255, 200, 100, 50) << pixel(255, 100, 100, 100) << 0xFF323232u;
        QTest::newRow("still") << pixel(255, 10, 10, 10) << pixel(255, 10, 10, 10) << 0xFF000000u;
        QTest::newRow("d=2 truncates") << pixel(255, 11, 10, 11) << pixel(255, 10, 10, 10) << 0xFF000000u;
        QTest::newRow("d=765") << pixel(255, 255, 255, 255) << pixel(255, 0, 0, 0) << 0xFFFFFFFFu;
        QTest::newRow("d=510") << pixel(255, 0, 0, 255) << pixel(255, 255, 0, 0) << 0xFFAAAAAAu;
        QTest::newRow("alpha ignored") << pixel(0, 200, 100, 50) << pixel(77, 100, 100, 100) << 0xFF323232u;
    }

    // The reference itself, and every kernel at every position of a row
    // long enough for the vector loops and their tails.
    void workedValues()
    {
        QFETCH(std::uint32_t, cur);
        QFETCH(std::uint32_t, prev);
        QFETCH(std::uint32_t, expected);
        QCOMPARE(motionPixel(cur, prev), expected);
        for (Kernel k : {Kernel::Chosen, Kernel::Sse2, Kernel::Avx2}) {
            if (k == Kernel::Avx2 && !motionKernels::hasAvx2())
                continue;
            const std::vector<std::uint32_t> a(37, cur), b(37, prev);
            std::vector<std::uint32_t> out(37, 0);
            rowFunction(k)(a.data(), b.data(), out.data(), 37);
            QCOMPARE(out, std::vector<std::uint32_t>(37, expected));
        }
    }

    void everyChannelSum_data() { addKernelRows(); }

    // Every total change d = 0..765, split over the channels in several
    // ways, either frame the brighter, alpha bytes random.
    void everyChannelSum()
    {
        const RowFunction row = kernelUnderTest();
        if (!row)
            QSKIP("no AVX2 on this processor");
        std::mt19937 rng(765);
        auto byte = [&](int hi) { return std::uniform_int_distribution<int>(0, hi)(rng); };
        std::vector<std::uint32_t> cur, prev;
        std::vector<int> sums;
        for (int d = 0; d <= 765; ++d) {
            const int even = d / 3, extra = d % 3;
            const int rFirst = std::min(d, 255), gAfterR = std::min(d - rFirst, 255);
            const int bFirst = std::min(d, 255), gAfterB = std::min(d - bFirst, 255);
            // A random split: r in its feasible range, then g, then b.
            const int r = std::uniform_int_distribution<int>(std::max(0, d - 510), std::min(d, 255))(rng);
            const int g = std::uniform_int_distribution<int>(std::max(0, d - r - 255), std::min(d - r, 255))(rng);
            const int splits[][3] = {{rFirst, gAfterR, d - rFirst - gAfterR},
                                     {d - bFirst - gAfterB, gAfterB, bFirst},
                                     {even + (extra > 0), even + (extra > 1), even},
                                     {r, g, d - r - g}};
            for (const auto& split : splits) {
                for (bool curBrighter : {true, false}) {
                    int c[3], p[3];
                    for (int ch = 0; ch < 3; ++ch) {
                        const int lowValue = byte(255 - split[ch]);
                        (curBrighter ? c : p)[ch] = lowValue + split[ch];
                        (curBrighter ? p : c)[ch] = lowValue;
                    }
                    cur.push_back(pixel(byte(255), c[0], c[1], c[2]));
                    prev.push_back(pixel(byte(255), p[0], p[1], p[2]));
                    sums.push_back(d);
                }
            }
        }
        std::vector<std::uint32_t> out(cur.size(), 0);
        row(cur.data(), prev.data(), out.data(), int(cur.size()));
        for (std::size_t i = 0; i < cur.size(); ++i) {
            const std::uint32_t v = std::uint32_t(sums[i] / 3);
            QCOMPARE(motionPixel(cur[i], prev[i]), 0xFF000000u | v * 0x010101u);
            if (out[i] != motionPixel(cur[i], prev[i]))
                QFAIL(qPrintable(QStringLiteral("d=%1 cur=%2 prev=%3 got %4")
                                     .arg(sums[i])
                                     .arg(cur[i], 8, 16, QChar('0'))
                                     .arg(prev[i], 8, 16, QChar('0'))
                                     .arg(out[i], 8, 16, QChar('0'))));
        }
    }

    void randomRows_data() { addKernelRows(); }

    // Rows of every width up to 67, starting at any 4-byte alignment: the
    // result matches the reference and nothing beyond Count is written.
    void randomRows()
    {
        const RowFunction row = kernelUnderTest();
        if (!row)
            QSKIP("no AVX2 on this processor");
        constexpr std::uint32_t guard = 0xDEADBEEF;
        std::mt19937 rng(67);
        for (int width = 1; width <= 67; ++width) {
            for (int offset = 0; offset < 4; ++offset) {
                std::vector<std::uint32_t> cur(std::size_t(width + offset)), prev(cur.size());
                for (std::size_t i = 0; i < cur.size(); ++i) {
                    cur[i] = rng();
                    prev[i] = rng();
                }
                std::vector<std::uint32_t> out(std::size_t(width + offset + 8), guard);
                row(cur.data() + offset, prev.data() + offset, out.data() + offset, width);
                for (int i = 0; i < int(out.size()); ++i) {
                    const bool inside = i >= offset && i < offset + width;
                    const std::uint32_t want = inside ? motionPixel(cur[std::size_t(i)], prev[std::size_t(i)]) : guard;
                    if (out[std::size_t(i)] != want)
                        QFAIL(qPrintable(QStringLiteral("width %1 offset %2: pixel %3").arg(width).arg(offset).arg(i)));
                }
            }
        }
    }
};

QTEST_APPLESS_MAIN(TestMotionFilter)
#include "tst_motion_filter.moc"
