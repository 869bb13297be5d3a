// Playback of recordings through the real window on the simulator: the
// playback bar (slider, keys, pace, follow), the capture controls locked
// without a device command, the It-curve over the whole run, exports checked
// with h5py and a CSV parser, and each bad input told in one sentence.
#include "tests/flows/WindowRig.h"

#include "tests/flows/MemoryRecording.h"
#include "tests/support/RunFileReaders.h"

#include "acquisition/CsvWriter.h"
#include "acquisition/FrameRendering.h"
#include "analysis/CurrentDialog.h"
#include "analysis/LiveAnalysisWindow.h"
#include "analysis/RegionPanel.h"
#include "app/ItCurvePage.h"
#include "app/LaunchOptions.h"
#include "app/LiveAnalysisPage.h"
#include "app/PlaybackBar.h"
#include "app/RecordingPlayback.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDirIterator>
#include <QMimeData>
#include <QProcess>
#include <QSlider>

#include <hdf5.h>

namespace {

// The frames of the shared runs the window saved on the simulator.
constexpr int kRunFrames = 6;

void fillSavePage(WindowRig &rig, const QString &directory, const QString &name, int frames, bool data, bool hdf5)
{
    rig.find<QComboBox>("comboBox_saveframes")->setCurrentText(QString::number(frames));
    rig.find<QLineEdit>("lineEdit_savename")->setText(name);
    rig.find<QLineEdit>("lineEdit_savepath")->setText(directory);
    rig.find<QCheckBox>("checkBox_data")->setChecked(data);
    rig.find<QCheckBox>("checkBox_picture")->setChecked(false);
    rig.find<QCheckBox>("checkBox_video")->setChecked(false);
    rig.find<QCheckBox>("checkBox_hdf5")->setChecked(hdf5);
}

QStringList filesUnder(const QString &folder)
{
    QStringList files;
    QDirIterator it(folder, QDir::Files, QDirIterator::Subdirectories);
    while (it.hasNext())
        files << it.next();
    files.sort();
    return files;
}

} // namespace

class TestFlowsPlayback : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void stepsThroughTheRun_data();
    void stepsThroughTheRun();
    void followsAGrowingFile();
    void captureLockedWithoutDeviceCommands();
    void itCurveShowsTheWholeRun();
    void regionMeanOverTheRun();
    void opensFromTheWindow_data();
    void opensFromTheWindow();
    void exportRoundTrip_data();
    void exportRoundTrip();
    void badInput_data();
    void badInput();
    void launchPath_data();
    void launchPath();

private:
    // Opens an in-memory recording in the rig's window.
    bool openMemory(WindowRig &rig, int frames);
    bool openPath(WindowRig &rig, const QString &path);

    QTemporaryDir m_runs; // the runs the window saved: "run" (whole) and "cut" (interrupted)
    int m_cutFrames = 0;
};

void TestFlowsPlayback::initTestCase()
{
    WindowRig rig;
    QVERIFY(rig.connectAndPlay());
    fillSavePage(rig, m_runs.path(), QStringLiteral("run"), kRunFrames, true, true);
    rig.find<QPushButton>("pushButton_save")->click();
    QTRY_COMPARE_WITH_TIMEOUT(rig.find<QLabel>("label_savestate")->text(), QStringLiteral("Save success!"), 30000);
    fillSavePage(rig, m_runs.path(), QStringLiteral("cut"), 1000, true, true);
    rig.find<QPushButton>("pushButton_save")->click();
    QTRY_VERIFY_WITH_TIMEOUT(rig.window->receiver().saveRuns().gathered() >= 3, 20000);
    rig.play(); // Stop: the run ends interrupted with the frames gathered
    QTRY_VERIFY_WITH_TIMEOUT(rig.find<QLabel>("label_savestate")->text().startsWith(QStringLiteral("Saved ")),
                             30000);
    m_cutFrames = RunFileReaders::readHdf5(m_runs.path() + QStringLiteral("/cut/cut.h5")).framesWritten;
    QVERIFY(m_cutFrames >= 3);
}

