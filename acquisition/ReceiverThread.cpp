#include "ReceiverThread.h"

#include "ConsoleContext.h"
#include "D2xxBackend.h"
#include "DeviceProtocol.h"
#include "FrameRenderer.h"
#include "Log.h"
#include "PictureRunSink.h"
#include "RunSinks.h"
#include "PixelDecoder.h"
#include "SharedFrameView.h"

#include <QDateTime>
#include <QDir>
#include <QFileInfo>
#include <QDebug>
#include <QMetaType>
#include <QMutexLocker>
#include <QSettings>
#include <QThread>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <thread>
#include <tuple>

#include <opencv2/imgcodecs.hpp>

#ifdef Q_OS_LINUX
#include <sys/prctl.h>
#endif

namespace {

const char *const IntegralTimeKey = "Integraltime";
const char *const IntegralCurrentKey = "Integralcurrent";
const char *const CurrentRangeKey = "currentRange";

const char *const TimestampFormat = "yyyy/MM/dd HH:mm:ss.zzz";
constexpr int ReadFailuresPerPass = 10; // the 11th failure of a pass is reported
constexpr unsigned long ReadBackOffMs = 100;
// After a stop request the frame in flight is awaited this much longer than
// the device usually takes, at least kStopGraceMinMs; a device that has gone
// silent must not hold the stop up to the full frame time-out.
constexpr double kStopGraceFactor = 1.5;
constexpr int kStopGraceMinMs = 50;
// How long the device gets to answer the stop command before the rest of the
// receive queue is dropped.
constexpr int kStopAnswerMs = 50;
// Each sleep of the loop may overshoot by the kernel's timer slack (50 us by
// default); a fine slack keeps the wake-ups on time at high frame rates.
constexpr unsigned long kTimerSlackNs = 1000;

} // namespace

ReceiverThread::ReceiverThread(const ConsoleContext &context, QObject *parent)
    : QObject(parent)
    , m_backend(context.sharedBackend())
    , m_startCommand(DeviceProtocol::start())
    , m_frameRequest(DeviceProtocol::frameRequest())
    , m_stopCommand(DeviceProtocol::stop())
    , m_context(context)
    , fullOffReference(std::size_t(Zk128::PixelCount), 0.0)
    , fullOnReference(std::size_t(Zk128::PixelCount), double(currentRange.load()))
    , modePicturePath(context.paths().templatePicture())
{
    qRegisterMetaType<std::shared_ptr<std::vector<std::vector<double>>>>(
        "std::shared_ptr<std::vector<std::vector<double>>>");
    qRegisterMetaType<SaveOutcome>();
    latestCurrents.reserve(std::size_t(pixelCount));
    frameGray.reserve(std::size_t(pixelCount));
    loadSettings();
}

ReceiverThread::~ReceiverThread()
{
    saveSettings();
    // A run still armed keeps what it gathered; its files are closed before
    // anything else goes.
    endSaveRun(QStringLiteral("the console was closed"));
    m_writer.waitUntilIdle();
    // Pairs with the loop's last unlock: whatever the loop did is complete here.
    std::lock_guard<std::mutex> lock(mutex);
}

void ReceiverThread::loadSettings()
{
    const std::unique_ptr<QSettings> settings = m_context.settings().open();
    integralTime.store(settings->value(IntegralTimeKey, 0).toDouble());
    integralCurrent.store(settings->value(IntegralCurrentKey, 0).toDouble());
    currentRange.store(settings->value(CurrentRangeKey, 0).toInt());
}

void ReceiverThread::saveSettings()
{
    const std::unique_ptr<QSettings> settings = m_context.settings().open();
    settings->setValue(IntegralTimeKey, integralTime.load());
    settings->setValue(IntegralCurrentKey, integralCurrent.load());
    settings->setValue(CurrentRangeKey, currentRange.load());
    settings->sync();
    if (settings->status() != QSettings::NoError)
        qWarning() << "The acquisition settings could not be stored.";
}

// ---- Operations (GUI thread) -------------------------------------------------

