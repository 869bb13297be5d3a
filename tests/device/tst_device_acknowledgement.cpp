#include "device/AcknowledgementWait.h"
#include "device/BatteryQuery.h"
#include "device/BatteryReport.h"
#include "device/DeviceProtocol.h"
#include "simulator/SimulatorBackend.h"
#include "simulator/ZK128Device.h"
#include "tests/device/FakeD2xxBackend.h"
#include "tests/device/RecordingBackend.h"

#include <QtTest>

#include <algorithm>
#include <chrono>
#include <memory>
#include <thread>

using namespace std::chrono_literals;

namespace {

QByteArray hex(const char *spaced)
{
    return QByteArray::fromHex(QByteArray(spaced).replace(' ', ""));
}

QByteArray bytes(const DeviceProtocol::Frame &frame)
{
    return QByteArray(reinterpret_cast<const char *>(frame.data()), int(frame.size()));
}

QByteArray bytes(const DeviceProtocol::Acknowledgement &reply)
{
    return QByteArray(reinterpret_cast<const char *>(reply.data()), int(reply.size()));
}

DeviceProtocol::Frame exampleParameterCommand()
{
    DeviceProtocol::Parameters parameters;
    parameters.candidateIndex = 2;
    parameters.currentRangeNa = 100.0;
    parameters.integrationCount = 5000;
    return DeviceProtocol::parameterCommand(parameters);
}

// Counts the waits instead of sleeping, for the scripted backend whose queue
// does not change with time.
struct SleepLog {
    std::vector<std::chrono::milliseconds> sleeps;
    AcknowledgementWait::Sleeper sleeper()
    {
        return [this](std::chrono::milliseconds d) { sleeps.push_back(d); };
    }
};

// A simulated ZK128, open, configured as the console configures it.
struct OpenSimulator {
    std::shared_ptr<ZK128Device> device = std::make_shared<ZK128Device>();
    SimulatorBackend backend{device};
    FT_HANDLE handle = nullptr;

    OpenSimulator()
    {
        if (backend.openEx("ZK128", FT_OPEN_BY_SERIAL_NUMBER, &handle) != FT_OK)
            return;
        backend.setTimeouts(handle, 2000, 1000);
    }
    ~OpenSimulator()
    {
        if (handle)
            backend.close(handle);
    }
};

} // namespace

class AcknowledgementTest : public QObject
{
    Q_OBJECT

private slots:
    void scriptedReplies_data();
    void scriptedReplies();
    void failingCallsDoNotEndTheWait_data();
    void failingCallsDoNotEndTheWait();
    void simulatorExchange_data();
    void simulatorExchange();
    void frameInTheQueueNeverOverrunsTheReplyBuffer();
    void batteryReadingOnlyFromACompleteAnswer_data();
    void batteryReadingOnlyFromACompleteAnswer();
    void batteryQueryWithNothingQueuedGivesNoReading();
};

