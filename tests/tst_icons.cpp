// The eight tool-icon images as compiled into the program: each a 128 x 128
// RGBA badge (an opaque disc, nothing outside it), the rim darker than the
// cream face, a pictogram on the face, and no two alike. qt_add_resources
// links the images into everything that links quorl_core.

#include <QFile>
#include <QImage>
#include <QtTest>

#include <algorithm>
#include <cmath>
#include <vector>

namespace {

const char* const kKeys[] = {"eye_quorl", "eye_human", "camera_on",    "camera_off",
                             "settings",  "about_icon", "camera_front", "camera_back"};

int median(std::vector<int> Values)
{
    std::nth_element(Values.begin(), Values.begin() + Values.size() / 2, Values.end());
    return Values[Values.size() / 2];
}

}  // namespace

class TstIcons : public QObject {
    Q_OBJECT

private slots:
    void badge_data()
    {
        QTest::addColumn<QString>("key");
        for (const char* key : kKeys)
            QTest::newRow(key) << QString::fromLatin1(key);
    }

    // Measured from the centre (64, 64), in px:
    //
    //      0 ........ 53 | 54 .. 56 | 59 .. 61 | 64.5 ...
    //      pictogram     | cream    | dark rim | transparent
    //
    // Opaque up to 61 px (the disc's antialiased edge lies between). Medians,
    // so that a pictogram touching the cream ring does not tip it.
    void badge()
    {
        QFETCH(QString, key);
        QFile file(":/icons/" + key + ".png");
        QVERIFY(file.open(QIODevice::ReadOnly));
        // The file itself is 8-bit RGBA: the PNG signature, then the IHDR
        // chunk with width 128, height 128, bit depth 8, colour type 6.
        const QByteArray head = file.read(26);
        QCOMPARE(head.left(16), QByteArray("\x89PNG\r\n\x1a\n\0\0\0\x0dIHDR", 16));
        QCOMPARE(head.mid(16), QByteArray("\0\0\0\x80\0\0\0\x80\x08\x06", 10));
        const QImage image(file.fileName());
        std::vector<int> face, cream, rim;
        for (int y = 0; y < 128; ++y)
            for (int x = 0; x < 128; ++x) {
                const double d = std::hypot(x + 0.5 - 64.0, y + 0.5 - 64.0);
                const int alpha = qAlpha(image.pixel(x, y)), grey = qGray(image.pixel(x, y));
                if ((d > 64.5 && alpha != 0) || (d <= 61.0 && alpha != 255))
                    QFAIL(qPrintable(QStringLiteral("pixel (%1, %2) has alpha %3").arg(x).arg(y).arg(alpha)));
                if (d < 53.0)
                    face.push_back(grey);
                else if (d >= 54.0 && d < 56.0)
                    cream.push_back(grey);
                else if (d >= 59.0 && d < 61.0)
                    rim.push_back(grey);
            }
        const int faceGrey = median(cream), rimGrey = median(rim);
        QVERIFY2(faceGrey >= 180 && rimGrey + 100 <= faceGrey,
                 qPrintable(QStringLiteral("face grey %1, rim grey %2").arg(faceGrey).arg(rimGrey)));
        // A blank face would pass the checks above: the pictogram must cover
        // a twentieth of it with clearly darker paint.
        const auto dark = std::count_if(face.begin(), face.end(), [&](int g) { return g + 80 < faceGrey; });
        QVERIFY2(dark * 20 >= qsizetype(face.size()), qPrintable(QStringLiteral("%1 dark pixels").arg(dark)));
        // No two alike, and not in a few stray pixels only: a copied file or
        // a camera that forgot to turn round would show as near-identical.
        for (const char* other : kKeys) {
            const QImage b(QStringLiteral(":/icons/%1.png").arg(other));
            int differing = 0;
            for (int y = 0; y < 128; ++y)
                for (int x = 0; x < 128; ++x) {
                    const QRgb p = image.pixel(x, y), q = b.pixel(x, y);
                    differing += std::abs(qRed(p) - qRed(q)) + std::abs(qGreen(p) - qGreen(q))
                        + std::abs(qBlue(p) - qBlue(q)) > 96;
                }
            QVERIFY2(key == other || differing >= 300, qPrintable(QStringLiteral("like %1").arg(other)));
        }
    }
};

QTEST_GUILESS_MAIN(TstIcons)
#include "tst_icons.moc"
