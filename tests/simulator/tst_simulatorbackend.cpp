// The simulator as the console meets it: byte for byte through the D2XX calls.

#include "simulator/SimulatorBackend.h"
#include "simulator/SimulatorEnvironment.h"
#include "simulator/ZK128Device.h"
#include "tests/simulator/SimTestSupport.h"

#include <QElapsedTimer>
#include <QtTest>

#include <atomic>
#include <cmath>
#include <cstring>
#include <thread>

using namespace std::chrono_literals;
using namespace simtest;

namespace {

constexpr int kFrameBytes = 49157;

struct Rig {
    std::shared_ptr<ZK128Device> device = std::make_shared<ZK128Device>(7);
    SimulatorBackend backend{device};
    FT_HANDLE handle = nullptr;

    Rig()
    {
        device->setScene(ZK128Device::Scene::Uniform);
        handle = openConfigured(backend);
    }
    ~Rig()
    {
        if (handle)
            backend.close(handle);
    }
    // Sets range byte and count (count 0: no integration wait) and drops the acknowledgement.
    bool setParameters(int candidate, int rangeByte, std::uint32_t count)
    {
        return write(backend, handle, parameterCommand(candidate, rangeByte, count))
            && readUpTo(backend, handle, 5, 2000) == bytes({0xAE, 0xCC, 0x01, 0x7B, 0x0A});
    }
    QByteArray requestFrame(int deadlineMs = 3000)
    {
        if (!write(backend, handle, command(0x05)))
            return {};
        return readUpTo(backend, handle, kFrameBytes, deadlineMs);
    }
    // Nothing further arrives within the window (bounded wait through the read time-out).
    bool staysQuiet(int windowMs = 60) { return readUpTo(backend, handle, 1, windowMs).isEmpty(); }
};

std::vector<double> currents(const QByteArray &frame, double rangeNa)
{
    std::vector<double> out(ZK128Device::PixelCount);
    for (int i = 0; i < ZK128Device::PixelCount; ++i)
        out[std::size_t(i)] = rawAt(frame, 3, i) * rangeNa * 1e-6;
    return out;
}

double relativeSpread(const std::vector<double> &v)
{
    double m = 0.0, sq = 0.0;
    for (double x : v)
        m += x;
    m /= double(v.size());
    for (double x : v)
        sq += (x - m) * (x - m);
    return std::sqrt(sq / double(v.size())) / m;
}

} // namespace

class TestSimulatorBackend : public QObject
{
    Q_OBJECT

private slots:
    void enumerationListsTheDevice();
    void deviceListNeverExceedsCallerCapacity();
    void serialUnreadableRightAfterPlugIn();
    void openBySerialOnly_data();
    void openBySerialOnly();
    void secondOpenRefusedUntilClosed();
    void deadHandlesAreRefused_data();
    void deadHandlesAreRefused();
    void configurationIsRemembered();
    void commandAnswers_data();
    void commandAnswers();
    void frameRequestGivesOneFrame();
    void frameArrivesOverSeveralReads();
    void frameWaitsForIntegration();
    void readTimeoutIsHonoured();
    void readNeverPassesRequestedLength();
    void rangeByteScalesRawValues_data();
    void rangeByteScalesRawValues();
    void lampAndNonUniformity();
    void digitSceneShadowsTheMatrix();
    void faults_data();
    void faults();
    void readFailuresThenRecovery();
    void unplugInvalidatesHandles();
    void unplugWakesBlockedRead();
    void concurrentCallsFromTwoThreads();
    void environmentConfiguresDevice_data();
    void environmentConfiguresDevice();
};

void TestSimulatorBackend::enumerationListsTheDevice()
{
    SimulatorBackend backend(std::make_shared<ZK128Device>());
    QVERIFY(backend.isSimulator());
    DWORD count = 99;
    QCOMPARE(backend.createDeviceInfoList(&count), FT_OK);
    QCOMPARE(count, DWORD(1));
    FT_DEVICE_LIST_INFO_NODE node;
    std::memset(&node, 0xCD, sizeof node);
    QCOMPARE(backend.getDeviceInfoList(&node, &count), FT_OK);
    QCOMPARE(QByteArray(node.SerialNumber), QByteArray("ZK128"));
    QCOMPARE(QByteArray(node.Description), QByteArray("ZK128 USB"));
    QCOMPARE(node.Flags & 1u, 0u);
    QCOMPARE(node.ftHandle, nullptr);

    FT_HANDLE handle = openConfigured(backend);
    QVERIFY(handle);
    QCOMPARE(backend.getDeviceInfoList(&node, &count), FT_OK);
    QCOMPARE(node.Flags & 1u, 1u);
    QCOMPARE(node.ftHandle, handle);

    backend.device()->unplug();
    QCOMPARE(backend.createDeviceInfoList(&count), FT_OK);
    QCOMPARE(count, DWORD(0));
    backend.close(handle);
}

