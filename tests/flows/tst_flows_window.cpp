// End to end through the real main window on the simulated ZK128: every
// message box is answered by the test, the settings store and the working
// files are the test's own.
#include "tests/flows/WindowRig.h"

#include "acquisition/FrameRenderer.h"
#include "app/CaptureControl.h"
#include "app/DeviceConnection.h"
#include "app/DeviceStatusStrip.h"
#include "app/MainWindow.h"
#include "app/RunFolderLink.h"
#include "app/SimulatorControlWindow.h"
#include "device/DeviceProtocol.h"
#include "display/ColourScaleBar.h"
#include "display/DisplayPipeline.h"
#include "display/DisplayTransform.h"
#include "display/KeepRatioWidget.h"
#include "display/TestPictureWriter.h"
#include "simulator/SimulatorBackend.h"
#include "simulator/ZK128Device.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QMouseEvent>
#include <QProcess>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QShortcut>
#include <QSignalSpy>
#include <QSpinBox>
#include <QStandardPaths>
#include <QTemporaryDir>

#include <cmath>

namespace {

double meanDifference(const QImage &a, const QImage &b)
{
    if (a.size() != b.size())
        return 1e9;
    const QImage ga = a.convertToFormat(QImage::Format_Grayscale8);
    const QImage gb = b.convertToFormat(QImage::Format_Grayscale8);
    double sum = 0;
    for (int y = 0; y < ga.height(); ++y)
        for (int x = 0; x < ga.width(); ++x)
            sum += std::abs(int(ga.constScanLine(y)[x]) - int(gb.constScanLine(y)[x]));
    return sum / (ga.width() * ga.height());
}

struct Spread
{
    double mean = 0;
    double deviation = 0;
};

Spread spreadOf(const QImage &image)
{
    const QImage gray = image.convertToFormat(QImage::Format_Grayscale8);
    double sum = 0, squares = 0;
    const int n = gray.width() * gray.height();
    for (int y = 0; y < gray.height(); ++y)
        for (int x = 0; x < gray.width(); ++x) {
            const double v = gray.constScanLine(y)[x];
            sum += v;
            squares += v * v;
        }
    Spread s;
    s.mean = sum / n;
    s.deviation = std::sqrt(std::max(0.0, squares / n - s.mean * s.mean));
    return s;
}

// Numbers of a CSV block file: the frames ("Time:" lines) and every value.
struct CsvContent
{
    int frames = 0;
    int rows = 0;
    int values = 0;
    bool allNumbers = true;
};

CsvContent readCsv(const QString &path)
{
    CsvContent content;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly | QIODevice::Text))
        return content;
    while (!file.atEnd()) {
        const QString line = QString::fromUtf8(file.readLine()).trimmed();
        if (line.startsWith(QLatin1String("Time: "))) {
            ++content.frames;
            continue;
        }
        if (line.isEmpty())
            continue;
        ++content.rows;
        for (const QString &field : line.split(',')) {
            bool ok = false;
            field.toDouble(&ok);
            content.allNumbers = content.allNumbers && ok;
            ++content.values;
        }
    }
    return content;
}

} // namespace

class TestFlowsWindow : public QObject
{
    Q_OBJECT

private slots:
    void operatorSession();
    void unplugDuringCapture();
    void workerErrorThenConnectAgain();
    void simulatorControls();
    void configuredStateAndStatus_data();
    void configuredStateAndStatus();
    void colourScaleFollowsLevels_data();
    void colourScaleFollowsLevels();
};

