// The save page: refusals, run folder names, the parameter file, the hand-over
// to the worker and the progress display.
#include "tests/flows/FlowsTestSupport.h"

#include "app/ConsoleState.h"
#include "app/RunFolderLink.h"
#include "app/SavePanel.h"
#include "operation/SaveFolderNamer.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QTemporaryDir>

#include <cerrno>
#include <cstring>
#include <mutex>
#include <thread>

#include <unistd.h>

namespace {

const QString Summary = QStringLiteral("Current:800\nVbias1:1\nVbias2:2\nVon:3\nVoff:-4\n");

struct SaveRig
{
    SaveRig()
        : worker(test.context)
        , panel(SaveWidgets{&frames, &name, &path, &data, &picture, &video, &hdf5, &progress, &stateLabel, &runFolder},
                state, worker.saveRuns(), summary, {}, test.context.log(), messages.sink())
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
        panel.setQuestion([this](const QString &text) {
            questions << text;
            return answerYes;
        });
    }
    QString readFile(const QString &filePath)
    {
        QFile file(filePath);
        return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : QString();
    }

    QTemporaryDir dir;
    QComboBox frames;
    QLineEdit name, path;
    QCheckBox data, picture, video, hdf5;
    QProgressBar progress;
    QLabel stateLabel;
    TestContext test;
    RunFolderLink runFolder{test.context.log()};
    ConsoleState state;
    ReceiverThread worker;
    QString summary;
    FlowsTest::MessageRecorder messages;
    QStringList questions;
    bool answerYes = true;
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
    void simultaneousClaimsGetTheirOwnFolders();
    void requestReachesWorker_data();
    void requestReachesWorker();
    void uncreatableFolderIsNotArmed();
    void progress_data();
    void progress();
    void progressFollowsRunningRequest();
    void outcome_data();
    void outcome();
    void secondSaveAsksFirst_data();
    void secondSaveAsksFirst();
    void saveFailureIsShownAndResets();
    void directoryChooser_data();
    void directoryChooser();
};

void TestFlowsSave::refusals_data()
{
    QTest::addColumn<bool>("running");
    QTest::addColumn<QString>("count");
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("message");
    const QString badName = "The name must not contain \"/\", \"\\\", \"..\" or control characters, nor start "
                            "with \".\".";
    QTest::newRow("not collecting") << false << "3" << "run" << "Please start collecting data";
    QTest::newRow("over 1000") << true << "1001" << "run" << "The input value cannot exceed 1000! ";
    QTest::newRow("zero") << true << "0" << "run" << "The number of frames to save must be at least 1.";
    QTest::newRow("empty count") << true << "" << "run" << "The number of frames to save must be at least 1.";
    QTest::newRow("empty name") << true << "3" << "" << "Please enter a name for the save run.";
    QTest::newRow("slash") << true << "3" << "a/b" << badName;
    QTest::newRow("backslash") << true << "3" << "a\\b" << badName;
    QTest::newRow("climbing") << true << "3" << "../escape" << badName;
    QTest::newRow("dot dot inside") << true << "3" << "a..b" << badName;
    QTest::newRow("hidden") << true << "3" << ".run" << badName;
    QTest::newRow("control character") << true << "3" << "run\tone" << badName;
    QTest::newRow("too long") << true << "3" << QString(228, QLatin1Char('x'))
                              << "The name is too long: the run's file names would pass 255 bytes.";
    QTest::newRow("folder cannot be written")
        << true << "3" << "run"
        << QStringLiteral("The folder %1 cannot be written: %2.")
               .arg(QDir::toNativeSeparators(QStringLiteral("/proc")),
                    QString::fromLocal8Bit(std::strerror(::geteuid() == 0 ? ENOENT : EACCES)));
}

void TestFlowsSave::refusals()
{
    QFETCH(bool, running);
    QFETCH(QString, count);
    QFETCH(QString, name);
    QFETCH(QString, message);
    SaveRig rig;
    rig.state.running = running;
    rig.frames.setCurrentText(count);
    rig.name.setText(name);
    if (message.contains(QLatin1String("cannot be written")))
        rig.path.setText(QStringLiteral("/proc"));
    rig.panel.requestSave();
    QCOMPARE(rig.messages.texts, QStringList{message});
    QVERIFY(!rig.worker.isSaveRunArmed());
    QVERIFY(!QDir(rig.dir.path() + "/out").exists()); // nothing is created for a refused request
}

