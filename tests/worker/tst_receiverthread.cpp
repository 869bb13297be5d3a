#include "WorkerRig.h"

#include "RunFileReaders.h"

#include "SharedFrameView.h"
#include "../services/SharedFrameReader.h"

#include <QDateTime>
#include <QFileInfo>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QSettings>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTextStream>
#include <QtTest>

#include <cmath>
#include <condition_variable>
#include <cstring>
#include <functional>
#include <mutex>

namespace {

const char *const TimestampFormat = "yyyy/MM/dd HH:mm:ss.zzz";
const QString FramesToSaveTooSmall = QStringLiteral("The number of frames to save must be at least 1.");

// With the simulator's noise switched off a decoded current differs from the
// expected one only by the device's rounding to a whole raw step.
double quantum(int rangeNa)
{
    return rangeNa * 0.000001;
}

bool waitFor(const std::function<bool()> &condition, int timeoutMs = 5000)
{
    return QTest::qWaitFor(condition, timeoutMs);
}

// Lets the queued signals of a parked worker reach the relay.
void drainEvents()
{
    for (int i = 0; i < 5; ++i)
        QCoreApplication::processEvents(QEventLoop::AllEvents);
}

// A uniformly lit matrix without temporal noise, so every current is known.
void quietUniformScene(ZK128Device &device, int rangeNa)
{
    device.setScene(ZK128Device::Scene::Uniform);
    device.setLampOn(true);
    device.setLampCurrentNa(0.6 * rangeNa);
    device.setNoiseNa(0.0);
}

struct GrayStats {
    double mean = 0.0;
    double stddev = 0.0;
};

GrayStats grayStats(const QImage &image)
{
    GrayStats stats;
    const QImage gray = image.convertToFormat(QImage::Format_Grayscale8);
    double sum = 0.0, sumSq = 0.0;
    int n = 0;
    for (int y = 0; y < gray.height(); ++y) {
        const uchar *line = gray.constScanLine(y);
        for (int x = 0; x < gray.width(); ++x, ++n) {
            sum += line[x];
            sumSq += double(line[x]) * line[x];
        }
    }
    stats.mean = sum / n;
    stats.stddev = std::sqrt(std::max(0.0, sumSq / n - stats.mean * stats.mean));
    return stats;
}

// A CSV file of the recording as read back: its "Time: " lines and its matrix
// lines, each checked to hold 128 numbers.
struct CsvContent {
    QStringList times;      // text after "Time: "
    int matrixLines = 0;
    int badLines = 0;        // matrix lines without exactly 128 numbers
    int emptyLines = 0;
    std::vector<double> values;
};

CsvContent readCsv(const QString &path)
{
    CsvContent content;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly | QIODevice::Text))
        return content;
    QTextStream in(&file);
    while (!in.atEnd()) {
        const QString line = in.readLine();
        if (line.startsWith(QLatin1String("Time: "))) {
            content.times << line.mid(6);
        } else if (line.isEmpty()) {
            ++content.emptyLines;
        } else {
            ++content.matrixLines;
            const QStringList fields = line.split(',');
            bool allNumbers = fields.size() == 128;
            for (const QString &field : fields) {
                bool ok = false;
                content.values.push_back(field.toDouble(&ok));
                allNumbers = allNumbers && ok;
            }
            if (!allNumbers)
                ++content.badLines;
        }
    }
    return content;
}

QList<int> intArguments(const QSignalSpy &spy)
{
    QList<int> values;
    for (const auto &arguments : spy)
        values << arguments.at(0).toInt();
    return values;
}

// A path below a regular file: no folder can ever be created there.
QString uncreatablePath(const QTemporaryDir &dir)
{
    const QString blocker = dir.filePath("blocker");
    QFile file(blocker);
    if (file.open(QIODevice::WriteOnly))
        file.write("not a folder");
    return blocker + "/sub";
}

// Arms a run as the save page does once its checks passed: the folder
// <path>/<name> exists, the plan goes to the worker in one operation.
void armSave(ReceiverThread &worker, const QString &path, const QString &name, int frames, bool data,
             bool pictures, bool video)
{
    SaveRunPlan plan;
    plan.folder = path + "/" + name;
    plan.name = name;
    plan.frames = frames;
    plan.data = data;
    plan.pictures = pictures;
    plan.video = video;
    QDir().mkpath(plan.folder);
    worker.armSaveRun(plan);
}

// A disk that stops taking writes: every write waits until release().
class StalledSink : public RunSink
{
public:
    struct Gate {
        std::mutex mutex;
        std::condition_variable opened;
        bool released = false;
        void release()
        {
            std::lock_guard<std::mutex> lock(mutex);
            released = true;
            opened.notify_all();
        }
    };
    explicit StalledSink(std::shared_ptr<Gate> gate) : m_gate(std::move(gate)) {}
    QString kind() const override { return QStringLiteral("data"); }
    bool open(const SaveRunPlan &, QString *) override { return true; }
    bool write(const RecordedFrame &, QString *) override
    {
        std::unique_lock<std::mutex> lock(m_gate->mutex);
        m_gate->opened.wait(lock, [this] { return m_gate->released; });
        ++m_written;
        return true;
    }
    bool finish(const RunReferences &, bool, QString *) override { return true; }
    int framesWritten() const override { return m_written; }

private:
    std::shared_ptr<Gate> m_gate;
    int m_written = 0;
};

} // namespace

class TestReceiverThread : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();

    void defaultsWithoutStoredSettings();
    void settingsStoredAtDestruction_data();
    void settingsStoredAtDestruction();
    void setCurrentRangeRefillsFullOn_data();
    void setCurrentRangeRefillsFullOn();
    void setSeriesPixelsTakesTheList();
    void shutdownEndsTheLoop_data();
    void shutdownEndsTheLoop();
    void noDeviceAccessBeforePlay_data();
    void noDeviceAccessBeforePlay();

    void framesAtTheDeviceRate();
    void selectedPixelReadout_data();
    void selectedPixelReadout();
    void stopFinishesTheFrameInProgress_data();
    void stopFinishesTheFrameInProgress();
    void readFailures_data();
    void readFailures();
    void captureRecovers_data();
    void captureRecovers();
    void failedFrameRequestParks();
    void parkedAfterStartAndPauseInterleave();
    void stalledDiskNeverHoldsUpEnding();

    void calibrationFlattensThePicture();
    void bothCalibrationsKeptApart();

    void recordingsKeepTheirOwnTimestamps();
    void oneFrameSaveWritesEveryOutput();
    void emptySaveRunRefused();
    void saveFailureKeepsCapturing_data();
    void saveFailureKeepsCapturing();
    void interruptedRunKeepsItsFrames_data();
    void interruptedRunKeepsItsFrames();

    void templatePictureRequest();
    void displayModeReachesTheImage_data();
    void displayModeReachesTheImage();
    void sharedMemoryHoldsTheLatestFrame();
    void itCurveSeries();
    void itCurveClockHold();

