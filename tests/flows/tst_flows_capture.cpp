// Capture control: play and stop, calibration, full-on and full-off
// references, with the real worker on the simulated ZK128.
#include "tests/flows/FlowsTestSupport.h"

#include "app/CaptureControl.h"
#include "app/ConsoleState.h"
#include "app/WorkerGate.h"
#include "device/DeviceProtocol.h"
#include "simulator/ZK128Device.h"

#include <QPushButton>
#include <QSignalSpy>
#include <QTimer>

namespace {

struct CaptureRig
{
    CaptureRig()
        : runner(sim.context())
        , gate(runner.worker, runner.thread)
        , control(CaptureWidgets{&play, &playArea, &set, &calibrationArea}, state,
                  CaptureTargets{runner.worker, runner.worker.saveRuns(), runner.worker.rendering(),
                                 runner.worker.references()},
                  gate, fpsTimer,
                  batteryTimer, [this] { ++recognitionResets; }, sim.context().log(), messages.sink())
        , calibration(*control.calibrationButton())
        , fullOn(*control.fullOnButton())
        , fullOff(*control.fullOffButton())
    {
        QObject::connect(&runner.worker, &ReceiverThread::loopParked, &gate, &WorkerGate::loopParked,
                         Qt::QueuedConnection);
        batteryTimer.setInterval(300000);
        sim.device->setUsbBytesPerSecond(0);
        runner.worker.useDevice(sim.open());
        runner.worker.setCurrentRange(800);
        state.connected = true;
        state.configured = true;
    }
    int count(DeviceProtocol::Code code) const
    {
        int n = 0;
        for (const auto &command : sim.device->receivedCommands())
            n += command == DeviceProtocol::command(code) ? 1 : 0;
        return n;
    }

    FlowsTest::SimulatedDevice sim;
    FlowsTest::RunningWorker runner;
    WorkerGate gate;
    QPushButton play, set;
    QWidget playArea, calibrationArea;
    QTimer fpsTimer, batteryTimer;
    ConsoleState state;
    int recognitionResets = 0;
    FlowsTest::MessageRecorder messages;
    CaptureControl control;
    QPushButton &calibration, &fullOn, &fullOff; // built by the control
};

} // namespace

class TestFlowsCapture : public QObject
{
    Q_OBJECT

private slots:
    void playRefused_data();
    void playRefused();
    void playStartsAndPlayAgainStops();
    void stopWhileIdleStillResets();
    void calibrationButton_data();
    void calibrationButton();
    void referenceReports_data();
    void referenceReports();
};

void TestFlowsCapture::playRefused_data()
{
    QTest::addColumn<bool>("connected");
    QTest::addColumn<QString>("message");
    QTest::newRow("disconnected") << false << "No Devices Connected.";
    QTest::newRow("no parameters acknowledged")
        << true << "The device is not configured: set the parameters and press Setting.";
}

void TestFlowsCapture::playRefused()
{
    QFETCH(bool, connected);
    QFETCH(QString, message);
    CaptureRig rig;
    rig.state.connected = connected;
    rig.state.configured = false;
    rig.control.togglePlay();
    QCOMPARE(rig.messages.texts, QStringList{message});
    QVERIFY(!rig.state.running);
    QVERIFY(!rig.fpsTimer.isActive());
    QVERIFY(rig.set.isEnabled());
    QCOMPARE(rig.count(DeviceProtocol::Code::Start), 0);
}

