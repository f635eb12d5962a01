#include <QtTest>

#include <cstdint>
#include <vector>

#include "platform/frame_stats.h"

namespace {

using Samples = std::vector<std::int64_t>;
constexpr qint64 Ms = 1'000'000;

QString line(const std::optional<std::string>& L)
{
    return L ? QString::fromStdString(*L) : QString("(none)");
}

}  // namespace

class TestFrameStats : public QObject {
    Q_OBJECT

private slots:
    // "median/worst" of each sample list: the upper middle of an even count.
    void medianAndWorst()
    {
        QStringList got;
        for (Samples samples : {Samples{}, Samples{7}, Samples{9, 1, 5}, Samples{4, 1, 3, 2}, Samples{2, 2, 40, 2, 2},
                                Samples{5, 5, 5, 1}}) {
            const MedianAndWorst figures = ::medianAndWorst(samples);
            got << QString("%1/%2").arg(figures.Median).arg(figures.Worst);
        }
        QCOMPARE(got.join(' '), "0/0 7/7 5/9 3/4 2/40 5/5");
    }

    void formatsOneLine()
    {
        std::array<std::optional<MedianAndWorst>, FrameStageCount> stages;
        stages[int(FrameStage::Conversion)] = MedianAndWorst{1'234'000, 2'000'000};
        stages[int(FrameStage::HandOver)] = MedianAndWorst{50'000, 120'000};
        stages[int(FrameStage::Pipeline)] = MedianAndWorst{1'706'000, 6'320'000};
        stages[int(FrameStage::Latency)] = MedianAndWorst{3'890'000, 8'144'999};
        QCOMPARE(QString::fromStdString(formatStatsLine(FrameCounts{30, 29, 28, 1, 1920, 1080}, stages)),
                 "stats: delivered 30 processed 29 painted 28 | median/worst ms: conversion 1.23/2.00, "
                 "hand-over 0.05/0.12, pipeline 1.71/6.32, paint -, latency 3.89/8.14 | dropped 1 | 1920x1080");
        // Publishing: the count of published frames follows the painted ones.
        QVERIFY(QString::fromStdString(formatStatsLine(FrameCounts{30, 29, 28, 1, 1920, 1080, true, 0}, stages))
                    .startsWith("stats: delivered 30 processed 29 painted 28 published 0 | median/worst ms:"));
    }

    // Every second gets its own counts and samples, closed exactly when it
    // has ended.
    void windowRollsOnceASecond()
    {
        const std::int64_t t0 = 5'000 * Ms;
        FrameStatsWindow window(t0);
        window.addDelivered();
        window.addDelivered();
        window.addDropped();
        window.addProcessed(640, 480);
        window.addPainted();
        window.addSample(FrameStage::Paint, 3 * Ms);
        window.addSample(FrameStage::Paint, 1 * Ms);
        QCOMPARE(line(window.roll(t0 + 999 * Ms)), QString("(none)"));
        QCOMPARE(line(window.roll(t0 + 1'000 * Ms)),
                 "stats: delivered 2 processed 1 painted 1 | median/worst ms: conversion -, hand-over -, "
                 "pipeline -, paint 3.00/3.00, latency - | dropped 1 | 640x480");
        QCOMPARE(window.start(), t0 + 1'000 * Ms);

        // A late roll keeps the seconds on their grid, and the size of the
        // frames is kept from second to second ...
        window.addDelivered();
        window.setPublishing();
        window.addPublished();
        QCOMPARE(line(window.roll(t0 + 1'999 * Ms)), QString("(none)"));
        const QString late = line(window.roll(t0 + 2'300 * Ms));
        QVERIFY2(late.startsWith("stats: delivered 1 processed 0 painted 0 published 1 |") &&
                     late.endsWith("| dropped 0 | 640x480"),
                 qPrintable(late));
        QCOMPARE(window.start(), t0 + 2'000 * Ms);
        // ... and after an idle spell the next second starts now, with one
        // line for the whole spell rather than one per second.
        QVERIFY(line(window.roll(t0 + 9'500 * Ms)).startsWith("stats: delivered 0 processed 0 painted 0 published 0 |"));
        QCOMPARE(window.start(), t0 + 9'500 * Ms);
        QCOMPARE(line(window.roll(t0 + 10'000 * Ms)), QString("(none)"));
    }

    // More samples than a second is sized for are left out of the figures,
    // still counted, and nothing breaks.
    void windowIgnoresSamplesBeyondCapacity()
    {
        FrameStatsWindow window(0);
        for (int i = 0; i < 2'000; ++i) {
            window.addProcessed(8, 8);
            window.addSample(FrameStage::Pipeline, i < 1'000 ? 1 * Ms : 50 * Ms);
        }
        QVERIFY(line(window.roll(1'000 * Ms)).contains("processed 2000 painted 0 | median/worst ms: conversion -, "
                                                       "hand-over -, pipeline 1.00/1.00,"));
    }

    // "p50/p99" in ns: a latency is rounded up to the next 0.1 ms bucket,
    // the last bucket holds everything beyond a second.
    void histogramPercentiles()
    {
        Samples hundred, mostlyFast(98, 3 * Ms);
        for (int i = 1; i <= 100; ++i)
            hundred.push_back(i * Ms);
        mostlyFast.push_back(40 * Ms);
        mostlyFast.push_back(80 * Ms);
        QStringList got;
        for (const Samples& latencies :
             {Samples{}, hundred, Samples{100'000}, Samples{100'001}, Samples{1 * Ms, 5'000 * Ms}, mostlyFast}) {
            LatencyHistogram histogram;
            for (std::int64_t l : latencies)
                histogram.add(l);
            QCOMPARE(histogram.count(), qint64(latencies.size()));
            got << QString("%1/%2").arg(histogram.percentileNs(50)).arg(histogram.percentileNs(99));
            histogram.clear();
            QCOMPARE(histogram.percentileNs(99), qint64(0));
        }
        QCOMPARE(got.join(' '), "0/0 50000000/99000000 100000/100000 200000/200000 1000000/999900000 "
                                "3000000/40000000");
    }

    void formatsTheRunLine()
    {
        LatencyHistogram latency;
        QCOMPARE(QString::fromStdString(formatRunLine(FrameCounts{1, 0, 0, 1, 640, 480}, 0.04, latency, 0, 0)),
                 "stats: 640x480 for 0.0 s: delivered 1 processed 0 painted 0 dropped 1 | latency - | CPU per "
                 "frame: pipeline -, paint -");
        for (std::int64_t l : {4 * Ms, 5 * Ms, 21 * Ms})
            latency.add(l);
        QCOMPARE(QString::fromStdString(
                     formatRunLine(FrameCounts{4, 4, 3, 0, 1920, 1080, true, 2}, 20.46, latency, 7 * Ms, 3 * Ms)),
                 "stats: 1920x1080 for 20.5 s: delivered 4 processed 4 painted 3 published 2 dropped 0 | latency median "
                 "5.00 ms, p99 21.00 ms | CPU per frame: pipeline 1.75 ms, paint 1.00 ms");
    }
};

QTEST_APPLESS_MAIN(TestFrameStats)
#include "tst_frame_stats.moc"