private:
    QTemporaryDir m_settingsDir;
    TestContext m_context;
};

void TestReceiverThread::initTestCase()
{
    QVERIFY(m_settingsDir.isValid());
    // Before the first QSettings exists: the worker's settings go to a private folder.
    QStandardPaths::setTestModeEnabled(true);
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, m_settingsDir.path());
    QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, m_settingsDir.path());
}

// ---- State, settings and control ----------------------------------------------

void TestReceiverThread::defaultsWithoutStoredSettings()
{
    {
        QSettings stored("Velmoray", "Tessivo_128");
        stored.clear();
        stored.sync();
    }
    ReceiverThread worker(m_context.context);
    QCOMPARE(worker.currentRangeValue(), 0);
    QCOMPARE(worker.integralTimeValue(), 0.0);
    QCOMPARE(worker.integralCurrentValue(), 0.0);
    QCOMPARE(worker.fullOnReferenceSnapshot(), std::vector<double>(16384, 150.0));
    QCOMPARE(worker.fullOffReferenceSnapshot(), std::vector<double>(16384, 0.0));
    QVERIFY(!worker.isRunning());
    QVERIFY(!worker.isRecording());
}

void TestReceiverThread::settingsStoredAtDestruction_data()
{
    QTest::addColumn<double>("integralTime");
    QTest::addColumn<double>("integralCurrent");
    QTest::addColumn<int>("range");
    QTest::newRow("range 800") << 11.5 << 3.25 << 800;
    QTest::newRow("typed range 37") << 0.125 << 1e-7 << 37;
}

void TestReceiverThread::settingsStoredAtDestruction()
{
    QFETCH(double, integralTime);
    QFETCH(double, integralCurrent);
    QFETCH(int, range);
    {
        ReceiverThread worker(m_context.context);
        worker.setIntegralTime(integralTime);
        worker.setIntegralCurrent(integralCurrent);
        worker.setCurrentRange(range);
    }
    QSettings stored("Velmoray", "Tessivo_128");
    QCOMPARE(stored.value("ReceiverSettings/Integraltime").toDouble(), integralTime);
    QCOMPARE(stored.value("ReceiverSettings/Integralcurrent").toDouble(), integralCurrent);
    QCOMPARE(stored.value("ReceiverSettings/currentRange").toInt(), range);

    ReceiverThread reloaded(m_context.context);
    QCOMPARE(reloaded.currentRangeValue(), range);
    QCOMPARE(reloaded.integralTimeValue(), integralTime);
    QCOMPARE(reloaded.integralCurrentValue(), integralCurrent);
    // The stored range does not refill the full-on reference; only setCurrentRange does.
    QCOMPARE(reloaded.fullOnReferenceSnapshot(), std::vector<double>(16384, 150.0));
}

void TestReceiverThread::setCurrentRangeRefillsFullOn_data()
{
    QTest::addColumn<int>("range");
    QTest::newRow("zero") << 0;
    QTest::newRow("800") << 800;
    QTest::newRow("typed 37") << 37;
}

void TestReceiverThread::setCurrentRangeRefillsFullOn()
{
    QFETCH(int, range);
    ReceiverThread worker(m_context.context);
    worker.setCurrentRange(range);
    QCOMPARE(worker.currentRangeValue(), range);
    QCOMPARE(worker.fullOnReferenceSnapshot(), std::vector<double>(16384, double(range)));
    QCOMPARE(worker.fullOffReferenceSnapshot(), std::vector<double>(16384, 0.0));
}

void TestReceiverThread::setSeriesPixelsTakesTheList()
{
    ReceiverThread worker(m_context.context);
    std::vector<int> pixels{0, 129, 16383};
    worker.setSeriesPixels(std::move(pixels));
    QVERIFY(pixels.empty());
    std::vector<int> more{5};
    more.reserve(64);
    worker.setSeriesPixels(std::move(more));
    QVERIFY(more.empty());
}

void TestReceiverThread::shutdownEndsTheLoop_data()
{
    QTest::addColumn<bool>("capturing");
    QTest::newRow("parked") << false;
    QTest::newRow("capturing") << true;
}

void TestReceiverThread::shutdownEndsTheLoop()
{
    QFETCH(bool, capturing);
    WorkerRig rig;
    QVERIFY(rig.start());
    QSignalSpy finished(&rig.relay(), &WorkerSignals::finished);
    QSignalSpy images(&rig.relay(), &WorkerSignals::sendImagetoMain);
    if (capturing) {
        rig.play();
        QVERIFY(waitFor([&] { return images.count() >= 3; }));
    }
    // The window's close sequence.
    rig.worker().requestStop();
    rig.worker().shutdown();
    QVERIFY(waitFor([&] { return finished.count() == 1; }, 3000));
    rig.thread().quit();
    QVERIFY(rig.thread().wait(3000));
}

void TestReceiverThread::noDeviceAccessBeforePlay_data()
{
    QTest::addColumn<bool>("pauseAfterStart");
    QTest::newRow("paused after start") << true;
    QTest::newRow("never paused") << false;
}

void TestReceiverThread::noDeviceAccessBeforePlay()
{
    QFETCH(bool, pauseAfterStart);
    WorkerRig::Options options;
    options.pauseAfterStart = pauseAfterStart;
    WorkerRig rig(options);
    QVERIFY(rig.start()); // true once the loop sits on its wait condition
    QVERIFY(rig.worker().isParked());
    QCOMPARE(rig.probe().statusCalls(), 0);
    QCOMPARE(rig.probe().readCalls(), 0);
    QVERIFY(rig.device().receivedCommands().empty());

    QSignalSpy images(&rig.relay(), &WorkerSignals::sendImagetoMain);
    rig.play();
    QVERIFY(waitFor([&] { return images.count() >= 2; }));
    QVERIFY(rig.probe().readCalls() > 0);
    QCOMPARE(rig.commandCount(0x02), 1);
}