void TestSimulatorBackend::deviceListNeverExceedsCallerCapacity()
{
    SimulatorBackend backend(std::make_shared<ZK128Device>());
    FT_DEVICE_LIST_INFO_NODE nodes[2];
    std::memset(nodes, 0xCD, sizeof nodes);
    DWORD count = 0; // the caller sized nothing
    QCOMPARE(backend.getDeviceInfoList(nodes, &count), FT_OK);
    QCOMPARE(count, DWORD(1));
    QCOMPARE(std::uint8_t(nodes[0].SerialNumber[0]), std::uint8_t(0xCD));
    count = 1;
    QCOMPARE(backend.getDeviceInfoList(nodes, &count), FT_OK);
    QCOMPARE(std::uint8_t(reinterpret_cast<unsigned char *>(&nodes[1])[0]), std::uint8_t(0xCD));
    QVERIFY(backend.getDeviceInfoList(nodes, nullptr) != FT_OK);
    QVERIFY(backend.createDeviceInfoList(nullptr) != FT_OK);
}

void TestSimulatorBackend::serialUnreadableRightAfterPlugIn()
{
    auto device = std::make_shared<ZK128Device>();
    SimulatorBackend backend(device);
    device->setSerialUnreadableFor(200ms);
    device->unplug();
    device->replug();
    FT_DEVICE_LIST_INFO_NODE node;
    DWORD count = 1;
    QCOMPARE(backend.getDeviceInfoList(&node, &count), FT_OK);
    QCOMPARE(count, DWORD(1));
    QCOMPARE(node.SerialNumber[0], '\0');
    FT_HANDLE handle = nullptr;
    QCOMPARE(backend.openEx("ZK128", FT_OPEN_BY_SERIAL_NUMBER, &handle), FT_DEVICE_NOT_FOUND);
    QTRY_VERIFY_WITH_TIMEOUT((backend.getDeviceInfoList(&node, &count), QByteArray(node.SerialNumber) == "ZK128"),
                             3000);
    QCOMPARE(backend.openEx("ZK128", FT_OPEN_BY_SERIAL_NUMBER, &handle), FT_OK);
    backend.close(handle);
}

void TestSimulatorBackend::openBySerialOnly_data()
{
    QTest::addColumn<QByteArray>("serial");
    QTest::addColumn<int>("flags");
    QTest::addColumn<bool>("unplugged");
    QTest::addColumn<bool>("opens");
    QTest::newRow("ZK128 by serial") << QByteArray("ZK128") << int(FT_OPEN_BY_SERIAL_NUMBER) << false << true;
    QTest::newRow("wrong serial") << QByteArray("ZK129") << int(FT_OPEN_BY_SERIAL_NUMBER) << false << false;
    QTest::newRow("serial prefix") << QByteArray("ZK12") << int(FT_OPEN_BY_SERIAL_NUMBER) << false << false;
    QTest::newRow("empty serial") << QByteArray("") << int(FT_OPEN_BY_SERIAL_NUMBER) << false << false;
    QTest::newRow("by description") << QByteArray("ZK128 USB") << int(FT_OPEN_BY_DESCRIPTION) << false << false;
    QTest::newRow("unplugged") << QByteArray("ZK128") << int(FT_OPEN_BY_SERIAL_NUMBER) << true << false;
}

void TestSimulatorBackend::openBySerialOnly()
{
    QFETCH(QByteArray, serial);
    QFETCH(int, flags);
    QFETCH(bool, unplugged);
    QFETCH(bool, opens);
    SimulatorBackend backend(std::make_shared<ZK128Device>());
    if (unplugged)
        backend.device()->unplug();
    FT_HANDLE handle = reinterpret_cast<FT_HANDLE>(0x1);
    const FT_STATUS status = backend.openEx(serial.constData(), DWORD(flags), &handle);
    QCOMPARE(status == FT_OK, opens);
    QCOMPARE(handle != nullptr, opens);
    if (!opens)
        QCOMPARE(status, FT_DEVICE_NOT_FOUND);
    backend.close(handle);
}

