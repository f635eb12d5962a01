// Picture fitting and icon geometry, as pure functions. Each row reads
// "inputs -> what comes out", the numbers as the program stores them.

#include <QtTest>

#include "layout/icon_geometry.h"
#include "layout/picture_fitting.h"

namespace {

QString rect(const TRectF& R) { return QString("%1,%2,%3,%4").arg(R.Left).arg(R.Top).arg(R.Right).arg(R.Bottom); }

void rows(std::initializer_list<std::pair<const char*, const char*>> Rows)
{
    QTest::addColumn<QString>("in");
    QTest::addColumn<QString>("out");
    for (const auto& [in, out] : Rows)
        QTest::newRow(in) << QString(in) << QString(out);
}

std::vector<double> numbers(const QString& Text)
{
    std::vector<double> n;
    for (const QString& s : Text.split(QRegularExpression("[ x,]"), Qt::SkipEmptyParts))
        n.push_back(s.toDouble());
    return n;
}

}  // namespace

class TestLayoutMath : public QObject {
    Q_OBJECT

private slots:
    // "capture WxH, landscape (1/0), screen WxH" -> destination rectangle.
    void fit_data()
    {
        rows({{"1280x720 1 1000x700", "0,69,1000,631"},       // fits the width
              {"1280x720 1 1000x500", "56,0,944,500"},        // too tall: fits the height
              {"0x0 1 800x600", "100,0,700,600"},             // never seen running: largest square
              {"1280x720 0 1000x700", "303,0,696,700"},       // portrait swaps the sides
              {"640x480 1 800x600", "0,0,800,600"},           // same aspect fills exactly
              {"1280x720 1 1000.9x700.9", "0,69,1000,631"},   // fractional output truncated
              {"100x100 1 100x101", "0,0,100,100"},           // odd leftover: smaller half first
              {"1000x500 1 1000x500", "0,0,1000,500"},        // equal height keeps the width fit
              {"640x0 1 640x480", "0,239,640,240"},           // one zero side
              {"640x480 1 0x0", "0,0,0,0"},                   // empty output
              {"1920x1080 1 1x1", "0,0,1,0"},
              {"3840x2160 1 4000x3000", "0,375,4000,2625"}});
    }

    void fit()
    {
        QFETCH(QString, in);
        const std::vector<double> n = numbers(in);
        const int w = int(n[0]), h = int(n[1]);
        const bool landscape = n[2] != 0;
        const PictureFit f = fitPicture(w, h, landscape, n[3], n[4]);
        QTEST(rect(f.DestRect), "out");
        QCOMPARE(rect(f.SourceRect), rect({0, 0, float(landscape ? w : h), float(landscape ? h : w)}));
    }

    // "screen WxH, image WxH, centre fractions" -> "x,y WxH as placed |
    // rest top-left | rest centre". 1000 x 800: every icon 80 x 80; taller
    // than wide: sized from the height; fractional places stay on the
    // control, the rest geometry truncates.
    void iconPlacement_data()
    {
        rows({{"1000x800 128x128 0.3,0.4", "260,280 80x80 | 260,280 | 300,320"},
              {"1000x800 128x128 0.5,0.4", "460,280 80x80 | 460,280 | 500,320"},
              {"1000x800 128x128 0.7,0.4", "660,280 80x80 | 660,280 | 700,320"},
              {"1000x800 128x128 0.4,0.6", "360,440 80x80 | 360,440 | 400,480"},
              {"1000x800 128x128 0.6,0.6", "560,440 80x80 | 560,440 | 600,480"},
              {"600x900 128x128 0.5,0.4", "264,324 72x72 | 264,324 | 300,360"},
              {"600x900 128x128 0.4,0.6", "204,504 72x72 | 204,504 | 240,540"},
              {"1000x800 128x64 0.5,0.4", "420,280 160x80 | 420,280 | 500,320"},
              {"1001x801 128x128 0.5,0.4", "460.46,280.36 80.08x80.08 | 460,280 | 500,320"}});
    }

    void iconPlacement()
    {
        QFETCH(QString, in);
        const std::vector<double> n = numbers(in);
        const IconPlacement p = placeIcon(n[0], n[1], std::max(n[0], n[1]), 0.08, int(n[2]), int(n[3]), n[4], n[5]);
        QTEST(QString("%1,%2 %3x%4 | %5,%6 | %7,%8").arg(p.X).arg(p.Y).arg(p.Width).arg(p.Height).arg(p.Left)
                  .arg(p.Top).arg(p.CentreX).arg(p.CentreY), "out");
    }

    // "position, side" of a square icon pressed to 1.3 times its size ->
    // "where it is drawn | rest top-left | rest centre".
    void press_data()
    {
        rows({{"460,280 80", "448,268 | 460,280 | 500,320"},
              {"459.5,280 81", "447.35,267.35 | 459,280 | 500,320"},  // fractional rest drops the fraction
              {"0,0 50", "-7.5,-7.5 | 0,0 | 25,25"}});
    }

    void press()
    {
        QFETCH(QString, in);
        const std::vector<double> n = numbers(in);
        const PressPlacement p = pressIcon({float(n[0]), float(n[1])}, float(n[2]), float(n[2]), 1.3f);
        QTEST(QString("%1,%2 | %3,%4 | %5,%6").arg(p.Position.X).arg(p.Position.Y).arg(p.Left).arg(p.Top)
                  .arg(p.CentreX).arg(p.CentreY), "out");
    }
};

QTEST_APPLESS_MAIN(TestLayoutMath)
#include "tst_layout_math.moc"
