// The simulated instrument's parts: the range byte, the
// timed receive queue, the pixel model and the digit scenes.

#include "simulator/DigitScene.h"
#include "simulator/ParameterCommand.h"
#include "simulator/ReceiveQueue.h"
#include "simulator/SensorModel.h"
#include "simulator/ZK128Device.h"
#include "tests/simulator/SimTestSupport.h"

#include <QtTest>

#include <cmath>
#include <numeric>

using namespace std::chrono_literals;
using simtest::parameterCommand;

namespace {
double mean(const std::vector<double> &v)
{
    return std::accumulate(v.begin(), v.end(), 0.0) / double(v.size());
}

double relativeSpread(const std::vector<double> &v)
{
    const double m = mean(v);
    double sq = 0.0;
    for (double x : v)
        sq += (x - m) * (x - m);
    return std::sqrt(sq / double(v.size())) / m;
}
} // namespace

class TestZK128Device : public QObject
{
    Q_OBJECT

private slots:
    void rangeByteMeansRange_data();
    void rangeByteMeansRange();
    void queueRevealsChunksAtTheUsbRate();
    void queueKeepsAnswersInOrder();
    void rawValueIsCurrentOverRange_data();
    void rawValueIsCurrentOverRange();
    void seedFixesTheMatrix();
    void noiseIsFreshUnlessSeeded_data();
    void noiseIsFreshUnlessSeeded();
    void digitsAreEmbeddedAndShownCentred();
    void cyclingSceneMovesOn();
    void hotplugCallbackReportsArrivalAndRemoval();
    void serialUnreadableAfterPlugIn();
    void commandRecordIsBounded();
};

void TestZK128Device::rangeByteMeansRange_data()
{
    QTest::addColumn<int>("candidate");
    QTest::addColumn<int>("rangeByte");
    QTest::addColumn<int>("count");
    QTest::addColumn<double>("rangeNa");
    // Candidate and count as the host's integration search produces them.
    QTest::newRow("800 nA") << 3 << 0x20 << 7180 << 800.0;
    QTest::newRow("100 nA") << 1 << 0x64 << 19148 << 100.0;
    QTest::newRow("10 nA") << 0 << 0x0A << 47870 << 10.0;
    QTest::newRow("1 nA") << 0 << 0x01 << 478707 << 1.0;
    QTest::newRow("typed 37 nA") << 0 << 0x25 << 12938 << 37.0;
    QTest::newRow("typed 32 nA shares 0x20") << 0 << 0x20 << 14959 << 32.0;
    QTest::newRow("typed 288 nA shares 0x20") << 1 << 0x20 << 6648 << 288.0;
    QTest::newRow("typed 512 nA is byte 0") << 3 << 0x00 << 11219 << 512.0;
    QTest::newRow("count 0: 0x20 is 800") << 3 << 0x20 << 0 << 800.0;
    QTest::newRow("count 0: 0x00 is 256") << 0 << 0x00 << 0 << 256.0;
    QTest::newRow("count 0: other byte is itself") << 0 << 0x64 << 0 << 100.0;
    QTest::newRow("count disagrees: byte wins") << 0 << 0x0A << 7180 << 10.0;
}

void TestZK128Device::rangeByteMeansRange()
{
    QFETCH(int, candidate);
    QFETCH(int, rangeByte);
    QFETCH(int, count);
    QFETCH(double, rangeNa);
    const QByteArray frame = parameterCommand(candidate, rangeByte, std::uint32_t(count));
    const auto parsed = ParameterCommand::parse(reinterpret_cast<const std::uint8_t *>(frame.constData()), 18);
    QVERIFY(parsed.has_value());
    QCOMPARE(parsed->integrationCount, std::uint32_t(count));
    QCOMPARE(parsed->rangeNa(), rangeNa);
    QCOMPARE(ParameterCommand::voltsFromField(parsed->vonField), 0.0);
}