void TestFlowsWindow::operatorSession()
{
    WindowRig rig(false);

    // No device: the list says so, and Connect too.
    QTRY_COMPARE_WITH_TIMEOUT(rig.firstDeviceItem(), QStringLiteral("No Devices"), 5000);
    rig.clickConnect();
    QCOMPARE(rig.boxes.texts, QStringList{"No Device Connected."});
    QVERIFY(!rig.window->isDeviceConnected());

    // Plugged in: the list shows the device; Connect greets it and reads the battery.
    rig.sim.device->replug();
    QVERIFY(rig.connectDevice());
    QCOMPARE(rig.find<QPushButton>("pushButton_Connect")->text(), QStringLiteral("Disconnect"));
    QVERIFY(rig.find<QWidget>("widget_play")->isVisible());
    QVERIFY(rig.find<QWidget>("widget_bat")->isVisible());
    QCOMPARE(rig.find<QWidget>("widget_8")->width(), DeviceProtocol::batteryGaugeWidth(2400));
    QCOMPARE(rig.boxes.texts.size(), 1);

    // Setting: 0 V everywhere at 800 nA.
    rig.find<QRadioButton>("radioButton_100")->setChecked(true);
    rig.find<QRadioButton>("radioButton_800")->setChecked(true);
    for (const char *field : {"lineEdit_vc", "lineEdit_vd", "lineEdit_von", "lineEdit_voff"})
        rig.find<QLineEdit>(field)->setText(QStringLiteral("0"));
    rig.sim.device->clearReceivedCommands();
    rig.find<QPushButton>("pushButton_set")->click();
    QCOMPARE(rig.boxes.texts.last(), QStringLiteral("Parameter setting successful."));
    const std::vector<std::uint8_t> expected{0xAE, 0xAA, 0x01, 0x80, 0x00, 0x80, 0x00, 0x80, 0x00,
                                             0x80, 0x00, 0x03, 0x20, 0x00, 0x1C, 0x0C, 0xA4, 0x0A};
    QCOMPARE(rig.sim.device->receivedCommands(), std::vector<std::vector<std::uint8_t>>{expected});

    // Play: frames arrive and the frame rate shows.
    rig.sim.device->setScene(ZK128Device::Scene::FixedDigit);
    rig.sim.device->setFixedDigit(3);
    QVERIFY(rig.play());
    QVERIFY(!rig.find<QPushButton>("pushButton_set")->isEnabled());
    QVERIFY(!rig.nextShownFrame().isNull());
    QTRY_VERIFY_WITH_TIMEOUT(rig.find<QLabel>("label_fps")->text().startsWith(QLatin1String("FPS: "))
                                 && rig.find<QLabel>("label_fps")->text() != QLatin1String("FPS: 0"),
                             6000);
    const double fps = rig.find<QLabel>("label_fps")->text().mid(5).toDouble();
    QVERIFY2(fps > 5.0, qPrintable(rig.find<QLabel>("label_fps")->text()));

    // A click on the darkest cell of the digit's shadow shows that cell and its current.
    int darkest = 0, brightest = 0;
    for (int i = 0; i < 16384; ++i) {
        if (rig.sim.device->expectedCurrentNa(i) < rig.sim.device->expectedCurrentNa(darkest))
            darkest = i;
        if (rig.sim.device->expectedCurrentNa(i) > rig.sim.device->expectedCurrentNa(brightest))
            brightest = i;
    }
    const double dark = rig.sim.device->expectedCurrentNa(darkest);
    const double bright = rig.sim.device->expectedCurrentNa(brightest);
    QVERIFY(bright - dark > 100.0);
    rig.clickCell(darkest % 128, darkest / 128);
    QCOMPARE(rig.find<QLabel>("label_clicked_locate")->text(),
             QStringLiteral("Coordinate: ( %1 , %2 ) ").arg(darkest % 128).arg(darkest / 128));
    const auto readout = [&] {
        const QString text = rig.find<QLabel>("label_clicked_current")->text();
        return text.section(' ', 2, 2).toDouble();
    };
    QTRY_VERIFY_WITH_TIMEOUT(std::abs(readout() - dark) < 0.1 * (bright - dark), 3000);

    // Rotation and mirroring change the picture from the next frame on.
    const QImage plain = rig.nextShownFrame();
    QVERIFY(!plain.isNull());
    rig.find<QPushButton>("pushButton_rotate")->click();
    const QImage rotated = rig.nextShownFrame();
    DisplayTransform quarter;
    quarter.rotate();
    QVERIFY2(meanDifference(rotated, quarter.apply(plain)) < 0.25 * meanDifference(rotated, plain),
             "the shown picture is not the quarter-turned frame");
    rig.find<QPushButton>("pushButton_mirrorHorizontal")->click();
    const QImage mirrored = rig.nextShownFrame();
    quarter.toggleHorizontal();
    QVERIFY(meanDifference(mirrored, quarter.apply(plain)) < 0.25 * meanDifference(mirrored, rotated));
    rig.find<QPushButton>("pushButton_mirrorHorizontal")->click();
    for (int i = 0; i < 3; ++i)
        rig.find<QPushButton>("pushButton_rotate")->click(); // back to upright

    // Calibration: full-off with the lamp off, full-on with uniform light.
    rig.sim.device->setScene(ZK128Device::Scene::Uniform);
    rig.buttonNamed("widget_7", "Open Calibration")->click();
    rig.sim.device->setLampOn(false);
    rig.buttonNamed("widget_7", "Full-Off")->click();
    QTRY_COMPARE_WITH_TIMEOUT(rig.boxes.texts.last(), QStringLiteral("Full off success."), 15000);
    rig.sim.device->setLampOn(true);
    rig.buttonNamed("widget_7", "Full-On")->click();
    QTRY_COMPARE_WITH_TIMEOUT(rig.boxes.texts.last(), QStringLiteral("Full on success."), 15000);
    rig.nextShownFrame(); // a frame rendered before the reference was complete may still be on its way
    const Spread flat = spreadOf(rig.nextShownFrame());
    QVERIFY2(flat.mean > 240.0 && flat.deviation < 6.0,
             qPrintable(QStringLiteral("mean %1, deviation %2").arg(flat.mean).arg(flat.deviation)));

    // Save three frames as data, pictures and video.
    rig.find<QComboBox>("comboBox_saveframes")->setCurrentText(QStringLiteral("3"));
    rig.find<QLineEdit>("lineEdit_savename")->setText(QStringLiteral("run"));
    rig.find<QLineEdit>("lineEdit_savepath")->setText(rig.dir.path() + "/saves");
    for (const char *box : {"checkBox_data", "checkBox_picture", "checkBox_video"})
        rig.find<QCheckBox>(box)->setChecked(true);
    rig.find<QPushButton>("pushButton_save")->click();
    QTRY_COMPARE_WITH_TIMEOUT(rig.find<QLabel>("label_savestate")->text(), QStringLiteral("Save success!"), 10000);
    QCOMPARE(rig.find<QProgressBar>("progressBar")->value(), 100);

    const QString folder = rig.dir.path() + "/saves/run/";
    QFile parameters(folder + "run_SetParameterData.txt");
    QVERIFY(parameters.open(QIODevice::ReadOnly | QIODevice::Text));
    QCOMPARE(QString::fromUtf8(parameters.readAll()), rig.window->parameterSummaryText());
    QCOMPARE(rig.window->parameterSummaryText(), QStringLiteral("Current:800\nVbias1:0\nVbias2:0\nVon:0\nVoff:0\n"));
    QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(folder + "run_fullon.csv"), 5000);
    for (const char *kind : {"current", "gray"}) {
        const CsvContent csv = readCsv(folder + "run_" + kind + ".csv");
        QCOMPARE(csv.frames, 3);
        QCOMPARE(csv.rows, 3 * 128);
        QCOMPARE(csv.values, 3 * 16384);
        QVERIFY(csv.allNumbers);
    }
    for (const char *kind : {"fulloff", "fullon"}) {
        const CsvContent csv = readCsv(folder + "run_" + kind + ".csv");
        QCOMPARE(csv.values, 16384);
        QVERIFY(csv.allNumbers);
    }
    for (int k = 1; k <= 3; ++k) {
        const QImage picture(folder + QStringLiteral("pic/run_%1.png").arg(k));
        QCOMPARE(picture.size(), QSize(128, 128));
    }
    const QString ffprobe = QStandardPaths::findExecutable(QStringLiteral("ffprobe"));
    if (ffprobe.isEmpty())
        QFAIL("ffprobe is needed to check the saved video");
    QProcess probe;
    probe.start(ffprobe, {"-v", "error", "-select_streams", "v:0", "-count_frames", "-show_entries",
                          "stream=width,height,nb_read_frames", "-of", "csv=p=0", folder + "run_output_video.mp4"});
    QVERIFY(probe.waitForFinished(20000));
    QCOMPARE(QString::fromUtf8(probe.readAllStandardOutput()).trimmed(), QStringLiteral("128,128,3"));

    // Play again stops; Setting is available again.
    rig.find<QPushButton>("pushButton_play")->click();
    QVERIFY(!rig.window->isCaptureRunning());
    QVERIFY(rig.find<QPushButton>("pushButton_set")->isEnabled());
    QCOMPARE(rig.boxes.texts.filter(QStringLiteral("Error")).size(), 0);
}

