// The capture-resolution catalogue and the track bar's mapping, as pure
// functions.

#include <QtTest>

#include "camera/resolution_catalogue.h"

using Settings = std::vector<TVideoCaptureSetting>;
Q_DECLARE_METATYPE(Settings)

namespace {

// "640x480@30 1280x720@15" -> settings; a trailing "!" marks a setting whose
// minimum frame rate differs, to prove which of two equal ones was copied.
Settings parse(const QString& text)
{
    Settings out;
    for (const QString& item : text.split(' ', Qt::SkipEmptyParts)) {
        const QStringList sizeRate = item.split('@');
        const QStringList wh = sizeRate[0].split('x');
        QString rate = sizeRate[1];
        const bool marked = rate.endsWith('!');
        if (marked)
            rate.chop(1);
        TVideoCaptureSetting s(wh[0].toInt(), wh[1].toInt(), rate.toDouble());
        if (marked)
            s.MinFrameRate = -1;
        out.push_back(s);
    }
    return out;
}

QString format(const Settings& settings, int count)
{
    QStringList parts;
    for (int i = 0; i < count; ++i) {
        const TVideoCaptureSetting& s = settings[static_cast<std::size_t>(i)];
        parts << QStringLiteral("%1x%2@%3%4").arg(s.Width).arg(s.Height).arg(s.FrameRate).arg(s.MinFrameRate < 0 ? "!" : "");
    }
    return parts.join(' ');
}

}  // namespace

class TestResolutionCatalogue : public QObject {
    Q_OBJECT

private slots:
    void catalogue_data()
    {
        QTest::addColumn<QString>("settings");
        QTest::addColumn<QString>("entries");
        QTest::addColumn<QString>("defaultResolution");

        QTest::newRow("first of the best rate wins") << "640x480@15 640x480@30! 640x480@30"
                                                    << "640x480@30!" << "640x480@30!";
        QTest::newRow("only 640x480 is the first") << "640x480@30 1280x720@30" << "640x480@30 1280x720@30"
                                                  << "640x480@30";
        QTest::newRow("default after a larger size") << "1280x720@30 640x480@30 640x480@15"
                                                    << "1280x720@30 640x480@30" << "640x480@30";
        QTest::newRow("taller than 1080 left out") << "1920x1080@30 3840x2160@30 1280x720@30"
                                                  << "1920x1080@30 1280x720@30" << "640x480@0";
        QTest::newRow("first setting kept even when tall") << "3840x2160@30 1280x720@30"
                                                          << "3840x2160@30 1280x720@30" << "640x480@0";
        QTest::newRow("tall first and tall later") << "2592x1944@15 640x480@30 2592x1944@30 1920x1080@30"
                                                  << "2592x1944@15 640x480@30 1920x1080@30" << "640x480@30";
        QTest::newRow("exactly 1080 rows pass") << "1440x1080@30 1440x1081@30" << "1440x1080@30"
                                               << "640x480@0";
        QTest::newRow("rate rises later in the list") << "1280x720@10 640x480@5 1280x720@30 640x480@25 1280x720@30!"
                                                     << "1280x720@30 640x480@25" << "640x480@25";
        QTest::newRow("640x480 at zero fps is no default") << "640x480@0" << "640x480@0" << "640x480@0";
        QTest::newRow("empty") << "" << "" << "640x480@0";
    }

    void catalogue()
    {
        QFETCH(QString, settings);
        QFETCH(QString, entries);
        QFETCH(QString, defaultResolution);
        const Settings list = parse(settings);
        const ResolutionCatalogue cat = buildResolutionCatalogue(list);

        QCOMPARE(cat.Slots.size(), list.size());
        const int count = list.empty() ? 0 : cat.LastIndex + 1;
        QCOMPARE(format(cat.Slots, count), entries);
        QCOMPARE(format({cat.Default}, 1), defaultResolution);
        // Slots past the last entry are zero.
        for (std::size_t i = static_cast<std::size_t>(count); i < cat.Slots.size(); ++i)
            QVERIFY(cat.Slots[i].isZero());
        if (list.empty())
            QCOMPARE(cat.LastIndex, 0);
    }

    // The label's exact text, and the track bar running backwards over the
    // catalogue: "value/last index" -> entry, "index/last index" -> position.
    void trackBar()
    {
        QCOMPARE(resolutionLabel(TVideoCaptureSetting(1920, 1080, 15)), std::string("Camera width = 1920, height = 1080"));
        QStringList indices, positions;
        for (const auto& [value, last] : std::initializer_list<std::pair<float, int>>{
                 {0.0f, 2}, {2.0f, 2}, {1.9f, 2}, {-3.0f, 2}, {7.5f, 2}, {1e30f, 4}, {0.0f, 0}})
            indices << QString::number(trackBarValueToIndex(value, last));
        QCOMPARE(indices.join(' '), "2 0 1 2 0 0 0");
        for (const auto& [index, last] : std::initializer_list<std::pair<int, int>>{{0, 2}, {2, 2}, {5, 2}, {-1, 2}})
            positions << QString::number(indexToTrackBarPosition(index, last));
        QCOMPARE(positions.join(' '), "2 0 0 2");
        for (int i = 0; i <= 6; ++i)  // both directions agree on every index
            QCOMPARE(trackBarValueToIndex(static_cast<float>(indexToTrackBarPosition(i, 6)), 6), i);
    }
};

QTEST_APPLESS_MAIN(TestResolutionCatalogue)
#include "tst_resolution_catalogue.moc"
