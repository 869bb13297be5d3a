// The save page: refusals, run folder names, the parameter file, the hand-over
// to the worker and the progress display.
#include "FlowsTestSupport.h"

#include "ConsoleState.h"
#include "SaveFolderNamer.h"
#include "SavePanel.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QTemporaryDir>

namespace {

const QString Summary = QStringLiteral("Current:800\nVbias1:1\nVbias2:2\nVon:3\nVoff:-4\n");

struct SaveRig
{
    SaveRig()
        : worker(test.context)
        , panel(SaveWidgets{&frames, &name, &path, &data, &picture, &video, &progress, &stateLabel}, state, worker,
                summary, messages.sink())
    {
        frames.setEditable(true);
        frames.addItems({"1", "5", "30", "50", "100", "500", "1000"});
        frames.setCurrentText(QStringLiteral("3"));
        name.setText(QStringLiteral("run"));
        path.setText(dir.path() + "/out");
        data.setChecked(true);
        progress.setRange(0, 100);
        state.running = true;
        summary = Summary;
    }
    QString readFile(const QString &filePath)
    {
        QFile file(filePath);
        return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : QString();
    }

    QTemporaryDir dir;
    QComboBox frames;
    QLineEdit name, path;
    QCheckBox data, picture, video;
    QProgressBar progress;
    QLabel stateLabel;
    ConsoleState state;
    TestContext test;
    ReceiverThread worker;
    QString summary;
    FlowsTest::MessageRecorder messages;
    SavePanel panel;
};

} // namespace

class TestFlowsSave : public QObject
{
    Q_OBJECT

private slots:
    void refusals_data();
    void refusals();
    void countLimitIsInclusive();
    void folderNames_data();
    void folderNames();
    void requestReachesWorker_data();
    void requestReachesWorker();
    void uncreatableFolderIsNotArmed();
    void progress_data();
    void progress();
    void progressFollowsRunningRequest();
    void saveFailureIsShownAndResets();
    void directoryChooser_data();
    void directoryChooser();
};

void TestFlowsSave::refusals_data()
{
    QTest::addColumn<bool>("running");
    QTest::addColumn<QString>("count");
    QTest::addColumn<QString>("message");
    QTest::newRow("not collecting") << false << "3" << "Please start collecting data";
    QTest::newRow("over 1000") << true << "1001" << "The input value cannot exceed 1000! ";
    QTest::newRow("zero") << true << "0" << "The number of frames to save must be at least 1.";
    QTest::newRow("empty count") << true << "" << "The number of frames to save must be at least 1.";
}

void TestFlowsSave::refusals()
{
    QFETCH(bool, running);
    QFETCH(QString, count);
    QFETCH(QString, message);
    SaveRig rig;
    rig.state.running = running;
    rig.frames.setCurrentText(count);
    rig.panel.saveClicked();
    QCOMPARE(rig.messages.texts, QStringList{message});
    QVERIFY(!rig.worker.isRecording());
    QVERIFY(!QDir(rig.dir.path() + "/out").exists()); // nothing is created for a refused request
}

void TestFlowsSave::countLimitIsInclusive()
{
    SaveRig rig;
    rig.frames.setCurrentText(QStringLiteral("1000"));
    rig.panel.saveClicked();
    QVERIFY(rig.messages.texts.isEmpty());
    QVERIFY(rig.worker.isRecording());
    QCOMPARE(rig.worker.framesToSaveValue(), 1000);
}

void TestFlowsSave::folderNames_data()
{
    QTest::addColumn<QStringList>("existing");
    QTest::addColumn<QString>("chosen");
    QTest::newRow("free") << QStringList{} << "run";
    QTest::newRow("run taken") << QStringList{"run"} << "run_1";
    QTest::newRow("run and run_1 taken") << QStringList{"run", "run_1"} << "run_2";
    QTest::newRow("a file named run") << QStringList{"file:run"} << "run_1";
    QTest::newRow("gap") << QStringList{"run", "run_2"} << "run_1";
}

void TestFlowsSave::folderNames()
{
    QFETCH(QStringList, existing);
    QFETCH(QString, chosen);
    SaveRig rig;
    QDir out(rig.dir.path() + "/out");
    QVERIFY(out.mkpath("."));
    for (const QString &entry : existing) {
        if (entry.startsWith("file:")) {
            QFile file(out.filePath(entry.mid(5)));
            QVERIFY(file.open(QIODevice::WriteOnly));
        } else {
            QVERIFY(out.mkdir(entry));
        }
    }
    QCOMPARE(SaveFolderNamer::uniqueName(out.path(), "run"), chosen);

    rig.panel.saveClicked();
    QCOMPARE(rig.panel.lastFolder(), out.path() + "/" + chosen);
    const QString parameterFile = out.path() + "/" + chosen + "/" + chosen + "_SetParameterData.txt";
    QCOMPARE(rig.readFile(parameterFile), Summary);
}

