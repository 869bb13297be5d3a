#include "tests/worker/WorkerRig.h"

#include "tests/support/RunFileReaders.h"
#include "tests/support/SavePlans.h"

#include "services/SharedFrameView.h"
#include "tests/services/SharedFrameReader.h"

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

QList<int> intArguments(const QSignalSpy &spy)
{
    QList<int> values;
    for (const auto &arguments : spy)
        values << arguments.at(0).toInt();
    return values;
}

// Arms a run as the save page does once its checks passed: the folder
// <path>/<name> exists, the plan goes to the worker in one operation.
void armSave(ReceiverThread &worker, const QString &path, const QString &name, int frames, bool data,
             bool pictures, bool video)
{
    worker.armSaveRun(makeSavePlan(path, name, frames, data, pictures, video));
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
    void shutdownEndsTheLoop_data();
    void shutdownEndsTheLoop();
    void noDeviceAccessBeforePlay_data();
    void noDeviceAccessBeforePlay();

    void framesAtTheDeviceRate();
    void stopFinishesTheFrameInProgress_data();
    void stopFinishesTheFrameInProgress();
    void readFailures_data();
    void readFailures();
    void captureRecovers_data();
    void captureRecovers();
    void failedFrameRequestParks();
    void parkedAfterStartAndPauseInterleave_data();
    void parkedAfterStartAndPauseInterleave();
    void stalledDiskNeverHoldsUpEnding();
    void everyFrameReachesEveryConsumer();
    void saveRunsThroughTheLoop();

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
    QCOMPARE(worker.references().snapshot().fullOn, std::vector<double>(16384, 150.0));
    QCOMPARE(worker.references().snapshot().fullOff, std::vector<double>(16384, 0.0));
    QVERIFY(!worker.isRunning());
    QVERIFY(!worker.isSaveRunArmed());
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
    QCOMPARE(reloaded.references().snapshot().fullOn, std::vector<double>(16384, 150.0));
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
    if (capturing) {
        rig.play();
        QVERIFY(waitFor([&] { return rig.frames() >= 3; }));
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

    rig.play();
    QVERIFY(waitFor([&] { return rig.frames() >= 2; }));
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

    rig.play();
    QVERIFY(waitFor([&] { return rig.frames() >= 1; }));
    QElapsedTimer clock;
    clock.start();
    const int first = rig.frames();
    QTest::qWait(1000); // a measuring window, not a synchronisation
    const int frames = rig.frames() - first;
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
    // Every frame was published once, numbered in order.
    QCOMPARE(quint64(rig.frames()), quint64(rig.device().framesSent()));
    QCOMPARE(rig.tap().newest()->index, quint64(rig.frames()));
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
    ReceiverThread &worker = rig.worker();

    if (!silentDevice) {
        // The stop arrives while the 5th frame is being published.
        rig.tap().setHook([&worker](const Frame &frame) {
            if (frame.index == 5)
                worker.requestStop();
        });
        rig.play();
        QVERIFY(waitFor([&] { return !worker.isRunning() && worker.isParked(); }));
        drainEvents();
        QCOMPARE(rig.frames(), 5); // that frame was still rendered and shown
        QCOMPARE(rig.commandCount(0x05), 5); // no request after it
        QCOMPARE(quint64(rig.device().framesSent()), quint64(5));
    } else {
        rig.play();
        QVERIFY(waitFor([&] { return rig.frames() >= 2; }));
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
    QSignalSpy errorSpy(&rig.relay(), &WorkerSignals::errorOccurred);
    rig.play();
    QVERIFY(waitFor([&] { return rig.frames() >= 2; }));

    rig.device().failNextReads(firstFailures);
    if (laterFailures > 0) {
        // Frames come again once every failing read has been used up; they do
        // not reset the count of the pass.
        const int before = rig.frames();
        QVERIFY(waitFor([&] { return rig.frames() >= before + 3; }));
        rig.device().failNextReads(laterFailures);
    }
    if (errors == 0) {
        const int before = rig.frames();
        QVERIFY(waitFor([&] { return rig.frames() >= before + 3; }));
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
    const int before = rig.frames();
    QVERIFY(waitFor([&] { return rig.frames() >= before + 2; }));
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
    // No published frame may be cut from the wrong bytes.
    const double expected = rig.device().expectedCurrentNa(0);
    std::atomic<int> wrong{0};
    rig.tap().setHook([&](const Frame &frame) {
        if (std::abs(frame.currents[0] - expected) > quantum(100))
            ++wrong;
    });
    rig.play();
    QVERIFY(waitFor([&] { return rig.frames() >= 2; }));

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
    const int before = rig.frames();
    QVERIFY(waitFor([&] { return rig.frames() >= before + 3; }));
    QVERIFY(rig.stop());
    drainEvents();

    // Every shown frame answered one request; a given-up frame cost one more.
    QCOMPARE(rig.commandCount(0x05) - rig.frames(), extraRequests);
    const FrameHealth health = rig.worker().frameHealth();
    QCOMPARE(int(health.timedOut + health.discarded), extraRequests);
    QCOMPARE(wrong.load(), 0);
}

void TestReceiverThread::failedFrameRequestParks()
{
    WorkerRig rig;
    QVERIFY(rig.start());
    QSignalSpy errorSpy(&rig.relay(), &WorkerSignals::errorOccurred);
    rig.play();
    QVERIFY(waitFor([&] { return rig.frames() >= 2; }));

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
    const int before = rig.frames();
    rig.play();
    QVERIFY(waitFor([&] { return rig.frames() >= before + 3; }));
}

void TestReceiverThread::parkedAfterStartAndPauseInterleave_data()
{
    QTest::addColumn<bool>("stop");
    QTest::newRow("play then pause") << false;
    QTest::newRow("play then stop") << true;
}

void TestReceiverThread::parkedAfterStartAndPauseInterleave()
{
    QFETCH(bool, stop);
    WorkerRig rig;
    QVERIFY(rig.start());
    // Runs on the worker thread the moment it has parked and let go of its
    // lock: a Play and a pause (or a Stop) land before the loop takes the
    // lock back.
    std::atomic<bool> armed{false}, interleaved{false};
    QObject::connect(&rig.worker(), &ReceiverThread::loopParked, &rig.worker(), [&] {
        if (armed.exchange(false)) {
            rig.worker().startCapture();
            if (stop)
                rig.worker().stopCapture();
            else
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
    // A Stop calls off the start the loop never took up: the device hears
    // one start, the first Play's.
    QCOMPARE(rig.commandCount(0x02), 1);
    rig.worker().resume();
    QCOMPARE(waitFor([&] { return rig.commandCount(0x02) == 2; }, 500), !stop);
}

void TestReceiverThread::stalledDiskNeverHoldsUpEnding()
{
    QTemporaryDir saveDir;
    WorkerRig rig;
    QVERIFY(rig.start());
    auto gate = std::make_shared<StalledSink::Gate>();
    rig.worker().saveRuns().setSinkFactory([gate](const SaveRunPlan &) {
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

// ---- Publishing ------------------------------------------------------------------

void TestReceiverThread::everyFrameReachesEveryConsumer()
{
    WorkerRig rig;
    if (!rig.context().frameView().isOpen())
        QSKIP("the shared memory block could not be opened on this machine");
    quietUniformScene(rig.device(), 100);
    rig.device().setNoiseNa(0.05); // frames differ, so the last one is recognisable
    QVERIFY(rig.start());
    ReceiverThread &worker = rig.worker();
    worker.readout().setSelectedPixel(129);
    worker.readout().startSeries({0});
    worker.liveFrames().setPublishing(true);
    rig.play();
    QVERIFY(waitFor([&] { return rig.frames() >= 5; }));
    QVERIFY(rig.stop());

    const FramePtr last = rig.tap().newest();
    QCOMPARE(worker.frameHealth().received, quint64(rig.frames()));
    QCOMPARE(worker.rendering().newestFrame(), last);
    QCOMPARE(worker.readout().takeSeries().size(), std::size_t(rig.frames()));
    double current = 0.0;
    std::uint64_t index = 0;
    QVERIFY(worker.readout().selectedCurrent(0, current, index));
    QCOMPARE(index, last->index);
    QCOMPARE(current, last->currents[129]);
    QCOMPARE(SharedFrameReader::read(TestContext::frameViewName()), last->currents);
    std::vector<double> live;
    std::uint64_t sequence = 0;
    qint64 timeMs = 0;
    QVERIFY(worker.liveFrames().newestFrame(0, live, sequence, timeMs));
    QCOMPARE(live, last->currents);
    for (int i = 0; i < 16384; i += 97)
        QVERIFY(std::abs(last->currents[std::size_t(i)] - rig.device().expectedCurrentNa(i)) < 0.5);
}

void TestReceiverThread::saveRunsThroughTheLoop()
{
    QTemporaryDir saveDir;
    WorkerRig rig;
    QVERIFY(rig.start());
    QSignalSpy progress(&rig.relay(), &WorkerSignals::saveProgressed);
    QSignalSpy failures(&rig.relay(), &WorkerSignals::saveFailed);
    QSignalSpy outcomes(&rig.relay(), &WorkerSignals::saveFinished);
    rig.play();
    QVERIFY(waitFor([&] { return rig.frames() >= 2; }));

    armSave(rig.worker(), saveDir.path(), "none", 0, true, true, true);
    QVERIFY(waitFor([&] { return failures.count() >= 1; }));
    QCOMPARE(failures.first().at(0).toString(), FramesToSaveTooSmall);
    QVERIFY(!rig.worker().isSaveRunArmed());
    QVERIFY(QDir(saveDir.path() + "/none").isEmpty());

    armSave(rig.worker(), saveDir.path(), "two", 2, true, false, false);
    QVERIFY(waitFor([&] { return outcomes.count() == 1; }, 30000));
    QVERIFY(rig.stop());
    drainEvents();
    QVERIFY(outcomes.first().at(0).value<SaveOutcome>().success());
    QCOMPARE(intArguments(progress), QList<int>({1, 2, 2}));
    QCOMPARE(RunFileReaders::wholeCsvFrames(saveDir.path() + "/two/two_current.csv"), 2);
}

QTEST_GUILESS_MAIN(TestReceiverThread)
#include "tst_receiverthread.moc"
