#include "acquisition/ReceiverThread.h"

#include "acquisition/AcquisitionLogging.h"
#include "context/ConsoleContext.h"
#include "context/SettingsKeys.h"
#include "device/D2xxBackend.h"
#include "device/DeviceProtocol.h"
#include "services/EventLog.h"

#include <QDateTime>
#include <QDebug>
#include <QMetaType>
#include <QSettings>
#include <QThread>

#include <algorithm>
#include <chrono>
#include <thread>

#ifdef Q_OS_LINUX
#include <sys/prctl.h>
#endif

namespace {

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
    , m_references(currentRange.load())
    , m_rendering(m_references)
    , m_saveRuns(m_rendering, m_references, m_context.log())
    , m_sharedMemory(context.frameView())
    , m_template(m_rendering, context.paths().templatePicture())
    , m_consumers{&m_references, &m_readout, &m_rendering, &m_saveRuns, &m_sharedMemory, &m_live, &m_template}
{
    qRegisterMetaType<SaveOutcome>();
    loadSettings();
    connectConsumers();
}

ReceiverThread::~ReceiverThread()
{
    saveSettings();
    // A run still armed keeps what it gathered; its files are closed before
    // anything else goes.
    m_saveRuns.end(QStringLiteral("the console was closed"));
    m_saveRuns.waitUntilIdle();
    // Pairs with the loop's last unlock: whatever the loop did is complete here.
    std::lock_guard<std::mutex> lock(mutex);
}

void ReceiverThread::connectConsumers()
{
    m_references.onFullOnTaken([this] { emit fullOnTaken(); });
    m_references.onFullOffTaken([this] { emit fullOffTaken(); });
    m_saveRuns.onProgress([this](int gathered) { emit saveProgressed(gathered); });
    m_saveRuns.onFinished([this](const SaveOutcome &outcome) { emit saveFinished(outcome); });
}

void ReceiverThread::loadSettings()
{
    const std::unique_ptr<QSettings> settings = m_context.settings().open();
    integralTime.store(settings->value(SettingsKeys::kIntegralTime, 0).toDouble());
    integralCurrent.store(settings->value(SettingsKeys::kIntegralCurrent, 0).toDouble());
    currentRange.store(settings->value(SettingsKeys::kCurrentRange, 0).toInt());
}

void ReceiverThread::saveSettings()
{
    const std::unique_ptr<QSettings> settings = m_context.settings().open();
    settings->setValue(SettingsKeys::kIntegralTime, integralTime.load());
    settings->setValue(SettingsKeys::kIntegralCurrent, integralCurrent.load());
    settings->setValue(SettingsKeys::kCurrentRange, currentRange.load());
    settings->sync();
    if (settings->status() != QSettings::NoError)
        qCWarning(lcAcquisition) << "The acquisition settings could not be stored.";
}

// ---- Operations (GUI thread) -------------------------------------------------

void ReceiverThread::setCurrentRange(int range)
{
    currentRange.store(range);
    m_references.setCurrentRange(range);
}

void ReceiverThread::setIntegralTime(double value) { integralTime.store(value); }
void ReceiverThread::setIntegralCurrent(double value) { integralCurrent.store(value); }
void ReceiverThread::setFrameTimeoutMs(int ms) { frameTimeoutMs.store(std::max(1, ms)); }

void ReceiverThread::armSaveRun(const SaveRunPlan &plan)
{
    QString refusal;
    if (!m_saveRuns.arm(plan, &refusal))
        emit saveFailed(refusal);
}

void ReceiverThread::startAcquisition()
{
    writeStartSequence();
    std::unique_lock<std::mutex> lock(mutex);
    stopRequested.store(false);
    running.store(true);
    if (!quitRequested && !paused)
        parked = false; // the loop is on its way; a stop must wait for it to park again
    pauseCondition.notify_all();
}

void ReceiverThread::writeStartSequence()
{
    const FT_HANDLE handle = m_deviceHandle.load();
    writeCommand(m_startCommand);
    QThread::msleep(100); // the device wants a pause between start and the first request
    // The device's answer to the start command is the start's business, not the
    // frame stream's: drop it before the first request.
    purgeReceiveQueue();
    writeCommand(m_frameRequest);
    DWORD rx = 0, tx = 0, events = 0;
    m_lastStatus.store(m_backend->getStatus(handle, &rx, &tx, &events));
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
    std::unique_lock<std::mutex> lock(mutex);
    paused = false;
    stopRequested.store(false);
    m_startPending = true;
    parked = false; // the loop is on its way; a stop must wait for it to park again
    pauseCondition.notify_all();
}

void ReceiverThread::stopCapture()
{
    std::unique_lock<std::mutex> lock(mutex);
    // A start the loop has not taken up yet never reaches the device.
    m_startPending = false;
    stopRequested.store(true);
    paused = true;
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
    return pauseCondition.wait_for(lock, std::chrono::milliseconds(std::max(0, timeoutMs)), [this] { return parked; });
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

// ---- The capture loop (worker thread) ----------------------------------------

void ReceiverThread::process()
{
#ifdef Q_OS_LINUX
    prctl(PR_SET_TIMERSLACK, kTimerSlackNs, 0, 0, 0);
#endif
    // Normally a null handle at this point (the window connects later and sets
    // its own time-outs); the result is of no interest either way.
    m_backend->setTimeouts(m_deviceHandle.load(), readTimeoutMs, writeTimeoutMs);

    std::vector<unsigned char> readBuffer(std::size_t(frameLength), 0);
    RawFrame rawFrame(std::size_t(frameLength), 0);

    while (waitForCapture())
        runReadLoop(readBuffer, rawFrame);

    qCDebug(lcAcquisition) << "Finished";
    emit finished();
    std::lock_guard<std::mutex> lastWord(mutex); // see the destructor
}

bool ReceiverThread::waitForCapture()
{
    std::unique_lock<std::mutex> lock(mutex);
    // Parks while paused and also while no capture runs, so the device is never
    // read before the first Play and the loop never spins between captures.
    // Every time the loop comes to rest it says so, also when a start and a
    // pause landed before it took the lock back.
    while (!quitRequested && (paused || !(running.load() || m_startPending))) {
        if (!parked) {
            parked = true;
            pauseCondition.notify_all();
            lock.unlock();
            emit loopParked();
            lock.lock();
            continue;
        }
        pauseCondition.wait(lock);
    }
    parked = false;
    if (quitRequested || !m_startPending)
        return !quitRequested;
    // Play: the start sequence, with its pause before the first request, is
    // written from this thread so the window never waits for it. A stop that
    // lands meanwhile is honoured by the read loop after the first frame.
    m_startPending = false;
    lock.unlock();
    writeStartSequence();
    lock.lock();
    running.store(!quitRequested);
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
            qCWarning(lcAcquisition) << "No complete frame arrived in time; requesting a new frame.";
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
            publishFrame(rawFrame);
            requestNextFrame();
        } else if (outcome == FrameWait::GiveUp) {
            qCWarning(lcAcquisition) << "The received bytes hold no frame; requesting a new frame.";
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
    m_context.log().line(QStringLiteral("Capture ended: %1 frames received, %2 timed out, %3 discarded.")
                .arg(health.received)
                .arg(health.timedOut)
                .arg(health.discarded)
                .toUtf8());
}

ReceiverThread::FrameWait ReceiverThread::pollDevice(std::vector<unsigned char> &readBuffer, RawFrame &rawFrame,
                                                     int &readErrorCount, bool &leavePass)
{
    const FT_HANDLE handle = m_deviceHandle.load();
    DWORD rxQueue = 0, tx = 0, events = 0;
    const FT_STATUS queried = m_backend->getStatus(handle, &rxQueue, &tx, &events);
    m_lastStatus.store(queried);
    if (queried != FT_OK) {
        // The device is gone (unplugged) or unusable: nothing more will come.
        qCDebug(lcAcquisition) << "Failed to get device status";
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
    m_lastStatus.store(status);
    if (status != FT_OK) {
        ++readErrorCount;
        QThread::msleep(ReadBackOffMs);
        // Failing reads have their own rule below; they must not also make
        // the frame time-out throw away a frame that is still queued.
        requestClock.restart();
        if (readErrorCount > ReadFailuresPerPass) {
            qCDebug(lcAcquisition) << "Failed to get device status";
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
    const FramePacer::Clock::duration pause = m_pacer.pause(FramePacer::Clock::now());
    if (pause == FramePacer::Clock::duration::zero())
        QThread::yieldCurrentThread();
    else
        std::this_thread::sleep_for(pause);
}

void ReceiverThread::leaveReadLoop()
{
    std::unique_lock<std::mutex> lock(mutex);
    running.store(false);
}

void ReceiverThread::publishFrame(RawFrame &rawFrame)
{
    const std::shared_ptr<Frame> frame = m_pool.acquire();
    frame->raw.swap(rawFrame); // the pool's buffer becomes the loop's next scratch
    rawFrame.resize(std::size_t(frameLength));
    frame->range = currentRange.load(); // one range for every consumer of this frame
    frame->index = ++m_frameIndex;
    frame->arrived = std::chrono::system_clock::now();
    frame->arrivedSteady = std::chrono::steady_clock::now();
    decodeCurrents(*frame);
    const FramePtr shared = frame;
    for (FrameConsumer *consumer : m_consumers)
        consumer->consume(shared);
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
    m_backend->purge(m_deviceHandle.load(), FT_PURGE_RX);
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
        qCWarning(lcAcquisition) << "FT_Write failed with status:" << m_lastStatus.load();
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
    const FT_HANDLE handle = m_deviceHandle.load();
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
    const FT_STATUS status = m_backend->write(m_deviceHandle.load(), command.data(), DWORD(command.size()), &written);
    m_lastStatus.store(status);
    return status == FT_OK && written == DWORD(command.size());
}
