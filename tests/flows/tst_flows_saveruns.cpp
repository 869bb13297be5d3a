// Save runs through the real window on the simulated ZK128, when things go
// wrong: every way a run can be interrupted keeps the frames gathered so far
// in every kind, readable and in agreement, and tells the operator once; a
// disk too small is refused before anything is written, and a disk that
// fills up is reported, never announced as a success.
#include "tests/flows/WindowRig.h"

#include "app/ConsoleShutdown.h"
#include "app/SavePanel.h"
#include "services/StopSignals.h"
#include "tests/support/RunFileReaders.h"
#include "tests/support/SmallDisk.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDirIterator>
#include <QFile>
#include <QLineEdit>
#include <QProcess>
#include <QProgressBar>
#include <QRegularExpression>
#include <QStandardPaths>

#include <csignal>


namespace {

// The rig with the Save page filled in for a run of `frames` frames.
void fillSavePage(WindowRig &rig, const QString &directory, int frames, bool allKinds)
{
    rig.find<QComboBox>("comboBox_saveframes")->setCurrentText(QString::number(frames));
    rig.find<QLineEdit>("lineEdit_savename")->setText(QStringLiteral("run"));
    rig.find<QLineEdit>("lineEdit_savepath")->setText(directory);
    for (const char *kind : {"checkBox_data", "checkBox_picture", "checkBox_video", "checkBox_hdf5"})
        rig.find<QCheckBox>(kind)->setChecked(allKinds || QLatin1String(kind) == QLatin1String("checkBox_data"));
}

QString lastLogLine(const WindowRig &rig, const QString &containing)
{
    QFile log(rig.context.log().path());
    if (!log.open(QIODevice::ReadOnly | QIODevice::Text))
        return QString();
    QString found;
    for (const QByteArray &line : log.readAll().split('\n'))
        if (line.contains(containing.toUtf8()))
            found = QString::fromUtf8(line);
    return found;
}

} // namespace

class TestFlowsSaveRuns : public QObject
{
    Q_OBJECT

private slots:
    void interruptedRunKeepsItsFrames_data();
    void interruptedRunKeepsItsFrames();
    void diskTooSmallIsRefused();
    void diskFillingUpIsReported();
};

void TestFlowsSaveRuns::interruptedRunKeepsItsFrames_data()
{
    QTest::addColumn<QString>("interruption");
    QTest::addColumn<QString>("reason");
    QTest::newRow("Stop") << "stop" << "capture was stopped";
    QTest::newRow("unplug") << "unplug" << "the device was disconnected";
    QTest::newRow("worker error") << "read errors" << "the device stopped answering";
    QTest::newRow("second Save") << "second save" << "a new save run was started";
    QTest::newRow("window closed") << "close" << "the console was closed";
    // Last: from here on a later stop signal would end the test at once.
    QTest::newRow("SIGTERM twice at once") << "SIGTERM" << "the console was closed";
}