void AcknowledgementTest::scriptedReplies_data()
{
    QTest::addColumn<bool>("parameterCommand");
    QTest::addColumn<QList<QByteArray>>("arrivals"); // bytes queued before check n
    QTest::addColumn<bool>("acknowledged");
    QTest::addColumn<int>("checks");
    QTest::addColumn<QByteArray>("reply");
    QTest::addColumn<int>("leftQueued");

    const QByteArray handshakeAck = hex("AE CC 00 7A 0A");
    const QByteArray parameterAck = hex("AE CC 01 7B 0A");
    const QByteArray none;
    const QByteArray zeros(5, '\0');

    QTest::newRow("handshake acknowledged at the first check")
        << false << QList<QByteArray>{handshakeAck} << true << 1 << handshakeAck << 0;
    QTest::newRow("handshake acknowledged at the fourth check")
        << false << QList<QByteArray>{none, none, none, handshakeAck} << true << 4 << handshakeAck << 0;
    QTest::newRow("handshake acknowledged at the tenth and last check")
        << false << QList<QByteArray>{none, none, none, none, none, none, none, none, none, handshakeAck}
        << true << 10 << handshakeAck << 0;
    QTest::newRow("handshake never answered fails after 10 checks")
        << false << QList<QByteArray>{} << false << 10 << zeros << 0;
    QTest::newRow("acknowledgement after other bytes in the same read is not recognised")
        << false << QList<QByteArray>{hex("01 02") + handshakeAck} << false << 10 << hex("01 02 AE CC 00")
        << 0;
    QTest::newRow("stray bytes read first, acknowledgement alone in a later read")
        << false << QList<QByteArray>{hex("01 02"), none, handshakeAck} << true << 3 << handshakeAck << 0;
    QTest::newRow("wrong checksum is not accepted")
        << false << QList<QByteArray>{hex("AE CC 00 7B 0A")} << false << 10 << hex("AE CC 00 7B 0A") << 0;
    QTest::newRow("acknowledgement of another command is not accepted")
        << false << QList<QByteArray>{parameterAck} << false << 10 << parameterAck << 0;
    QTest::newRow("wrong terminator is not accepted")
        << false << QList<QByteArray>{hex("AE CC 00 7A 0B")} << false << 10 << hex("AE CC 00 7A 0B") << 0;
    QTest::newRow("echo of the command is not an acknowledgement")
        << false << QList<QByteArray>{hex("AE AA 00 58 0A")} << false << 10 << hex("AE AA 00 58 0A") << 0;
    QTest::newRow("acknowledgement split over two reads is not recognised")
        << false << QList<QByteArray>{hex("AE CC 00"), hex("7A 0A")} << false << 10
        << hex("7A 0A 00 00 00") << 0;
    QTest::newRow("short read never completes into stale bytes of an earlier read")
        << false << QList<QByteArray>{hex("00 CC 00 7A 0A"), hex("AE")} << false << 10
        << hex("AE 00 00 00 00") << 0;
    QTest::newRow("queue longer than the 10-byte buffer is read 10 bytes at a time")
        << false << QList<QByteArray>{QByteArray(150, '\x55')} << false << 10 << hex("55 55 55 55 55") << 50;
    QTest::newRow("acknowledgement right behind a full buffer of stray bytes is found next")
        << false << QList<QByteArray>{QByteArray(10, '\x55') + handshakeAck} << true << 2 << handshakeAck << 0;
    QTest::newRow("parameter command acknowledged")
        << true << QList<QByteArray>{none, parameterAck} << true << 2 << parameterAck << 0;
    QTest::newRow("parameter command ignores the handshake acknowledgement")
        << true << QList<QByteArray>{handshakeAck} << false << 10 << handshakeAck << 0;
    QTest::newRow("queue longer than the 256-byte buffer is read 256 bytes at a time")
        << true << QList<QByteArray>{QByteArray(3000, '\x55')} << false << 10 << hex("55 55 55 55 55")
        << 3000 - 2560;
    QTest::newRow("parameter acknowledgement right behind 256 stray bytes is found next")
        << true << QList<QByteArray>{QByteArray(256, '\x55') + parameterAck} << true << 2 << parameterAck << 0;
}

void AcknowledgementTest::scriptedReplies()
{
    QFETCH(bool, parameterCommand);
    QFETCH(QList<QByteArray>, arrivals);
    QFETCH(bool, acknowledged);
    QFETCH(int, checks);
    QFETCH(QByteArray, reply);
    QFETCH(int, leftQueued);

    FakeD2xxBackend fake;
    fake.arrivals = arrivals;
    SleepLog sleeps;
    AcknowledgementWait wait(fake, fake.handle(), sleeps.sleeper());
    const AcknowledgementWait::Result result =
        parameterCommand ? wait.sendParameterCommand(exampleParameterCommand()) : wait.handshake();

    QCOMPARE(result.acknowledged, acknowledged);
    QCOMPARE(result.checks, checks);
    QCOMPARE(bytes(result.reply).toHex(' '), reply.toHex(' '));
    QCOMPARE(result.lastStatus, FT_OK);
    QCOMPARE(fake.queue.size(), leftQueued);

    // Written once, never re-sent.
    QCOMPARE(int(fake.writes.size()), 1);
    QCOMPARE(fake.writes.front(),
             parameterCommand ? bytes(exampleParameterCommand()) : bytes(DeviceProtocol::handshake()));
    QCOMPARE(fake.statusCalls, checks);

    // No read larger than the reply buffer.
    const DWORD bufferSize = parameterCommand ? 256 : 10;
    for (DWORD length : fake.readLengths)
        QVERIFY2(length >= 1 && length <= bufferSize, qPrintable(QString::number(length)));

    // A sleep after every failed check and none after success.
    const auto interval = parameterCommand ? 50ms : 100ms;
    QCOMPARE(int(sleeps.sleeps.size()), acknowledged ? checks - 1 : 10);
    QVERIFY(std::all_of(sleeps.sleeps.begin(), sleeps.sleeps.end(),
                        [&](std::chrono::milliseconds d) { return d == interval; }));
}

