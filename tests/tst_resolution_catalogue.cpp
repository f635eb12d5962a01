// The capture-resolution catalogue and the track bar's mapping, as pure
// functions.

#include <QtTest>

#include "camera/resolution_catalogue.h"
#include "platform/camera/capture_ranges.h"

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

    void label()
    {
        QCOMPARE(resolutionLabel(TVideoCaptureSetting(640, 480, 30)), std::string("Camera width = 640, height = 480"));
        QCOMPARE(resolutionLabel(TVideoCaptureSetting(1920, 1080, 15)),
                 std::string("Camera width = 1920, height = 1080"));
    }

    void trackBarMapping_data()
    {
        QTest::addColumn<float>("value");
        QTest::addColumn<int>("lastIndex");
        QTest::addColumn<int>("index");

        QTest::newRow("position 0 shows the last entry") << 0.0f << 2 << 2;
        QTest::newRow("position 2 shows entry 0") << 2.0f << 2 << 0;
        QTest::newRow("1.9 truncates to position 1") << 1.9f << 2 << 1;
        QTest::newRow("below the range clamps") << -3.0f << 2 << 2;
        QTest::newRow("above the range clamps") << 7.5f << 2 << 0;
        QTest::newRow("huge values clamp") << 1e30f << 4 << 0;
        QTest::newRow("single entry") << 0.0f << 0 << 0;
    }

    void trackBarMapping()
    {
        QFETCH(float, value);
        QFETCH(int, lastIndex);
        QFETCH(int, index);
        QCOMPARE(trackBarValueToIndex(value, lastIndex), index);
    }

    void positionOfIndex()
    {
        QCOMPARE(indexToTrackBarPosition(0, 2), 2);
        QCOMPARE(indexToTrackBarPosition(2, 2), 0);
        QCOMPARE(indexToTrackBarPosition(5, 2), 0);
        QCOMPARE(indexToTrackBarPosition(-1, 2), 2);
        // Both directions agree on every index.
        for (int i = 0; i <= 6; ++i)
            QCOMPARE(trackBarValueToIndex(static_cast<float>(indexToTrackBarPosition(i, 6)), 6), i);
    }
    // Ranged sizes: "min-max/step" per axis; the standard sizes inside that
    // fit the step, or the largest size of the range when none does.
    void sizesInRange_data()
    {
        QTest::addColumn<QList<int>>("range");  // minW maxW stepW minH maxH stepH
        QTest::addColumn<QString>("sizes");
        QTest::newRow("continuous 1..1920x1..1080") << QList<int>{1, 1920, 1, 1, 1080, 1}
            << "160x120 176x144 320x240 352x288 640x360 640x480 800x600 960x540 1024x768 1280x720 1280x960 "
               "1280x1024 1920x1080";
        QTest::newRow("step 0 counts as 1") << QList<int>{640, 1280, 0, 480, 720, 0}
                                             << "640x480 800x600 960x540 1280x720";
        QTest::newRow("stepwise 16/8 from 32") << QList<int>{32, 1920, 16, 32, 1080, 8}
            << "160x120 176x144 320x240 352x288 640x360 640x480 800x600 1024x768 1280x720 1280x960 1280x1024 "
               "1920x1080";
        QTest::newRow("odd step: largest size on the step") << QList<int>{100, 1001, 7, 100, 701, 7} << "996x695";
        QTest::newRow("single size") << QList<int>{1280, 1280, 1, 720, 720, 1} << "1280x720";
        QTest::newRow("inverted") << QList<int>{1920, 640, 1, 480, 480, 1} << "";
        QTest::newRow("zero") << QList<int>{0, 0, 1, 0, 0, 1} << "";
    }

    void sizesInRange()
    {
        QFETCH(QList<int>, range);
        const FrameSizeRange R{range[0], range[1], range[2], range[3], range[4], range[5]};
        QStringList Got;
        for (const auto& [W, H] : standardSizesInRange(R))
            Got << QStringLiteral("%1x%2").arg(W).arg(H);
        QTEST(Got.join(' '), "sizes");
    }

    // Ranged intervals "min max step" as fractions of a second; rates
    // fastest first, or the fastest of the range when no standard one fits.
    void ratesInRange_data()
    {
        QTest::addColumn<QList<uint>>("range");  // minN minD maxN maxD stepN stepD
        QTest::addColumn<QString>("rates");
        QTest::newRow("continuous 1/60..1 s") << QList<uint>{1, 60, 1, 1, 0, 0} << "60 50 30 25 24 20 15 10 5";
        QTest::newRow("1/30..1/15") << QList<uint>{1, 30, 1, 15, 0, 0} << "30 25 24 20 15";
        QTest::newRow("step 1/30 from 1/30") << QList<uint>{1, 30, 1, 5, 1, 30} << "30 15 10 5";
        QTest::newRow("step 1/60 from 1/60") << QList<uint>{1, 60, 1, 1, 1, 60} << "60 30 20 15 10 5";
        QTest::newRow("between standards") << QList<uint>{10, 333, 10, 331, 0, 0} << "33.3";
        QTest::newRow("1001-based 1/29.97") << QList<uint>{1001, 30000, 1001, 30000, 0, 0} << "29.97";
        QTest::newRow("inverted") << QList<uint>{1, 15, 1, 30, 0, 0} << "";
        QTest::newRow("zero denominator") << QList<uint>{1, 0, 1, 1, 0, 0} << "";
    }

    void ratesInRange()
    {
        QFETCH(QList<uint>, range);
        const FrameIntervalRange R{{range[0], range[1]}, {range[2], range[3]}, {range[4], range[5]}};
        QStringList Got;
        for (const double Fps : standardRatesInRange(R))
            Got << QString::number(Fps, 'g', 4);
        QTEST(Got.join(' '), "rates");
    }
};


QTEST_APPLESS_MAIN(TestResolutionCatalogue)
#include "tst_resolution_catalogue.moc"
