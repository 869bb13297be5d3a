// The figures of the live analysis: region statistics against values worked
// out by hand, the current histogram's bins, the receiving rate, and the plot
// ranges that hold still.
#include "analysis/CurrentHistogram.h"
#include "analysis/PlotRanges.h"
#include "analysis/ReceivedRate.h"
#include "analysis/RegionStatistics.h"

#include <QTest>

#include <cmath>
#include <limits>

namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kInf = std::numeric_limits<double>::infinity();

// Pixel (x, y) holds x + 128 y.
std::vector<double> gradientFrame()
{
    std::vector<double> frame(16384);
    for (int i = 0; i < 16384; ++i)
        frame[std::size_t(i)] = i;
    return frame;
}

// Population variance of the whole numbers a, a+1, ..., a+n-1.
double runVariance(int n)
{
    return (double(n) * n - 1.0) / 12.0;
}

bool same(double actual, double expected)
{
    if (std::isnan(expected) || std::isinf(expected))
        return std::isnan(expected) ? std::isnan(actual) : actual == expected;
    return std::abs(actual - expected) <= 1e-9 * std::max(1.0, std::abs(expected));
}

} // namespace

class TestLiveAnalysisFigures : public QObject
{
    Q_OBJECT

private slots:
    void regionStatistics_data();
    void regionStatistics();
    void histogramBins_data();
    void histogramBins();
    void receivedRate_data();
    void receivedRate();
    void steadyRanges_data();
    void steadyRanges();
};

void TestLiveAnalysisFigures::regionStatistics_data()
{
    QTest::addColumn<std::vector<double>>("frame");
    QTest::addColumn<QRect>("region");
    QTest::addColumn<QRect>("measured");
    QTest::addColumn<QList<double>>("figures"); // pixels, NaN pixels, mean, deviation, minimum, maximum

    const QRect whole(0, 0, 128, 128);
    QTest::newRow("flat frame, whole matrix")
        << std::vector<double>(16384, 3.7) << QRect() << whole << QList<double>{16384, 0, 3.7, 0, 3.7, 3.7};
    // Columns 10..19 and rows 5..8: x and y vary independently.
    QTest::newRow("gradient") << gradientFrame() << QRect(10, 5, 10, 4) << QRect(10, 5, 10, 4)
                              << QList<double>{40, 0, 14.5 + 128 * 6.5,
                                               std::sqrt(runVariance(10) + 128.0 * 128.0 * runVariance(4)),
                                               10.0 + 128 * 5, 19.0 + 128 * 8};
    QTest::newRow("gradient, region past the corner clipped")
        << gradientFrame() << QRect(120, 120, 20, 20) << QRect(120, 120, 8, 8)
        << QList<double>{64, 0, 123.5 + 128 * 123.5, std::sqrt(runVariance(8) * (1.0 + 128.0 * 128.0)),
                         120.0 + 128 * 120, 127.0 + 128 * 127};
    // Hundreds of nA varying by thousandths: +-0.001 alternating, mean 500.
    std::vector<double> quiet(16384);
    for (std::size_t i = 0; i < quiet.size(); ++i)
        quiet[i] = 500.0 + (i % 2 ? 0.001 : -0.001);
    QTest::newRow("small noise on a large current")
        << quiet << QRect() << whole << QList<double>{16384, 0, 500.0, 0.001, 499.999, 500.001};
    // A 4 x 4 region: three NaN, one 14 and twelve 1: mean 2, variance (12 + 144) / 13 = 12.
    std::vector<double> holed(16384, 50.0);
    for (int y = 2; y < 6; ++y)
        for (int x = 2; x < 6; ++x)
            holed[std::size_t(x + 128 * y)] = 1.0;
    holed[2 + 128 * 2] = holed[3 + 128 * 2] = holed[5 + 128 * 5] = kNaN;
    holed[4 + 128 * 3] = 14.0;
    QTest::newRow("NaN pixels left out")
        << holed << QRect(2, 2, 4, 4) << QRect(2, 2, 4, 4) << QList<double>{13, 3, 2.0, std::sqrt(12.0), 1.0, 14.0};
    QTest::newRow("only NaN") << std::vector<double>(16384, kNaN) << QRect(0, 0, 2, 3) << QRect(0, 0, 2, 3)
                              << QList<double>{0, 6, kNaN, kNaN, kNaN, kNaN};
    QTest::newRow("frame of the wrong size")
        << std::vector<double>(100, 1.0) << QRect() << whole << QList<double>{0, 0, kNaN, kNaN, kNaN, kNaN};
}

void TestLiveAnalysisFigures::regionStatistics()
{
    QFETCH(std::vector<double>, frame);
    QFETCH(QRect, region);
    QFETCH(QRect, measured);
    QFETCH(QList<double>, figures);
    const RegionFigures f = RegionStatistics::measure(frame, region);
    QCOMPARE(f.region, measured);
    const QList<double> actual{double(f.pixels), double(f.nanPixels), f.mean, f.standardDeviation, f.minimum,
                               f.maximum};
    for (int i = 0; i < figures.size(); ++i)
        QVERIFY2(same(actual[i], figures[i]), qPrintable(QStringLiteral("figure %1 is %2 instead of %3")
                                                             .arg(i)
                                                             .arg(actual[i], 0, 'g', 17)
                                                             .arg(figures[i], 0, 'g', 17)));
    if (f.pixels > 0)
        QVERIFY(same(f.signalToNoise, f.mean / figures[3])); // infinite for a flat frame
}

