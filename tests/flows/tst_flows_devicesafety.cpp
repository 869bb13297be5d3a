// What the console sends to the device, and when it waits for it, through the
// real window on the simulated ZK128: the bias voltages it accepts, state that
// changes only on an acknowledged command, answers read by whoever asked, and
// a window that is never held up long by device trouble.
#include "tests/flows/WindowRig.h"

#include "app/DeviceConnection.h"
#include "app/ParameterPanel.h"
#include "device/DeviceProtocol.h"
#include "operation/BiasVoltages.h"

#include <QElapsedTimer>
#include <QLineEdit>
#include <QRadioButton>
#include <QSettings>

#include <cmath>

namespace {

const char *const VoltageFields[] = {"lineEdit_vc", "lineEdit_vd", "lineEdit_von", "lineEdit_voff"};

// The 18-byte commands the device received.
std::vector<std::vector<std::uint8_t>> parameterCommands(const ZK128Device &device)
{
    std::vector<std::vector<std::uint8_t>> found;
    for (const auto &command : device.receivedCommands())
        if (command.size() == DeviceProtocol::ParameterCommandLength)
            found.push_back(command);
    return found;
}

// The voltage field of the command at the offset the field name has in it.
std::uint16_t fieldOf(const std::vector<std::uint8_t> &command, const QString &field)
{
    const int offset = field == "lineEdit_von" ? 3 : field == "lineEdit_voff" ? 5 : field == "lineEdit_vc" ? 7 : 9;
    return std::uint16_t(command[std::size_t(offset)] << 8 | command[std::size_t(offset) + 1]);
}

int commandsWithCode(const ZK128Device &device, std::uint8_t code)
{
    int count = 0;
    for (const auto &command : device.receivedCommands())
        count += command.size() > 2 && command[2] == code ? 1 : 0;
    return count;
}

} // namespace

class TestFlowsDeviceSafety : public QObject
{
    Q_OBJECT

private slots:
    void biasVoltages_data();
    void biasVoltages();
    void failedSettingChangesNothing();
    void stopThenBatteryThenSetting();
    void deviceTroubleIsToldQuickly_data();
    void deviceTroubleIsToldQuickly();
};

void TestFlowsDeviceSafety::biasVoltages_data()
{
    QTest::addColumn<bool>("stored");  // restored from the settings store, or typed
    QTest::addColumn<QString>("field");
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("message");
    QTest::addColumn<double>("sent");   // volts in the command; NaN when nothing is sent
    const double none = std::nan("");
    QTest::newRow("typed valid") << false << "lineEdit_vc" << "5" << "Parameter setting successful." << 5.0;
    QTest::newRow("typed negative decimal") << false << "lineEdit_von" << "-2.5" << "Parameter setting successful."
                                            << -2.5;
    QTest::newRow("typed trailing point") << false << "lineEdit_vd" << "1." << "Parameter setting successful." << 1.0;
    QTest::newRow("typed minus alone") << false << "lineEdit_voff" << "-" << "Voff must be a number from -15 to 15 V."
                                       << none;
    QTest::newRow("stored valid") << true << "lineEdit_vd" << "-15" << "Parameter setting successful." << -15.0;
    QTest::newRow("stored out of range") << true << "lineEdit_vc" << "99" << "Vbias1 must be a number from -15 to 15 V."
                                         << none;
    QTest::newRow("stored out of range below") << true << "lineEdit_von" << "-99"
                                               << "Von must be a number from -15 to 15 V." << none;
    QTest::newRow("stored letters") << true << "lineEdit_vd" << "abc" << "Vbias2 must be a number from -15 to 15 V."
                                    << none;
    QTest::newRow("stored minus alone") << true << "lineEdit_voff" << "-" << "Voff must be a number from -15 to 15 V."
                                        << none;
    QTest::newRow("stored empty") << true << "lineEdit_vc" << "" << "input fields are empty" << none;
}

void TestFlowsDeviceSafety::biasVoltages()
{
    QFETCH(bool, stored);
    QFETCH(QString, field);
    QFETCH(QString, text);
    QFETCH(QString, message);
    QFETCH(double, sent);
    {
        QSettings store(QStringLiteral("Velmoray"), QStringLiteral("Tessivo_128"));
        store.beginGroup(QStringLiteral("ReceiverSettings"));
        for (const char *name : VoltageFields)
            store.setValue(QLatin1String(name), QStringLiteral("0"));
        if (stored)
            store.setValue(field, text);
    }
    WindowRig rig;
    QVERIFY(rig.connectDevice());
    if (!stored) {
        QLineEdit *edit = rig.find<QLineEdit>(field.toLatin1().constData());
        edit->clear();
        QTest::keyClicks(edit, text); // through the field's validator, as a person types
        QCOMPARE(edit->text(), text);
    }
    rig.sim.device->clearReceivedCommands();
    rig.find<QPushButton>("pushButton_set")->click();

    QCOMPARE(rig.boxes.texts.last(), message);
    const auto commands = parameterCommands(*rig.sim.device);
    if (std::isnan(sent)) {
        QVERIFY(commands.empty());
        return;
    }
    QCOMPARE(int(commands.size()), 1);
    QCOMPARE(fieldOf(commands.front(), field), DeviceProtocol::voltageField(sent));
    // The parameter file will record what was sent, not what was typed.
    const QString caption = field == "lineEdit_vc" ? "Vbias1:" : field == "lineEdit_vd" ? "Vbias2:"
                          : field == "lineEdit_von" ? "Von:" : "Voff:";
    QVERIFY2(rig.window->parameterSummaryText().contains(caption + BiasVoltages::text(sent) + '\n'),
             qPrintable(rig.window->parameterSummaryText()));
}

