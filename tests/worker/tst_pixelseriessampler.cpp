#include "acquisition/PixelSeriesSampler.h"

#include <QtTest>

#include <chrono>

using namespace std::chrono_literals;
using Clock = PixelSeriesSampler::Clock;

namespace {

RawFrame frameWithRaw(std::initializer_list<std::pair<int, std::uint32_t>> pixels)
{
    RawFrame frame(std::size_t(Zk128::FrameLength), 0);
    for (const auto &[index, raw] : pixels) {
        frame[std::size_t(3 * index)] = std::uint8_t(raw >> 16);
        frame[std::size_t(3 * index + 1)] = std::uint8_t(raw >> 8);
        frame[std::size_t(3 * index + 2)] = std::uint8_t(raw);
    }
    return frame;
}

} // namespace

class TestPixelSeriesSampler : public QObject
{
    Q_OBJECT

private slots:
    void handsOutThePreviousSamples();
    void rebaseReportsTheHeldTime_data();
    void rebaseReportsTheHeldTime();
    void samplesOnlyValidPixels_data();
    void samplesOnlyValidPixels();
};

void TestPixelSeriesSampler::handsOutThePreviousSamples()
{
    PixelSeriesSampler sampler;
    const Clock::time_point t0{};
    const std::vector<int> pixels{0, 5};
    double elapsed = -1.0;

    // 500,000 and 250,000 at range 100: 50 and 25 nA.
    auto first = sampler.step(frameWithRaw({{0, 500000}, {5, 250000}}), pixels, 100, t0 + 1s, elapsed);
    QCOMPARE(elapsed, 0.0);
    QCOMPARE(first->size(), std::size_t(3));
    for (const auto &list : *first)
        QVERIFY(list.empty());

    auto second = sampler.step(frameWithRaw({{0, 1000000}, {5, 0}}), pixels, 100, t0 + 1s + 25ms + 900us, elapsed);
    QCOMPARE(elapsed, 0.025); // whole milliseconds, truncated
    QCOMPARE(second->size(), std::size_t(3));
    QCOMPARE((*second)[0], std::vector<double>{50.0});
    QCOMPARE((*second)[1], std::vector<double>{25.0});
    QVERIFY((*second)[2].empty());

    auto third = sampler.step(frameWithRaw({}), pixels, 100, t0 + 2s, elapsed);
    QCOMPARE(elapsed, 1.0);
    QCOMPARE((*third)[0], std::vector<double>{100.0});
    QCOMPARE((*third)[1], std::vector<double>{0.0});
    // Every hand-out is its own object: the earlier one is unchanged.
    QCOMPARE((*second)[0], std::vector<double>{50.0});
}

void TestPixelSeriesSampler::rebaseReportsTheHeldTime_data()
{
    QTest::addColumn<double>("held");
    QTest::addColumn<int>("laterMs");
    QTest::addColumn<double>("later");
    QTest::newRow("12.345 s") << 12.345 << 7 << 12.352;
    QTest::newRow("one millisecond") << 0.001 << 1000 << 1.001;
    QTest::newRow("whole seconds") << 3.0 << 250 << 3.25;
    QTest::newRow("long run") << 4321.987 << 13 << 4322.0;
}

void TestPixelSeriesSampler::rebaseReportsTheHeldTime()
{
    QFETCH(double, held);
    QFETCH(int, laterMs);
    QFETCH(double, later);

    PixelSeriesSampler sampler;
    const RawFrame frame = frameWithRaw({});
    const std::vector<int> pixels{0};
    double elapsed = 0.0;
    const Clock::time_point t0{};
    sampler.step(frame, pixels, 100, t0, elapsed);
    sampler.step(frame, pixels, 100, t0 + 90s, elapsed);
    QCOMPARE(elapsed, 90.0);

    // Restarted long after it was held: the curve continues at the held time.
    const Clock::time_point restart = t0 + 500s;
    sampler.rebase(held, restart);
    sampler.step(frame, pixels, 100, restart, elapsed);
    QCOMPARE(elapsed, held);
    sampler.step(frame, pixels, 100, restart + std::chrono::milliseconds(laterMs), elapsed);
    QCOMPARE(elapsed, later);
}

void TestPixelSeriesSampler::samplesOnlyValidPixels_data()
{
    QTest::addColumn<std::vector<int>>("pixels");
    QTest::addColumn<std::vector<int>>("listSizes");
    QTest::newRow("first and last pixel") << std::vector<int>{0, 16383} << std::vector<int>{1, 1, 0};
    QTest::newRow("minus one") << std::vector<int>{-1, 3} << std::vector<int>{0, 1, 0};
    QTest::newRow("past the end") << std::vector<int>{16384} << std::vector<int>{0, 0, 0};
    QTest::newRow("four pixels, three channels") << std::vector<int>{1, 2, 3, 4} << std::vector<int>{1, 1, 1};
    QTest::newRow("none") << std::vector<int>{} << std::vector<int>{0, 0, 0};
}

void TestPixelSeriesSampler::samplesOnlyValidPixels()
{
    QFETCH(std::vector<int>, pixels);
    QFETCH(std::vector<int>, listSizes);

    PixelSeriesSampler sampler;
    const RawFrame frame = frameWithRaw({{0, 1}, {1, 2}, {2, 3}, {3, 4}, {4, 5}, {16383, 16777215}});
    double elapsed = 0.0;
    sampler.step(frame, pixels, 800, Clock::time_point{}, elapsed);
    const auto series = sampler.step(frame, pixels, 800, Clock::time_point{} + 1ms, elapsed);
    QCOMPARE(series->size(), std::size_t(3));
    for (int k = 0; k < 3; ++k)
        QCOMPARE(int((*series)[std::size_t(k)].size()), listSizes[std::size_t(k)]);
    if (!pixels.empty() && pixels[0] == 16383)
        QCOMPARE((*series)[0][0], 16777215.0 * 800.0 * 0.000001);
}

QTEST_GUILESS_MAIN(TestPixelSeriesSampler)
#include "tst_pixelseriessampler.moc"