void TestFlowsWindow::unplugDuringCapture()
{
    WindowRig rig;
    QVERIFY(rig.connectDevice());
    QVERIFY(rig.play());
    QVERIFY(!rig.nextShownFrame().isNull());

    rig.sim.device->unplug();
    QTRY_COMPARE_WITH_TIMEOUT(rig.boxes.texts, QStringList{"Device disconnected."}, 5000);
    QVERIFY(!rig.window->isCaptureRunning());
    QVERIFY(!rig.window->isDeviceConnected());
    QCOMPARE(rig.find<QPushButton>("pushButton_Connect")->text(), QStringLiteral("Connect"));
    QVERIFY(!rig.find<QWidget>("widget_play")->isVisible());
    QTRY_VERIFY(rig.window->receiver().isParked()); // the stop reaches the loop after the box
    // The worker's failing reads on the lost device reach the log, not a second box.
    QCoreApplication::processEvents();
    QCOMPARE(rig.boxes.texts, QStringList{"Device disconnected."});

    rig.sim.device->replug();
    QVERIFY(rig.connectDevice()); // the lost handle was released
}

void TestFlowsWindow::workerErrorThenConnectAgain()
{
    WindowRig rig;
    QVERIFY(rig.connectDevice());
    QVERIFY(rig.play());
    QVERIFY(!rig.nextShownFrame().isNull());

    rig.sim.device->failNextReads(40);
    QTRY_COMPARE_WITH_TIMEOUT(rig.boxes.texts, QStringList{"Error Occurred."}, 10000);
    QVERIFY(!rig.window->isCaptureRunning());
    QVERIFY(!rig.window->isDeviceConnected());
    QCOMPARE(rig.find<QPushButton>("pushButton_Connect")->text(), QStringLiteral("Connect"));

    rig.sim.device->failNextReads(0);
    rig.clickConnect();
    QVERIFY(rig.window->isDeviceConnected());
    QCOMPARE(rig.boxes.texts, QStringList{"Error Occurred."});
    QVERIFY(rig.play());
    QVERIFY(!rig.nextShownFrame().isNull()); // and capturing works again
}