void ReceiverThread::setCurrentRange(int range)
{
    currentRange.store(range);
    QMutexLocker lock(&referenceMutex);
    std::fill(fullOnReference.begin(), fullOnReference.end(), double(range));
    m_fullOnTaken.reset(); // no longer a measured reference
}

void ReceiverThread::setDisplayMode(int mode) { displayMode.store(mode); }
void ReceiverThread::setIntegralTime(double value) { integralTime.store(value); }
void ReceiverThread::setIntegralCurrent(double value) { integralCurrent.store(value); }
void ReceiverThread::setCalibrationEnabled(bool enabled) { calibrationEnabled.store(enabled); }
void ReceiverThread::setVideoFps(int fps) { videoFps.store(fps); }
void ReceiverThread::setSelectedPixel(int index) { selectedPixel.store(index); }
void ReceiverThread::setFrameTimeoutMs(int ms) { frameTimeoutMs.store(std::max(1, ms)); }

void ReceiverThread::armSaveRun(const SaveRunPlan &plan)
{
    if (plan.frames < 1) {
        // Such a run would never end.
        emit saveFailed(QStringLiteral("The number of frames to save must be at least 1."));
        return;
    }
    std::lock_guard<std::mutex> lock(m_runMutex);
    if (m_run.armed)
        endRunLocked(QStringLiteral("a new save run was started"));
    m_run = ArmedRun{true, plan, 0, 0};
    m_run.writerRun = m_writer.begin(plan, m_sinkFactory ? m_sinkFactory(plan) : makeRunSinks(plan),
                                     [this](const SaveOutcome &outcome) {
                                         logLine(outcome.logLine().toUtf8());
                                         emit saveFinished(outcome);
                                     });
    saveCsvOnCompletion.store(plan.data);
    savePictures.store(plan.pictures);
    saveVideo.store(plan.video);
    recording.store(true, std::memory_order_release);
}

void ReceiverThread::endSaveRun(const QString &reason)
{
    std::lock_guard<std::mutex> lock(m_runMutex);
    if (m_run.armed)
        endRunLocked(reason);
}

bool ReceiverThread::isSaveRunArmed() const
{
    std::lock_guard<std::mutex> lock(m_runMutex);
    return m_run.armed;
}

void ReceiverThread::waitForSaveRuns()
{
    m_writer.waitUntilIdle();
}

bool ReceiverThread::waitForSaveRuns(int timeoutMs)
{
    return m_writer.waitUntilIdle(std::chrono::milliseconds(std::max(0, timeoutMs)));
}

int ReceiverThread::saveFramesPending() const
{
    return m_writer.framesPending();
}

void ReceiverThread::setSinkFactory(SinkFactory factory)
{
    std::lock_guard<std::mutex> lock(m_runMutex);
    m_sinkFactory = std::move(factory);
}

void ReceiverThread::endRunLocked(const QString &interruption)
{
    m_writer.end(referencesSnapshot(), interruption);
    m_run.armed = false;
    clearRunFlags();
}

void ReceiverThread::clearRunFlags()
{
    recording.store(false, std::memory_order_release);
    saveCsvOnCompletion.store(false);
    savePictures.store(false);
    saveVideo.store(false);
}

void ReceiverThread::setDisplayLevels(const DisplayLevels &levels)
{
    std::lock_guard<std::mutex> lock(m_levelsMutex);
    m_levels = levels;
}

void ReceiverThread::setReferences(const RunReferences &references)
{
    if (references.fullOff.size() != std::size_t(pixelCount) || references.fullOn.size() != std::size_t(pixelCount))
        return;
    QMutexLocker lock(&referenceMutex);
    fullOffReference = references.fullOff;
    fullOnReference = references.fullOn;
    m_fullOffTaken = references.fullOffTaken;
    m_fullOnTaken = references.fullOnTaken;
}

RunReferences ReceiverThread::referencesSnapshot() const
{
    QMutexLocker lock(&referenceMutex);
    return RunReferences{fullOffReference, fullOnReference, m_fullOffTaken, m_fullOnTaken};
}