// ---- The capture loop -----------------------------------------------------------

void TestReceiverThread::framesAtTheDeviceRate()
{
    WorkerRig::Options options;
    options.integrationCount = 7180; // about 11.5 ms of integration per frame
    WorkerRig rig(options);
    QVERIFY(rig.start());
    const double period = rig.device().framePeriodSeconds();
    QVERIFY(period > 0.005);

    QSignalSpy images(&rig.relay(), &WorkerSignals::sendImagetoMain);
    rig.play();
    QVERIFY(waitFor([&] { return images.count() >= 1; }));
    QElapsedTimer clock;
    clock.start();
    const int first = images.count();
    QTest::qWait(1000); // a measuring window, not a synchronisation
    const int frames = images.count() - first;
    const double rate = frames / (clock.elapsed() / 1000.0);
    QVERIFY(rig.stop());
    drainEvents();

    // One frame per integration plus its transfer: never faster than the
    // device, and no pacing of the worker's own (a 100 ms wait per frame
    // would give under 10 frames/s). The bound is loose so that sanitizer
    // builds pass; the real figures are in the worker benchmark.
    const double transfer = 49157.0 / 40e6;
    QVERIFY2(rate <= 1.1 / period, qPrintable(QString("rate %1/s, period %2 s").arg(rate).arg(period)));
    QVERIFY2(rate >= 0.25 / (period + transfer), qPrintable(QString("rate %1/s, period %2 s").arg(rate).arg(period)));
    QCOMPARE(quint64(images.count()), quint64(rig.device().framesSent()));
    QCOMPARE(images.last().at(0).value<QImage>().size(), QSize(128, 128));
}

void TestReceiverThread::selectedPixelReadout_data()
{
    QTest::addColumn<int>("pixel");
    QTest::addColumn<bool>("reported");
    QTest::newRow("pixel 0") << 0 << true;
    QTest::newRow("pixel 16383") << 16383 << true;
    QTest::newRow("pixel 129") << 129 << true;
    QTest::newRow("-1 reports nothing") << -1 << false;
    QTest::newRow("16384 reports nothing") << 16384 << false;
}

void TestReceiverThread::selectedPixelReadout()
{
    QFETCH(int, pixel);
    QFETCH(bool, reported);
    WorkerRig rig;
    quietUniformScene(rig.device(), 100);
    QVERIFY(rig.start());
    rig.worker().setSelectedPixel(pixel);
    QSignalSpy images(&rig.relay(), &WorkerSignals::sendImagetoMain);
    QSignalSpy cells(&rig.relay(), &WorkerSignals::onCellclicked);
    rig.play();
    QVERIFY(waitFor([&] { return images.count() >= 5; }));
    QVERIFY(rig.stop());
    drainEvents();

    if (!reported) {
        QCOMPARE(cells.count(), 0);
        return;
    }
    QCOMPARE(cells.count(), images.count());
    const double expected = rig.device().expectedCurrentNa(pixel);
    QVERIFY(expected > 1.0);
    for (const auto &arguments : cells)
        QVERIFY2(std::abs(arguments.at(0).toDouble() - expected) <= quantum(100),
                 qPrintable(QString("%1 nA, expected %2 nA").arg(arguments.at(0).toDouble()).arg(expected)));
}

void TestReceiverThread::stopFinishesTheFrameInProgress_data()
{
    QTest::addColumn<bool>("silentDevice");
    QTest::newRow("during a frame") << false;
    QTest::newRow("device stopped answering") << true;
}

void TestReceiverThread::stopFinishesTheFrameInProgress()
{
    QFETCH(bool, silentDevice);
    WorkerRig rig;
    QVERIFY(rig.start());
    QSignalSpy images(&rig.relay(), &WorkerSignals::sendImagetoMain);
    ReceiverThread &worker = rig.worker();

    if (!silentDevice) {
        // The stop arrives while the 5th frame is being processed.
        int seen = 0;
        QObject::connect(&worker, &ReceiverThread::onCellclicked, &worker, [&worker, &seen] {
            if (++seen == 5)
                worker.requestStop();
        }, Qt::DirectConnection);
        rig.play();
        QVERIFY(waitFor([&] { return !worker.isRunning() && worker.isParked(); }));
        drainEvents();
        QCOMPARE(images.count(), 5); // that frame was still rendered and shown
        QCOMPARE(rig.commandCount(0x05), 5); // no request after it
        QCOMPARE(quint64(rig.device().framesSent()), quint64(5));
    } else {
        rig.play();
        QVERIFY(waitFor([&] { return images.count() >= 2; }));
        rig.device().setAnswering(false);
        // Wait until a request is really left unanswered.
        QVERIFY(waitFor([&] { return quint64(rig.commandCount(0x05)) > rig.device().framesSent(); }));
        QVERIFY(rig.stop());
        QVERIFY(!worker.isRunning());
    }
    const std::vector<std::uint8_t> stop{0xAE, 0xAA, 0x03, 0x5B, 0x0A};
    QCOMPARE(rig.lastCommand(), stop);
    QCOMPARE(rig.commandCount(0x03), 1);
}

void TestReceiverThread::readFailures_data()
{
    QTest::addColumn<int>("firstFailures");
    QTest::addColumn<int>("laterFailures");
    QTest::addColumn<int>("errors");
    QTest::newRow("10 failures, no error") << 10 << 0 << 0;
    QTest::newRow("11th failure, one error") << 11 << 0 << 1;
    QTest::newRow("10, good frames, then the 11th") << 10 << 1 << 1;
}