void TestFlowsSave::requestReachesWorker_data()
{
    QTest::addColumn<bool>("data");
    QTest::addColumn<bool>("picture");
    QTest::addColumn<bool>("video");
    QTest::newRow("data only") << true << false << false;
    QTest::newRow("picture only") << false << true << false;
    QTest::newRow("all three") << true << true << true;
}

void TestFlowsSave::requestReachesWorker()
{
    QFETCH(bool, data);
    QFETCH(bool, picture);
    QFETCH(bool, video);
    SaveRig rig;
    rig.path.setText(rig.dir.path() + "/deeper/still/out"); // missing parents are created
    rig.data.setChecked(data);
    rig.picture.setChecked(picture);
    rig.video.setChecked(video);
    rig.progress.setValue(40);
    rig.panel.saveClicked();

    QVERIFY(rig.messages.texts.isEmpty());
    QVERIFY(QDir(rig.dir.path() + "/deeper/still/out/run").exists());
    QVERIFY(rig.worker.isRecording());
    QCOMPARE(rig.worker.framesToSaveValue(), 3);
    QCOMPARE(rig.worker.saveCsvOnCompletion.load(), data);
    QCOMPARE(rig.worker.savePictures.load(), picture);
    QCOMPARE(rig.worker.saveVideo.load(), video);
    QCOMPARE(rig.progress.value(), 0); // a new request starts from nothing

    // An unchecked box leaves its flag as it was.
    rig.worker.saveCsvOnCompletion.store(true);
    rig.data.setChecked(false);
    rig.panel.saveClicked();
    QVERIFY(rig.worker.saveCsvOnCompletion.load());
    QVERIFY(QDir(rig.dir.path() + "/deeper/still/out/run_1").exists());
}

void TestFlowsSave::uncreatableFolderIsNotArmed()
{
    SaveRig rig;
    QFile blocker(rig.dir.path() + "/file");
    QVERIFY(blocker.open(QIODevice::WriteOnly));
    blocker.close();
    rig.path.setText(rig.dir.path() + "/file/out");
    rig.panel.saveClicked();
    QCOMPARE(rig.messages.texts.size(), 1);
    QVERIFY(rig.messages.texts.first().startsWith(QStringLiteral("The folder ")));
    QVERIFY(rig.messages.texts.first().endsWith(QStringLiteral(" could not be created.")));
    QVERIFY(!rig.worker.isRecording());
    QVERIFY(!rig.worker.saveCsvOnCompletion.load());
}

void TestFlowsSave::progress_data()
{
    QTest::addColumn<int>("index");
    QTest::addColumn<int>("bar");
    QTest::addColumn<QString>("label");
    QTest::newRow("1 of 3") << 1 << 33 << "33%";
    QTest::newRow("2 of 3") << 2 << 66 << "67%";
    QTest::newRow("3 of 3") << 3 << 100 << "Save success!";
}

void TestFlowsSave::progress()
{
    QFETCH(int, index);
    QFETCH(int, bar);
    QFETCH(QString, label);
    SaveRig rig;
    rig.panel.saveClicked();
    rig.panel.showProgress(index);
    QCOMPARE(rig.progress.value(), bar);
    QCOMPARE(rig.stateLabel.text(), label);
}

void TestFlowsSave::progressFollowsRunningRequest()
{
    SaveRig rig;
    rig.frames.setCurrentText(QStringLiteral("4"));
    rig.panel.saveClicked();
    rig.frames.setCurrentText(QStringLiteral("0")); // edited while the request runs
    rig.panel.showProgress(1);
    QCOMPARE(rig.progress.value(), 25);
    QCOMPARE(rig.stateLabel.text(), QStringLiteral("25%"));
    rig.frames.clearEditText();
    rig.panel.showProgress(4);
    QCOMPARE(rig.stateLabel.text(), QStringLiteral("Save success!"));
}

void TestFlowsSave::saveFailureIsShownAndResets()
{
    SaveRig rig;
    rig.panel.saveClicked();
    rig.panel.showProgress(2);
    rig.panel.showFailure(QStringLiteral("The video could not be written."));
    QCOMPARE(rig.messages.texts, QStringList{"The video could not be written."});
    QCOMPARE(rig.progress.value(), 0);
    QVERIFY(rig.stateLabel.text().isEmpty());
}

void TestFlowsSave::directoryChooser_data()
{
    QTest::addColumn<QString>("chosen");
    QTest::addColumn<QString>("path");
    QTest::addColumn<QStringList>("messages");
    QTest::newRow("chosen") << "/data/runs" << "/data/runs" << QStringList{};
    QTest::newRow("cancelled") << "" << "/old/path" << QStringList{"Please select a valid path"};
}

void TestFlowsSave::directoryChooser()
{
    QFETCH(QString, chosen);
    QFETCH(QString, path);
    QFETCH(QStringList, messages);
    SaveRig rig;
    rig.path.setText(QStringLiteral("/old/path"));
    rig.panel.setDirectoryChooser([chosen] { return chosen; });
    rig.panel.choosePath();
    QCOMPARE(rig.path.text(), path);
    QCOMPARE(rig.messages.texts, messages);
}

FLOWS_TEST_MAIN(TestFlowsSave)
#include "tst_flows_save.moc"