bool ReceiverThread::newestFrame(std::uint64_t after, std::vector<double> &currents, std::uint64_t &sequence,
                                 qint64 &timeMs) const
{
    std::lock_guard<std::mutex> lock(m_liveMutex);
    if (m_liveSequence <= after || m_liveCurrents.empty())
        return false;
    currents = m_liveCurrents;
    sequence = m_liveSequence;
    timeMs = m_liveTimeMs;
    m_liveTaken = true;
    return true;
}

void ReceiverThread::setSeriesPixels(std::vector<int> &&pixels)
{
    QMutexLocker lock(&seriesMutex);
    seriesPixels = std::move(pixels);
    pixels.clear(); // a moved-from vector is only "valid"; the caller is promised an empty one
}

void ReceiverThread::holdSeriesClock()
{
    heldElapsed.store(lastElapsed.load());
    rebaseClock.store(true, std::memory_order_release);
}

void ReceiverThread::startSeries(std::vector<int> pixels)
{
    setSeriesPixels(std::move(pixels));
    // The list is in place before the flag: the loop reads it once it sees the flag.
    seriesEnabled.store(true, std::memory_order_release);
}

void ReceiverThread::stopSeries()
{
    seriesEnabled.store(false, std::memory_order_release);
    holdSeriesClock();
}

void ReceiverThread::startAcquisition()
{
    const FT_HANDLE handle = deviceHandle.load();
    writeCommand(m_startCommand);
    QThread::msleep(100); // the device wants a pause between start and the first request
    // The device's answer to the start command is the start's business, not the
    // frame stream's: drop it before the first request.
    purgeReceiveQueue();
    writeCommand(m_frameRequest);
    DWORD rx = 0, tx = 0, events = 0;
    lastStatus.store(m_backend->getStatus(handle, &rx, &tx, &events));

    std::unique_lock<std::mutex> lock(mutex);
    stopRequested.store(false);
    running.store(true);
    if (!quitRequested && !paused)
        parked = false; // the loop is on its way; a stop must wait for it to park again
    pauseCondition.notify_all();
}

void ReceiverThread::requestStop()
{
    stopRequested.store(true);
}

void ReceiverThread::pause()
{
    std::unique_lock<std::mutex> lock(mutex);
    paused = true;
}

void ReceiverThread::resume()
{
    std::unique_lock<std::mutex> lock(mutex);
    paused = false;
    if (running.load())
        parked = false;
    pauseCondition.notify_all();
}

void ReceiverThread::startCapture()
{
    resume();
    startAcquisition();
}

void ReceiverThread::stopCapture()
{
    requestStop();
    pause();
}

void ReceiverThread::shutdown()
{
    {
        std::unique_lock<std::mutex> lock(mutex);
        paused = true;
        quitRequested = true;
        running.store(false);
    }
    std::unique_lock<std::mutex> lock(mutex);
    paused = false;
    pauseCondition.notify_all();
}

bool ReceiverThread::waitUntilParked(int timeoutMs)
{
    std::unique_lock<std::mutex> lock(mutex);
    return parkedCondition.wait_for(lock, std::chrono::milliseconds(std::max(0, timeoutMs)), [this] { return parked; });
}

bool ReceiverThread::isParked() const
{
    std::unique_lock<std::mutex> lock(mutex);
    return parked;
}

FrameHealth ReceiverThread::frameHealth() const
{
    FrameHealth health;
    health.received = m_framesReceived.load();
    health.timedOut = m_framesTimedOut.load();
    health.discarded = m_framesDiscarded.load();
    health.captureStartedMs = m_captureStartedMs.load();
    return health;
}

std::vector<double> ReceiverThread::fullOnReferenceSnapshot() const
{
    QMutexLocker lock(&referenceMutex);
    return fullOnReference;
}

std::vector<double> ReceiverThread::fullOffReferenceSnapshot() const
{
    QMutexLocker lock(&referenceMutex);
    return fullOffReference;
}

// ---- The capture loop (worker thread) ----------------------------------------