void TestSimulatorBackend::secondOpenRefusedUntilClosed()
{
    SimulatorBackend backend(std::make_shared<ZK128Device>());
    FT_HANDLE first = openConfigured(backend);
    QVERIFY(first);
    FT_HANDLE second = nullptr;
    QVERIFY(backend.openEx("ZK128", FT_OPEN_BY_SERIAL_NUMBER, &second) != FT_OK);
    QCOMPARE(second, nullptr);
    QCOMPARE(backend.close(first), FT_OK);
    QCOMPARE(backend.openEx("ZK128", FT_OPEN_BY_SERIAL_NUMBER, &second), FT_OK);
    QVERIFY(second != first); // handles are never reused
    QVERIFY(backend.close(first) != FT_OK);
    QCOMPARE(backend.close(second), FT_OK);
}

void TestSimulatorBackend::deadHandlesAreRefused_data()
{
    QTest::addColumn<QString>("kind");
    QTest::newRow("null") << "null";
    QTest::newRow("closed") << "closed";
    QTest::newRow("foreign pointer") << "foreign";
    QTest::newRow("other backend's handle") << "other";
}

void TestSimulatorBackend::deadHandlesAreRefused()
{
    QFETCH(QString, kind);
    SimulatorBackend backend(std::make_shared<ZK128Device>());
    SimulatorBackend other(std::make_shared<ZK128Device>());
    int local = 0;
    FT_HANDLE handle = nullptr;
    if (kind == "closed") {
        handle = openConfigured(backend);
        backend.close(handle);
    } else if (kind == "foreign") {
        handle = &local;
    } else if (kind == "other") {
        handle = openConfigured(other);
        QVERIFY(handle);
    }
    char buffer[16];
    std::memset(buffer, 0x5A, sizeof buffer);
    DWORD n = 77, tx = 77, ev = 77;
    QVERIFY(backend.resetDevice(handle) != FT_OK);
    QVERIFY(backend.purge(handle, FT_PURGE_RX | FT_PURGE_TX) != FT_OK);
    QVERIFY(backend.setBitMode(handle, 0, FT_BITMODE_SYNC_FIFO) != FT_OK);
    QVERIFY(backend.setUsbParameters(handle, 65536, 65536) != FT_OK);
    QVERIFY(backend.setFlowControl(handle, FT_FLOW_RTS_CTS, 0, 0) != FT_OK);
    QVERIFY(backend.setTimeouts(handle, 2000, 1000) != FT_OK);
    QVERIFY(backend.write(handle, command(0x00).constData(), 5, &n) != FT_OK);
    QCOMPARE(n, DWORD(0));
    QVERIFY(backend.getStatus(handle, &n, &tx, &ev) != FT_OK);
    QVERIFY(backend.read(handle, buffer, sizeof buffer, &n) != FT_OK);
    QCOMPARE(n, DWORD(0));
    QCOMPARE(std::uint8_t(buffer[0]), std::uint8_t(0x5A));
    QVERIFY(backend.close(handle) != FT_OK);
    QCOMPARE(local, 0);
    QVERIFY(backend.device()->receivedCommands().empty());
    if (kind == "other")
        QCOMPARE(other.close(handle), FT_OK); // still alive in its own backend
}

void TestSimulatorBackend::configurationIsRemembered()
{
    Rig rig;
    QCOMPARE(rig.backend.resetDevice(rig.handle), FT_OK);
    QCOMPARE(rig.backend.purge(rig.handle, FT_PURGE_RX | FT_PURGE_TX), FT_OK);
    QCOMPARE(rig.backend.setBitMode(rig.handle, 0x00, FT_BITMODE_SYNC_FIFO), FT_OK);
    QCOMPARE(rig.backend.setUsbParameters(rig.handle, 65536, 65536), FT_OK);
    QCOMPARE(rig.backend.setFlowControl(rig.handle, FT_FLOW_RTS_CTS, 0, 0), FT_OK);
    QCOMPARE(rig.backend.setTimeouts(rig.handle, 2000, 1000), FT_OK);
    SimulatorBackend::SessionSettings settings;
    QVERIFY(rig.backend.sessionSettings(rig.handle, &settings));
    QCOMPARE(settings.bitMode, UCHAR(0x40));
    QCOMPARE(settings.inTransferSize, ULONG(65536));
    QCOMPARE(settings.flowControl, USHORT(0x0100));
    QCOMPARE(settings.readTimeoutMs, ULONG(2000));
    QCOMPARE(settings.writeTimeoutMs, ULONG(1000));
}