void TestFlowsSaveRuns::interruptedRunKeepsItsFrames()
{
    QFETCH(QString, interruption);
    QFETCH(QString, reason);
    auto rig = std::make_unique<WindowRig>();
    const QString directory = rig->dir.path() + QStringLiteral("/saves");
    QVERIFY(rig->connectAndPlay());
    fillSavePage(*rig, directory, 1000, true);
    rig->find<QPushButton>("pushButton_save")->click();
    QVERIFY(rig->window->receiver().isSaveRunArmed());
    QTRY_VERIFY_WITH_TIMEOUT(rig->find<QProgressBar>("progressBar")->value() >= 1, 20000);

    const int boxesBefore = rig->boxes.texts.size();
    if (interruption == "stop") {
        rig->play();
    } else if (interruption == "unplug") {
        rig->sim.device->unplug();
    } else if (interruption == "read errors") {
        rig->sim.device->failNextReads(11);
    } else if (interruption == "second save") {
        rig->window->saves().setQuestion([](const QString &) { return true; });
        fillSavePage(*rig, directory, 1, false);
        rig->find<QPushButton>("pushButton_save")->click();
    } else if (interruption == "SIGTERM") {
        // As the console's main does it: the signal stops the event loop, then the run ends.
        StopSignals stopSignals(1);
        int stops = 0;
        ConsoleShutdown::stopOnSignal(stopSignals, rig->context.log(), [&stops] { ++stops; });
        std::raise(SIGTERM);
        std::raise(SIGTERM);
        QTRY_COMPARE_WITH_TIMEOUT(stops, 1, 2000);
        QCOMPARE(ConsoleShutdown::finishSaveRuns(rig->window->receiver().saveRuns(), rig->context.log()), QString());
        rig->window.reset();
    } else {
        rig->window.reset();
    }
    const QString message = QStringLiteral("Saved %1 of 1000 frames: ") + reason + QLatin1Char('.');
    const QRegularExpression told(QStringLiteral("^Saved (\\d+) of 1000 frames: ") + QRegularExpression::escape(reason)
                                  + QStringLiteral("\\.$"));
    int written = -1;
    if (interruption == "close" || interruption == "SIGTERM") {
        // The window is gone: the log keeps the outcome.
        const QRegularExpressionMatch match =
            told.match(lastLogLine(*rig, reason).section(QStringLiteral("; "), 1));
        QVERIFY2(match.hasMatch(), qPrintable(lastLogLine(*rig, reason)));
        written = match.captured(1).toInt();
    } else {
        QTRY_VERIFY_WITH_TIMEOUT(!rig->boxes.texts.filter(told).isEmpty(), 30000);
        const QStringList outcomes = rig->boxes.texts.mid(boxesBefore).filter(told);
        QCOMPARE(outcomes.size(), 1); // told once
        written = told.match(outcomes.first()).captured(1).toInt();
        QVERIFY(!rig->window->receiver().isSaveRunArmed() || interruption == "second save");
        QVERIFY(rig->find<QLabel>("label_savestate")->text() != QStringLiteral("Save success!")
                || interruption == "second save");
        QVERIFY(lastLogLine(*rig, reason).contains(message.arg(written)));
    }
    QVERIFY(written >= 1);

    // Every kind holds the same frames, whole, under its own name.
    const QString folder = directory + QStringLiteral("/run/");
    QCOMPARE(RunFileReaders::wholeCsvFrames(folder + "run_current.csv"), written);
    QCOMPARE(RunFileReaders::wholeCsvFrames(folder + "run_gray.csv"), written);
    QVERIFY(QFile::exists(folder + "run_fulloff.csv"));
    QCOMPARE(RunFileReaders::decodedPictures(folder, "run"), written);
    QVERIFY(!QImage(folder + QStringLiteral("pic/run_%1.png").arg(written)).isNull());
    const RunFileReaders::Hdf5Run hdf5 = RunFileReaders::readHdf5(folder + "run.h5");
    QCOMPARE(hdf5.frames, written);
    QCOMPARE(hdf5.complete, 0);
    if (!QStandardPaths::findExecutable(QStringLiteral("ffprobe")).isEmpty())
        QCOMPARE(RunFileReaders::videoFrames(folder + "run_output_video.mp4"), written);
    QVERIFY(QDir(folder).entryList({"*.part*"}, QDir::Files).isEmpty());
}

void TestFlowsSaveRuns::diskTooSmallIsRefused()
{
    WindowRig rig;
    SmallDisk disk(rig.dir.path() + QStringLiteral("/small"), QStringLiteral("1m"));
    if (!disk.mounted)
        QSKIP("a small tmpfs could not be mounted (needs root)");
    QVERIFY(rig.connectAndPlay());
    fillSavePage(rig, disk.path, 20, true);
    rig.find<QPushButton>("pushButton_save")->click();
    QCOMPARE(rig.boxes.texts.size(), 1);
    QVERIFY2(rig.boxes.texts.first().startsWith(QStringLiteral("The folder's disk has 1 MB free; this run needs about ")),
             qPrintable(rig.boxes.texts.first()));
    QVERIFY(!rig.window->receiver().isSaveRunArmed());
    QVERIFY(QDir(disk.path).isEmpty()); // nothing was written
}

void TestFlowsSaveRuns::diskFillingUpIsReported()
{
    WindowRig rig;
    SmallDisk disk(rig.dir.path() + QStringLiteral("/small"), QStringLiteral("6m"));
    if (!disk.mounted)
        QSKIP("a small tmpfs could not be mounted (needs root)");
    QVERIFY(rig.connectAndPlay());
    fillSavePage(rig, disk.path, 20, false);
    // The run fits the estimate, then another program takes the room.
    rig.sim.device->setUsbBytesPerSecond(2e6);
    rig.find<QPushButton>("pushButton_save")->click();
    QVERIFY(rig.window->receiver().isSaveRunArmed());
    QFile filler(disk.path + QStringLiteral("/filler"));
    QVERIFY(filler.open(QIODevice::WriteOnly));
    const QByteArray block(64 * 1024, 'x');
    while (filler.write(block) == block.size()) {
    }
    filler.close();

    const QRegularExpression told(QStringLiteral("^Saved (\\d+) of 20 frames; the data could not be written: "
                                                 "No space left on device\\.$"));
    QTRY_VERIFY_WITH_TIMEOUT(!rig.boxes.texts.filter(told).isEmpty(), 30000);
    const int written = told.match(rig.boxes.texts.filter(told).first()).captured(1).toInt();
    QVERIFY(rig.find<QLabel>("label_savestate")->text() != QStringLiteral("Save success!"));
    QVERIFY(rig.find<QProgressBar>("progressBar")->value() < 100);
    // What is on disk holds whole frames only.
    QFile::remove(disk.path + QStringLiteral("/filler"));
    const int onDisk = RunFileReaders::wholeCsvFrames(disk.path + QStringLiteral("/run/run_current.csv"));
    QVERIFY2(onDisk == written || (onDisk == -1 && written == 0), qPrintable(QString::number(onDisk)));
}

FLOWS_TEST_MAIN(TestFlowsSaveRuns)
#include "tst_flows_saveruns.moc"