void TestReceiverThread::readFailures()
{
    QFETCH(int, firstFailures);
    QFETCH(int, laterFailures);
    QFETCH(int, errors);
    WorkerRig::Options options;
    options.frameTimeoutMs = 3000;
    WorkerRig rig(options);
    QVERIFY(rig.start());
    QSignalSpy images(&rig.relay(), &WorkerSignals::sendImagetoMain);
    QSignalSpy errorSpy(&rig.relay(), &WorkerSignals::errorOccurred);
    rig.play();
    QVERIFY(waitFor([&] { return images.count() >= 2; }));

    rig.device().failNextReads(firstFailures);
    if (laterFailures > 0) {
        // Frames come again once every failing read has been used up; they do
        // not reset the count of the pass.
        const int before = images.count();
        QVERIFY(waitFor([&] { return images.count() >= before + 3; }));
        rig.device().failNextReads(laterFailures);
    }
    if (errors == 0) {
        const int before = images.count();
        QVERIFY(waitFor([&] { return images.count() >= before + 3; }));
        QVERIFY(rig.stop());
        drainEvents();
        QCOMPARE(errorSpy.count(), 0);
        return;
    }
    // The 11th failure ends the capture: the loop parks without a stop
    // command, and Play starts afresh at once.
    QVERIFY(waitFor([&] { return errorSpy.count() == 1; }));
    QCOMPARE(errorSpy.first().at(0).toString(), QStringLiteral("Failed to get device status"));
    QVERIFY(rig.worker().waitUntilParked(2000));
    rig.device().clearReceivedCommands();
    QElapsedTimer restart;
    restart.start();
    rig.play();
    const int before = images.count();
    QVERIFY(waitFor([&] { return images.count() >= before + 2; }));
    QCOMPARE(rig.commandCount(0x03), 0);
    QVERIFY2(restart.elapsed() < 1000, qPrintable(QString::number(restart.elapsed())));
    QVERIFY(rig.stop());
    drainEvents();
    QCOMPARE(errorSpy.count(), errors);
}

void TestReceiverThread::captureRecovers_data()
{
    QTest::addColumn<QString>("fault");
    QTest::addColumn<int>("extraRequests");
    QTest::newRow("stray bytes before a frame") << "stray" << 0;
    QTest::newRow("frame cut short") << "cut" << 1;
    QTest::newRow("device stops answering") << "silent" << 1;
    QTest::newRow("frame given up mid-way, a marker inside the pixel data") << "slow" << 1;
}

void TestReceiverThread::captureRecovers()
{
    QFETCH(QString, fault);
    QFETCH(int, extraRequests);
    WorkerRig rig;
    quietUniformScene(rig.device(), 100);
    QVERIFY(rig.start());
    QSignalSpy images(&rig.relay(), &WorkerSignals::sendImagetoMain);
    QSignalSpy cells(&rig.relay(), &WorkerSignals::onCellclicked);
    rig.play();
    QVERIFY(waitFor([&] { return images.count() >= 2; }));

    if (fault == "stray") {
        rig.device().setStrayBytesBeforeNextFrame({0xAE, 0xCC, 0x01, 0x7B, 0x0A});
    } else if (fault == "cut") {
        rig.device().cutNextFrame(1000);
    } else if (fault == "slow") {
        // Every frame now holds AE CC 05 twice in its pixel data, once not on
        // a pixel boundary. A frame crawls in until it is given up; what is
        // left of it must not be taken for the start of the next one.
        rig.probe().plantInFrames({{15003, 0xAE}, {15004, 0xCC}, {15005, 0x05},
                                   {40000, 0xAE}, {40001, 0xCC}, {40002, 0x05}});
        rig.device().setUsbBytesPerSecond(60000);
        QVERIFY(waitFor([&] { return rig.worker().frameHealth().timedOut >= 1; }));
        rig.device().setUsbBytesPerSecond(40e6);
    } else {
        rig.device().setAnswering(false);
        QVERIFY(waitFor([&] { return quint64(rig.commandCount(0x05)) > rig.device().framesSent(); }));
        rig.device().setAnswering(true);
    }
    const int before = images.count();
    QVERIFY(waitFor([&] { return images.count() >= before + 3; }));
    QVERIFY(rig.stop());
    drainEvents();

    // Every shown frame answered one request; a given-up frame cost one more.
    QCOMPARE(rig.commandCount(0x05) - images.count(), extraRequests);
    const FrameHealth health = rig.worker().frameHealth();
    QCOMPARE(int(health.timedOut + health.discarded), extraRequests);
    // And no shown frame was cut from the wrong bytes.
    const double expected = rig.device().expectedCurrentNa(0);
    for (const auto &arguments : cells)
        QVERIFY(std::abs(arguments.at(0).toDouble() - expected) <= quantum(100));
}

void TestReceiverThread::failedFrameRequestParks()
{
    WorkerRig rig;
    QVERIFY(rig.start());
    QSignalSpy images(&rig.relay(), &WorkerSignals::sendImagetoMain);
    QSignalSpy errorSpy(&rig.relay(), &WorkerSignals::errorOccurred);
    rig.play();
    QVERIFY(waitFor([&] { return images.count() >= 2; }));

    rig.probe().setFailFrameRequests(true);
    QVERIFY(waitFor([&] { return errorSpy.count() >= 1; }));
    QVERIFY(rig.worker().waitUntilParked(3000));
    QVERIFY(!rig.worker().isRunning());
    drainEvents();
    QCOMPARE(errorSpy.count(), 1);
    QCOMPARE(errorSpy.first().at(0).toString(), QStringLiteral("Failed to request a frame from the device."));

    // The operator starts again without restarting the program.
    rig.probe().setFailFrameRequests(false);
    rig.worker().pause(); // the window stops capture on the error
    const int before = images.count();
    rig.play();
    QVERIFY(waitFor([&] { return images.count() >= before + 3; }));
}

// ---- Calibration ----------------------------------------------------------------