// Each row: the bytes written (in one or more writes) and the exact bytes the host then receives.
void TestSimulatorBackend::commandAnswers_data()
{
    QTest::addColumn<QList<QByteArray>>("writes");
    QTest::addColumn<QByteArray>("answer");
    const QByteArray ackParameters = bytes({0xAE, 0xCC, 0x01, 0x7B, 0x0A});
    const QByteArray parameters = bytes({0xAE, 0xAA, 0x01, 0x80, 0x00, 0x80, 0x00, 0x80, 0x00, 0x80, 0x00,
                                         0x03, 0x20, 0x00, 0x1C, 0x0C, 0xA4, 0x0A});
    QTest::newRow("handshake") << QList<QByteArray>{bytes({0xAE, 0xAA, 0x00, 0x58, 0x0A})}
                               << bytes({0xAE, 0xCC, 0x00, 0x7A, 0x0A});
    QTest::newRow("parameter command") << QList<QByteArray>{parameters} << ackParameters;
    QTest::newRow("parameter command split") << QList<QByteArray>{parameters.left(9), parameters.mid(9)}
                                             << ackParameters;
    QByteArray badSum = parameters;
    badSum[16] = char(0xA5);
    QTest::newRow("parameter wrong checksum ignored") << QList<QByteArray>{badSum} << QByteArray();
    QByteArray badEnd = parameters;
    badEnd[17] = char(0x00);
    QTest::newRow("parameter wrong terminator ignored") << QList<QByteArray>{badEnd} << QByteArray();
    QTest::newRow("parameter too short ignored") << QList<QByteArray>{parameters.left(17)} << QByteArray();
    QTest::newRow("battery") << QList<QByteArray>{command(0x04)} << bytes({0xAE, 0xCC, 0x04, 0x09, 0x60, 0xE7, 0x0A});
    QTest::newRow("start") << QList<QByteArray>{command(0x02)} << bytes({0xAE, 0xCC, 0x02, 0x7C, 0x0A});
    QTest::newRow("stop") << QList<QByteArray>{command(0x03)} << bytes({0xAE, 0xCC, 0x03, 0x7D, 0x0A});
    QTest::newRow("handshake split byte by byte")
        << QList<QByteArray>{bytes({0xAE}), bytes({0xAA}), bytes({0x00}), bytes({0x58}), bytes({0x0A})}
        << bytes({0xAE, 0xCC, 0x00, 0x7A, 0x0A});
    QTest::newRow("two commands in one write") << QList<QByteArray>{command(0x00) + command(0x03)}
                                               << bytes({0xAE, 0xCC, 0x00, 0x7A, 0x0A, 0xAE, 0xCC, 0x03, 0x7D, 0x0A});
    QTest::newRow("unknown code ignored") << QList<QByteArray>{command(0x09)} << QByteArray();
    QTest::newRow("garbage before a command") << QList<QByteArray>{bytes({0x00, 0xAE, 0x13}) + command(0x03)}
                                              << bytes({0xAE, 0xCC, 0x03, 0x7D, 0x0A});
    QTest::newRow("truncated parameter then handshake") << QList<QByteArray>{parameters.left(10), command(0x00)}
                                                        << bytes({0xAE, 0xCC, 0x00, 0x7A, 0x0A});
}

void TestSimulatorBackend::commandAnswers()
{
    QFETCH(QList<QByteArray>, writes);
    QFETCH(QByteArray, answer);
    Rig rig;
    for (const QByteArray &w : writes)
        QVERIFY(write(rig.backend, rig.handle, w));
    QCOMPARE(readUpTo(rig.backend, rig.handle, answer.size(), 2000), answer);
    QVERIFY(rig.staysQuiet());
    if (answer.isEmpty())
        QCOMPARE(rig.device->rangeByte(), std::uint8_t(0x20)); // a malformed parameter command changes nothing
}

void TestSimulatorBackend::frameRequestGivesOneFrame()
{
    Rig rig;
    rig.device->setNoiseNa(0.4);
    QVERIFY(rig.setParameters(3, 0x20, 0));
    const QByteArray frame = rig.requestFrame();
    QCOMPARE(frame.size(), kFrameBytes);
    QCOMPARE(frame.left(3), bytes({0xAE, 0xCC, 0x05}));
    QCOMPARE(std::uint8_t(frame[kFrameBytes - 2]), std::uint8_t(0)); // first frame since plug-in
    unsigned sum = 0;
    for (int i = 0; i < kFrameBytes - 1; ++i)
        sum += std::uint8_t(frame[i]);
    QCOMPARE(std::uint8_t(frame[kFrameBytes - 1]), std::uint8_t(sum & 0xFF));
    QVERIFY(rig.staysQuiet());
    // Each pixel within 6 sigma of the noise plus half a count of quantisation.
    const double tolerance = 6 * 0.4 + 800e-6;
    int worst = -1;
    double worstError = 0.0;
    for (int i = 0; i < ZK128Device::PixelCount; ++i) {
        const double error = std::abs(rawAt(frame, 3, i) * 800e-6 - rig.device->expectedCurrentNa(i));
        if (error > worstError) {
            worstError = error;
            worst = i;
        }
    }
    QVERIFY2(worstError < tolerance, qPrintable(QString("pixel %1 off by %2 nA").arg(worst).arg(worstError)));
    QCOMPARE(rig.requestFrame().at(kFrameBytes - 2), char(1)); // the counter moves on
    QCOMPARE(rig.device->framesSent(), std::uint64_t(2));
}