void TestFlowsCapture::playStartsAndPlayAgainStops()
{
    CaptureRig rig;
    rig.batteryTimer.start();
    rig.control.togglePlay();

    QVERIFY(rig.state.running);
    QCOMPARE(rig.play.styleSheet(), CaptureControl::playButtonRunningSheet());
    QCOMPARE(rig.playArea.styleSheet(), CaptureControl::playAreaRunningSheet());
    QVERIFY(rig.play.styleSheet().contains(QLatin1String("stop.png")));
    QVERIFY(!rig.batteryTimer.isActive());
    QVERIFY(rig.fpsTimer.isActive());
    QCOMPARE(rig.fpsTimer.interval(), 2000);
    QVERIFY(!rig.set.isEnabled());
    QCOMPARE(rig.set.toolTip(), QStringLiteral("Please stop collecting first!"));
    QTRY_COMPARE(rig.count(DeviceProtocol::Code::Start), 1); // written by the loop
    QTRY_VERIFY(rig.runner.worker.frameHealth().received >= 3); // frames flow

    rig.control.togglePlay();
    QVERIFY(!rig.state.running);
    QVERIFY(rig.runner.worker.waitUntilParked(5000));
    QCOMPARE(rig.count(DeviceProtocol::Code::Stop), 1);
    QCOMPARE(rig.play.styleSheet(), CaptureControl::playButtonStoppedSheet());
    QCOMPARE(rig.playArea.styleSheet(), CaptureControl::playAreaStoppedSheet());
    QVERIFY(!rig.fpsTimer.isActive());
    QVERIFY(rig.batteryTimer.isActive());
    QCOMPARE(rig.batteryTimer.interval(), 300000);
    QVERIFY(rig.set.isEnabled());
    QVERIFY(rig.set.toolTip().isEmpty());
    QCOMPARE(rig.recognitionResets, 1);
    QVERIFY(rig.messages.texts.isEmpty());

    // After the stop no more frames are requested.
    const std::uint64_t sent = rig.sim.device->framesSent();
    QTest::qWait(100);
    QCOMPARE(rig.sim.device->framesSent(), sent);
}

void TestFlowsCapture::stopWhileIdleStillResets()
{
    CaptureRig rig;
    rig.control.stop();
    QVERIFY(rig.batteryTimer.isActive()); // restarted even without a capture
    QCOMPARE(rig.recognitionResets, 1);
    QVERIFY(!rig.state.running);
    QVERIFY(rig.runner.worker.isParked());
}

void TestFlowsCapture::calibrationButton_data()
{
    QTest::addColumn<bool>("running");
    QTest::addColumn<int>("presses");
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("open");
    QTest::addColumn<QStringList>("messages");
    QTest::newRow("stopped") << false << 1 << "Open Calibration" << false << QStringList{"Please Start capture first!"};
    QTest::newRow("open") << true << 1 << "Close Calibration" << true << QStringList{};
    QTest::newRow("open then close") << true << 2 << "Open Calibration" << false << QStringList{};
}

void TestFlowsCapture::calibrationButton()
{
    QFETCH(bool, running);
    QFETCH(int, presses);
    QFETCH(QString, text);
    QFETCH(bool, open);
    QFETCH(QStringList, messages);
    CaptureRig rig;
    if (running)
        rig.control.togglePlay();
    for (int i = 0; i < presses; ++i)
        rig.control.toggleCalibration();
    QCOMPARE(rig.messages.texts, messages);
    QCOMPARE(rig.calibration.text(), text);
    QCOMPARE(rig.state.calibrationOpen, open);
    QCOMPARE(rig.fullOn.isEnabled(), open);
    QCOMPARE(rig.fullOff.isEnabled(), open);
    if (running) {
        // A stop leaves the calibration controls as they are.
        rig.control.stop();
        QCOMPARE(rig.state.calibrationOpen, open);
        QCOMPARE(rig.fullOn.isEnabled(), open);
    }
}

void TestFlowsCapture::referenceReports_data()
{
    QTest::addColumn<bool>("fullOn");
    QTest::newRow("full-on") << true;
    QTest::newRow("full-off") << false;
}

void TestFlowsCapture::referenceReports()
{
    QFETCH(bool, fullOn);
    CaptureRig rig;
    QObject::connect(&rig.runner.worker, &ReceiverThread::fullOnTaken, &rig.control, &CaptureControl::reportFullOn);
    QObject::connect(&rig.runner.worker, &ReceiverThread::fullOffTaken, &rig.control, &CaptureControl::reportFullOff);
    rig.sim.device->setLampOn(fullOn);
    rig.control.togglePlay();
    rig.control.toggleCalibration();
    if (fullOn)
        rig.control.requestFullOn();
    else
        rig.control.requestFullOff();
    QVERIFY(fullOn ? rig.runner.worker.references().fullOnPending() : rig.runner.worker.references().fullOffPending());
    const QString report = fullOn ? QStringLiteral("Full on success.") : QStringLiteral("Full off success.");
    QTRY_COMPARE_WITH_TIMEOUT(rig.messages.texts, QStringList{report}, 10000);
    QVERIFY(!rig.runner.worker.references().fullOnPending());
    QVERIFY(!rig.runner.worker.references().fullOffPending());
    rig.control.stop();
}

FLOWS_TEST_MAIN(TestFlowsCapture)
#include "tst_flows_capture.moc"
