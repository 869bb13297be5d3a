// The connection flow: device list, connect and disconnect, battery gauge,
// device loss and worker errors, on the simulated ZK128.
#include "tests/flows/FlowsTestSupport.h"

#include "app/ConsoleState.h"
#include "app/DeviceConnection.h"
#include "app/DeviceList.h"
#include "app/WorkerGate.h"
#include "device/DeviceProtocol.h"
#include "device/DeviceSession.h"
#include "simulator/SimulatorBackend.h"
#include "simulator/ZK128Device.h"

#include <QComboBox>
#include <QSemaphore>
#include <QPushButton>
#include <QTimer>

#include <algorithm>

namespace {

// A simulator whose device list can be made to fail.
class ListFaultBackend : public SimulatorBackend
{
public:
    enum class Fault { None, CreateList, ReadList };
    using SimulatorBackend::SimulatorBackend;
    Fault fault = Fault::None;

    FT_STATUS createDeviceInfoList(DWORD *count) override
    {
        const FT_STATUS status = SimulatorBackend::createDeviceInfoList(count);
        return fault == Fault::CreateList ? FT_IO_ERROR : status;
    }
    FT_STATUS getDeviceInfoList(FT_DEVICE_LIST_INFO_NODE *records, DWORD *count) override
    {
        return fault == Fault::ReadList ? FT_IO_ERROR : SimulatorBackend::getDeviceInfoList(records, count);
    }
    // Runs on the writing thread before the command reaches the device.
    std::function<void(const DeviceProtocol::Frame &)> beforeWrite;
    FT_STATUS write(FT_HANDLE handle, const void *buffer, DWORD length, DWORD *written) override
    {
        if (beforeWrite) {
            const auto *bytes = static_cast<const std::uint8_t *>(buffer);
            beforeWrite(DeviceProtocol::Frame(bytes, bytes + length));
        }
        return SimulatorBackend::write(handle, buffer, length, written);
    }
};

QStringList items(const QComboBox &combo)
{
    QStringList texts;
    for (int i = 0; i < combo.count(); ++i)
        texts << combo.itemText(i);
    return texts;
}

struct ConnectionRig
{
    ConnectionRig()
        : backend(std::make_shared<ListFaultBackend>(sim.device))
        , worker(sim.context())
        , session(*backend)
        , gate(worker, idleThread)
        , connection(ConnectionWidgets{&combo, &connectButton, &play, &battery, &gauge}, state, worker, session,
                     gate, batteryTimer, [this] { ++stops; state.running = false; }, sim.context().log(),
                     messages.sink())
    {
        connectButton.setText(QStringLiteral("Connect"));
        play.hide();
        battery.hide();
        batteryTimer.setInterval(DeviceConnection::kBatteryIntervalMs);
        connection.deviceListRefresh().setTickInterval(10);
    }
    // Connect or Disconnect; true once a connect attempt ended.
    bool toggle()
    {
        connection.toggleConnection();
        return QTest::qWaitFor([this] { return !connection.isConnecting(); }, 5000);
    }
    int handshakes() const
    {
        const auto commands = sim.device->receivedCommands();
        return int(std::count(commands.begin(), commands.end(), DeviceProtocol::handshake()));
    }
    // True when nobody holds the device open any more.
    bool deviceFree()
    {
        FT_HANDLE probe = nullptr;
        if (backend->openEx("ZK128", FT_OPEN_BY_SERIAL_NUMBER, &probe) != FT_OK)
            return false;
        backend->close(probe);
        return true;
    }
    bool sent(DeviceProtocol::Code code) const
    {
        for (const auto &command : sim.device->receivedCommands())
            if (command.size() > 2 && command[2] == std::uint8_t(code))
                return true;
        return false;
    }

    FlowsTest::SimulatedDevice sim;
    std::shared_ptr<ListFaultBackend> backend;
    QComboBox combo;
    QPushButton connectButton;
    QWidget play, battery, gauge;
    ConsoleState state;
    ReceiverThread worker;
    DeviceSession session;
    QThread idleThread; // never started: the worker cannot be reading
    WorkerGate gate;
    QTimer batteryTimer;
    int stops = 0;
    FlowsTest::MessageRecorder messages;
    DeviceConnection connection;
};

} // namespace