void TestReceiverThread::calibrationFlattensThePicture()
{
    WorkerRig rig;
    ZK128Device &device = rig.device();
    device.setScene(ZK128Device::Scene::Uniform);
    device.setNoiseNa(0.02);
    device.setLampCurrentNa(60.0);
    device.setLampOn(true);
    QVERIFY(rig.start());
    QSignalSpy images(&rig.relay(), &WorkerSignals::sendImagetoMain);
    QSignalSpy maxDone(&rig.relay(), &WorkerSignals::setMaxSuccess);
    QSignalSpy minDone(&rig.relay(), &WorkerSignals::setMinSuccess);
    rig.play();

    rig.worker().fullOnPending.store(true);
    QVERIFY(waitFor([&] { return maxDone.count() == 1; }));
    QVERIFY(!rig.worker().fullOnPending.load());
    device.setLampOn(false);
    int before = images.count();
    QVERIFY(waitFor([&] { return images.count() >= before + 2; }));
    rig.worker().fullOffPending.store(true);
    QVERIFY(waitFor([&] { return minDone.count() == 1; }));

    // Half the light: uncalibrated the pixels' gains show, calibrated every
    // pixel sits half-way between its own references.
    device.setLampCurrentNa(30.0);
    device.setLampOn(true);
    before = images.count();
    QVERIFY(waitFor([&] { return images.count() >= before + 3; }));
    const GrayStats raw = grayStats(images.last().at(0).value<QImage>());
    rig.worker().setCalibrationEnabled(true);
    before = images.count();
    QVERIFY(waitFor([&] { return images.count() >= before + 3; }));
    const GrayStats calibrated = grayStats(images.last().at(0).value<QImage>());
    QVERIFY(rig.stop());

    const QString figures = QString("uncalibrated %1 +- %2, calibrated %3 +- %4")
                                .arg(raw.mean).arg(raw.stddev).arg(calibrated.mean).arg(calibrated.stddev);
    QVERIFY2(std::abs(calibrated.mean - 127.5) < 8.0, qPrintable(figures));
    QVERIFY2(calibrated.stddev < 2.5, qPrintable(figures));
    QVERIFY2(raw.stddev > 3.0 * calibrated.stddev, qPrintable(figures));
}

void TestReceiverThread::bothCalibrationsKeptApart()
{
    WorkerRig rig;
    ZK128Device &device = rig.device();
    device.setScene(ZK128Device::Scene::Uniform);
    device.setNoiseNa(0.02);
    device.setLampCurrentNa(60.0);
    device.setLampOn(true);
    QVERIFY(rig.start());
    ReceiverThread &worker = rig.worker();

    // The lamp goes off in the frame that completes the full-on reference,
    // before the next frame is requested.
    QStringList order;
    QObject::connect(&worker, &ReceiverThread::setMaxSuccess, &worker, [&device] { device.setLampOn(false); },
                     Qt::DirectConnection);
    QObject::connect(&rig.relay(), &WorkerSignals::setMaxSuccess, [&order] { order << "on"; });
    QObject::connect(&rig.relay(), &WorkerSignals::setMinSuccess, [&order] { order << "off"; });

    worker.fullOffPending.store(true);
    worker.fullOnPending.store(true);
    rig.play();
    QVERIFY(waitFor([&] { return order.size() == 2; }));
    QVERIFY(rig.stop());
    drainEvents();
    QCOMPARE(order, QStringList({"on", "off"}));

    const std::vector<double> on = worker.fullOnReferenceSnapshot();
    const std::vector<double> off = worker.fullOffReferenceSnapshot();
    std::vector<double> expectedOff(16384), expectedOn(16384);
    for (int i = 0; i < 16384; ++i)
        expectedOff[std::size_t(i)] = device.expectedCurrentNa(i);
    device.setLampOn(true);
    for (int i = 0; i < 16384; ++i)
        expectedOn[std::size_t(i)] = device.expectedCurrentNa(i);

    double worstOn = 0.0, worstOff = 0.0;
    for (std::size_t i = 0; i < 16384; ++i) {
        worstOn = std::max(worstOn, std::abs(on[i] - expectedOn[i]));
        worstOff = std::max(worstOff, std::abs(off[i] - expectedOff[i]));
    }
    // Noise 0.02 nA averaged over eight frames; a lamp-on frame in the
    // full-off reference would be off by tens of nA.
    QVERIFY2(worstOn < 0.1, qPrintable(QString::number(worstOn)));
    QVERIFY2(worstOff < 0.1, qPrintable(QString::number(worstOff)));
}

// ---- Recording and saving ---------------------------------------------------------

void TestReceiverThread::recordingsKeepTheirOwnTimestamps()
{
    QTemporaryDir saveDir;
    QVERIFY(saveDir.isValid());
    WorkerRig::Options options;
    options.integrationCount = 7180;
    WorkerRig rig(options);
    QVERIFY(rig.start());
    QSignalSpy progress(&rig.relay(), &WorkerSignals::savemessage);
    QSignalSpy outcomes(&rig.relay(), &WorkerSignals::saveFinished);
    rig.play();

    QStringList previousTimes;
    const QList<int> sizes{3, 2};
    for (int run = 0; run < sizes.size(); ++run) {
        const int frames = sizes[run];
        const QString name = QString("run%1").arg(run + 1);
        progress.clear();
        outcomes.clear();
        armSave(rig.worker(), saveDir.path(), name, frames, true, false, false);
        QVERIFY(waitFor([&] { return outcomes.count() == 1; }, 30000));
        QVERIFY(outcomes.first().at(0).value<SaveOutcome>().success());
        QList<int> expected;
        for (int i = 1; i <= frames; ++i)
            expected << i;
        expected << frames;
        QCOMPARE(intArguments(progress), expected);
        QVERIFY(!rig.worker().isRecording());
        QVERIFY(!rig.worker().saveCsvOnCompletion.load());

        const QString prefix = saveDir.path() + "/" + name + "/" + name;
        const CsvContent current = readCsv(prefix + "_current.csv");
        const CsvContent gray = readCsv(prefix + "_gray.csv");
        QCOMPARE(current.times.size(), frames);
        QCOMPARE(gray.times, current.times);
        QCOMPARE(current.matrixLines, 128 * frames);
        QCOMPARE(current.badLines, 0);
        QDateTime previous;
        for (const QString &time : current.times) {
            const QDateTime stamp = QDateTime::fromString(time, TimestampFormat);
            QVERIFY2(stamp.isValid(), qPrintable(time));
            if (previous.isValid())
                QVERIFY(stamp >= previous);
            previous = stamp;
        }
        // The second recording's frames came after the first one's.
        if (!previousTimes.isEmpty())
            QVERIFY(QDateTime::fromString(current.times.first(), TimestampFormat)
                    >= QDateTime::fromString(previousTimes.last(), TimestampFormat));
        QVERIFY(current.times != previousTimes);
        previousTimes = current.times;
    }
    QVERIFY(rig.stop());
}