void AcknowledgementTest::failingCallsDoNotEndTheWait_data()
{
    QTest::addColumn<FT_STATUS>("writeAnswer");
    QTest::addColumn<FT_STATUS>("statusAnswer");
    QTest::addColumn<FT_STATUS>("readAnswer");
    QTest::addColumn<bool>("acknowledged");
    QTest::addColumn<FT_STATUS>("lastStatus");
    QTest::addColumn<int>("reads");

    QTest::newRow("queue status fails every time: no read, ten checks")
        << FT_STATUS(FT_OK) << FT_STATUS(FT_IO_ERROR) << FT_STATUS(FT_OK) << false
        << FT_STATUS(FT_IO_ERROR) << 0;
    QTest::newRow("reads fail every time: ten checks, the failure is reported")
        << FT_STATUS(FT_OK) << FT_STATUS(FT_OK) << FT_STATUS(FT_IO_ERROR) << false
        << FT_STATUS(FT_IO_ERROR) << 10;
    QTest::newRow("failed write is followed by the checks all the same")
        << FT_STATUS(FT_IO_ERROR) << FT_STATUS(FT_OK) << FT_STATUS(FT_OK) << true << FT_STATUS(FT_OK) << 1;
}

void AcknowledgementTest::failingCallsDoNotEndTheWait()
{
    QFETCH(FT_STATUS, writeAnswer);
    QFETCH(FT_STATUS, statusAnswer);
    QFETCH(FT_STATUS, readAnswer);
    QFETCH(bool, acknowledged);
    QFETCH(FT_STATUS, lastStatus);
    QFETCH(int, reads);

    FakeD2xxBackend fake;
    fake.arrivals = {hex("AE CC 00 7A 0A")};
    fake.writeAnswer = writeAnswer;
    fake.statusAnswer = statusAnswer;
    fake.readAnswer = readAnswer;
    SleepLog sleeps;
    const AcknowledgementWait::Result result =
        AcknowledgementWait(fake, fake.handle(), sleeps.sleeper()).handshake();

    QCOMPARE(result.acknowledged, acknowledged);
    QCOMPARE(result.lastStatus, lastStatus);
    QCOMPARE(int(fake.readLengths.size()), reads);
    QCOMPARE(int(fake.writes.size()), 1);
    QCOMPARE(result.checks, acknowledged ? 1 : 10);
}

void AcknowledgementTest::simulatorExchange_data()
{
    QTest::addColumn<bool>("parameterCommand");
    QTest::addColumn<bool>("answered");
    QTest::addColumn<bool>("corrupt");
    QTest::addColumn<bool>("acknowledged");

    QTest::newRow("handshake answered") << false << true << false << true;
    QTest::newRow("handshake not answered") << false << false << false << false;
    QTest::newRow("handshake answered with a wrong checksum") << false << true << true << false;
    QTest::newRow("parameter command answered") << true << true << false << true;
    QTest::newRow("parameter command answered with a wrong checksum") << true << true << true << false;
}

// The same exchanges against the simulated instrument, byte for byte, with
// real waits between checks: the device needs time to answer.
void AcknowledgementTest::simulatorExchange()
{
    QFETCH(bool, parameterCommand);
    QFETCH(bool, answered);
    QFETCH(bool, corrupt);
    QFETCH(bool, acknowledged);

    OpenSimulator sim;
    QVERIFY(sim.handle);
    sim.device->setHandshakeAnswered(answered);
    sim.device->setCorruptAcknowledgements(corrupt);
    int sleeps = 0;
    AcknowledgementWait wait(sim.backend, sim.handle, [&](std::chrono::milliseconds d) {
        ++sleeps;
        std::this_thread::sleep_for(d);
    });
    const DeviceProtocol::Frame command =
        parameterCommand ? exampleParameterCommand() : DeviceProtocol::handshake();
    const AcknowledgementWait::Result result =
        parameterCommand ? wait.sendParameterCommand(command) : wait.handshake();

    QCOMPARE(result.acknowledged, acknowledged);
    QCOMPARE(result.corrupt, corrupt); // a garbled answer is told from silence
    if (acknowledged) {
        const auto code = parameterCommand ? DeviceProtocol::Code::Parameters : DeviceProtocol::Code::Handshake;
        QCOMPARE(bytes(result.reply), bytes(DeviceProtocol::acknowledgement(code)));
        QCOMPARE(result.lastStatus, FT_OK);
    } else {
        QCOMPARE(result.checks, 10);
        QCOMPARE(sleeps, 10);
    }
    const auto commands = sim.device->receivedCommands();
    QCOMPARE(int(commands.size()), 1);
    QCOMPARE(QByteArray(reinterpret_cast<const char *>(commands.front().data()), int(commands.front().size())),
             bytes(command));
    if (parameterCommand && acknowledged) {
        QCOMPARE(int(sim.device->rangeByte()), 100);
        QCOMPARE(sim.device->integrationCount(), 5000u);
    }
}

