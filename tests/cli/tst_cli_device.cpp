// The capture tool's device conversation at byte level on the simulated
// ZK128: the calls and bytes of connect, battery query, parameter command and
// close are those of the window's Connect, battery poll, Setting and
// Disconnect (the bytes tests/flows pins for the window). And the simulator
// knob the tool's benchmark runs with.
#include "acquisition/ReceiverThread.h"
#include "device/DeviceSession.h"
#include "operation/CaptureDevice.h"
#include "operation/ParameterSet.h"
#include "simulator/SimulatorBackend.h"
#include "simulator/SimulatorEnvironment.h"
#include "simulator/ZK128Device.h"
#include "tests/device/RecordingBackend.h"
#include "tests/support/TestContext.h"

#include <QtTest>

#include <map>

namespace {

// Every call that sends something or changes the device's state, in order
// (status queries and reads vary with timing and are left out).
class CallLog : public RecordingBackend
{
public:
    using RecordingBackend::RecordingBackend;
    QStringList calls; // the test's thread only: the worker is never started here

    FT_STATUS openEx(const void *arg, DWORD flags, FT_HANDLE *h) override
    {
        return note(QStringLiteral("open %1 flags %2").arg(static_cast<const char *>(arg)).arg(flags),
                    RecordingBackend::openEx(arg, flags, h));
    }
    FT_STATUS resetDevice(FT_HANDLE h) override { return note("reset", RecordingBackend::resetDevice(h)); }
    FT_STATUS purge(FT_HANDLE h, ULONG mask) override
    {
        return note(QStringLiteral("purge %1").arg(mask), RecordingBackend::purge(h, mask));
    }
    FT_STATUS setBitMode(FT_HANDLE h, UCHAR mask, UCHAR mode) override
    {
        return note(QStringLiteral("bit mode %1 %2").arg(mask).arg(mode, 0, 16),
                    RecordingBackend::setBitMode(h, mask, mode));
    }
    FT_STATUS setUsbParameters(FT_HANDLE h, ULONG in, ULONG out) override
    {
        return note(QStringLiteral("usb %1 %2").arg(in).arg(out), RecordingBackend::setUsbParameters(h, in, out));
    }
    FT_STATUS setFlowControl(FT_HANDLE h, USHORT flow, UCHAR xon, UCHAR xoff) override
    {
        return note(QStringLiteral("flow %1 %2 %3").arg(flow, 0, 16).arg(xon).arg(xoff),
                    RecordingBackend::setFlowControl(h, flow, xon, xoff));
    }
    FT_STATUS setTimeouts(FT_HANDLE h, ULONG readMs, ULONG writeMs) override
    {
        return note(QStringLiteral("timeouts %1 %2").arg(readMs).arg(writeMs),
                    RecordingBackend::setTimeouts(h, readMs, writeMs));
    }
    FT_STATUS write(FT_HANDLE h, const void *buffer, DWORD length, DWORD *written) override
    {
        const QByteArray bytes(static_cast<const char *>(buffer), int(length));
        return note("write " + QString::fromLatin1(bytes.toHex(' ')), RecordingBackend::write(h, buffer, length, written));
    }
    FT_STATUS close(FT_HANDLE h) override { return note("close", RecordingBackend::close(h)); }

private:
    FT_STATUS note(const QString &call, FT_STATUS status)
    {
        calls << call;
        return status;
    }
};

const QStringList kConfigure{"reset", "purge 3", "bit mode 0 40", "usb 65536 65536", "flow 100 0 0",
                             "timeouts 2000 1000"};
const QString kHandshake = QStringLiteral("write ae aa 00 58 0a");

struct DeviceRig
{
    DeviceRig()
        : device(std::make_shared<ZK128Device>())
        , simulator(device)
        , log(simulator)
        , test(nullptr, device)
        , worker(test.context)
        , capture(log, worker, test.context.log())
    {
    }
    std::shared_ptr<ZK128Device> device;
    SimulatorBackend simulator;
    CallLog log;
    TestContext test;
    ReceiverThread worker;
    CaptureDevice capture;
};

} // namespace

class TestCliDevice : public QObject
{
    Q_OBJECT

private slots:
    void conversation_data();
    void conversation();
    void integrationCountOverride_data();
    void integrationCountOverride();
    void deviceCountIsCapped();
};

// A library that claims a million devices: the list is never sized by it.
class CrowdedBackend : public RecordingBackend
{
public:
    using RecordingBackend::RecordingBackend;
    DWORD capacityAsked = 0;
    FT_STATUS createDeviceInfoList(DWORD *count) override
    {
        *count = 1000000;
        return FT_OK;
    }
    FT_STATUS getDeviceInfoList(FT_DEVICE_LIST_INFO_NODE *records, DWORD *count) override
    {
        capacityAsked = *count;
        return RecordingBackend::getDeviceInfoList(records, count);
    }
};

enum class Step { Connect, Battery, Parameters, Close };
Q_DECLARE_METATYPE(Step)