void TestZK128Device::queueRevealsChunksAtTheUsbRate()
{
    ReceiveQueue queue;
    queue.setBytesPerSecond(1e6); // one byte per microsecond
    queue.setChunkBytes(1000);
    const auto t0 = ReceiveQueue::Clock::time_point{} + 1s;
    queue.push(std::vector<std::uint8_t>(2500, 7), t0);
    QCOMPARE(queue.available(t0 - 1us), std::size_t(0));
    QCOMPARE(queue.available(t0 + 999us), std::size_t(0));
    QCOMPARE(queue.available(t0 + 1000us), std::size_t(1000));
    QCOMPARE(queue.available(t0 + 2400us), std::size_t(2000));
    QCOMPARE(queue.available(t0 + 2500us), std::size_t(2500)); // the partial last chunk at the end
    QCOMPARE(queue.nextArrival(t0 + 1500us).value(), t0 + 2000us);

    std::vector<std::uint8_t> out(4000);
    QCOMPARE(queue.take(out.data(), 1500, t0 + 2000us), std::size_t(1500));
    QCOMPARE(queue.available(t0 + 2000us), std::size_t(500));
    QCOMPARE(queue.pendingBytes(), std::size_t(1000));
    QCOMPARE(queue.take(out.data(), 4000, t0 + 3000us), std::size_t(1000));
    QVERIFY(!queue.nextArrival(t0 + 3000us).has_value());
}

void TestZK128Device::queueKeepsAnswersInOrder()
{
    ReceiveQueue queue;
    queue.setBytesPerSecond(1e6);
    queue.setChunkBytes(100);
    const auto t0 = ReceiveQueue::Clock::time_point{} + 1s;
    queue.push(std::vector<std::uint8_t>(300, 1), t0 + 10ms);   // a frame ready late
    queue.push(std::vector<std::uint8_t>{2, 2, 2, 2, 2}, t0);  // an answer ready early
    // The link carries one thing at a time: the answer follows the frame.
    QCOMPARE(queue.available(t0 + 5ms), std::size_t(0));
    std::vector<std::uint8_t> out(305);
    QCOMPARE(queue.take(out.data(), out.size(), t0 + 20ms), std::size_t(305));
    QCOMPARE(out[299], std::uint8_t(1));
    QCOMPARE(out[300], std::uint8_t(2));
}

void TestZK128Device::rawValueIsCurrentOverRange_data()
{
    QTest::addColumn<double>("currentNa");
    QTest::addColumn<double>("rangeNa");
    QTest::addColumn<quint32>("raw");
    QTest::newRow("full range") << 800.0 << 800.0 << quint32(1000000);
    QTest::newRow("rounded") << 119.3046 << 100.0 << quint32(1193046);
    QTest::newRow("negative clamps to 0") << -3.0 << 100.0 << quint32(0);
    QTest::newRow("overload clamps") << 20000.0 << 800.0 << quint32(0xFFFFFF);
    QTest::newRow("range 0 gives 0") << 5.0 << 0.0 << quint32(0);
}

void TestZK128Device::rawValueIsCurrentOverRange()
{
    QFETCH(double, currentNa);
    QFETCH(double, rangeNa);
    QFETCH(quint32, raw);
    QCOMPARE(SensorModel::rawFromCurrent(currentNa, rangeNa), raw);
}

void TestZK128Device::seedFixesTheMatrix()
{
    const SensorModel a(1), b(1), c(2);
    std::vector<double> gains, offsets;
    int differ = 0;
    for (int i = 0; i < SensorModel::PixelCount; ++i) {
        QCOMPARE(a.gain(i), b.gain(i));
        differ += a.gain(i) != c.gain(i);
        gains.push_back(a.gain(i));
        offsets.push_back(a.offsetFraction(i));
    }
    QVERIFY(differ > SensorModel::PixelCount / 2);
    // Visible non-uniformity, yet every full-on pixel stays inside the range.
    QVERIFY(relativeSpread(gains) > 0.04);
    QVERIFY(mean(offsets) > 0.01 && mean(offsets) < 0.08);
    QVERIFY(*std::max_element(gains.begin(), gains.end()) * 0.6 + 0.08 < 1.0);
}

void TestZK128Device::noiseIsFreshUnlessSeeded_data()
{
    QTest::addColumn<bool>("noiseSeeded");
    QTest::newRow("two runs differ in noise") << false;
    QTest::newRow("the noise seed repeats it") << true;
}