void TestFlowsSave::countLimitIsInclusive()
{
    SaveRig rig;
    rig.frames.setCurrentText(QStringLiteral("1000"));
    rig.panel.requestSave();
    QVERIFY(rig.messages.texts.isEmpty());
    QVERIFY(rig.worker.isSaveRunArmed());
    QCOMPARE(rig.panel.requestedFrames(), 1000);
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
    rig.panel.requestSave();
    QCOMPARE(rig.panel.lastFolder(), out.path() + "/" + chosen);
    const QString parameterFile = out.path() + "/" + chosen + "/" + chosen + "_SetParameterData.txt";
    QCOMPARE(rig.readFile(parameterFile), Summary);
}

void TestFlowsSave::simultaneousClaimsGetTheirOwnFolders()
{
    QTemporaryDir dir;
    constexpr int kThreads = 8, kClaims = 6;
    std::mutex mutex;
    QStringList claimed;
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&] {
            for (int k = 0; k < kClaims; ++k) {
                const QString name = SaveFolderNamer::claim(dir.path(), QStringLiteral("run"), nullptr);
                std::lock_guard<std::mutex> lock(mutex);
                claimed << name;
            }
        });
    }
    for (std::thread &thread : threads)
        thread.join();
    QCOMPARE(QSet<QString>(claimed.begin(), claimed.end()).size(), kThreads * kClaims);
    QCOMPARE(QDir(dir.path()).entryList(QDir::Dirs | QDir::NoDotAndDotDot).size(), kThreads * kClaims);
    QVERIFY(!claimed.contains(QString()));
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
    rig.panel.requestSave();

    QVERIFY(rig.messages.texts.isEmpty());
    QVERIFY(QDir(rig.dir.path() + "/deeper/still/out/run").exists());
    QVERIFY(rig.worker.isSaveRunArmed());
    QCOMPARE(rig.panel.requestedFrames(), 3);
    QCOMPARE(rig.worker.saveRuns().armedPlan().data, data);
    QCOMPARE(rig.worker.saveRuns().armedPlan().pictures, picture);
    QCOMPARE(rig.worker.saveRuns().armedPlan().video, video);
    QCOMPARE(rig.progress.value(), 0); // a new request starts from nothing
}

void TestFlowsSave::secondSaveAsksFirst_data()
{
    QTest::addColumn<bool>("agree");
    QTest::newRow("no: the first run goes on") << false;
    QTest::newRow("yes: a new run replaces it") << true;
}

void TestFlowsSave::secondSaveAsksFirst()
{
    QFETCH(bool, agree);
    SaveRig rig;
    rig.panel.requestSave();
    QVERIFY(rig.worker.isSaveRunArmed());
    rig.answerYes = agree;
    rig.data.setChecked(false);
    rig.video.setChecked(true);
    rig.panel.requestSave();
    QCOMPARE(rig.questions, QStringList{SavePanel::runInProgressQuestion()});
    QCOMPARE(QDir(rig.dir.path() + "/out/run_1").exists(), agree);
    QCOMPARE(rig.worker.saveRuns().armedPlan().video, agree);
    QVERIFY(rig.worker.isSaveRunArmed());
}

void TestFlowsSave::uncreatableFolderIsNotArmed()
{
    SaveRig rig;
    QFile blocker(rig.dir.path() + "/file");
    QVERIFY(blocker.open(QIODevice::WriteOnly));
    blocker.close();
    rig.path.setText(rig.dir.path() + "/file/out");
    rig.panel.requestSave();
    QCOMPARE(rig.messages.texts.size(), 1);
    QVERIFY(rig.messages.texts.first().startsWith(QStringLiteral("The folder ")));
    QVERIFY(rig.messages.texts.first().endsWith(QStringLiteral(" could not be created.")));
    QVERIFY(!rig.worker.isSaveRunArmed());
    QVERIFY(!rig.worker.saveRuns().armedPlan().data);
}