void TestCliDevice::conversation_data()
{
    QTest::addColumn<Step>("step");
    QTest::addColumn<QString>("serial");
    QTest::addColumn<bool>("handshakeAnswered");
    QTest::addColumn<double>("vbias1");
    QTest::addColumn<bool>("accepted");
    QTest::addColumn<QStringList>("expected");

    QTest::newRow("connect, first ZK128") << Step::Connect << QString() << true << 0.0 << true
                                          << QStringList{"open ZK128 flags 1"} + kConfigure + QStringList{kHandshake};
    QTest::newRow("connect by serial") << Step::Connect << "ZK128" << true << 0.0 << true
                                       << QStringList{"open ZK128 flags 1"} + kConfigure + QStringList{kHandshake};
    QTest::newRow("unknown serial") << Step::Connect << "ZK999" << true << 0.0 << false
                                    << QStringList{"open ZK999 flags 1"};
    QTest::newRow("no handshake closes") << Step::Connect << QString() << false << 0.0 << false
                                         << QStringList{"open ZK128 flags 1"} + kConfigure
                                                + QStringList{kHandshake, "close"};
    QTest::newRow("battery query") << Step::Battery << QString() << true << 0.0 << true
                                   << QStringList{"purge 1", "write ae aa 04 5c 0a"};
    QTest::newRow("parameters 800 nA, 0 V")
        << Step::Parameters << QString() << true << 0.0 << true
        << QStringList{"purge 1", "write ae aa 01 80 00 80 00 80 00 80 00 03 20 00 1c 0c a4 0a"};
    QTest::newRow("parameters 800 nA, Vbias1 -5 V")
        << Step::Parameters << QString() << true << -5.0 << true
        << QStringList{"purge 1", "write ae aa 01 80 00 80 00 60 00 80 00 03 20 00 1c 0c 84 0a"};
    QTest::newRow("close") << Step::Close << QString() << true << 0.0 << true << QStringList{"close"};
}

void TestCliDevice::conversation()
{
    QFETCH(Step, step);
    QFETCH(QString, serial);
    QFETCH(bool, handshakeAnswered);
    QFETCH(double, vbias1);
    QFETCH(bool, accepted);
    QFETCH(QStringList, expected);
    DeviceRig rig;
    rig.device->setHandshakeAnswered(handshakeAnswered);
    QString refusal;
    if (step != Step::Connect) {
        QVERIFY(rig.capture.connect(QString(), &refusal));
        rig.log.calls.clear();
    }

    bool done = true;
    switch (step) {
    case Step::Connect:
        done = rig.capture.connect(serial, &refusal);
        QCOMPARE(rig.worker.device() != nullptr, accepted);
        break;
    case Step::Battery: {
        const std::optional<double> volts = rig.capture.readBatteryVolts();
        QVERIFY(volts);
        QCOMPARE(*volts, 2400 * 3.3 / 4096); // the simulator's default reading
        break;
    }
    case Step::Parameters: {
        BiasVoltages voltages;
        voltages.vbias1 = vbias1;
        done = rig.capture.set(ParameterSet::choose(800.0, voltages, IntegrationSearch::State()), &refusal);
        QCOMPARE(rig.worker.currentRangeValue(), 800); // the acknowledged values reached the worker
        break;
    }
    case Step::Close:
        rig.capture.close();
        QCOMPARE(rig.worker.device(), FT_HANDLE(nullptr));
        break;
    }
    QCOMPARE(done, accepted);
    QCOMPARE(refusal.isEmpty(), accepted);
    QCOMPARE(rig.log.calls, expected);
}

void TestCliDevice::integrationCountOverride_data()
{
    QTest::addColumn<QString>("setting");
    QTest::addColumn<double>("rangeNa");
    QTest::addColumn<int>("warnings");
    QTest::addColumn<std::uint32_t>("count");

    const std::uint32_t commanded800 = 7180; // what the search commands for 800 nA
    QTest::newRow("unset: as commanded") << QString() << 800.0 << 0 << commanded800;
    QTest::newRow("0") << "0" << 800.0 << 0 << 0u;
    QTest::newRow("0 at 10 nA: range still decoded") << "0" << 10.0 << 0 << 0u;
    QTest::newRow("above 24 bits: ignored") << "16777216" << 800.0 << 1 << commanded800;
    QTest::newRow("not a number: ignored") << "fast" << 800.0 << 1 << commanded800;
}

void TestCliDevice::integrationCountOverride()
{
    QFETCH(QString, setting);
    QFETCH(double, rangeNa);
    QFETCH(int, warnings);
    QFETCH(std::uint32_t, count);
    const std::map<QString, QString> variables{{"TESSIVO_SIM_INTEGRATION_COUNT", setting}};
    QStringList notes;
    const auto device = SimulatorEnvironment::createDevice(
        [&](const char *name) {
            const auto found = variables.find(QString::fromLatin1(name));
            return found == variables.end() ? QString() : found->second;
        },
        &notes);
    QCOMPARE(notes.size(), warnings);

    const ParameterSet parameters = ParameterSet::choose(rangeNa, BiasVoltages(), IntegrationSearch::State());
    device->hostWrite(parameters.command.data(), parameters.command.size());
    QCOMPARE(device->rangeNa(), rangeNa);
    QCOMPARE(device->integrationCount(), count);
    QCOMPARE(device->framePeriodSeconds(), count * 12.5e-9 * 128);
}

void TestCliDevice::deviceCountIsCapped()
{
    auto device = std::make_shared<ZK128Device>();
    SimulatorBackend simulator(device);
    CrowdedBackend crowded(simulator);
    DeviceSession session(crowded);
    const DeviceSession::Listing listing = session.enumerate();
    QCOMPARE(crowded.capacityAsked, DeviceSession::kMaxDevices);
    QCOMPARE(listing.serials, std::vector<QString>{QStringLiteral("ZK128")});
}

QTEST_GUILESS_MAIN(TestCliDevice)
#include "tst_cli_device.moc"