bool TestFlowsPlayback::openMemory(WindowRig &rig, int frames)
{
    rig.window->playback().setOpener([frames](const QString &, QString *, const RecordingOpener::Progress &) {
        return std::make_unique<MemoryRecording>(frames);
    });
    return openPath(rig, QStringLiteral("memory"));
}

bool TestFlowsPlayback::openPath(WindowRig &rig, const QString &path)
{
    QSignalSpy opened(&rig.window->playback(), &RecordingPlayback::recordingOpened);
    QSignalSpy failed(&rig.window->playback(), &RecordingPlayback::openFailed);
    rig.window->playback().open(path);
    const QDeadlineTimer deadline(20000);
    while (opened.isEmpty() && failed.isEmpty() && !deadline.hasExpired())
        QTest::qWait(10);
    return !opened.isEmpty();
}

void TestFlowsPlayback::stepsThroughTheRun_data()
{
    QTest::addColumn<QList<int>>("keys"); // Qt keys pressed in turn; -1 - n: the slider moved to n
    QTest::addColumn<int>("expected");
    QTest::newRow("Right steps forward") << QList<int>{Qt::Key_Right, Qt::Key_Right} << 2;
    QTest::newRow("Left steps back") << QList<int>{Qt::Key_End, Qt::Key_Left} << 8;
    QTest::newRow("Left at the first frame stays") << QList<int>{Qt::Key_Left} << 0;
    QTest::newRow("Right at the last frame stays") << QList<int>{Qt::Key_End, Qt::Key_Right} << 9;
    QTest::newRow("Home after End") << QList<int>{Qt::Key_End, Qt::Key_Home} << 0;
    QTest::newRow("slider") << QList<int>{-1 - 6} << 6;
    QTest::newRow("Space plays to the end") << QList<int>{Qt::Key_Space} << 9;
}

void TestFlowsPlayback::stepsThroughTheRun()
{
    QFETCH(QList<int>, keys);
    QFETCH(int, expected);
    WindowRig rig;
    QVERIFY(openMemory(rig, 10));
    rig.window->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(rig.window.get()));
    PlaybackBar &bar = rig.window->playbackBar();
    QVERIFY(bar.isVisible());
    QVERIFY(bar.slider()->accessibleName().contains(QStringLiteral("Frame")));
    bar.speedBox()->setCurrentIndex(bar.speedBox()->count() - 1); // the fastest chosen pace
    for (int key : keys) {
        if (key < 0)
            bar.slider()->setValue(-1 - key);
        else
            QTest::keyClick(rig.window.get(), Qt::Key(key));
    }
    QTRY_VERIFY_WITH_TIMEOUT(!bar.isPlaying(), 5000); // playing stops at the last frame
    rig.window->refreshStatus();
    QVERIFY(rig.window->displayPipeline().isLive()); // a recorded frame is never marked "Not live"
    QCOMPARE(rig.window->playback().currentFrame(), expected);
    QCOMPARE(bar.slider()->value(), expected);
    QVERIFY2(bar.positionLabel()->text().startsWith(QStringLiteral("Frame %1 of 10, ").arg(expected + 1)),
             qPrintable(bar.positionLabel()->text()));
    // The consumers hold the frame: the picture drawn and the cell read are its own.
    const FramePtr shown = rig.window->receiver().rendering().newestFrame();
    QVERIFY(shown);
    QCOMPARE(shown->currents[77], MemoryRecording::currentOf(expected, 77));
    rig.clickCell(5, 0);
    QTRY_COMPARE(rig.find<QLabel>("label_clicked_current")->text(),
                 QStringLiteral(" Current: %1 nA ").arg(MemoryRecording::currentOf(expected, 5), 0, 'f', 4));
}