void TestSimulatorBackend::frameArrivesOverSeveralReads()
{
    Rig rig;
    rig.device->setUsbBytesPerSecond(0.5e6); // about 100 ms per frame, a chunk every 33 ms
    QVERIFY(rig.setParameters(3, 0x20, 0));
    QVERIFY(write(rig.backend, rig.handle, command(0x05)));
    QByteArray frame;
    QList<DWORD> queued;
    QDeadlineTimer deadline(3000);
    std::vector<char> buffer(kFrameBytes);
    while (frame.size() < kFrameBytes && !deadline.hasExpired()) {
        DWORD rx = 0, tx = 0, ev = 0;
        QCOMPARE(rig.backend.getStatus(rig.handle, &rx, &tx, &ev), FT_OK);
        if (rx == 0)
            continue;
        queued << rx;
        DWORD got = 0;
        QCOMPARE(rig.backend.read(rig.handle, buffer.data(), rx, &got), FT_OK);
        QCOMPARE(got, rx);
        frame.append(buffer.data(), int(got));
    }
    QCOMPARE(frame.size(), kFrameBytes);
    QVERIFY2(queued.size() >= 3, qPrintable(QString("the frame came in %1 pieces").arg(queued.size())));
    QCOMPARE(queued.first() % 16384, DWORD(0)); // whole chunks first
}

void TestSimulatorBackend::frameWaitsForIntegration()
{
    Rig rig;
    QVERIFY(rig.setParameters(3, 0x20, 7180)); // 7180 x 12.5 ns x 128 = 11.5 ms
    QCOMPARE(rig.device->framePeriodSeconds(), 7180 * 12.5e-9 * 128);
    QElapsedTimer clock;
    clock.start();
    QVERIFY(write(rig.backend, rig.handle, command(0x05)));
    DWORD rx = 0, tx = 0, ev = 0;
    while (rx == 0 && clock.elapsed() < 3000)
        QCOMPARE(rig.backend.getStatus(rig.handle, &rx, &tx, &ev), FT_OK);
    QVERIFY(rx > 0);
    QVERIFY2(clock.nsecsElapsed() >= 11'400'000, "the first bytes came before the integration ended");
}

void TestSimulatorBackend::readTimeoutIsHonoured()
{
    Rig rig;
    QCOMPARE(rig.backend.setTimeouts(rig.handle, 120, 1000), FT_OK);
    QVERIFY(write(rig.backend, rig.handle, command(0x00)));
    char buffer[64];
    DWORD got = 0;
    QElapsedTimer clock;
    clock.start();
    QCOMPARE(rig.backend.read(rig.handle, buffer, sizeof buffer, &got), FT_OK);
    const qint64 waited = clock.elapsed();
    QCOMPARE(got, DWORD(5)); // what had arrived when the time-out passed
    QVERIFY2(waited >= 115 && waited < 2000, qPrintable(QString("waited %1 ms").arg(waited)));
}

void TestSimulatorBackend::readNeverPassesRequestedLength()
{
    Rig rig;
    QVERIFY(rig.setParameters(3, 0x20, 0));
    QVERIFY(write(rig.backend, rig.handle, command(0x05)));
    std::vector<char> buffer(200, char(0x77));
    DWORD got = 0;
    QCOMPARE(rig.backend.read(rig.handle, buffer.data(), 100, &got), FT_OK);
    QCOMPARE(got, DWORD(100));
    QVERIFY(std::all_of(buffer.begin() + 100, buffer.end(), [](char c) { return c == char(0x77); }));
}

void TestSimulatorBackend::rangeByteScalesRawValues_data()
{
    QTest::addColumn<int>("rangeByte");
    QTest::addColumn<double>("rangeNa");
    QTest::newRow("800 nA") << 0x20 << 800.0;
    QTest::newRow("100 nA") << 0x64 << 100.0;
    QTest::newRow("10 nA") << 0x0A << 10.0;
    QTest::newRow("1 nA") << 0x01 << 1.0;
}