void TestFlowsDeviceSafety::failedSettingChangesNothing()
{
    WindowRig rig;
    QVERIFY(rig.connectDevice());
    for (const char *name : VoltageFields)
        rig.find<QLineEdit>(name)->setText(QStringLiteral("0"));
    rig.find<QPushButton>("pushButton_set")->click();
    QCOMPARE(rig.boxes.texts.last(), QStringLiteral("Parameter setting successful."));
    const QString summary = rig.window->parameterSummaryText();

    // The device does not answer the next command: it keeps 800 nA, and so
    // must the console.
    rig.sim.device->setCorruptAcknowledgements(true);
    rig.find<QRadioButton>("radioButton_100")->setChecked(true);
    rig.find<QLineEdit>("lineEdit_vc")->setText(QStringLiteral("7"));
    rig.find<QPushButton>("pushButton_set")->click();
    QCOMPARE(rig.boxes.texts.last(), QStringLiteral("Parameter setting failed."));
    QCOMPARE(rig.window->receiver().currentRangeValue(), 800);
    QCOMPARE(rig.window->receiver().references().snapshot().fullOn.front(), 800.0);
    QCOMPARE(rig.window->parameterSummaryText(), summary);
}

void TestFlowsDeviceSafety::stopThenBatteryThenSetting()
{
    WindowRig rig;
    rig.sim.device->setReplyDelay(std::chrono::microseconds(0)); // answers are there at the first look
    rig.sim.device->setBatteryReading(2300);
    QVERIFY(rig.connectAndPlay());
    QVERIFY(!rig.nextShownFrame().isNull());
    QVERIFY(!rig.play()); // Stop: the device acknowledges the stop command
    QTRY_VERIFY(rig.window->receiver().isParked());

    rig.find<QWidget>("widget_8")->setFixedSize(16, 10);
    rig.window->connection().pollBattery();
    QCOMPARE(rig.find<QWidget>("widget_8")->width(), DeviceProtocol::batteryGaugeWidth(2300));

    for (const char *name : VoltageFields)
        rig.find<QLineEdit>(name)->setText(QStringLiteral("0"));
    rig.find<QPushButton>("pushButton_set")->click();
    QCOMPARE(rig.boxes.texts.last(), QStringLiteral("Parameter setting successful."));
    QCOMPARE(rig.window->parameters().lastAnswer().checks, 1);
}

void TestFlowsDeviceSafety::deviceTroubleIsToldQuickly_data()
{
    QTest::addColumn<QString>("trouble");
    QTest::newRow("unplugged during capture") << "unplug";
    QTest::newRow("Play after a read-error pass") << "read errors";
}

void TestFlowsDeviceSafety::deviceTroubleIsToldQuickly()
{
    // Loose bounds: the exact figures are bench_window_stalls'.
    QFETCH(QString, trouble);
    WindowRig rig;
    QVERIFY(rig.connectAndPlay());
    QVERIFY(!rig.nextShownFrame().isNull());
    QElapsedTimer clock;
    clock.start();
    if (trouble == "unplug") {
        rig.sim.device->unplug();
        QTRY_COMPARE_WITH_TIMEOUT(rig.boxes.texts, QStringList{"Device disconnected."}, 5000);
        QVERIFY2(clock.elapsed() < 1000, qPrintable(QString::number(clock.elapsed())));
        return;
    }
    rig.sim.device->failNextReads(11);
    QTRY_COMPARE_WITH_TIMEOUT(rig.boxes.texts, QStringList{"Error Occurred."}, 10000);
    QVERIFY(rig.connectDevice());
    rig.sim.device->clearReceivedCommands();
    clock.restart();
    QVERIFY(rig.play());
    QVERIFY2(clock.elapsed() < 1000, qPrintable(QString::number(clock.elapsed())));
    QVERIFY(!rig.nextShownFrame().isNull());
    QCOMPARE(commandsWithCode(*rig.sim.device, 0x03), 0); // no stray stop before the start
    QCOMPARE(commandsWithCode(*rig.sim.device, 0x02), 1);
}

FLOWS_TEST_MAIN(TestFlowsDeviceSafety)
#include "tst_flows_devicesafety.moc"
