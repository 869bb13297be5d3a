// The settings page: range buttons, the integration search and the Setting
// flow down to the bytes the device receives.
#include "tests/flows/FlowsTestSupport.h"

#include "app/ConsoleState.h"
#include "app/ParameterPanel.h"
#include "app/WorkerGate.h"
#include "device/DeviceProtocol.h"
#include "device/DeviceSession.h"
#include "operation/IntegrationSearch.h"
#include "simulator/SimulatorBackend.h"
#include "simulator/ZK128Device.h"

#include <QLabel>
#include <QLineEdit>
#include <QRadioButton>
#include <QVBoxLayout>

namespace {

using Bytes = std::vector<std::uint8_t>;

struct PanelRig
{
    PanelRig()
        : worker(sim.context())
        , session(*sim.backend)
        , gate(worker, idleThread)
        , panel(widgets(), state, worker, session, gate, summary, sim.context().log(), messages.sink())
    {
        // One exclusive group, as on the page.
        auto *layout = new QVBoxLayout(&page);
        for (QRadioButton *b : {&r800, &r100, &r10, &r1, &typed})
            layout->addWidget(b);
        r800.setChecked(true);
        for (QRadioButton *b : {&r800, &r100, &r10, &r1, &typed})
            QObject::connect(b, &QRadioButton::toggled, &panel, [this, b](bool on) { panel.selectRange(b, on); });
        rangeField.hide();
        panel.chooseRange(800.0);
        session.open();
        session.configure();
        for (QLineEdit *e : {&vc, &vd, &von, &voff})
            e->setText(QStringLiteral("0"));
    }
    ParameterWidgets widgets()
    {
        return ParameterWidgets{&r800, &r100, &r10, &r1, &typed, &rangeField, &gear, &vc, &vd, &von, &voff, &timing};
    }
    std::vector<Bytes> parameterCommands() const
    {
        std::vector<Bytes> found;
        for (const auto &command : sim.device->receivedCommands())
            if (command.size() == 18)
                found.push_back(command);
        return found;
    }

    FlowsTest::SimulatedDevice sim;
    QWidget page;
    QRadioButton r800{"800nA", &page}, r100{"100nA", &page}, r10{"10nA", &page}, r1{"1nA", &page},
        typed{"Optional gear", &page};
    QWidget rangeField;
    QLineEdit gear, vc, vd, von, voff;
    QLabel timing;
    ConsoleState state;
    ReceiverThread worker;
    DeviceSession session;
    QThread idleThread;
    WorkerGate gate;
    QString summary;
    FlowsTest::MessageRecorder messages;
    ParameterPanel panel;
};

} // namespace

class TestFlowsParameters : public QObject
{
    Q_OBJECT

private slots:
    void searchTable_data();
    void searchTable();
    void rangeButtons_data();
    void rangeButtons();
    void zeroVoltsAt800SendsExactCommand();
    void acknowledgedSettingReachesWorker_data();
    void acknowledgedSettingReachesWorker();
    void refusals_data();
    void refusals();
    void typedRangeTakesEffectOnSetting();
    void unacknowledgedSettingFails_data();
    void unacknowledgedSettingFails();
};

void TestFlowsParameters::searchTable_data()
{
    QTest::addColumn<double>("range");
    QTest::addColumn<int>("index");
    QTest::addColumn<int>("count");
    QTest::addColumn<double>("time");
    QTest::addColumn<double>("current");
    QTest::addColumn<int>("rangeByte");
    QTest::newRow("800 nA") << 800.0 << 3 << 7180 << 89750.0 << 12.5 << 0x20;
    QTest::newRow("100 nA") << 100.0 << 1 << 19148 << 239350.0 << 100.0 << 0x64;
    QTest::newRow("10 nA") << 10.0 << 0 << 47870 << 598375.0 << 150.0 << 0x0A;
    QTest::newRow("1 nA") << 1.0 << 0 << 478707 << 5983837.5 << 150.0 << 0x01;
    QTest::newRow("typed 37 nA") << 37.0 << 0 << 12938 << 161725.0 << 150.0 << 0x25;
}

void TestFlowsParameters::searchTable()
{
    QFETCH(double, range);
    QFETCH(int, index);
    QFETCH(int, count);
    QFETCH(double, time);
    QFETCH(double, current);
    QFETCH(int, rangeByte);
    IntegrationSearch::State state;
    // Start from another range's result, so every row shows a change.
    state.candidateIndex = 2;
    state.integrationCount = 1;
    QVERIFY(IntegrationSearch::run(IntegrationSearch::defaultTable(), range, state));
    QCOMPARE(state.candidateIndex, index);
    QCOMPARE(state.integrationCount, count);
    QCOMPARE(IntegrationSearch::integralTime(state), time);
    QCOMPARE(IntegrationSearch::integralCurrent(IntegrationSearch::defaultTable(), state), current);
    QCOMPARE(int(DeviceProtocol::rangeByte(range)), rangeByte);
}