void TestFlowsWindow::simulatorControls()
{
    WindowRig rig;
    bool bound = false;
    for (QShortcut *shortcut : rig.window->findChildren<QShortcut *>())
        bound = bound || shortcut->key() == QKeySequence(QStringLiteral("Ctrl+Shift+S"));
    QVERIFY(bound);
    rig.window->openSimulatorControls();
    SimulatorControlWindow *controls = rig.window->simulatorControls();
    QVERIFY(controls);
    QVERIFY(controls->isVisible());

    controls->lampBox()->setChecked(false);
    QVERIFY(!rig.sim.device->lampOn());
    controls->lampBox()->setChecked(true);
    QVERIFY(rig.sim.device->lampOn());

    controls->sceneBox()->setCurrentIndex(SimulatorControlWindow::FixedDigit);
    controls->digitBox()->setValue(7);
    QCOMPARE(rig.sim.device->scene(), ZK128Device::Scene::FixedDigit);
    QCOMPARE(rig.sim.device->digitShown(), 7);
    controls->sceneBox()->setCurrentIndex(SimulatorControlWindow::UniformLight);
    QCOMPARE(rig.sim.device->digitShown(), -1);

    // Unplugging from the controls is a device loss for a connected window.
    QVERIFY(rig.connectDevice());
    controls->plugButton()->click();
    QVERIFY(!rig.sim.device->isPlugged());
    QTRY_COMPARE_WITH_TIMEOUT(rig.boxes.texts, QStringList{"Device disconnected."}, 5000);
    controls->plugButton()->click();
    QVERIFY(rig.sim.device->isPlugged());
    QTRY_COMPARE_WITH_TIMEOUT(rig.firstDeviceItem(), QStringLiteral("ZK128"), 5000);

    // Opening again raises the same window.
    rig.window->openSimulatorControls();
    QCOMPARE(rig.window->simulatorControls(), controls);
}

void TestFlowsWindow::configuredStateAndStatus_data()
{
    QTest::addColumn<QString>("stored");
    QTest::newRow("valid stored parameters") << "0";
    QTest::newRow("invalid stored parameters") << "-";
}