void TestZK128Device::noiseIsFreshUnlessSeeded()
{
    QFETCH(bool, noiseSeeded);
    const auto noiseSeed = noiseSeeded ? std::optional<std::uint32_t>(5) : std::nullopt;
    SensorModel first(1, noiseSeed), second(1, noiseSeed);
    const std::vector<float> light(SensorModel::PixelCount, 0.5f);
    std::vector<std::uint8_t> a(3 * SensorModel::PixelCount), b(a.size());
    first.sampleFrame(light, 480.0, 800.0, 1.6, a.data());
    second.sampleFrame(light, 480.0, 800.0, 1.6, b.data());
    QCOMPARE(a == b, noiseSeeded);
    // The device itself (offsets and gains) stays the seed's either way.
    for (int i = 0; i < SensorModel::PixelCount; i += 97)
        QCOMPARE(first.gain(i), second.gain(i));
}

void TestZK128Device::digitsAreEmbeddedAndShownCentred()
{
    QVERIFY(DigitScene::dataComplete());
    QVERIFY(!DigitScene::digitPixels(10, 0));
    QVERIFY(!DigitScene::digitPixels(0, DigitScene::SamplesPerDigit));
    DigitScene scene;
    for (int digit = 0; digit < 10; ++digit) {
        const int ink = std::count_if(DigitScene::digitPixels(digit, 0), DigitScene::digitPixels(digit, 0) + 784,
                                      [](std::uint8_t v) { return v > 128; });
        QVERIFY2(ink > 40, qPrintable(QString("digit %1 has almost no strokes").arg(digit)));
        const std::vector<float> light = scene.transmission(digit, 0);
        // The border stays lit; the strokes fall inside the central 100 x 100 square and block most light.
        for (int i = 0; i < 128; ++i) {
            QCOMPARE(light[std::size_t(i)], 1.0f);
            QCOMPARE(light[std::size_t(i * 128 + 5)], 1.0f);
        }
        QVERIFY(*std::min_element(light.begin(), light.end()) < 0.2f);
    }
    const std::vector<float> one = scene.transmission(1, 0);
    QVERIFY(one != scene.transmission(7, 0));
}

void TestZK128Device::cyclingSceneMovesOn()
{
    ZK128Device device;
    device.setScene(ZK128Device::Scene::CyclingDigits);
    device.setDigitPeriod(40ms);
    QCOMPARE(device.digitShown(), 0);
    QTRY_COMPARE_WITH_TIMEOUT(device.digitShown(), 1, 2000);
    device.setScene(ZK128Device::Scene::FixedDigit);
    device.setFixedDigit(7);
    QCOMPARE(device.digitShown(), 7);
    device.setScene(ZK128Device::Scene::Uniform);
    QCOMPARE(device.digitShown(), -1);
}

void TestZK128Device::hotplugCallbackReportsArrivalAndRemoval()
{
    ZK128Device device;
    QList<bool> events;
    device.setHotplugCallback([&events](bool arrived) { events << arrived; });
    device.unplug();
    device.unplug(); // already gone: no second event
    QVERIFY(!device.isPlugged());
    QCOMPARE(device.serialNumber(), std::string());
    device.replug();
    QCOMPARE(events, (QList<bool>{false, true}));
    QCOMPARE(device.plugGeneration(), std::uint64_t(1));
}

void TestZK128Device::serialUnreadableAfterPlugIn()
{
    ZK128Device device;
    device.setSerialUnreadableFor(150ms);
    device.unplug();
    device.replug();
    QCOMPARE(device.serialNumber(), std::string());
    QTRY_COMPARE_WITH_TIMEOUT(device.serialNumber(), std::string("ZK128"), 2000);
}

QTEST_GUILESS_MAIN(TestZK128Device)
void TestZK128Device::commandRecordIsBounded()
{
    // Hours of capture must not grow the record: it keeps the newest commands.
    ZK128Device device;
    device.setAnswering(false); // frame requests (05) queue no frames
    QByteArray many;
    for (std::size_t k = 0; k < ZK128Device::kCommandHistory + 3; ++k)
        many += simtest::command(k + 1 == ZK128Device::kCommandHistory + 3 ? 0x03 : 0x05);
    device.hostWrite(reinterpret_cast<const std::uint8_t *>(many.constData()), std::size_t(many.size()));
    const auto commands = device.receivedCommands();
    QCOMPARE(commands.size(), ZK128Device::kCommandHistory);
    QCOMPARE(int(commands.back()[2]), 0x03);
}

#include "tst_zk128device.moc"
