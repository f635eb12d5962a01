// The eight tool-icon images as compiled into the program: each must be a
// 128 x 128 RGBA badge (an opaque disc, nothing outside it), the rim darker
// than the cream face, a pictogram on the face, and no two alike.
// qt_add_resources links the images into everything that links quorl_core,
// so no Q_INIT_RESOURCE is needed.

#include <QFile>
#include <QImage>
#include <QtTest>

#include <algorithm>
#include <cmath>
#include <vector>

namespace {

const char* const kKeys[] = {"eye_quorl",  "eye_human", "camera_on",    "camera_off",
                             "settings",   "about_icon", "camera_front", "camera_back"};

QString resourcePath(const QString& key)
{
    return QStringLiteral(":/icons/%1.png").arg(key);
}

// Distance from the badge centre (64, 64) to the centre of pixel (x, y).
double distanceFromCentre(int x, int y)
{
    return std::hypot(x + 0.5 - 64.0, y + 0.5 - 64.0);
}

// The grey levels (qGray) of the pixels whose centres lie in [inner, outer).
std::vector<int> greysInBand(const QImage& image, double inner, double outer)
{
    std::vector<int> greys;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x) {
            const double d = distanceFromCentre(x, y);
            if (d >= inner && d < outer)
                greys.push_back(qGray(image.pixel(x, y)));
        }
    return greys;
}

int median(std::vector<int> values)
{
    std::nth_element(values.begin(), values.begin() + values.size() / 2, values.end());
    return values[values.size() / 2];
}

} // namespace

class TstIcons : public QObject {
    Q_OBJECT

private slots:
    void pngFormat_data();
    void pngFormat();
    void badgeShape_data();
    void badgeShape();
    void badgeColours_data();
    void badgeColours();
    void imagesDiffer_data();
    void imagesDiffer();

private:
    void addKeyRows();
    QImage load(const QString& key) const;
};

void TstIcons::addKeyRows()
{
    QTest::addColumn<QString>("key");
    for (const char* key : kKeys)
        QTest::newRow(key) << QString::fromLatin1(key);
}

QImage TstIcons::load(const QString& key) const
{
    QImage image(resourcePath(key));
    if (image.isNull())
        qFatal("cannot load %s", qPrintable(resourcePath(key)));
    return image.convertToFormat(QImage::Format_ARGB32);
}

void TstIcons::pngFormat_data()
{
    addKeyRows();
}

// The file itself must be 8-bit RGBA (PNG colour type 6), not merely
// something Qt can turn into ARGB: the IHDR chunk follows the 8-byte
// signature, and its width, height, bit depth and colour type sit at
// bytes 16..19, 20..23, 24 and 25.
void TstIcons::pngFormat()
{
    QFETCH(QString, key);
    QFile file(resourcePath(key));
    QVERIFY2(file.open(QIODevice::ReadOnly), qPrintable(file.fileName()));
    const QByteArray head = file.read(26);
    QCOMPARE(head.size(), 26);
    QVERIFY(head.startsWith("\x89PNG\r\n\x1a\n"));
    QCOMPARE(head.mid(12, 4), QByteArray("IHDR"));
    auto be32 = [&](int at) {
        return (quint8(head[at]) << 24) | (quint8(head[at + 1]) << 16) | (quint8(head[at + 2]) << 8)
            | quint8(head[at + 3]);
    };
    QCOMPARE(be32(16), 128u);
    QCOMPARE(be32(20), 128u);
    QCOMPARE(int(quint8(head[24])), 8);
    QCOMPARE(int(quint8(head[25])), 6);

    const QImage image(resourcePath(key));
    QCOMPARE(image.size(), QSize(128, 128));
    QVERIFY(image.hasAlphaChannel());
}

void TstIcons::badgeShape_data()
{
    addKeyRows();
}