void TestSimulatorBackend::rangeByteScalesRawValues()
{
    QFETCH(int, rangeByte);
    QFETCH(double, rangeNa);
    Rig rig;
    rig.device->setNoiseNa(0.0);
    rig.device->setLampCurrentNa(0.5); // the same light at every range
    QVERIFY(rig.setParameters(0, rangeByte, 0));
    QCOMPARE(rig.device->rangeNa(), rangeNa);
    const QByteArray frame = rig.requestFrame();
    QCOMPARE(frame.size(), kFrameBytes);
    const int pixel = 64 + 128 * 64;
    const double expected = rig.device->expectedCurrentNa(pixel);
    // Without noise the raw value is exactly current / range x 1e6, rounded.
    QCOMPARE(rawAt(frame, 3, pixel), quint32(std::lround(expected / rangeNa * 1e6)));
    QVERIFY(expected > 0.5 * rig.device->pixelGain(pixel)); // light plus dark offset
}

void TestSimulatorBackend::lampAndNonUniformity()
{
    Rig rig;
    rig.device->setNoiseNa(0.2);
    QVERIFY(rig.setParameters(3, 0x20, 0));
    rig.device->setLampOn(false);
    const std::vector<double> off = currents(rig.requestFrame(), 800.0);
    rig.device->setLampOn(true);
    const std::vector<double> on = currents(rig.requestFrame(), 800.0);
    const std::vector<double> again = currents(rig.requestFrame(), 800.0);

    double offMean = 0.0, onMean = 0.0;
    for (std::size_t i = 0; i < off.size(); ++i) {
        offMean += off[i] / double(off.size());
        onMean += on[i] / double(on.size());
    }
    QVERIFY2(offMean > 8.0 && offMean < 64.0, "dark frames show a small offset"); // 1 .. 8 % of 800 nA
    QVERIFY2(onMean > 400.0 && onMean < 700.0, "full-on frames sit well inside the range");
    QVERIFY2(relativeSpread(on) > 0.04, "raw full-on frames are visibly non-uniform");
    // Calibrated against on and off, a second full-on frame is flat.
    std::vector<double> flattened(on.size());
    for (std::size_t i = 0; i < on.size(); ++i)
        flattened[i] = (again[i] - off[i]) / (on[i] - off[i]);
    QVERIFY2(relativeSpread(flattened) < 0.01, "calibration should flatten the picture");
}

void TestSimulatorBackend::digitSceneShadowsTheMatrix()
{
    Rig rig;
    rig.device->setScene(ZK128Device::Scene::FixedDigit);
    rig.device->setFixedDigit(0);
    QVERIFY(rig.setParameters(3, 0x20, 0));
    const std::vector<double> frame = currents(rig.requestFrame(), 800.0);
    int shadowed = 0;
    for (int i = 0; i < ZK128Device::PixelCount; ++i) {
        const double lit = rig.device->pixelOffsetNa(i) + rig.device->pixelGain(i) * rig.device->lampCurrentNa();
        if (frame[std::size_t(i)] < 0.3 * lit) {
            ++shadowed;
            const int x = i % 128, y = i / 128;
            QVERIFY2(x >= 14 && x < 114 && y >= 14 && y < 114, "the shadow stays in the central square");
        }
    }
    QVERIFY2(shadowed > 500, qPrintable(QString("only %1 pixels in the digit's shadow").arg(shadowed)));
}

// Each row: a fault, the command sent, and the exact bytes that come back.
void TestSimulatorBackend::faults_data()
{
    QTest::addColumn<QString>("fault");
    QTest::addColumn<int>("code");
    QTest::addColumn<QByteArray>("answer");
    const QByteArray battery = bytes({0xAE, 0xCC, 0x04, 0x09, 0x60, 0xE7, 0x0A});
    QTest::newRow("no handshake answer") << "no-handshake" << 0x00 << QByteArray();
    QTest::newRow("wrong checksum handshake") << "bad-checksum" << 0x00 << bytes({0xAE, 0xCC, 0x00, 0x7B, 0x0A});
    QTest::newRow("wrong checksum start") << "bad-checksum" << 0x02 << bytes({0xAE, 0xCC, 0x02, 0x7D, 0x0A});
    for (int n = 1; n <= 4; ++n)
        QTest::addRow("battery answer of %d bytes", n) << QString("battery-bytes:%1").arg(n) << 0x04 << battery.left(n);
    QTest::newRow("stops answering frames") << "stop-answering" << 0x05 << QByteArray();
}