class TestFlowsConnection : public QObject
{
    Q_OBJECT

private slots:
    void deviceList_data();
    void deviceList();
    void refreshRestartsCounter();
    void connectOutcome_data();
    void connectOutcome();
    void connectConfiguresDevice();
    void connectLeavesWindowFree();
    void deviceLostWhileConnecting();
    void batteryGauge_data();
    void batteryGauge();
    void batteryPollNeedsConnection();
    void connectWhileRunningIsRefused();
    void disconnectReleasesDevice();
    void deviceNotification_data();
    void deviceNotification();
    void workerErrorReleasesDevice();
    void workerErrorAfterLossOnlyLogs();
    void exitClosesDevice_data();
    void exitClosesDevice();
};

void TestFlowsConnection::deviceList_data()
{
    QTest::addColumn<int>("fault");
    QTest::addColumn<bool>("plugged");
    QTest::addColumn<int>("unreadableMs");
    QTest::addColumn<QStringList>("expected");
    const int never = 60000;
    QTest::newRow("no device") << 0 << false << 0 << QStringList{"No Devices"};
    QTest::newRow("readable") << 0 << true << 0 << QStringList{"ZK128"};
    QTest::newRow("readable later") << 0 << true << 60 << QStringList{"ZK128"};
    QTest::newRow("never readable") << 0 << true << never
                                    << QStringList{"Read information: 10 s", "Incomplete device info"};
    QTest::newRow("list fails") << int(ListFaultBackend::Fault::CreateList) << true << 0
                                << QStringList{"Failed to create device list"};
    QTest::newRow("records fail") << int(ListFaultBackend::Fault::ReadList) << true << 0
                                  << QStringList{"Error retrieving device info"};
}

void TestFlowsConnection::deviceList()
{
    QFETCH(int, fault);
    QFETCH(bool, plugged);
    QFETCH(int, unreadableMs);
    QFETCH(QStringList, expected);
    ConnectionRig rig;
    rig.backend->fault = ListFaultBackend::Fault(fault);
    rig.sim.device->setSerialUnreadableFor(std::chrono::milliseconds(unreadableMs));
    rig.sim.device->unplug();
    if (plugged)
        rig.sim.device->replug(); // the unreadable time runs from here
    rig.combo.addItem(QStringLiteral("stale"));

    QStringList seen;
    QObject::connect(&rig.combo, &QComboBox::currentTextChanged, &rig.combo, [&](const QString &text) {
        if (text.startsWith(QLatin1String("Read information")))
            seen << text;
    });
    rig.connection.refreshDeviceList();
    QVERIFY(items(rig.combo).isEmpty()); // cleared at once
    QTRY_COMPARE_WITH_TIMEOUT(rig.connection.deviceListRefresh().activeRefreshes(), 0, 5000);
    QCOMPARE(items(rig.combo), expected);
    if (unreadableMs == 60000) {
        QStringList counted;
        for (int i = 0; i <= 10; ++i)
            counted << QStringLiteral("Read information: %1 s").arg(i);
        QCOMPARE(seen, counted); // one per tick, from 0
    }
}

void TestFlowsConnection::refreshRestartsCounter()
{
    ConnectionRig rig;
    rig.sim.device->setSerialUnreadableFor(std::chrono::milliseconds(60000));
    rig.sim.device->unplug();
    rig.sim.device->replug();
    rig.connection.deviceListRefresh().setTickInterval(40);
    rig.connection.refreshDeviceList();
    QTRY_VERIFY(rig.connection.deviceListRefresh().attempts() >= 3);
    rig.connection.refreshDeviceList();
    QCOMPARE(rig.connection.deviceListRefresh().attempts(), 0);
    QCOMPARE(rig.connection.deviceListRefresh().activeRefreshes(), 2); // both tick on
    QTRY_COMPARE_WITH_TIMEOUT(rig.connection.deviceListRefresh().activeRefreshes(), 0, 5000);
}