void ReceiverThread::process()
{
#ifdef Q_OS_LINUX
    prctl(PR_SET_TIMERSLACK, kTimerSlackNs, 0, 0, 0);
#endif
    // Normally a null handle at this point (the window connects later and sets
    // its own time-outs); the result is of no interest either way.
    m_backend->setTimeouts(deviceHandle.load(), readTimeoutMs, writeTimeoutMs);

    std::vector<unsigned char> readBuffer(std::size_t(frameLength), 0);
    RawFrame rawFrame(std::size_t(frameLength), 0);

    while (waitForCapture())
        runReadLoop(readBuffer, rawFrame);

    qDebug() << "Finished";
    emit finished();
    std::lock_guard<std::mutex> lastWord(mutex); // see the destructor
}

bool ReceiverThread::waitForCapture()
{
    std::unique_lock<std::mutex> lock(mutex);
    // Parks while paused and also while no capture runs, so the device is never
    // read before the first Play and the loop never spins between captures.
    // Every return to waiting says "parked" again: a start that clears the
    // flag and a pause that lands before the loop wakes must not leave it
    // waiting unseen.
    while (!quitRequested && (paused || !running.load())) {
        if (!parked) {
            parked = true;
            parkedCondition.notify_all();
            lock.unlock();
            emit loopParked();
            lock.lock();
            continue; // look again: the window may have started a capture meanwhile
        }
        pauseCondition.wait(lock);
    }
    parked = false;
    return !quitRequested;
}

void ReceiverThread::runReadLoop(std::vector<unsigned char> &readBuffer, RawFrame &rawFrame)
{
    int readErrorCount = 0;
    m_framesReceived.store(0);
    m_framesTimedOut.store(0);
    m_framesDiscarded.store(0);
    m_captureStartedMs.store(QDateTime::currentMSecsSinceEpoch());
    m_stopSeen = false;
    m_pacer.reset();
    m_pacer.frameRequested(FramePacer::Clock::now());
    requestClock.start();
    while (running.load(std::memory_order_acquire)) {
        if (requestClock.hasExpired(frameTimeoutMs.load())) {
            qWarning() << "No complete frame arrived in time; requesting a new frame.";
            giveUpFrame(true);
            continue;
        }
        if (stopOverdue()) {
            // The frame in flight is not coming; the stop must not wait for it.
            giveUpFrame(true);
            continue;
        }
        bool leavePass = false;
        const FrameWait outcome = pollDevice(readBuffer, rawFrame, readErrorCount, leavePass);
        if (leavePass)
            break;
        if (outcome == FrameWait::Taken) {
            m_pacer.frameCompleted(FramePacer::Clock::now());
            m_framesReceived.fetch_add(1);
            processFrame(rawFrame);
            requestNextFrame();
        } else if (outcome == FrameWait::GiveUp) {
            qWarning() << "The received bytes hold no frame; requesting a new frame.";
            giveUpFrame(false);
        }
    }
    endCapture();
}

bool ReceiverThread::stopOverdue()
{
    if (!stopRequested.load())
        return false;
    if (!m_stopSeen) {
        m_stopSeen = true;
        m_stopClock.start();
        return false;
    }
    const auto expected = std::chrono::duration_cast<std::chrono::milliseconds>(m_pacer.expectedFrameTime());
    const qint64 grace = std::max<qint64>(kStopGraceMinMs, qint64(kStopGraceFactor * double(expected.count())));
    return m_stopClock.hasExpired(grace) && requestClock.hasExpired(grace);
}

void ReceiverThread::endCapture()
{
    // Bytes left over when a capture ends belong to no request any more.
    assembler.clear();
    const FrameHealth health = frameHealth();
    logLine(QStringLiteral("Capture ended: %1 frames received, %2 timed out, %3 discarded.")
                .arg(health.received)
                .arg(health.timedOut)
                .arg(health.discarded)
                .toUtf8());
}