void TestLiveAnalysisFigures::histogramBins_data()
{
    QTest::addColumn<QList<double>>("values");
    QTest::addColumn<int>("bins");
    QTest::addColumn<QList<double>>("counts");
    QTest::addColumn<double>("low");
    QTest::addColumn<double>("high");
    const QList<double> tens{0, 1, 2, 3, 4, 5, 6, 7, 8, 9};
    QTest::newRow("one value per bin") << tens << 10 << QList<double>(10, 1.0) << 0.0 << 9.0;
    QTest::newRow("two values per bin, highest included") << tens << 5 << QList<double>(5, 2.0) << 0.0 << 9.0;
    QTest::newRow("NaN and infinity left out")
        << QList<double>{kNaN, 0, 1, 2, 3, kInf, -kInf} << 2 << QList<double>{2, 2} << 0.0 << 3.0;
    QTest::newRow("one value, a bin 1 nA wide") << QList<double>{4, 4, 4} << 3 << QList<double>{0, 3, 0} << 3.5 << 4.5;
    QTest::newRow("no numbers") << QList<double>{kNaN} << 4 << QList<double>{} << 0.0 << 0.0;
}

void TestLiveAnalysisFigures::histogramBins()
{
    QFETCH(QList<double>, values);
    QFETCH(int, bins);
    QFETCH(QList<double>, counts);
    QFETCH(double, low);
    QFETCH(double, high);
    const CurrentHistogram histogram = CurrentHistogram::of(values.constData(), int(values.size()), bins);
    QCOMPARE(QList<double>(histogram.counts.begin(), histogram.counts.end()), counts);
    QCOMPARE(histogram.low, low);
    QCOMPARE(histogram.high, high);
    if (!counts.isEmpty()) {
        QCOMPARE(int(histogram.centres.size()), bins);
        QCOMPARE(histogram.centres.front(), low + (high - low) / bins / 2);
    }
}

void TestLiveAnalysisFigures::receivedRate_data()
{
    QTest::addColumn<QList<QPoint>>("readings"); // (ms, received count)
    QTest::addColumn<double>("framesPerSecond");
    QTest::newRow("one reading") << QList<QPoint>{{0, 5}} << 0.0;
    QTest::newRow("100 frames in a second") << QList<QPoint>{{0, 0}, {500, 40}, {1000, 100}} << 100.0;
    QTest::newRow("only the last two seconds count")
        << QList<QPoint>{{0, 0}, {1000, 1000}, {3000, 1200}, {4000, 1300}} << 100.0;
    QTest::newRow("a new capture starts over") << QList<QPoint>{{0, 0}, {1000, 500}, {1500, 10}, {2000, 60}} << 100.0;
    QTest::newRow("frames stopped") << QList<QPoint>{{0, 0}, {1000, 50}, {3500, 50}} << 0.0;
}

void TestLiveAnalysisFigures::receivedRate()
{
    QFETCH(QList<QPoint>, readings);
    QFETCH(double, framesPerSecond);
    ReceivedRate rate;
    for (const QPoint reading : readings)
        rate.add(reading.x(), std::uint64_t(reading.y()));
    QCOMPARE(rate.framesPerSecond(), framesPerSecond);
}

void TestLiveAnalysisFigures::steadyRanges_data()
{
    // shown [lower, upper], needed [lower, upper] -> result [lower, upper] with a margin of 0.5
    QTest::addColumn<QList<double>>("values");
    QTest::newRow("data inside stays") << QList<double>{0, 100, 20, 90, 0, 100};
    QTest::newRow("data past the top refits") << QList<double>{0, 100, 20, 120, -30, 170};
    QTest::newRow("data shrunk to a third refits") << QList<double>{0, 90, 30, 60, 15, 75};
    QTest::newRow("flat data gets a span") << QList<double>{0, 1, 5, 5, 5 - 0.0025, 5 + 0.0025};
}

void TestLiveAnalysisFigures::steadyRanges()
{
    QFETCH(QList<double>, values);
    const QCPRange range = PlotRanges::steady(QCPRange(values[0], values[1]), QCPRange(values[2], values[3]), 0.5);
    QVERIFY(same(range.lower, values[4]));
    QVERIFY(same(range.upper, values[5]));
    // Counts: the top stays between the highest count and twice the headroom.
    QCOMPARE(PlotRanges::steadyTop(100.0, 80.0, 1.25), 100.0);
    QCOMPARE(PlotRanges::steadyTop(100.0, 120.0, 1.25), 150.0);
    QCOMPARE(PlotRanges::steadyTop(100.0, 40.0, 1.25), 50.0);
}

QTEST_GUILESS_MAIN(TestLiveAnalysisFigures)
#include "tst_liveanalysisfigures.moc"