void TestReceiverThread::oneFrameSaveWritesEveryOutput()
{
    QTemporaryDir saveDir;
    QVERIFY(saveDir.isValid());
    WorkerRig rig;
    quietUniformScene(rig.device(), 100);
    QVERIFY(rig.start());
    QSignalSpy progress(&rig.relay(), &WorkerSignals::savemessage);
    QSignalSpy outcomes(&rig.relay(), &WorkerSignals::saveFinished);
    rig.play();

    armSave(rig.worker(), saveDir.path(), "one", 1, true, true, true);
    QVERIFY(waitFor([&] { return outcomes.count() == 1; }, 30000));
    QVERIFY(rig.stop());
    QCOMPARE(intArguments(progress), QList<int>({1, 1}));
    const SaveOutcome outcome = outcomes.first().at(0).value<SaveOutcome>();
    QVERIFY2(outcome.success(), qPrintable(outcome.message()));
    QCOMPARE(outcome.kinds, (QStringList{"data", "pictures", "video"}));

    const QString folder = saveDir.path() + "/one";
    const QImage picture(folder + "/pic/one_1.png");
    QCOMPARE(picture.size(), QSize(128, 128));
    QVERIFY(!QFile::exists(folder + "/pic/one_2.png"));

    const QString video = folder + "/one_output_video.mp4";
    QVERIFY(QFile::exists(video));
    if (QStandardPaths::findExecutable("ffprobe").isEmpty())
        QSKIP("ffprobe is not installed; the video was written but not inspected");
    QProcess probe;
    probe.start("ffprobe", {"-v", "error", "-count_frames", "-select_streams", "v:0", "-show_entries",
                            "stream=width,height,nb_read_frames", "-of", "csv=p=0", video});
    QVERIFY(probe.waitForFinished(10000));
    QCOMPARE(QString::fromLatin1(probe.readAllStandardOutput()).trimmed(), QStringLiteral("128,128,1"));

    const CsvContent current = readCsv(folder + "/one_current.csv");
    QCOMPARE(current.times.size(), 1);
    QVERIFY(QDateTime::fromString(current.times.first(), TimestampFormat).isValid());
    QCOMPARE(current.matrixLines, 128);
    QCOMPARE(current.badLines, 0);
    QCOMPARE(current.emptyLines, 1);
    QVERIFY(std::abs(current.values[0] - rig.device().expectedCurrentNa(0)) < 0.001);

    const CsvContent gray = readCsv(folder + "/one_gray.csv");
    QCOMPARE(gray.times, current.times);
    QCOMPARE(int(gray.values.size()), 16384);
    for (double level : gray.values)
        QVERIFY(level >= 0 && level <= 255 && level == std::floor(level));

    const CsvContent off = readCsv(folder + "/one_fulloff.csv");
    const CsvContent on = readCsv(folder + "/one_fullon.csv");
    QVERIFY(off.times.isEmpty());
    QCOMPARE(off.values, std::vector<double>(16384, 0.0));
    QCOMPARE(on.values, std::vector<double>(16384, 100.0));
    QCOMPARE(on.badLines, 0);
}

void TestReceiverThread::emptySaveRunRefused()
{
    QTemporaryDir saveDir;
    WorkerRig rig;
    QVERIFY(rig.start());
    QSignalSpy images(&rig.relay(), &WorkerSignals::sendImagetoMain);
    QSignalSpy progress(&rig.relay(), &WorkerSignals::savemessage);
    QSignalSpy failures(&rig.relay(), &WorkerSignals::saveFailed);
    rig.play();
    QVERIFY(waitFor([&] { return images.count() >= 2; }));

    armSave(rig.worker(), saveDir.path(), "none", 0, true, true, true);
    QVERIFY(waitFor([&] { return failures.count() >= 1; }));
    const int before = images.count();
    QVERIFY(waitFor([&] { return images.count() >= before + 3; })); // capture goes on
    QVERIFY(rig.stop());
    drainEvents();

    QCOMPARE(failures.count(), 1);
    QCOMPARE(failures.first().at(0).toString(), FramesToSaveTooSmall);
    QCOMPARE(progress.count(), 0);
    QVERIFY(!rig.worker().isSaveRunArmed());
    QVERIFY(!rig.worker().isRecording());
    QVERIFY(!rig.worker().savePictures.load());
    QVERIFY(!rig.worker().saveVideo.load());
    QVERIFY(QDir(saveDir.path() + "/none").isEmpty());
}

void TestReceiverThread::saveFailureKeepsCapturing_data()
{
    QTest::addColumn<QString>("request");
    QTest::addColumn<QString>("expectedFile");
    QTest::newRow("pictures") << "pictures" << "pic/again_1.png";
    QTest::newRow("video") << "video" << "again_output_video.mp4";
    QTest::newRow("data") << "data" << "again_current.csv";
}

void TestReceiverThread::saveFailureKeepsCapturing()
{
    QFETCH(QString, request);
    QFETCH(QString, expectedFile);
    QTemporaryDir saveDir;
    QVERIFY(saveDir.isValid());
    WorkerRig rig;
    QVERIFY(rig.start());
    QSignalSpy images(&rig.relay(), &WorkerSignals::sendImagetoMain);
    QSignalSpy outcomes(&rig.relay(), &WorkerSignals::saveFinished);
    rig.play();
    QVERIFY(waitFor([&] { return images.count() >= 2; }));

    // A run whose folder vanished before its first frame: the kind fails,
    // is reported as not written, and capture goes on.
    const bool data = request == "data", pictures = request == "pictures", video = request == "video";
    SaveRunPlan lost;
    lost.folder = uncreatablePath(saveDir);
    lost.name = "lost";
    lost.frames = 2;
    lost.data = data;
    lost.pictures = pictures;
    lost.video = video;
    rig.worker().armSaveRun(lost);
    QVERIFY(waitFor([&] { return outcomes.count() == 1; }));
    const SaveOutcome failed = outcomes.first().at(0).value<SaveOutcome>();
    QVERIFY(!failed.success());
    QVERIFY2(failed.message().startsWith("Saved 0 of 2 frames; the "), qPrintable(failed.message()));
    const int before = images.count();
    QVERIFY(waitFor([&] { return images.count() >= before + 3; }));
    QVERIFY(waitFor([&] { return !rig.worker().isSaveRunArmed(); }));

    // The next request with a usable folder is carried out.
    armSave(rig.worker(), saveDir.path(), "again", 2, data, pictures, video);
    QVERIFY(waitFor([&] { return outcomes.count() == 2; }, 30000));
    QVERIFY(rig.stop());
    QVERIFY(outcomes.last().at(0).value<SaveOutcome>().success());
    QVERIFY(QFile::exists(saveDir.path() + "/again/" + expectedFile));
}