void TestFlowsPlayback::followsAGrowingFile()
{
    // tessivo128-capture writes a long run on its own simulator.
    QTemporaryDir folder;
    QProcess tool;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("TESSIVO_DEVICE"), QStringLiteral("simulator"));
    environment.insert(QStringLiteral("XDG_CONFIG_HOME"), folder.path());
    tool.setProcessEnvironment(environment);
    tool.setWorkingDirectory(folder.path());
    tool.start(QStringLiteral(TESSIVO_CAPTURE_TOOL), {"--frames", "1000", "--hdf5", "--quiet", "--out", folder.path(),
                                                     "--name", "grow"});
    QVERIFY(tool.waitForStarted());
    const QString file = folder.path() + QStringLiteral("/grow/grow.h5");
    WindowRig rig;
    // Once the tool has flushed some frames (at least once a second).
    QTRY_VERIFY_WITH_TIMEOUT(QFileInfo(file).size() > 3 * 128 * 128 * 8 && openPath(rig, file), 20000);
    rig.boxes.texts.clear(); // a flush not yet made is told as any file without a frame
    PlaybackBar &bar = rig.window->playbackBar();
    QVERIFY(bar.followBox()->isEnabled());
    const int opened = rig.window->playback().frameCount();
    bar.followBox()->setChecked(true);
    QTRY_VERIFY_WITH_TIMEOUT(rig.window->playback().currentFrame() > opened, 10000); // the newest, as it comes
    QCOMPARE(bar.slider()->maximum(), rig.window->playback().frameCount() - 1);
    tool.terminate(); // the run ends interrupted, its frames kept
    QVERIFY(tool.waitForFinished(20000));
    tool.close();
    QVERIFY(rig.boxes.texts.isEmpty());
}

void TestFlowsPlayback::captureLockedWithoutDeviceCommands()
{
    WindowRig rig;
    QVERIFY(rig.connectAndPlay());
    QVERIFY(!rig.nextShownFrame().isNull());
    const RunReferences live = rig.window->receiver().references().snapshot();
    QVERIFY(openMemory(rig, 10));
    QVERIFY(!rig.window->isCaptureRunning());
    QVERIFY(rig.window->receiver().waitUntilParked(5000));
    const FramePtr played = rig.window->receiver().rendering().newestFrame();
    for (const char *control : {"pushButton_play", "pushButton_set", "pushButton_Connect"})
        QVERIFY2(!rig.find<QPushButton>(control)->isEnabled(), control);

    // Everything the operator may do with a recording, with no word to the device.
    rig.sim.device->clearReceivedCommands();
    const std::uint64_t framesSent = rig.sim.device->framesSent();
    PlaybackBar &bar = rig.window->playbackBar();
    bar.speedBox()->setCurrentIndex(bar.speedBox()->count() - 1);
    bar.togglePlay();
    QTRY_VERIFY_WITH_TIMEOUT(!bar.isPlaying(), 5000);
    rig.find<QPushButton>("pushButton_play")->click();
    rig.buttonNamed("widget_7", QStringLiteral("Open Calibration"))->click();
    QVERIFY(rig.boxes.texts.isEmpty()); // calibration works on the recorded frames
    QVERIFY(!rig.buttonNamed("widget_7", QStringLiteral("Full-On"))->isEnabled());
    bar.step(-3);
    QVERIFY(rig.sim.device->receivedCommands().empty());
    QCOMPARE(rig.sim.device->framesSent(), framesSent);
    QVERIFY(rig.window->receiver().isParked());

    // Closing gives back the live view, the references and the controls.
    QVERIFY(played);
    rig.buttonNamed("widget_7", QStringLiteral("Close Calibration"))->click();
    bar.closeButton()->click();
    QVERIFY(!bar.isVisible());
    QVERIFY(rig.window->playback().frameCount() == 0);
    for (const char *control : {"pushButton_play", "pushButton_set", "pushButton_Connect"})
        QVERIFY2(rig.find<QPushButton>(control)->isEnabled(), control);
    QVERIFY(rig.window->receiver().rendering().newestFrame()->index < played->index);
    QCOMPARE(rig.window->receiver().references().snapshot().fullOn, live.fullOn);
    QCOMPARE(rig.window->receiver().references().snapshot().fullOff, live.fullOff);
    QVERIFY(rig.play());
    QVERIFY(!rig.nextShownFrame().isNull()); // live again
}