void TestSimulatorBackend::faults()
{
    QFETCH(QString, fault);
    QFETCH(int, code);
    QFETCH(QByteArray, answer);
    Rig rig;
    const QStringList warnings = SimulatorEnvironment::configure(
        *rig.device, [&fault](const char *name) { return QString(name) == "TESSIVO_SIM_FAULTS" ? fault : QString(); });
    QVERIFY2(warnings.isEmpty(), qPrintable(warnings.join(' ')));
    QVERIFY(write(rig.backend, rig.handle, command(code)));
    QCOMPARE(readUpTo(rig.backend, rig.handle, answer.size(), 2000), answer);
    QVERIFY(rig.staysQuiet(100));
}

void TestSimulatorBackend::readFailuresThenRecovery()
{
    Rig rig;
    QVERIFY(rig.setParameters(3, 0x20, 0));
    rig.device->failNextReads(2);
    char buffer[8];
    DWORD got = 99;
    QCOMPARE(rig.backend.read(rig.handle, buffer, 5, &got), FT_IO_ERROR);
    QCOMPARE(got, DWORD(0));
    QCOMPARE(rig.backend.read(rig.handle, buffer, 5, &got), FT_IO_ERROR);

    // Stray bytes in front of a frame, then a frame cut short.
    rig.device->setStrayBytesBeforeNextFrame({0xAE, 0xCC, 0x01, 0x7B, 0x0A});
    QVERIFY(write(rig.backend, rig.handle, command(0x05)));
    const QByteArray withStray = readUpTo(rig.backend, rig.handle, kFrameBytes + 5, 3000);
    QCOMPARE(withStray.size(), kFrameBytes + 5);
    QCOMPARE(withStray.left(8), bytes({0xAE, 0xCC, 0x01, 0x7B, 0x0A, 0xAE, 0xCC, 0x05}));

    rig.device->cutNextFrame(1000);
    QVERIFY(write(rig.backend, rig.handle, command(0x05)));
    QCOMPARE(readUpTo(rig.backend, rig.handle, kFrameBytes, 300).size(), kFrameBytes - 1000);
    QCOMPARE(rig.requestFrame().size(), kFrameBytes); // the next one is whole again
}

void TestSimulatorBackend::unplugInvalidatesHandles()
{
    Rig rig;
    QList<bool> events;
    rig.device->setHotplugCallback([&events](bool arrived) { events << arrived; });
    QVERIFY(rig.setParameters(1, 0x64, 19148));
    rig.device->unplug();
    DWORD n = 0, tx = 0, ev = 0;
    char buffer[8];
    QCOMPARE(rig.backend.write(rig.handle, command(0x00).constData(), 5, &n), FT_IO_ERROR);
    QCOMPARE(rig.backend.getStatus(rig.handle, &n, &tx, &ev), FT_IO_ERROR);
    QCOMPARE(rig.backend.read(rig.handle, buffer, 5, &n), FT_IO_ERROR);
    QCOMPARE(rig.backend.setTimeouts(rig.handle, 10, 10), FT_DEVICE_NOT_FOUND);
    rig.device->replug();
    QCOMPARE(events, (QList<bool>{false, true}));
    // The old handle stays dead after the device is back; a new open works.
    QCOMPARE(rig.backend.getStatus(rig.handle, &n, &tx, &ev), FT_IO_ERROR);
    FT_HANDLE fresh = nullptr;
    QCOMPARE(rig.backend.openEx("ZK128", FT_OPEN_BY_SERIAL_NUMBER, &fresh), FT_OK);
    QCOMPARE(rig.device->rangeNa(), 800.0); // powered up afresh
    QCOMPARE(rig.backend.close(rig.handle), FT_OK);
    rig.handle = fresh;
    QVERIFY(write(rig.backend, rig.handle, command(0x00)));
    QCOMPARE(readUpTo(rig.backend, rig.handle, 5, 2000), bytes({0xAE, 0xCC, 0x00, 0x7A, 0x0A}));
}

void TestSimulatorBackend::unplugWakesBlockedRead()
{
    Rig rig;
    QCOMPARE(rig.backend.setTimeouts(rig.handle, 0, 0), FT_OK); // wait without limit
    std::atomic<FT_STATUS> status{FT_OK};
    std::atomic<bool> done{false};
    std::thread reader([&] {
        char buffer[16];
        DWORD got = 0;
        status = rig.backend.read(rig.handle, buffer, sizeof buffer, &got);
        done = true;
    });
    rig.device->unplug();
    QTRY_VERIFY_WITH_TIMEOUT(done.load(), 3000);
    reader.join();
    QCOMPARE(status.load(), FT_IO_ERROR);
}