// The disc has radius 63 at most (its antialiased edge included), so every
// pixel whose centre is farther than 64.5 px from the middle - the corners
// among them - must be fully transparent. Everything up to 61 px - the
// centre, the face, the ring just inside the rim and most of the rim - must
// be fully opaque.
void TstIcons::badgeShape()
{
    QFETCH(QString, key);
    const QImage image = load(key);
    for (int y = 0; y < 128; ++y)
        for (int x = 0; x < 128; ++x) {
            const double d = distanceFromCentre(x, y);
            const int alpha = qAlpha(image.pixel(x, y));
            if (d > 64.5 && alpha != 0)
                QFAIL(qPrintable(QStringLiteral("pixel (%1, %2) outside the disc has alpha %3")
                                     .arg(x).arg(y).arg(alpha)));
            if (d <= 61.0 && alpha != 255)
                QFAIL(qPrintable(QStringLiteral("pixel (%1, %2) inside the disc has alpha %3")
                                     .arg(x).arg(y).arg(alpha)));
        }
    for (const QPoint corner : {QPoint(0, 0), QPoint(127, 0), QPoint(0, 127), QPoint(127, 127)})
        QCOMPARE(qAlpha(image.pixel(corner)), 0);
}

void TstIcons::badgeColours_data()
{
    addKeyRows();
}

// Bands measured from the centre:
//
//      0 ........ 53 | 54 .. 56 | 59 .. 61 | edge
//      pictogram     | cream    | dark rim |
//
// Medians, so that a pictogram touching the cream ring does not tip it.
void TstIcons::badgeColours()
{
    QFETCH(QString, key);
    const QImage image = load(key);

    const int cream = median(greysInBand(image, 54.0, 56.0));
    const int rim = median(greysInBand(image, 59.0, 61.0));
    QVERIFY2(cream >= 180, qPrintable(QStringLiteral("face grey %1 is not light").arg(cream)));
    QVERIFY2(rim + 100 <= cream,
             qPrintable(QStringLiteral("rim grey %1 is not darker than face grey %2").arg(rim).arg(cream)));

    // A blank face would pass the checks above: the pictogram must cover a
    // fair part of it with clearly darker paint.
    const std::vector<int> face = greysInBand(image, 0.0, 53.0);
    const auto dark = std::count_if(face.begin(), face.end(), [&](int g) { return g + 80 < cream; });
    QVERIFY2(dark * 20 >= qsizetype(face.size()),
             qPrintable(QStringLiteral("only %1 of %2 face pixels are dark").arg(dark).arg(face.size())));
}

void TstIcons::imagesDiffer_data()
{
    QTest::addColumn<QString>("first");
    QTest::addColumn<QString>("second");
    const int count = int(std::size(kKeys));
    for (int i = 0; i < count; ++i)
        for (int j = i + 1; j < count; ++j)
            QTest::addRow("%s-%s", kKeys[i], kKeys[j])
                << QString::fromLatin1(kKeys[i]) << QString::fromLatin1(kKeys[j]);
}

// Every pair must differ visibly, not in a few stray pixels: a copied file
// or a camera that forgot to turn round would show as near-identical.
void TstIcons::imagesDiffer()
{
    QFETCH(QString, first);
    QFETCH(QString, second);
    const QImage a = load(first);
    const QImage b = load(second);
    int differing = 0;
    for (int y = 0; y < 128; ++y)
        for (int x = 0; x < 128; ++x) {
            const QRgb p = a.pixel(x, y);
            const QRgb q = b.pixel(x, y);
            const int change = std::abs(qRed(p) - qRed(q)) + std::abs(qGreen(p) - qGreen(q))
                + std::abs(qBlue(p) - qBlue(q));
            if (change > 96)
                ++differing;
        }
    QVERIFY2(differing >= 300, qPrintable(QStringLiteral("only %1 pixels differ").arg(differing)));
}

QTEST_GUILESS_MAIN(TstIcons)
#include "tst_icons.moc"