void TestFlowsConnection::connectOutcome_data()
{
    QTest::addColumn<QString>("fault");
    QTest::addColumn<QString>("message");
    QTest::addColumn<bool>("connected");
    QTest::newRow("no device") << "unplugged" << "No Device Connected." << false;
    QTest::newRow("no handshake answer") << "silent" << "Device connection failed." << false;
    QTest::newRow("corrupt answer") << "corrupt" << "Device connection failed." << false;
    QTest::newRow("greeted") << "" << "" << true;
}

void TestFlowsConnection::connectOutcome()
{
    QFETCH(QString, fault);
    QFETCH(QString, message);
    QFETCH(bool, connected);
    ConnectionRig rig;
    if (fault == "unplugged")
        rig.sim.device->unplug();
    rig.sim.device->setHandshakeAnswered(fault != "silent");
    rig.sim.device->setCorruptAcknowledgements(fault == "corrupt");

    rig.toggle();

    QCOMPARE(rig.messages.texts, message.isEmpty() ? QStringList{} : QStringList{message});
    QCOMPARE(rig.state.connected, connected);
    QCOMPARE(rig.connectButton.text(), connected ? QStringLiteral("Disconnect") : QStringLiteral("Connect"));
    QCOMPARE(rig.play.isHidden(), !connected);
    QCOMPARE(rig.battery.isHidden(), !connected);
    QCOMPARE(rig.batteryTimer.isActive(), connected);
    if (connected) {
        QVERIFY(rig.session.handle());
        QCOMPARE(rig.worker.device(), rig.session.handle());
        QCOMPARE(rig.batteryTimer.interval(), 300000);
        QVERIFY(rig.sent(DeviceProtocol::Code::BatteryQuery)); // polled once right away
    } else if (fault != "unplugged") {
        QVERIFY(rig.sent(DeviceProtocol::Code::Handshake));
        QVERIFY(rig.deviceFree()); // a failed handshake closes the device again
        QVERIFY(!rig.sent(DeviceProtocol::Code::BatteryQuery));
    }
}

void TestFlowsConnection::connectConfiguresDevice()
{
    ConnectionRig rig;
    rig.toggle();
    QVERIFY(rig.state.connected);
    SimulatorBackend::SessionSettings settings;
    QVERIFY(rig.backend->sessionSettings(rig.session.handle(), &settings));
    QCOMPARE(int(settings.bitMask), 0x00);
    QCOMPARE(int(settings.bitMode), 0x40);
    QCOMPARE(settings.inTransferSize, ULONG(65536));
    QCOMPARE(settings.outTransferSize, ULONG(65536));
    QCOMPARE(settings.flowControl, FT_FLOW_RTS_CTS);
    QCOMPARE(settings.readTimeoutMs, ULONG(2000));
    QCOMPARE(settings.writeTimeoutMs, ULONG(1000));
    // The handshake goes out exactly once.
    QCOMPARE(rig.handshakes(), 1);
}

void TestFlowsConnection::connectLeavesWindowFree()
{
    ConnectionRig rig;
    rig.sim.device->setHandshakeAnswered(false); // ten checks, a second
    rig.connection.toggleConnection();
    QVERIFY(rig.connection.isConnecting());
    bool turned = false;
    QTimer::singleShot(0, &rig.combo, [&] { turned = rig.connection.isConnecting(); });
    bool jobWaited = false;
    QVERIFY(!rig.gate.whenParked(WorkerGate::Job::Parameters, [&] { jobWaited = !rig.connection.isConnecting(); }));
    rig.connection.toggleConnection(); // a second press changes nothing
    QTRY_VERIFY_WITH_TIMEOUT(!rig.connection.isConnecting(), 5000);
    QVERIFY(turned); // the window's events ran during the handshake
    QVERIFY(jobWaited);
    QCOMPARE(rig.messages.texts, QStringList{"Device connection failed."});
    QCOMPARE(rig.handshakes(), 1);
    QVERIFY(rig.deviceFree());
}

