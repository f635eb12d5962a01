#include <QtTest>

#include <cstdint>
#include <random>
#include <vector>

#include "platform/i420_conversion.h"

namespace {

std::uint32_t rgb(int R, int G, int B)
{
    return 0xFF000000u | std::uint32_t(R) << 16 | std::uint32_t(G) << 8 | std::uint32_t(B);
}

// A picture in I420, in the layout it is published in.
struct I420Picture {
    I420Picture(int W, int H) : Layout(i420Layout(W, H)), Bytes(Layout.Size, 0xEE) {}
    I420Planes planes()
    {
        return {Bytes.data(), Layout.YBytesPerLine, Bytes.data() + Layout.UOffset, Bytes.data() + Layout.VOffset,
                Layout.ChromaBytesPerLine};
    }
    int y(int X, int Y) const { return Bytes[std::size_t(Y * Layout.YBytesPerLine + X)]; }
    int u(int X, int Y) const { return Bytes[Layout.UOffset + std::size_t(Y / 2 * Layout.ChromaBytesPerLine + X / 2)]; }
    int v(int X, int Y) const { return Bytes[Layout.VOffset + std::size_t(Y / 2 * Layout.ChromaBytesPerLine + X / 2)]; }
    I420Layout Layout;
    std::vector<std::uint8_t> Bytes;
};

I420Picture convert(const std::vector<std::uint32_t>& Pixels, int W, int H, I420Path Path)
{
    I420Picture out(W, H);
    rgb32ToI420(reinterpret_cast<const std::uint8_t*>(Pixels.data()), W * 4, out.planes(), W, H, Path);
    return out;
}

}  // namespace

Q_DECLARE_METATYPE(I420Path)

class TestPublish : public QObject {
    Q_OBJECT

private slots:
    // A 2 x 2 block (top left, top right, bottom left, bottom right) tiled
    // over 34 x 3 pixels: the vector steps, the columns after them and an odd
    // last row (its block counts the row twice) all give the block's values.
    void i420Values_data()
    {
        QTest::addColumn<std::vector<std::uint32_t>>("block");
        QTest::addColumn<std::vector<int>>("expected");  // Y of the four, U, V
        auto same = [](std::uint32_t P) { return std::vector<std::uint32_t>{P, P, P, P}; };
        QTest::newRow("black") << same(rgb(0, 0, 0)) << std::vector<int>{16, 16, 16, 16, 128, 128};
        QTest::newRow("white") << same(rgb(255, 255, 255)) << std::vector<int>{235, 235, 235, 235, 128, 128};
        QTest::newRow("motion grey 50") << same(rgb(50, 50, 50)) << std::vector<int>{59, 59, 59, 59, 128, 128};
        QTest::newRow("red") << same(rgb(255, 0, 0)) << std::vector<int>{82, 82, 82, 82, 90, 240};
        QTest::newRow("green") << same(rgb(0, 255, 0)) << std::vector<int>{144, 144, 144, 144, 54, 34};
        QTest::newRow("blue") << same(rgb(0, 0, 255)) << std::vector<int>{41, 41, 41, 41, 240, 110};
        QTest::newRow("red above blue") << std::vector<std::uint32_t>{rgb(255, 0, 0), rgb(255, 0, 0), rgb(0, 0, 255),
                                                                      rgb(0, 0, 255)}
                                        << std::vector<int>{82, 82, 41, 41, 165, 175};
        QTest::newRow("alpha plays no part")
            << std::vector<std::uint32_t>{0x00323232u, 0x7F000000u, 0x12FFFFFFu, 0xFF000000u}
            << std::vector<int>{59, 16, 235, 16, 128, 128};
    }

    void i420Values()
    {
        QFETCH(std::vector<std::uint32_t>, block);
        QFETCH(std::vector<int>, expected);
        const int W = 34, H = 3;
        std::vector<std::uint32_t> pixels(std::size_t(W * H));
        for (int y = 0; y < H; ++y)
            for (int x = 0; x < W; ++x)
                pixels[std::size_t(y * W + x)] = block[std::size_t(y % 2 * 2 + x % 2)];
        for (I420Path path : {I420Path::Scalar, I420Path::Avx2}) {
            if (path == I420Path::Avx2 && !i420HasAvx2())
                continue;
            const I420Picture out = convert(pixels, W, H, path);
            for (int y = 0; y < 2; ++y)
                for (int x = 0; x < W; ++x)
                    QCOMPARE(out.y(x, y), expected[std::size_t(y * 2 + x % 2)]);
            for (int x = 0; x < W; x += 2) {
                QCOMPARE(out.u(x, 0), expected[4]);
                QCOMPARE(out.v(x, 0), expected[5]);
                QCOMPARE(out.y(x, 2), expected[0]);
            }
        }
    }

    // Random pictures of awkward sizes: the vector path gives exactly the
    // scalar bytes, the padding of the planes is left alone, and an odd last
    // column counts twice in its block.
    void i420VectorMatchesScalar_data()
    {
        QTest::addColumn<QSize>("size");
        for (const QSize s : {QSize(1, 1), QSize(16, 2), QSize(37, 5), QSize(50, 4), QSize(1921, 3)})
            QTest::newRow(qPrintable(QString("%1x%2").arg(s.width()).arg(s.height()))) << s;
    }

    void i420VectorMatchesScalar()
    {
        QFETCH(QSize, size);
        if (!i420HasAvx2())
            QSKIP("no AVX2 on this processor");
        const int W = size.width(), H = size.height();
        std::mt19937 rng(420);
        std::vector<std::uint32_t> pixels(std::size_t(W * H));
        for (auto& p : pixels)
            p = std::uint32_t(rng());
        const I420Picture scalar = convert(pixels, W, H, I420Path::Scalar);
        QVERIFY(scalar.Bytes == convert(pixels, W, H, I420Path::Avx2).Bytes);
        if (W % 2) {
            const std::uint32_t edge = pixels[std::size_t(W - 1)], below = pixels[std::size_t(H > 1 ? W + W - 1 : W - 1)];
            std::vector<std::uint32_t> doubled{edge, edge, below, below};
            QCOMPARE(scalar.u(W - 1, 0), convert(doubled, 2, 2, I420Path::Scalar).u(0, 0));
        }
        QCOMPARE(int(scalar.Bytes[std::size_t(scalar.Layout.YBytesPerLine - 1)]), W % 4 ? 0xEE : scalar.y(W - 1, 0));
    }
};

QTEST_APPLESS_MAIN(TestPublish)
#include "tst_publish.moc"