void TestReceiverThread::interruptedRunKeepsItsFrames_data()
{
    QTest::addColumn<QString>("interruption");
    QTest::newRow("ended early") << "capture was stopped";
    QTest::newRow("a second run") << "a new save run was started";
}

void TestReceiverThread::interruptedRunKeepsItsFrames()
{
    QFETCH(QString, interruption);
    QTemporaryDir saveDir;
    QVERIFY(saveDir.isValid());
    WorkerRig rig;
    QVERIFY(rig.start());
    QSignalSpy progress(&rig.relay(), &WorkerSignals::savemessage);
    QSignalSpy outcomes(&rig.relay(), &WorkerSignals::saveFinished);
    rig.play();
    armSave(rig.worker(), saveDir.path(), "long", 1000, true, true, true);
    const QString folder = saveDir.path() + "/long";
    // The frames stream to disk while the run goes on.
    QVERIFY(waitFor([&] { return QFileInfo(folder + "/long_current.csv.part").size() > 0; }, 20000));
    QVERIFY(waitFor([&] { return progress.count() >= 12; }, 20000));
    if (interruption == "capture was stopped")
        rig.worker().endSaveRun(interruption);
    else
        armSave(rig.worker(), saveDir.path(), "next", 1, true, false, false);
    QVERIFY(waitFor([&] { return outcomes.count() >= 1; }, 30000));
    QVERIFY(rig.stop());

    const SaveOutcome outcome = outcomes.first().at(0).value<SaveOutcome>();
    QVERIFY(!outcome.success());
    QCOMPARE(outcome.message(),
             QStringLiteral("Saved %1 of 1000 frames: %2.").arg(outcome.written).arg(interruption));
    QVERIFY(outcome.written >= 12);
    // Every kind holds the same frames, whole and readable, under its own name.
    const CsvContent current = readCsv(folder + "/long_current.csv");
    QCOMPARE(current.times.size(), outcome.written);
    QCOMPARE(current.badLines, 0);
    QCOMPARE(QDir(folder + "/pic").entryList({"*.png"}, QDir::Files).size(), outcome.written);
    QVERIFY(!QImage(folder + QStringLiteral("/pic/long_%1.png").arg(outcome.written)).isNull());
    QVERIFY(QFile::exists(folder + "/long_fullon.csv"));
    if (!QStandardPaths::findExecutable("ffprobe").isEmpty())
        QCOMPARE(RunFileReaders::videoFrames(folder + "/long_output_video.mp4"), outcome.written);
    QVERIFY(QDir(folder).entryList({"*.part*"}, QDir::Files).isEmpty());
}

void TestReceiverThread::parkedAfterStartAndPauseInterleave()
{
    WorkerRig rig;
    QVERIFY(rig.start());
    // Runs on the worker thread the moment it has parked and let go of its
    // lock: a Play (resume, start) and a pause land before the loop takes
    // the lock back.
    std::atomic<bool> armed{false}, interleaved{false};
    QObject::connect(&rig.worker(), &ReceiverThread::loopParked, &rig.worker(), [&] {
        if (armed.exchange(false)) {
            rig.worker().startCapture();
            rig.worker().pause();
            interleaved.store(true);
        }
    }, Qt::DirectConnection);
    rig.play();
    QVERIFY(waitFor([&] { return rig.worker().frameHealth().received > 0; }));
    armed.store(true);
    rig.stop();
    QVERIFY(waitFor([&] { return interleaved.load(); }));
    QVERIFY(rig.worker().waitUntilParked(2000));
    QVERIFY(rig.worker().isParked());
}

void TestReceiverThread::stalledDiskNeverHoldsUpEnding()
{
    QTemporaryDir saveDir;
    WorkerRig rig;
    QVERIFY(rig.start());
    auto gate = std::make_shared<StalledSink::Gate>();
    rig.worker().setSinkFactory([gate](const SaveRunPlan &) {
        std::vector<std::unique_ptr<RunSink>> sinks;
        sinks.push_back(std::make_unique<StalledSink>(gate));
        return sinks;
    });
    QSignalSpy outcomes(&rig.relay(), &WorkerSignals::saveFinished);
    rig.play();
    armSave(rig.worker(), saveDir.path(), "stalled", 1000, true, false, false);
    // The writer's queue fills up and the loop waits for room.
    QVERIFY(waitFor([&] { return rig.worker().saveFramesPending() >= 32; }));
    QElapsedTimer clock;
    clock.start();
    rig.worker().endSaveRun(QStringLiteral("capture was stopped"));
    QVERIFY(rig.stop(1000));
    QVERIFY(!rig.worker().waitForSaveRuns(100));
    QVERIFY2(clock.elapsed() < 1300, qPrintable(QString::number(clock.elapsed())));
    const int pending = rig.worker().saveFramesPending();
    QVERIFY(pending > 0);
    QCOMPARE(outcomes.count(), 0);

    gate->release(); // the disk comes back: every frame handed over is written
    QVERIFY(waitFor([&] { return outcomes.count() == 1; }));
    const SaveOutcome outcome = outcomes.first().at(0).value<SaveOutcome>();
    QCOMPARE(outcome.written, outcome.gathered);
    QVERIFY(outcome.gathered >= pending);
    QCOMPARE(outcome.interruption, QStringLiteral("capture was stopped"));
}

// ---- Outputs for other users -----------------------------------------------------