void TestFlowsParameters::rangeButtons_data()
{
    QTest::addColumn<int>("button");
    QTest::addColumn<double>("range");
    QTest::addColumn<bool>("fieldShown");
    QTest::addColumn<QString>("timing"); // shown beside the range
    QTest::newRow("100") << 1 << 100.0 << false << "100 nA: integration 30.6 ms, about 31.4 frames/s";
    QTest::newRow("10") << 2 << 10.0 << false << "10 nA: integration 76.6 ms, about 12.9 frames/s";
    QTest::newRow("1") << 3 << 1.0 << false << "1 nA: integration 765.9 ms, about 1.30 frames/s";
    QTest::newRow("optional keeps the range")
        << 4 << 800.0 << true << "250 nA: integration 12.3 ms, about 74.2 frames/s";
}

void TestFlowsParameters::rangeButtons()
{
    QFETCH(int, button);
    QFETCH(double, range);
    QFETCH(bool, fieldShown);
    QFETCH(QString, timing);
    PanelRig rig;
    rig.gear.setText(QStringLiteral("250"));
    QRadioButton *buttons[] = {&rig.r800, &rig.r100, &rig.r10, &rig.r1, &rig.typed};
    buttons[button]->setChecked(true);
    QCOMPARE(rig.panel.chosenRange(), range);
    QCOMPARE(rig.timing.text(), timing);
    QCOMPARE(!rig.rangeField.isHidden(), fieldShown);
    if (fieldShown) {
        rig.r800.setChecked(true); // and leaving it hides the field again
        QVERIFY(rig.rangeField.isHidden());
    }
    QVERIFY(rig.parameterCommands().empty()); // nothing is sent before Setting
}

void TestFlowsParameters::zeroVoltsAt800SendsExactCommand()
{
    PanelRig rig;
    rig.panel.applySettings();
    const Bytes expected{0xAE, 0xAA, 0x01, 0x80, 0x00, 0x80, 0x00, 0x80, 0x00,
                         0x80, 0x00, 0x03, 0x20, 0x00, 0x1C, 0x0C, 0xA4, 0x0A};
    QCOMPARE(rig.parameterCommands(), std::vector<Bytes>{expected});
    QCOMPARE(rig.summary, QStringLiteral("Current:800\nVbias1:0\nVbias2:0\nVon:0\nVoff:0\n"));
    QCOMPARE(rig.messages.texts, QStringList{"Parameter setting successful."});
}

void TestFlowsParameters::acknowledgedSettingReachesWorker_data()
{
    QTest::addColumn<int>("button");
    QTest::addColumn<QString>("gear");
    QTest::addColumn<int>("range");
    QTest::addColumn<double>("time");
    QTest::addColumn<double>("current");
    QTest::newRow("100 nA") << 1 << "" << 100 << 239350.0 << 100.0;
    QTest::newRow("1 nA") << 3 << "" << 1 << 5983837.5 << 150.0;
    QTest::newRow("typed 37") << 4 << "37" << 37 << 161725.0 << 150.0;
}

void TestFlowsParameters::acknowledgedSettingReachesWorker()
{
    QFETCH(int, button);
    QFETCH(QString, gear);
    QFETCH(int, range);
    QFETCH(double, time);
    QFETCH(double, current);
    PanelRig rig;
    QRadioButton *buttons[] = {&rig.r800, &rig.r100, &rig.r10, &rig.r1, &rig.typed};
    buttons[button]->setChecked(true);
    rig.gear.setText(gear);
    rig.vc.setText(QStringLiteral("-3.25"));
    rig.vd.setText(QStringLiteral("15"));
    rig.panel.applySettings();

    QCOMPARE(rig.messages.texts, QStringList{"Parameter setting successful."});
    QCOMPARE(rig.worker.currentRangeValue(), range);
    QCOMPARE(rig.worker.integralTimeValue(), time);
    QCOMPARE(rig.worker.integralCurrentValue(), current);
    QCOMPARE(rig.sim.device->rangeByte(), std::uint8_t(range));
    QCOMPARE(rig.sim.device->integrationCount(), std::uint32_t(rig.panel.searchState().integrationCount));
    QCOMPARE(rig.summary, QStringLiteral("Current:%1\nVbias1:-3.25\nVbias2:15\nVon:0\nVoff:0\n").arg(range));
}