// A whole image frame sits in the receive queue when the handshake goes out:
// every check must read at most the 10 bytes the reply buffer holds, and the
// wait must fail cleanly rather than run past the buffer.
void AcknowledgementTest::frameInTheQueueNeverOverrunsTheReplyBuffer()
{
    OpenSimulator sim;
    QVERIFY(sim.handle);
    const DeviceProtocol::Frame request = DeviceProtocol::frameRequest();
    DWORD written = 0;
    QCOMPARE(sim.backend.write(sim.handle, request.data(), DWORD(request.size()), &written), FT_OK);
    const auto queued = [&] {
        DWORD rx = 0, tx = 0, events = 0;
        sim.backend.getStatus(sim.handle, &rx, &tx, &events);
        return rx;
    };
    QTRY_VERIFY_WITH_TIMEOUT(queued() >= 49157, 5000);
    sim.device->setHandshakeAnswered(false);
    const DWORD before = queued();

    RecordingBackend recorder(sim.backend);
    const AcknowledgementWait::Result result =
        AcknowledgementWait(recorder, sim.handle, [](std::chrono::milliseconds) {}).handshake();

    QVERIFY(!result.acknowledged);
    const std::vector<DWORD> lengths = recorder.readLengths();
    QCOMPARE(int(lengths.size()), 10);
    for (DWORD length : lengths)
        QCOMPARE(length, DWORD(10));
    // Ten reads of ten bytes; the rest of the frame is still queued.
    QCOMPARE(queued(), before - 100);
    QVERIFY(bytes(result.reply) != hex("AE CC 00 7A 0A"));
}

void AcknowledgementTest::batteryReadingOnlyFromACompleteAnswer_data()
{
    QTest::addColumn<int>("answerLength");
    QTest::addColumn<int>("reading");
    // Reading 0x0A10 in the answer AE CC 04 0A 10 98 0A, cut or whole; -1: unknown.
    QTest::newRow("1 byte") << 1 << -1;
    QTest::newRow("4 bytes") << 4 << -1;
    QTest::newRow("6 bytes") << 6 << -1;
    QTest::newRow("full answer") << 7 << 0x0A10;
}

void AcknowledgementTest::batteryReadingOnlyFromACompleteAnswer()
{
    QFETCH(int, answerLength);
    QFETCH(int, reading);

    OpenSimulator sim;
    QVERIFY(sim.handle);
    sim.device->setBatteryReading(0x0A10);
    sim.device->setBatteryAnswerLength(std::size_t(answerLength));
    std::vector<std::chrono::milliseconds> sleeps;
    const BatteryQuery::Result result =
        BatteryQuery(sim.backend, sim.handle, [&](std::chrono::milliseconds d) {
            sleeps.push_back(d);
            std::this_thread::sleep_for(d);
        }).run();

    QCOMPARE(result.hasReading, reading >= 0);
    QCOMPARE(int(result.received), answerLength);
    if (reading >= 0)
        QCOMPARE(int(result.reading), reading);
    QCOMPARE(BatteryReport::text(BatteryReport::volts(result)),
             reading >= 0 ? QStringLiteral("2.08 V") : QStringLiteral("unknown"));
    QVERIFY(BatteryReport::logLine(result).startsWith(reading >= 0 ? "Battery: 2.08 V" : "Battery: unknown: "));
    QCOMPARE(result.lastStatus, FT_OK);
    QCOMPARE(int(sleeps.size()), 1);
    QCOMPARE(sleeps.front(), 100ms);
    const auto commands = sim.device->receivedCommands();
    QCOMPARE(int(commands.size()), 1);
    QCOMPARE(int(commands.front().size()), 5);
    QCOMPARE(int(commands.front()[2]), 0x04);
}

void AcknowledgementTest::batteryQueryWithNothingQueuedGivesNoReading()
{
    FakeD2xxBackend fake; // nothing ever arrives
    const BatteryQuery::Result silent =
        BatteryQuery(fake, fake.handle(), [](std::chrono::milliseconds) {}).run();
    QVERIFY(!silent.hasReading);
    QCOMPARE(int(fake.readLengths.size()), 0);
    QCOMPARE(fake.writes.front(), bytes(DeviceProtocol::batteryQuery()));

    // More queued than the 10-byte buffer: one read of 10, the rest left queued.
    FakeD2xxBackend busy;
    busy.arrivals = {hex("AE CC 04 0A 10 98 0A") + QByteArray(20, '\x55')};
    const BatteryQuery::Result answered =
        BatteryQuery(busy, busy.handle(), [](std::chrono::milliseconds) {}).run();
    QVERIFY(answered.hasReading);
    QCOMPARE(int(answered.reading), 0x0A10);
    QCOMPARE(busy.readLengths, std::vector<DWORD>{10});
    QCOMPARE(busy.queue.size(), 17);
}

QTEST_GUILESS_MAIN(AcknowledgementTest)
#include "tst_device_acknowledgement.moc"