void TestFlowsSave::progress_data()
{
    QTest::addColumn<int>("index");
    QTest::addColumn<int>("bar");
    QTest::addColumn<QString>("label");
    QTest::newRow("1 of 3") << 1 << 33 << "33%";
    QTest::newRow("2 of 3") << 2 << 66 << "67%";
    QTest::newRow("3 of 3, not yet written") << 3 << 100 << "100%";
}

void TestFlowsSave::progress()
{
    QFETCH(int, index);
    QFETCH(int, bar);
    QFETCH(QString, label);
    SaveRig rig;
    rig.panel.requestSave();
    rig.panel.showProgress(index);
    QCOMPARE(rig.progress.value(), bar);
    QCOMPARE(rig.stateLabel.text(), label);
}

void TestFlowsSave::progressFollowsRunningRequest()
{
    SaveRig rig;
    rig.frames.setCurrentText(QStringLiteral("4"));
    rig.panel.requestSave();
    rig.frames.setCurrentText(QStringLiteral("0")); // edited while the request runs
    rig.panel.showProgress(1);
    QCOMPARE(rig.progress.value(), 25);
    QCOMPARE(rig.stateLabel.text(), QStringLiteral("25%"));
    rig.frames.clearEditText();
    rig.panel.showProgress(4);
    QCOMPARE(rig.stateLabel.text(), QStringLiteral("100%"));
}

void TestFlowsSave::outcome_data()
{
    QTest::addColumn<int>("written");
    QTest::addColumn<QString>("interruption");
    QTest::addColumn<QStringList>("failures");
    QTest::addColumn<int>("bar");
    QTest::addColumn<QString>("label");
    QTest::addColumn<QStringList>("messages");
    QTest::newRow("complete") << 4 << "" << QStringList{} << 100 << "Save success!" << QStringList{};
    QTest::newRow("a kind failed")
        << 4 << "" << QStringList{"the video could not be written: No space left on device"} << 99 << "Saved 4 of 4"
        << QStringList{"Saved 4 of 4 frames; the video could not be written: No space left on device."};
    QTest::newRow("interrupted") << 1 << "the device was disconnected" << QStringList{} << 25 << "Saved 1 of 4"
                                 << QStringList{"Saved 1 of 4 frames: the device was disconnected."};
}

void TestFlowsSave::outcome()
{
    QFETCH(int, written);
    QFETCH(QString, interruption);
    QFETCH(QStringList, failures);
    QFETCH(int, bar);
    QFETCH(QString, label);
    QFETCH(QStringList, messages);
    SaveRig rig;
    rig.frames.setCurrentText(QStringLiteral("4"));
    rig.panel.requestSave();
    rig.panel.showProgress(4);
    SaveOutcome outcome;
    outcome.folder = rig.panel.lastFolder();
    outcome.requested = 4;
    outcome.gathered = 4;
    outcome.written = written;
    outcome.interruption = interruption;
    outcome.failures = failures;
    rig.panel.showOutcome(outcome);
    rig.panel.showProgress(4); // late progress from the worker's thread changes nothing
    QCOMPARE(rig.progress.value(), bar);
    QCOMPARE(rig.stateLabel.text(), label);
    QCOMPARE(rig.messages.texts, messages);
    // Where the frames went, with a way to open it.
    QVERIFY(!rig.runFolder.isHidden());
    QCOMPARE(rig.runFolder.folder(), outcome.folder);
    QVERIFY(rig.runFolder.text().contains(QDir::toNativeSeparators(outcome.folder)));
    QStringList opened;
    rig.runFolder.setOpener([&](const QString &folder) {
        opened << folder;
        return true;
    });
    emit rig.runFolder.linkActivated(rig.runFolder.text());
    QCOMPARE(opened, QStringList{outcome.folder});
}

void TestFlowsSave::saveFailureIsShownAndResets()
{
    SaveRig rig;
    rig.panel.requestSave();
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