void TestFlowsPlayback::itCurveShowsTheWholeRun()
{
    WindowRig rig;
    QVERIFY(openMemory(rig, 12));
    ItCurvePage &page = rig.window->itCurve();
    page.openWindow();
    page.widgets().xEdits[0]->setText(QStringLiteral("2")); // row
    page.widgets().yEdits[0]->setText(QStringLiteral("9")); // column
    page.widgets().seriesStart->click();
    QCPGraph *graph = page.window()->graph(0);
    QCOMPARE(graph->dataCount(), 12);
    for (int k = 0; k < 12; ++k) {
        QVERIFY(qAbs(graph->data()->at(k)->key - k / 10.0) < 1e-6); // differences of epoch times
        QCOMPARE(graph->data()->at(k)->value, MemoryRecording::currentOf(k, 9 + 128 * 2));
    }
    QVERIFY(rig.boxes.texts.isEmpty());
}

void TestFlowsPlayback::regionMeanOverTheRun()
{
    WindowRig rig;
    const QString csv = m_runs.path() + QStringLiteral("/run/run_current.csv");
    const std::vector<RunFileReaders::CsvFrame> frames = RunFileReaders::csvFrames(csv);
    QCOMPARE(int(frames.size()), kRunFrames);
    QVERIFY(openPath(rig, csv));
    rig.window->liveAnalysis().openWindow();
    LiveAnalysisWindow *analysis = rig.window->liveAnalysis().window();
    QCPGraph *curve = analysis->findChild<RegionPanel *>()->meanPlot()->graph(0);
    const double first = QDateTime::fromString(frames.front().time, QLatin1String(CsvFormat::kTimestampFormat)).toMSecsSinceEpoch();
    // Without stepping through the run, every frame's mean of the region, on the run's time axis.
    for (const QRect &region : {QRect(), QRect(10, 20, 30, 5)}) {
        emit rig.window->displayPipeline().regionSelected(region);
        QTRY_COMPARE_WITH_TIMEOUT(curve->dataCount(), kRunFrames, 20000);
        const QRect cells = region.isNull() ? QRect(0, 0, 128, 128) : region;
        for (int k = 0; k < kRunFrames; ++k) {
            double sum = 0.0;
            for (int y = cells.top(); y <= cells.bottom(); ++y)
                for (int x = cells.left(); x <= cells.right(); ++x)
                    sum += frames[k].values[std::size_t(x + 128 * y)];
            const double mean = sum / (cells.width() * cells.height());
            QVERIFY2(qAbs(curve->data()->at(k)->value - mean) <= 1e-9 * qAbs(mean),
                     qPrintable(QStringLiteral("frame %1: %2, not %3").arg(k).arg(curve->data()->at(k)->value).arg(mean)));
            const double seconds
                = (QDateTime::fromString(frames[k].time, QLatin1String(CsvFormat::kTimestampFormat)).toMSecsSinceEpoch() - first) / 1000.0;
            QVERIFY(qAbs(curve->data()->at(k)->key - seconds) < 1e-6);
        }
    }
    // A dot marks the frame shown on the curve.
    QCPGraph *shown = analysis->findChild<RegionPanel *>()->meanPlot()->graph(1);
    rig.window->playbackBar().showFrame(2);
    QTRY_VERIFY(shown->dataCount() == 1 && qAbs(shown->data()->at(0)->key - curve->data()->at(2)->key) < 1e-3);
    QVERIFY(qAbs(shown->data()->at(0)->value - curve->data()->at(2)->value) <= 1e-9 * qAbs(curve->data()->at(2)->value));
    QVERIFY(rig.boxes.texts.isEmpty());
}

void TestFlowsPlayback::opensFromTheWindow_data()
{
    QTest::addColumn<QString>("way");
    QTest::addColumn<QString>("path"); // under the saved runs
    QTest::addColumn<QString>("opened");
    QTest::newRow("button, CSV") << "button" << "run/run_current.csv" << "run/run_current.csv";
    QTest::newRow("drop, HDF5") << "drop" << "run/run.h5" << "run/run.h5";
    QTest::newRow("drop, folder prefers HDF5") << "drop" << "run" << "run/run.h5";
}