ReceiverThread::FrameWait ReceiverThread::pollDevice(std::vector<unsigned char> &readBuffer, RawFrame &rawFrame,
                                                     int &readErrorCount, bool &leavePass)
{
    const FT_HANDLE handle = deviceHandle.load();
    DWORD rxQueue = 0, tx = 0, events = 0;
    const FT_STATUS queried = m_backend->getStatus(handle, &rxQueue, &tx, &events);
    lastStatus.store(queried);
    if (queried != FT_OK) {
        // The device is gone (unplugged) or unusable: nothing more will come.
        qDebug() << "Failed to get device status";
        leaveReadLoop();
        emit deviceFailed(QStringLiteral("Failed to get device status"));
        leavePass = true;
        return FrameWait::Pending;
    }
    if (rxQueue == 0) {
        waitForBytes();
        return FrameWait::Pending;
    }

    DWORD returned = 0;
    const DWORD wanted = std::min<DWORD>(rxQueue, DWORD(frameLength));
    const FT_STATUS status = m_backend->read(handle, readBuffer.data(), wanted, &returned);
    lastStatus.store(status);
    if (status != FT_OK) {
        ++readErrorCount;
        QThread::msleep(ReadBackOffMs);
        // Failing reads have their own rule below; they must not also make
        // the frame time-out throw away a frame that is still queued.
        requestClock.restart();
        if (readErrorCount > ReadFailuresPerPass) {
            qDebug() << "Failed to get device status";
            // The capture ends here; a later Play starts afresh (no stop
            // command is owed for it).
            leaveReadLoop();
            emit errorOccurred(QStringLiteral("Failed to get device status"));
            leavePass = true;
        }
        return FrameWait::Pending;
    }

    assembler.append(readBuffer.data(), std::min<std::size_t>(returned, std::size_t(frameLength)));
    switch (assembler.takeFrame(rawFrame)) {
    case FrameAssembler::Outcome::FrameTaken:
        return FrameWait::Taken;
    case FrameAssembler::Outcome::Discarded:
        return FrameWait::GiveUp;
    case FrameAssembler::Outcome::NeedMore:
        break;
    }
    return FrameWait::Pending;
}

void ReceiverThread::waitForBytes()
{
    if (m_waitStrategy.load() == WaitStrategy::BusyPoll) {
        QThread::yieldCurrentThread();
        return;
    }
    std::this_thread::sleep_for(m_pacer.pause(FramePacer::Clock::now()));
}

void ReceiverThread::leaveReadLoop()
{
    std::unique_lock<std::mutex> lock(mutex);
    running.store(false);
}

void ReceiverThread::processFrame(const RawFrame &rawFrame)
{
    const auto arrived = std::chrono::system_clock::now();
    const int range = currentRange.load(); // one range for every consumer of this frame
    // Whether this frame is recorded is decided once, when it arrives.
    const bool recordThis = recording.load(std::memory_order_acquire);
    const bool observed = m_observed.load(std::memory_order_acquire);
    reportSelectedPixel(rawFrame, range);
    if (seriesEnabled.load(std::memory_order_acquire))
        sampleSeries(rawFrame, range);
    feedCalibration(rawFrame, range);
    QImage saved;
    const QImage image = renderFrame(rawFrame, range, recordThis || observed, &saved);
    if (recordThis)
        recordFrame(arrived, saved);
    if (observed) {
        std::lock_guard<std::mutex> lock(m_observerMutex);
        if (m_observer)
            m_observer(latestCurrents, frameGray);
    }
    publishToSharedMemory();
    if (m_publishLive.load())
        publishLiveFrame(QDateTime::currentMSecsSinceEpoch());
    emit sendImagetoMain(image);
    if (modePictureRequested.load(std::memory_order_acquire)) {
        saveModePicture(saved);
        modePictureRequested.store(false); // also when writing it failed: one attempt per request
    }
}

void ReceiverThread::reportSelectedPixel(const RawFrame &rawFrame, int range)
{
    const int index = selectedPixel.load();
    if (PixelDecoder::isValidIndex(index))
        emit onCellclicked(PixelDecoder::current(rawFrame, index, range));
}

void ReceiverThread::sampleSeries(const RawFrame &rawFrame, int range)
{
    {
        QMutexLocker lock(&seriesMutex);
        seriesScratch.assign(seriesPixels.begin(), seriesPixels.end());
    }
    const auto now = PixelSeriesSampler::Clock::now();
    if (rebaseClock.exchange(false, std::memory_order_acq_rel))
        seriesSampler.rebase(heldElapsed.exchange(0.0), now);
    double elapsed = 0.0;
    PixelCurrentSeries series = seriesSampler.step(rawFrame, seriesScratch, range, now, elapsed);
    lastElapsed.store(elapsed);
    emit pixelCurrentDataUpdated(std::move(series), elapsed);
}