// Connect sends valid stored parameters without a word; without them Play
// refuses. The status strip follows, and a stopped or lost capture leaves
// its picture and figures marked as not live.
void TestFlowsWindow::configuredStateAndStatus()
{
    QFETCH(QString, stored);
    const bool valid = stored == QLatin1String("0");
    WindowRig rig;
    rig.setVoltages(stored);
    DeviceStatusStrip &strip = rig.window->statusStrip();
    QCOMPARE(strip.stateShown(), QStringLiteral("disconnected"));
    QVERIFY(rig.connectDevice());
    QCOMPARE(rig.boxes.texts, QStringList()); // no message box either way
    QCOMPARE(rig.window->isDeviceConfigured(), valid);
    int parameterCommands = 0;
    for (const auto &command : rig.sim.device->receivedCommands())
        parameterCommands += command.size() == DeviceProtocol::ParameterCommandLength;
    QCOMPARE(parameterCommands, valid ? 1 : 0);
    rig.window->refreshStatus();
    QCOMPARE(strip.stateShown(), valid ? QStringLiteral("connected") : QStringLiteral("not configured"));
    QCOMPARE(strip.deviceText(), QStringLiteral("Simulator ZK128"));
    QCOMPARE(strip.batteryText(), QStringLiteral("battery 1.93 V"));
    QCOMPARE(strip.timingText(), valid ? QStringLiteral("800 nA, 11.5 ms, 78.6 fps") : QStringLiteral("range not set"));

    if (!valid) {
        QVERIFY(!rig.play());
        QCOMPARE(rig.boxes.texts, QStringList{CaptureControl::notConfiguredMessage()});
        rig.setVoltages(QStringLiteral("0"));
        rig.find<QPushButton>("pushButton_set")->click();
        QVERIFY(rig.window->isDeviceConfigured());
    }
    QVERIFY(rig.play());
    QVERIFY(!rig.nextShownFrame().isNull());
    rig.window->refreshStatus();
    QCOMPARE(strip.stateShown(), QStringLiteral("capturing"));
    QVERIFY(rig.window->displayPipeline().isLive());

    rig.find<QPushButton>("pushButton_play")->click(); // stop
    rig.window->refreshStatus();
    QCOMPARE(strip.stateShown(), QStringLiteral("connected"));
    QTRY_VERIFY(!rig.window->displayPipeline().isLive());
    QVERIFY(rig.window->findChild<QLabel *>(QStringLiteral("label_not_live"))->isVisible());
    QCOMPARE(rig.find<QLabel>("label_fps")->styleSheet(), DisplayPipeline::notLiveFigureSheet());

    QVERIFY(rig.play());
    QVERIFY(!rig.nextShownFrame().isNull());
    QVERIFY(rig.window->displayPipeline().isLive());
    rig.sim.device->unplug();
    QTRY_VERIFY_WITH_TIMEOUT(rig.boxes.texts.contains(QStringLiteral("Device disconnected.")), 5000);
    rig.window->refreshStatus();
    QCOMPARE(strip.stateShown(), QStringLiteral("disconnected"));
    QVERIFY(!rig.window->displayPipeline().isLive());
    QVERIFY(!rig.window->isDeviceConfigured()); // a new connection must be configured again
}

void TestFlowsWindow::colourScaleFollowsLevels_data()
{
    QTest::addColumn<QString>("mode");
    QTest::addColumn<QString>("shown");
    QTest::addColumn<QStringList>("ticks");
    QTest::addColumn<QString>("unit");
    QTest::newRow("gray on the range") << "gray" << "range" << QStringList{"800", "600", "400", "200", "0"} << "nA";
    QTest::newRow("rgb with levels")
        << "rgb" << "levels" << QStringList{"300", "250", "200", "150", "100"} << "nA";
    QTest::newRow("heat calibrated")
        << "heat" << "calibrated" << QStringList{"100", "75", "50", "25", "0"} << "%";
}

// The scale beside the live picture names what its colours stand for.
void TestFlowsWindow::colourScaleFollowsLevels()
{
    QFETCH(QString, mode);
    QFETCH(QString, shown);
    QFETCH(QStringList, ticks);
    QFETCH(QString, unit);
    WindowRig rig;
    QVERIFY(rig.connectAndPlay());
    rig.find<QRadioButton>(qPrintable(QStringLiteral("radioButton_") + mode))->click();
    if (shown == QLatin1String("levels"))
        rig.window->receiver().rendering().setDisplayLevels(DisplayLevels{true, false, 100.0, 300.0});
    if (shown == QLatin1String("calibrated"))
        rig.buttonNamed("widget_7", "Open Calibration")->click();
    ColourScaleBar &scale = rig.window->colourScale();
    QTRY_COMPARE_WITH_TIMEOUT(scale.tickTexts(), ticks, 5000);
    QCOMPARE(scale.unitText(), unit);
    const int modeIndex = mode == QLatin1String("gray") ? 0 : mode == QLatin1String("rgb") ? 1 : 2;
    QTRY_COMPARE(scale.displayMode(), modeIndex);
    // The bar's colours are the picture's: level 255 on top, 0 at the bottom.
    for (const int level : {255, 128, 0}) {
        uchar painted[3] = {0, 0, 0};
        FrameRenderer::paint(modeIndex, level, painted);
        if (modeIndex == 0)
            painted[1] = painted[2] = painted[0];
        QCOMPARE(scale.bar().pixel(0, 255 - level), qRgb(painted[0], painted[1], painted[2]));
    }
}

FLOWS_TEST_MAIN(TestFlowsWindow)
#include "tst_flows_window.moc"