void TestFlowsConnection::deviceLostWhileConnecting()
{
    ConnectionRig rig;
    // The device is pulled after it greeted, while the battery is read.
    QSemaphore told;
    rig.backend->beforeWrite = [&](const DeviceProtocol::Frame &frame) {
        if (frame != DeviceProtocol::batteryQuery())
            return;
        QMetaObject::invokeMethod(&rig.combo, [&] {
            rig.sim.device->unplug();
            rig.connection.deviceChanged();
            told.release();
        }, Qt::QueuedConnection);
        told.acquire();
    };
    rig.toggle();
    QVERIFY(!rig.state.connected);
    QCOMPARE(rig.messages.texts, QStringList{"Device disconnected."});
    QCOMPARE(rig.connectButton.text(), QStringLiteral("Connect"));
    rig.sim.device->replug();
    QVERIFY(rig.deviceFree());
}

void TestFlowsConnection::batteryGauge_data()
{
    QTest::addColumn<int>("reading");
    QTest::addColumn<int>("answerBytes");
    QTest::addColumn<int>("width");
    QTest::addColumn<QString>("tip");
    QTest::newRow("empty at 2048") << 2048 << 7 << 0 << "Battery: 1.65 V";
    QTest::newRow("full at 2576") << 2576 << 7 << 16 << "Battery: 2.08 V";
    QTest::newRow("2400") << 2400 << 7 << 10 << "Battery: 1.93 V";
    // A cut answer is no reading: the gauge keeps its width, the voltage is unknown.
    QTest::newRow("cut to 4 bytes") << 2400 << 4 << 5 << "Battery: unknown";
    QTest::newRow("cut to 1 byte") << 2400 << 1 << 5 << "Battery: unknown";
}

void TestFlowsConnection::batteryGauge()
{
    QFETCH(int, reading);
    QFETCH(int, answerBytes);
    QFETCH(int, width);
    QFETCH(QString, tip);
    ConnectionRig rig;
    rig.gauge.setFixedSize(5, 10);
    rig.sim.device->setBatteryReading(std::uint16_t(reading));
    rig.sim.device->setBatteryAnswerLength(std::size_t(answerBytes));
    rig.toggle();
    QVERIFY(rig.state.connected);
    QCOMPARE(rig.gauge.size(), QSize(width, 10));
    QCOMPARE(rig.gauge.minimumSize(), rig.gauge.maximumSize());
    QCOMPARE(rig.battery.toolTip(), tip);
    QCOMPARE(rig.connection.batteryVolts().has_value(), !tip.endsWith(QLatin1String("unknown")));
}

void TestFlowsConnection::batteryPollNeedsConnection()
{
    ConnectionRig rig;
    rig.toggle();
    rig.toggle(); // disconnect
    QVERIFY(!rig.state.connected);
    rig.sim.device->clearReceivedCommands();
    rig.gauge.setFixedSize(3, 10);
    rig.connection.pollBattery();
    QVERIFY(rig.sim.device->receivedCommands().empty());
    QCOMPARE(rig.gauge.size(), QSize(3, 10));

    // Nor during a capture, when only the worker talks to the device.
    rig.toggle();
    rig.state.running = true;
    rig.sim.device->clearReceivedCommands();
    rig.connection.pollBattery();
    QVERIFY(rig.sim.device->receivedCommands().empty());
}

void TestFlowsConnection::connectWhileRunningIsRefused()
{
    ConnectionRig rig;
    rig.toggle();
    rig.state.running = true;
    const FT_HANDLE held = rig.session.handle();
    rig.toggle();
    QCOMPARE(rig.messages.texts, QStringList{"Device is running"});
    QVERIFY(rig.state.connected);
    QCOMPARE(rig.session.handle(), held);
    QCOMPARE(rig.connectButton.text(), QStringLiteral("Disconnect"));
}

void TestFlowsConnection::disconnectReleasesDevice()
{
    ConnectionRig rig;
    rig.toggle();
    rig.toggle();
    QVERIFY(rig.messages.texts.isEmpty());
    QVERIFY(!rig.state.connected);
    QCOMPARE(rig.connectButton.text(), QStringLiteral("Connect"));
    QVERIFY(rig.play.isHidden());
    QVERIFY(rig.battery.isHidden());
    QVERIFY(rig.batteryTimer.isActive()); // keeps running after a disconnect
    QVERIFY(rig.deviceFree());
    // And connecting again works.
    rig.toggle();
    QVERIFY(rig.state.connected);
}