void TestSimulatorBackend::concurrentCallsFromTwoThreads()
{
    Rig rig;
    QVERIFY(rig.setParameters(3, 0x20, 0));
    std::atomic<bool> stop{false};
    std::atomic<int> listings{0};
    std::thread gui([&] {
        while (!stop) {
            DWORD count = 1, rx = 0, tx = 0, ev = 0;
            FT_DEVICE_LIST_INFO_NODE node;
            if (rig.backend.createDeviceInfoList(&count) == FT_OK && rig.backend.getDeviceInfoList(&node, &count) == FT_OK
                && rig.backend.getStatus(rig.handle, &rx, &tx, &ev) == FT_OK)
                ++listings;
        }
    });
    int whole = 0;
    for (int i = 0; i < 20; ++i)
        whole += rig.requestFrame().size() == kFrameBytes;
    stop = true;
    gui.join();
    QCOMPARE(whole, 20);
    QVERIFY(listings > 0);
}

void TestSimulatorBackend::environmentConfiguresDevice_data()
{
    QTest::addColumn<QString>("variable");
    QTest::addColumn<QString>("value");
    QTest::addColumn<bool>("understood");
    QTest::newRow("uniform scene") << "TESSIVO_SIM_SCENE" << "uniform" << true;
    QTest::newRow("digit scene") << "TESSIVO_SIM_SCENE" << "digit:7" << true;
    QTest::newRow("digit out of range") << "TESSIVO_SIM_SCENE" << "digit:12" << false;
    QTest::newRow("lamp off") << "TESSIVO_SIM_LAMP" << "off" << true;
    QTest::newRow("lamp nonsense") << "TESSIVO_SIM_LAMP" << "dim" << false;
    QTest::newRow("battery") << "TESSIVO_SIM_BATTERY" << "3000" << true;
    QTest::newRow("battery too large") << "TESSIVO_SIM_BATTERY" << "70000" << false;
    QTest::newRow("noise") << "TESSIVO_SIM_NOISE_NA" << "1.5" << true;
    QTest::newRow("seed") << "TESSIVO_SIM_SEED" << "42" << true;
    QTest::newRow("seed not a number") << "TESSIVO_SIM_SEED" << "x" << false;
    QTest::newRow("noise seed") << "TESSIVO_SIM_NOISE_SEED" << "9" << true;
    QTest::newRow("noise seed negative") << "TESSIVO_SIM_NOISE_SEED" << "-1" << false;
    QTest::newRow("faults") << "TESSIVO_SIM_FAULTS" << "no-handshake,read-failures:3" << true;
    QTest::newRow("unknown fault") << "TESSIVO_SIM_FAULTS" << "explode" << false;
}

void TestSimulatorBackend::environmentConfiguresDevice()
{
    QFETCH(QString, variable);
    QFETCH(QString, value);
    QFETCH(bool, understood);
    QStringList warnings;
    auto device = SimulatorEnvironment::createDevice(
        [&](const char *name) { return variable == QLatin1String(name) ? value : QString(); }, &warnings);
    QCOMPARE(warnings.isEmpty(), understood);
    if (!understood) {
        QVERIFY(warnings.first().contains(variable));
        return;
    }
    if (value == "uniform")
        QCOMPARE(device->digitShown(), -1);
    else if (value == "digit:7")
        QCOMPARE(device->digitShown(), 7);
    else if (value == "off")
        QCOMPARE(device->lampCurrentNa(), 0.0);
    else if (value == "1.5")
        QCOMPARE(device->noiseNa(), 1.5);
    else if (variable == "TESSIVO_SIM_SEED")
        QCOMPARE(device->pixelGain(5), ZK128Device(42).pixelGain(5));
    SimulatorBackend backend(device);
    FT_HANDLE handle = openConfigured(backend);
    QVERIFY(handle);
    if (value == "3000") {
        QVERIFY(write(backend, handle, command(0x04)));
        QCOMPARE(readUpTo(backend, handle, 5, 2000).mid(3, 2), bytes({0x0B, 0xB8}));
    } else if (variable == "TESSIVO_SIM_FAULTS") {
        char buffer[4];
        DWORD got = 0;
        for (int i = 0; i < 3; ++i)
            QCOMPARE(backend.read(handle, buffer, 1, &got), FT_IO_ERROR);
        QVERIFY(write(backend, handle, command(0x00)));
        QCOMPARE(readUpTo(backend, handle, 5, 300), QByteArray()); // reads work again; no handshake answer
    }
    backend.close(handle);
}

QTEST_GUILESS_MAIN(TestSimulatorBackend)
#include "tst_simulatorbackend.moc"