void ReceiverThread::feedCalibration(const RawFrame &rawFrame, int range)
{
    // One kind at a time: full-on first, a full-off request waits until it is done.
    if (fullOnPending.load()) {
        bool done = false;
        {
            QMutexLocker lock(&referenceMutex);
            done = fullOnCalibrator.addFrame(rawFrame, range, fullOnReference);
        }
        if (done) {
            {
                QMutexLocker lock(&referenceMutex);
                m_fullOnTaken = std::chrono::system_clock::now();
            }
            fullOnPending.store(false);
            emit setMaxSuccess();
        }
    } else if (fullOffPending.load()) {
        bool done = false;
        {
            QMutexLocker lock(&referenceMutex);
            done = fullOffCalibrator.addFrame(rawFrame, range, fullOffReference);
        }
        if (done) {
            {
                QMutexLocker lock(&referenceMutex);
                m_fullOffTaken = std::chrono::system_clock::now();
            }
            fullOffPending.store(false);
            emit setMinSuccess();
        }
    }
}

void ReceiverThread::setFrameObserver(FrameObserver observer)
{
    std::lock_guard<std::mutex> lock(m_observerMutex);
    m_observer = std::move(observer);
    m_observed.store(bool(m_observer), std::memory_order_release);
}

QImage ReceiverThread::renderFrame(const RawFrame &rawFrame, int range, bool withGray, QImage *saved)
{
    QImage image;
    {
        QMutexLocker lock(&referenceMutex);
        RenderSettings render;
        render.displayMode = displayMode.load();
        render.currentRange = range;
        render.calibrationEnabled = calibrationEnabled.load();
        render.fullOffReference = &fullOffReference;
        render.fullOnReference = &fullOnReference;
        image = FrameRenderer::render(rawFrame, render, latestCurrents, withGray ? &frameGray : nullptr);
        m_frameCalibrated = render.calibrationEnabled;
    }
    *saved = image;
    DisplayLevels levels;
    {
        std::lock_guard<std::mutex> lock(m_levelsMutex);
        levels = m_levels;
    }
    const auto showScale = [this](const DisplayScale &scale) {
        std::lock_guard<std::mutex> lock(m_levelsMutex);
        m_shownScale = scale;
    };
    if (!levels.enabled) {
        showScale(m_frameCalibrated ? DisplayScale::ofReferences() : DisplayScale::ofRange(range));
        return image;
    }
    // The operator's levels shape only what is shown: the saved picture keeps
    // the frame as rendered on its range.
    if (levels.automatic)
        std::tie(levels.low, levels.high) =
            LevelMapping::automaticLevels(latestCurrents.data(), latestCurrents.size());
    showScale(DisplayScale::ofLevels(levels.low, levels.high));
    return FrameRenderer::renderWithLevels(latestCurrents, displayMode.load(), levels.low, levels.high);
}

DisplayScale ReceiverThread::shownScale() const
{
    std::lock_guard<std::mutex> lock(m_levelsMutex);
    return m_shownScale;
}

void ReceiverThread::publishToSharedMemory()
{
    // A failed publish has warned already and must not hold up the frame.
    m_context.frameView().publish(latestCurrents.data(), latestCurrents.size());
}

void ReceiverThread::publishLiveFrame(qint64 arrivedMs)
{
    std::lock_guard<std::mutex> lock(m_liveMutex);
    if (!m_liveTaken)
        return; // the copy waiting is recent enough
    m_liveCurrents = latestCurrents;
    ++m_liveSequence;
    m_liveTimeMs = arrivedMs;
    m_liveTaken = false;
}