void TestFlowsConnection::deviceNotification_data()
{
    QTest::addColumn<QString>("event");
    QTest::addColumn<bool>("lost");
    QTest::newRow("another device") << "none" << false;
    QTest::newRow("unplugged") << "unplug" << true;
    QTest::newRow("unplugged and back") << "replug" << true;
    QTest::newRow("unplugged, via watcher") << "watched" << true;
}

void TestFlowsConnection::deviceNotification()
{
    QFETCH(QString, event);
    QFETCH(bool, lost);
    ConnectionRig rig;
    rig.toggle();
    rig.state.running = true;
    if (event == "watched") {
        rig.connection.watchDevices(rig.backend);
        rig.sim.device->unplug();
        QTRY_COMPARE(rig.messages.texts, QStringList{"Device disconnected."});
    } else {
        if (event != "none")
            rig.sim.device->unplug();
        if (event == "replug")
            rig.sim.device->replug();
        rig.connection.deviceChanged();
    }

    QCOMPARE(rig.messages.texts, lost ? QStringList{"Device disconnected."} : QStringList{});
    QCOMPARE(rig.state.connected, !lost);
    QCOMPARE(rig.stops, lost ? 1 : 0);
    QCOMPARE(rig.play.isHidden(), lost);
    QCOMPARE(rig.battery.isHidden(), lost);
    QCOMPARE(rig.connectButton.text(), lost ? QStringLiteral("Connect") : QStringLiteral("Disconnect"));
    QCOMPARE(rig.session.handle() == nullptr, lost);
    QVERIFY(rig.connection.deviceListRefresh().activeRefreshes() >= 1); // the list is refreshed as well
    if (lost) {
        rig.sim.device->replug();
        QVERIFY(rig.deviceFree()); // the lost handle was closed
    }
}

void TestFlowsConnection::workerErrorReleasesDevice()
{
    ConnectionRig rig;
    rig.toggle();
    rig.state.running = true;
    rig.connection.reportWorkerError(QStringLiteral("Failed to get device status"));
    QCOMPARE(rig.messages.texts, QStringList{"Error Occurred."});
    QCOMPARE(rig.stops, 1);
    QVERIFY(!rig.state.connected);
    QVERIFY(rig.play.isHidden());
    QVERIFY(!rig.battery.isHidden()); // the battery display stays on this path
    QCOMPARE(rig.connectButton.text(), QStringLiteral("Connect"));
    QVERIFY(rig.deviceFree());
    rig.toggle();
    QVERIFY(rig.state.connected); // Connect works again
}

void TestFlowsConnection::workerErrorAfterLossOnlyLogs()
{
    ConnectionRig rig;
    rig.toggle();
    rig.sim.device->unplug();
    rig.connection.deviceChanged();
    rig.messages.texts.clear();
    // The worker's failing reads on the lost device arrive afterwards.
    rig.connection.reportWorkerError(QStringLiteral("Failed to get device status"));
    QVERIFY(rig.messages.texts.isEmpty());
    QCOMPARE(rig.stops, 1);
}

void TestFlowsConnection::exitClosesDevice_data()
{
    QTest::addColumn<bool>("settled");
    QTest::newRow("connected") << true;
    QTest::newRow("while connecting") << false;
}

void TestFlowsConnection::exitClosesDevice()
{
    QFETCH(bool, settled);
    ConnectionRig rig;
    if (settled) {
        rig.toggle();
        QVERIFY(!rig.deviceFree());
    } else {
        rig.connection.toggleConnection();
    }
    rig.connection.closeOnExit();
    QVERIFY(rig.deviceFree());
    QTest::qWait(20); // an attempt's outcome, had it been left posted
    QCOMPARE(rig.state.connected, settled);
    QVERIFY(rig.messages.texts.isEmpty());
}

FLOWS_TEST_MAIN(TestFlowsConnection)
#include "tst_flows_connection.moc"