void TestFlowsParameters::refusals_data()
{
    QTest::addColumn<QString>("emptyField");
    QTest::addColumn<bool>("running");
    QTest::addColumn<QString>("gear");
    QTest::addColumn<QString>("message");
    QTest::newRow("running") << "" << true << "" << "Setting is not available during data collection.";
    QTest::newRow("Vbias1 empty") << "vc" << false << "" << "input fields are empty";
    QTest::newRow("Vbias2 empty") << "vd" << false << "" << "input fields are empty";
    QTest::newRow("Von empty") << "von" << false << "" << "input fields are empty";
    QTest::newRow("Voff empty") << "voff" << false << "" << "input fields are empty";
    QTest::newRow("typed range empty") << "" << false << "" << "Please enter a current range from 1 to 800 nA.";
    QTest::newRow("typed range zero") << "" << false << "0" << "Please enter a current range from 1 to 800 nA.";
    QTest::newRow("typed range too big") << "" << false << "900" << "Please enter a current range from 1 to 800 nA.";
}

void TestFlowsParameters::refusals()
{
    QFETCH(QString, emptyField);
    QFETCH(bool, running);
    QFETCH(QString, gear);
    QFETCH(QString, message);
    PanelRig rig;
    rig.summary = QStringLiteral("before");
    rig.state.running = running;
    const bool typedRow = QString(QTest::currentDataTag()).startsWith("typed");
    if (typedRow) {
        rig.typed.setChecked(true);
        rig.gear.setText(gear); // set directly: a stored value can bypass the validator
    }
    for (QLineEdit *e : {&rig.vc, &rig.vd, &rig.von, &rig.voff})
        if (e == (emptyField == "vc" ? &rig.vc : emptyField == "vd" ? &rig.vd : emptyField == "von" ? &rig.von
                                                  : emptyField == "voff" ? &rig.voff : nullptr))
            e->clear();
    const int rangeBefore = rig.worker.currentRangeValue();

    rig.panel.applySettings();

    QCOMPARE(rig.messages.texts, QStringList{message});
    QVERIFY(rig.parameterCommands().empty());
    QCOMPARE(rig.summary, QStringLiteral("before"));
    QCOMPARE(rig.worker.currentRangeValue(), rangeBefore);
    QCOMPARE(rig.panel.chosenRange(), 800.0);
}

void TestFlowsParameters::typedRangeTakesEffectOnSetting()
{
    PanelRig rig;
    rig.typed.setChecked(true);
    rig.gear.setText(QStringLiteral("250"));
    QCOMPARE(rig.panel.chosenRange(), 800.0); // typing alone changes nothing
    rig.panel.applySettings();
    QCOMPARE(rig.panel.chosenRange(), 250.0);
    QVERIFY(rig.summary.startsWith(QStringLiteral("Current:250\n")));
}

void TestFlowsParameters::unacknowledgedSettingFails_data()
{
    QTest::addColumn<QString>("fault");
    QTest::newRow("corrupt acknowledgement") << "corrupt";
    QTest::newRow("device closed") << "closed";
}

void TestFlowsParameters::unacknowledgedSettingFails()
{
    QFETCH(QString, fault);
    PanelRig rig;
    rig.worker.setIntegralTime(1.0);
    rig.worker.setIntegralCurrent(2.0);
    rig.worker.setCurrentRange(250);
    rig.summary = QStringLiteral("before");
    if (fault == "corrupt")
        rig.sim.device->setCorruptAcknowledgements(true);
    else
        rig.sim.backend->close(rig.session.handle());
    rig.r100.setChecked(true);
    rig.panel.applySettings();

    QCOMPARE(rig.messages.texts, QStringList{"Parameter setting failed."});
    QCOMPARE(rig.worker.integralTimeValue(), 1.0);
    QCOMPARE(rig.worker.integralCurrentValue(), 2.0);
    // The device kept its parameters, and so does the console: range,
    // references and summary are those of before.
    QCOMPARE(rig.worker.currentRangeValue(), 250);
    QCOMPARE(rig.worker.references().snapshot().fullOn.front(), 250.0);
    QCOMPARE(rig.summary, QStringLiteral("before"));
    QCOMPARE(int(rig.parameterCommands().size()), fault == "corrupt" ? 1 : 0); // sent once, never again
    QVERIFY(rig.session.lastStatus() != FT_OK || fault == "corrupt");
}

FLOWS_TEST_MAIN(TestFlowsParameters)
#include "tst_flows_parameters.moc"