void ReceiverThread::recordFrame(std::chrono::system_clock::time_point arrived, const QImage &picture)
{
    auto frame = std::make_shared<RecordedFrame>();
    std::uint64_t run = 0;
    bool complete = false;
    {
        std::lock_guard<std::mutex> lock(m_runMutex);
        if (!m_run.armed)
            return; // ended between the frame's arrival and now
        if (!m_writer.isRunning()) {
            // Every output of the run failed and the writer ended it; its
            // outcome has been reported.
            m_run.armed = false;
            clearRunFlags();
            return;
        }
        frame->index = ++m_run.gathered;
        run = m_run.writerRun;
        complete = m_run.gathered >= m_run.plan.frames;
        if (complete) {
            // Gathered in full: nothing else may end it or number a frame for it.
            m_run.armed = false;
            clearRunFlags();
        }
    }
    frame->time = arrived;
    frame->timestamp = QDateTime::fromMSecsSinceEpoch(
                           std::chrono::duration_cast<std::chrono::milliseconds>(arrived.time_since_epoch()).count())
                           .toString(QString::fromLatin1(TimestampFormat));
    frame->currents = latestCurrents;
    frame->gray = frameGray;
    frame->picture = picture;
    frame->calibrated = m_frameCalibrated;
    const int gathered = frame->index;
    // Blocks while the writer's queue is full (a slow disk slows the capture
    // instead of losing frames), outside the run lock: ending the run wakes
    // it, so Stop, Save and closing never wait for the disk.
    m_writer.append(run, std::move(frame));
    if (complete)
        m_writer.endRun(run, referencesSnapshot(), QString());
    emit savemessage(gathered);
    if (complete)
        emit savemessage(gathered);
}

void ReceiverThread::saveModePicture(const QImage &image)
{
    // The template is best effort: a folder or file that cannot be written
    // leaves the previous template in place.
    const cv::Mat picture = SavedPicture::matOf(image);
    if (picture.empty() || !QDir().mkpath(QFileInfo(modePicturePath).absolutePath()))
        return;
    try {
        cv::imwrite(modePicturePath.toStdString(), picture);
    } catch (const cv::Exception &) {
    }
}

void ReceiverThread::giveUpFrame(bool timedOut)
{
    (timedOut ? m_framesTimedOut : m_framesDiscarded).fetch_add(1);
    // Whatever of the given-up frame is still queued or on its way would be
    // taken for the start of the next one: the search must begin at a frame
    // boundary again.
    assembler.clear();
    purgeReceiveQueue();
    requestNextFrame();
}

void ReceiverThread::purgeReceiveQueue()
{
    m_backend->purge(deviceHandle.load(), FT_PURGE_RX);
}

void ReceiverThread::requestNextFrame()
{
    bool stop = false;
    {
        // Checked and acted on under the lock, so a concurrent startAcquisition
        // is never undone by this stop.
        std::unique_lock<std::mutex> lock(mutex);
        stop = stopRequested.load();
        if (stop)
            running.store(false);
    }
    if (stop) {
        writeCommand(m_stopCommand);
        consumeStopAnswer();
        return;
    }
    if (!writeCommand(m_frameRequest)) {
        qWarning() << "FT_Write failed with status:" << lastStatus.load();
        leaveReadLoop(); // parks; the operator can start again
        emit errorOccurred(QStringLiteral("Failed to request a frame from the device."));
        return;
    }
    m_pacer.frameRequested(FramePacer::Clock::now());
    requestClock.restart();
}

void ReceiverThread::consumeStopAnswer()
{
    // The device acknowledges the stop; that answer must not be left queued
    // for the window's next exchange (it would read as a battery reading).
    const FT_HANDLE handle = deviceHandle.load();
    const DWORD answerLength = DWORD(DeviceProtocol::Acknowledgement().size());
    QElapsedTimer clock;
    clock.start();
    DWORD rx = 0, tx = 0, events = 0;
    while (!clock.hasExpired(kStopAnswerMs)) {
        if (m_backend->getStatus(handle, &rx, &tx, &events) != FT_OK || rx >= answerLength)
            break;
        std::this_thread::sleep_for(FramePacer::kPollInterval);
    }
    purgeReceiveQueue();
}

bool ReceiverThread::writeCommand(const std::vector<std::uint8_t> &command)
{
    DWORD written = 0;
    const FT_STATUS status = m_backend->write(deviceHandle.load(), command.data(), DWORD(command.size()), &written);
    lastStatus.store(status);
    return status == FT_OK && written == DWORD(command.size());
}