void TestReceiverThread::templatePictureRequest()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    WorkerRig rig;
    QVERIFY(rig.start());
    ReceiverThread &worker = rig.worker();
    const QString templatePath = rig.scratchFolder() + "/mode.png";
    QSignalSpy images(&rig.relay(), &WorkerSignals::sendImagetoMain);
    rig.play();
    QVERIFY(waitFor([&] { return images.count() >= 2; }));

    worker.modePictureRequested.store(true, std::memory_order_release);
    QVERIFY(waitFor([&] { return !worker.modePictureRequested.load(); }));
    QCOMPARE(QImage(templatePath).size(), QSize(128, 128));

    // A template alone is no save run: the next run still starts at picture 1.
    armSave(worker, dir.path(), "after", 2, false, true, false);
    QVERIFY(waitFor([&] { return !worker.isSaveRunArmed(); }));
    worker.waitForSaveRuns();
    QVERIFY(rig.stop());
    QVERIFY(QFile::exists(dir.path() + "/after/pic/after_1.png"));
    QVERIFY(QFile::exists(dir.path() + "/after/pic/after_2.png"));
    QVERIFY(!QFile::exists(dir.path() + "/after/pic/after_3.png"));
}

void TestReceiverThread::displayModeReachesTheImage_data()
{
    QTest::addColumn<int>("mode");
    QTest::addColumn<int>("format");
    QTest::newRow("gray") << 0 << int(QImage::Format_Grayscale8);
    QTest::newRow("rgb") << 1 << int(QImage::Format_RGB888);
    QTest::newRow("heat") << 2 << int(QImage::Format_RGB888);
}

void TestReceiverThread::displayModeReachesTheImage()
{
    QFETCH(int, mode);
    QFETCH(int, format);
    WorkerRig rig;
    QVERIFY(rig.start());
    rig.worker().setDisplayMode(mode);
    QSignalSpy images(&rig.relay(), &WorkerSignals::sendImagetoMain);
    rig.play();
    QVERIFY(waitFor([&] { return images.count() >= 2; }));
    QVERIFY(rig.stop());
    const QImage image = images.last().at(0).value<QImage>();
    QCOMPARE(int(image.format()), format);
    QCOMPARE(image.size(), QSize(128, 128));
}

void TestReceiverThread::sharedMemoryHoldsTheLatestFrame()
{
    WorkerRig rig;
    if (!rig.context().frameView().isOpen())
        QSKIP("the shared memory block could not be opened on this machine");
    quietUniformScene(rig.device(), 100);
    rig.device().setNoiseNa(0.05); // frames differ, so the last one is recognisable
    QVERIFY(rig.start());
    QSignalSpy cells(&rig.relay(), &WorkerSignals::onCellclicked);
    rig.play();
    QVERIFY(waitFor([&] { return cells.count() >= 5; }));
    QVERIFY(rig.stop());
    drainEvents();

    // Read as other programs do: the object mapped read-only.
    const std::vector<double> shared = SharedFrameReader::read(TestContext::frameViewName());
    QCOMPARE(shared.size(), std::size_t(16384));
    QCOMPARE(shared[0], cells.last().at(0).toDouble());
    for (int i = 0; i < 16384; i += 97)
        QVERIFY(std::abs(shared[i] - rig.device().expectedCurrentNa(i)) < 0.5);
}

void TestReceiverThread::itCurveSeries()
{
    WorkerRig rig;
    quietUniformScene(rig.device(), 100);
    QVERIFY(rig.start());
    QSignalSpy series(&rig.relay(), &WorkerSignals::pixelCurrentDataUpdated);
    rig.worker().setSeriesPixels({0, 16383});
    rig.worker().seriesEnabled.store(true, std::memory_order_release);
    rig.play();
    QVERIFY(waitFor([&] { return series.count() >= 4; }));
    QVERIFY(rig.stop());
    drainEvents();

    using Series = std::shared_ptr<std::vector<std::vector<double>>>;
    const Series first = series.first().at(0).value<Series>();
    QVERIFY(first);
    QCOMPARE(first->size(), std::size_t(3));
    for (const auto &list : *first)
        QVERIFY(list.empty());

    const double expected0 = rig.device().expectedCurrentNa(0);
    const double expectedLast = rig.device().expectedCurrentNa(16383);
    double previousTime = -1.0;
    for (int n = 0; n < series.count(); ++n) {
        const double time = series.at(n).at(1).toDouble();
        QVERIFY(time >= previousTime);
        previousTime = time;
        if (n == 0)
            continue;
        const Series lists = series.at(n).at(0).value<Series>();
        QCOMPARE(lists->size(), std::size_t(3));
        QCOMPARE((*lists)[0].size(), std::size_t(1));
        QCOMPARE((*lists)[1].size(), std::size_t(1));
        QVERIFY((*lists)[2].empty());
        QVERIFY(std::abs((*lists)[0][0] - expected0) <= quantum(100));
        QVERIFY(std::abs((*lists)[1][0] - expectedLast) <= quantum(100));
    }
}

void TestReceiverThread::itCurveClockHold()
{
    WorkerRig::Options options;
    options.integrationCount = 7180;
    WorkerRig rig(options);
    QVERIFY(rig.start());
    ReceiverThread &worker = rig.worker();
    QSignalSpy series(&rig.relay(), &WorkerSignals::pixelCurrentDataUpdated);
    worker.setSeriesPixels({0});
    worker.seriesEnabled.store(true, std::memory_order_release);
    rig.play();
    QVERIFY(waitFor([&] { return series.count() >= 10; }));
    QVERIFY(rig.stop());
    drainEvents();
    const double held = series.last().at(1).toDouble();
    QVERIFY(held > 0.0);

    // The It-curve's stop and restart.
    worker.seriesEnabled.store(false);
    worker.holdSeriesClock();
    series.clear();
    worker.seriesEnabled.store(true, std::memory_order_release);
    rig.play(); // at least 100 ms later: the start command's pause alone
    QVERIFY(waitFor([&] { return series.count() >= 3; }));
    QVERIFY(rig.stop());
    drainEvents();

    QCOMPARE(series.first().at(1).toDouble(), held);
    using Series = std::shared_ptr<std::vector<std::vector<double>>>;
    // It carries the last values sampled before the stop.
    QCOMPARE(series.first().at(0).value<Series>()->at(0).size(), std::size_t(1));
    for (int n = 1; n < series.count(); ++n)
        QVERIFY(series.at(n).at(1).toDouble() >= held);
    QVERIFY(series.last().at(1).toDouble() < held + 1.0);
}

QTEST_GUILESS_MAIN(TestReceiverThread)
#include "tst_receiverthread.moc"