void TestFlowsPlayback::opensFromTheWindow()
{
    QFETCH(QString, way);
    QFETCH(QString, path);
    QFETCH(QString, opened);
    WindowRig rig;
    const QString full = m_runs.path() + QLatin1Char('/') + path;
    QSignalSpy done(&rig.window->playback(), &RecordingPlayback::recordingOpened);
    if (way == "button") {
        rig.window->playback().setFileChooser([full] { return full; });
        QPushButton *button = rig.find<QPushButton>("openRecordingButton");
        QCOMPARE(button->text(), QStringLiteral("Open Recording\u2026"));
        button->click();
    } else {
        QMimeData mime;
        mime.setUrls({QUrl::fromLocalFile(full)});
        QDragEnterEvent enter(QPoint(10, 10), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(rig.window.get(), &enter);
        QVERIFY(enter.isAccepted());
        QDropEvent drop(QPointF(10, 10), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(rig.window.get(), &drop);
    }
    QVERIFY(done.wait(20000));
    QCOMPARE(QFileInfo(rig.window->playback().path()).canonicalFilePath(),
             QFileInfo(m_runs.path() + QLatin1Char('/') + opened).canonicalFilePath());
    QCOMPARE(rig.window->playback().frameCount(), kRunFrames);
    QVERIFY(rig.boxes.texts.isEmpty());
}

void TestFlowsPlayback::exportRoundTrip_data()
{
    QTest::addColumn<QString>("source"); // under the saved runs
    QTest::addColumn<bool>("toHdf5");
    QTest::newRow("CSV run trimmed to HDF5") << "run/run_current.csv" << true;
    QTest::newRow("HDF5 run trimmed to CSV") << "run/run.h5" << false;
}

void TestFlowsPlayback::exportRoundTrip()
{
    QFETCH(QString, source);
    QFETCH(bool, toHdf5);
    WindowRig rig;
    QVERIFY(openPath(rig, m_runs.path() + QLatin1Char('/') + source));
    rig.window->playbackBar().showFrame(2);
    // 3 frames asked from frame 3 of 6; 10 asked from frame 3 save the 4 the run holds.
    const QString out = rig.dir.path() + QStringLiteral("/exports");
    for (const int asked : {3, 10}) {
        const QString name = QStringLiteral("part%1").arg(asked);
        fillSavePage(rig, out, name, asked, !toHdf5, toHdf5);
        rig.find<QPushButton>("pushButton_save")->click();
        QTRY_COMPARE_WITH_TIMEOUT(rig.find<QLabel>("label_savestate")->text(), QStringLiteral("Save success!"),
                                  20000);
        const QString written = out + QLatin1Char('/') + name + QLatin1Char('/') + name
            + (toHdf5 ? QStringLiteral(".h5") : QStringLiteral("_current.csv"));
        // The frames saved are the recording's 3rd on, read back independently.
        QProcess check;
        check.start(QStringLiteral("/usr/bin/python3"),
                    {QFINDTESTDATA("playback_export_check.py"), m_runs.path() + QStringLiteral("/run/run.h5"),
                     m_runs.path() + QStringLiteral("/run/run_current.csv"), written, QStringLiteral("2"),
                     QString::number(std::min(asked, kRunFrames - 2))});
        QVERIFY(check.waitForFinished(60000));
        if (check.exitCode() == 77)
            QSKIP("python3 with h5py and numpy is not installed");
        QVERIFY2(check.exitCode() == 0, check.readAllStandardError().constData());
    }
    QVERIFY(rig.boxes.texts.isEmpty());
    // Closing the console during an export ends it with every frame handed over whole.
    fillSavePage(rig, out, QStringLiteral("closing"), 4, false, true);
    rig.find<QPushButton>("pushButton_save")->click();
    rig.window.reset();
    QVERIFY(RunFileReaders::readHdf5(out + QStringLiteral("/closing/closing.h5")).framesWritten >= 0);
}

void TestFlowsPlayback::badInput_data()
{
    QTest::addColumn<QString>("kind");
    QTest::addColumn<QString>("sentence"); // exact, or empty: any one sentence
    QTest::addColumn<bool>("opens");
    QTest::newRow("missing file") << "missing" << QString() << false;
    QTest::newRow("not a recording") << "text" << QString() << false;
    QTest::newRow("HDF5 of another layout") << "other h5" << QString() << false;
    QTest::newRow("CSV with its last frame cut")
        << "cut csv" << QStringLiteral("The last frame is incomplete; %1 frames are shown.").arg(kRunFrames - 1)
        << true;
    QTest::newRow("interrupted run") << "interrupted" << QStringLiteral("This run was interrupted after %1 frames.")
                                     << true;
}

void TestFlowsPlayback::badInput()
{
    QFETCH(QString, kind);
    QFETCH(QString, sentence);
    QFETCH(bool, opens);
    WindowRig rig;
    const QString bad = rig.dir.path() + QStringLiteral("/bad");
    QVERIFY(QDir().mkpath(bad));
    QString path = bad + QStringLiteral("/absent.h5");
    if (kind == "text") {
        path = bad + QStringLiteral("/notes_current.csv");
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write("shopping list\nmilk, eggs\n");
    } else if (kind == "other h5") {
        path = bad + QStringLiteral("/other.h5");
        const hid_t file = H5Fcreate(QFile::encodeName(path).constData(), H5F_ACC_TRUNC, H5P_DEFAULT, H5P_DEFAULT);
        const hsize_t dims[1] = {4};
        const hid_t space = H5Screate_simple(1, dims, nullptr);
        const hid_t data = H5Dcreate2(file, "spectrum", H5T_NATIVE_DOUBLE, space, H5P_DEFAULT, H5P_DEFAULT, H5P_DEFAULT);
        H5Dclose(data);
        H5Sclose(space);
        H5Fclose(file);
    } else if (kind == "cut csv") {
        // The whole run's folder, with the last frame of its currents cut in the middle.
        for (const QString &file : QDir(m_runs.path() + QStringLiteral("/run")).entryList(QDir::Files)) {
            if (!file.endsWith(QStringLiteral(".h5")))
                QVERIFY(QFile::copy(m_runs.path() + QStringLiteral("/run/") + file, bad + QLatin1Char('/') + file));
        }
        path = bad + QStringLiteral("/run_current.csv");
        QFile file(path);
        QVERIFY(file.open(QIODevice::ReadWrite));
        QVERIFY(file.resize(file.size() - 20000));
    } else if (kind == "interrupted") {
        path = m_runs.path() + QStringLiteral("/cut/cut.h5");
        sentence = sentence.arg(m_cutFrames);
    }
    const QStringList before = filesUnder(rig.dir.path());
    QCOMPARE(openPath(rig, path), opens);
    QTRY_COMPARE(rig.boxes.texts.size(), 1);
    const QString told = rig.boxes.texts.first();
    if (sentence.isEmpty()) {
        QVERIFY2(told.endsWith(QLatin1Char('.')) && !told.contains(QLatin1Char('\n')), qPrintable(told));
    } else {
        QCOMPARE(told, sentence);
    }
    QCOMPARE(rig.window->playback().isOpen(), opens);
    QCOMPARE(rig.find<QPushButton>("pushButton_Connect")->isEnabled(), !opens);
    QVERIFY(rig.connectDevice() || opens); // the console goes on
    QCOMPARE(filesUnder(rig.dir.path()).filter(QStringLiteral("/bad/")), before.filter(QStringLiteral("/bad/")));
}

void TestFlowsPlayback::launchPath_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QString>("path");
    QTest::addColumn<QString>("error");
    QTest::newRow("no path") << QStringList{} << QString() << QString();
    QTest::newRow("a path") << QStringList{"/data/run"} << "/data/run" << QString();
    QTest::newRow("with --from-desktop") << QStringList{"--from-desktop", "run.h5"} << "run.h5" << QString();
    QTest::newRow("two paths") << QStringList{"a.h5", "b.h5"} << QString() << "Unexpected argument: b.h5.";
}

void TestFlowsPlayback::launchPath()
{
    QFETCH(QStringList, arguments);
    QFETCH(QString, path);
    QFETCH(QString, error);
    const LaunchOptions::Choice choice = LaunchOptions::parse(QStringList{QStringLiteral("tessivo128")} + arguments);
    QCOMPARE(choice.recordingPath, path);
    QCOMPARE(choice.error, error);
}

FLOWS_TEST_MAIN(TestFlowsPlayback)
#include "tst_flows_playback.moc"
