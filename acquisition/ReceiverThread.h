#pragma once

#include "acquisition/AcquisitionSettings.h"
#include "acquisition/CaptureSwitch.h"
#include "acquisition/DeviceHandleUser.h"
#include "acquisition/FrameAssembler.h"
#include "acquisition/FrameHealth.h"
#include "acquisition/FrameHealthSource.h"
#include "acquisition/FramePacer.h"
#include "acquisition/FramePool.h"
#include "acquisition/FrameRendering.h"
#include "acquisition/FrameTypes.h"
#include "acquisition/LiveFrameCopy.h"
#include "acquisition/LoopParking.h"
#include "acquisition/PixelReadout.h"
#include "acquisition/ReferenceCalibration.h"
#include "acquisition/SaveOutcome.h"
#include "acquisition/SaveRunFeeder.h"
#include "acquisition/SaveRunPlan.h"
#include "acquisition/SharedFramePublisher.h"
#include "acquisition/TemplatePicture.h"

#include "device/D2xxTypes.h"

#include <QElapsedTimer>
#include <QObject>
#include <QString>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <vector>

class ConsoleContext;
class D2xxBackend;


// The capture loop. The main window (or the capture tool) keeps one as a
// member, moves it to its own QThread and starts the loop (`process`) from the
// thread's started signal. The loop does the device I/O, paces the frame
// requests, parks and resumes, assembles frames and counts their health; it
// turns each frame into an immutable, pooled Frame and hands it once to each
// of its consumers, in this order: the calibration references, the pixel
// readout, the rendering, the save-run feeder, the shared-memory publisher,
// the live-analysis copy and the recognition template. Each consumer owns its
// state and lock; controllers talk to the consumer they need (references(),
// rendering(), ...). The loop reports only through signals; none is sent per
// frame except the save-run progress, which only the capture tool listens to.
//
// Controllers get the narrow side they need: AcquisitionSettings (the
// parameter flow), DeviceHandleUser (the connect flow), CaptureSwitch (Play
// and Stop), LoopParking (the window's own device exchanges),
// FrameHealthSource (the live analysis) or one consumer.
//
// Thread contract: the GUI thread calls the operations; the loop runs on the
// worker thread. `paused`, `quitRequested`, `parked` and `running` change
// under `mutex`, and the loop waits on `pauseCondition` under it; the device
// handle and the last status are atomics (useDevice writes the handle while
// the loop is parked); the settings below are atomics.
class ReceiverThread : public QObject,
                       public AcquisitionSettings,
                       public DeviceHandleUser,
                       public CaptureSwitch,
                       public LoopParking,
                       public FrameHealthSource
{
    Q_OBJECT

public:
    // How the loop waits for a frame: asleep through most of the device's
    // frame time (the default), or polling without pause (lowest latency, one
    // busy core; kept for comparison).
    enum class WaitStrategy { Sleep, BusyPoll };

    explicit ReceiverThread(const ConsoleContext &context, QObject *parent = nullptr);
    ~ReceiverThread() override;

    // ---- The consumers (each with its own thread contract) ------------------
    ReferenceCalibration &references() { return m_references; }
    const ReferenceCalibration &references() const { return m_references; }
    FrameRendering &rendering() { return m_rendering; }
    const FrameRendering &rendering() const { return m_rendering; }
    PixelReadout &readout() { return m_readout; }
    SaveRunFeeder &saveRuns() { return m_saveRuns; }
    const SaveRunFeeder &saveRuns() const { return m_saveRuns; }
    LiveFrameCopy &liveFrames() { return m_live; }
    TemplatePicture &templatePicture() { return m_template; }
    // One more consumer, after the console's own. Call before the loop starts
    // (the loop reads the list without a lock); it must outlive the loop.
    void addConsumer(FrameConsumer &consumer) { m_consumers.push_back(&consumer); }

    // ---- Device (GUI thread) -----------------------------------------------
    // The device the loop reads from now on (null: none); call while it is
    // parked. The only way a handle reaches the loop.
    void useDevice(FT_HANDLE handle, FT_STATUS status = FT_OK) override
    {
        m_lastStatus.store(status);
        m_deviceHandle.store(handle);
    }
    FT_HANDLE device() const { return m_deviceHandle.load(); }
    // Result of the latest device call of either thread; only ever compared with 0.
    FT_STATUS lastStatus() const { return m_lastStatus.load(); }

    // ---- Settings (GUI thread) ---------------------------------------------
    // The current range in nA: the one owner of it. Every frame is converted
    // on the range set when it arrived; the full-on reference follows it.
    void setCurrentRange(int range) override;
    int currentRangeValue() const override { return currentRange.load(); }
    void setIntegralTime(double value) override;
    void setIntegralCurrent(double value) override;
    double integralTimeValue() const { return integralTime.load(); }
    double integralCurrentValue() const { return integralCurrent.load(); }

    // ---- Save runs (any thread; see SaveRunFeeder) --------------------------
    // Arms a save run: the plan's next frames go to the save-run writer (the
    // plan's folder exists). A run still armed ends first, interrupted by "a
    // new save run was started". A plan of fewer than one frame is refused
    // (saveFailed).
    void armSaveRun(const SaveRunPlan &plan);
    // Ends the armed run early, keeping every frame gathered so far; `reason`
    // says why ("capture was stopped"). Without an armed run nothing happens.
    void endSaveRun(const QString &reason) { m_saveRuns.end(reason); }
    bool isSaveRunArmed() const { return m_saveRuns.isArmed(); }
    // Blocks until every run handed to the writer is on disk and reported.
    void waitForSaveRuns() { m_saveRuns.waitUntilIdle(); }
    // The same for at most timeoutMs; false when the writer is still busy (a stalled disk).
    bool waitForSaveRuns(int timeoutMs)
    {
        return m_saveRuns.waitUntilIdle(std::chrono::milliseconds(std::max(0, timeoutMs)));
    }
    // Frames handed to the writer that are not on disk yet.
    int saveFramesPending() const { return m_saveRuns.framesPending(); }

    // ---- Capture (GUI thread) ----------------------------------------------
    // Writes the start command, drops its answer, writes the first frame
    // request and lets the loop read, all from the calling thread. Call only
    // while the loop is parked.
    void startAcquisition();
    void requestStop();
    void pause();
    void resume();
    void shutdown();
    // Play and Stop as one operation each, neither waiting on the device:
    // Play lets the loop go and the loop writes the start sequence itself;
    // Stop requests the stop and pauses (the loop finishes the frame in
    // flight, sends the stop command, consumes its answer and parks), and
    // calls off a start the loop has not taken up yet.
    void startCapture() override;
    void stopCapture() override;

    // Blocks the calling (GUI) thread until the loop sits on its wait condition,
    // at most timeoutMs; true when it is parked.
    bool waitUntilParked(int timeoutMs) override;
    bool isParked() const override;
    bool isRunning() const { return running.load(); }

    // A frame request whose frame has not completed after this long is given up:
    // the receive queue is purged and a new request is written.
    void setFrameTimeoutMs(int ms);
    void setWaitStrategy(WaitStrategy strategy) { m_waitStrategy.store(strategy); }
    FrameHealth frameHealth() const override;

public slots:
    // The capture loop; runs on the worker thread until shutdown.
    void process();

signals:
    void errorOccurred(QString errormessage);
    void finished();
    // Frames of the armed save run gathered so far (sent twice for the last).
    void saveProgressed(int index);
    // The full-on (full-off) reference has gathered its ten frames.
    void fullOnTaken();
    void fullOffTaken();
    // A save request that could not be carried out, as one sentence.
    void saveFailed(QString message);
    // A save run has ended and its files are closed: how it went. Emitted
    // from the save-run writer's thread.
    void saveFinished(SaveOutcome outcome);
    // The loop has come to rest on its wait condition after a capture: the
    // window may talk to the device again.
    void loopParked();
    // A device call failed in a way that ends the capture: the status query
    // (the device is gone or unusable). The loop has stopped reading and parks.
    void deviceFailed(QString message);

private:
    enum class FrameWait { Pending, Taken, GiveUp };

    void loadSettings();
    void saveSettings();
    void connectConsumers();

    // Outer pass: waits while paused or not running; false once quitting.
    bool waitForCapture();
    void runReadLoop(std::vector<unsigned char> &readBuffer, RawFrame &rawFrame);
    FrameWait pollDevice(std::vector<unsigned char> &readBuffer, RawFrame &rawFrame, int &readErrorCount,
                         bool &leavePass);
    void waitForBytes();
    bool stopOverdue();
    // Turns the assembled bytes into a frame (swapping buffers with the pool's
    // frame) and hands it to every consumer.
    void publishFrame(RawFrame &rawFrame);
    void requestNextFrame();
    void giveUpFrame(bool timedOut);
    void endCapture();
    void consumeStopAnswer();
    void writeStartSequence();
    void purgeReceiveQueue();
    bool writeCommand(const std::vector<std::uint8_t> &command);
    void leaveReadLoop(); // running = false under the mutex

    // Set once in the constructor; the backend itself may be called from any thread.
    const std::shared_ptr<D2xxBackend> m_backend;
    // The command frames the loop sends (built once from DeviceProtocol).
    const std::vector<std::uint8_t> m_startCommand;
    const std::vector<std::uint8_t> m_frameRequest;
    const std::vector<std::uint8_t> m_stopCommand;

    // Persistence of the settings below, in the console's settings store (GUI
    // thread, at construction and destruction only).
    const ConsoleContext &m_context;

    // Written by useDevice (GUI thread, loop parked); read by every device call.
    std::atomic<FT_HANDLE> m_deviceHandle{nullptr};
    std::atomic<FT_STATUS> m_lastStatus{0};

    // GUI sets (requestStop, stopCapture); startAcquisition and startCapture clear it.
    std::atomic<bool> stopRequested{false};
    // The read loop runs while set. Written under `mutex` by the GUI
    // (startAcquisition, shutdown) and by the loop when it takes up a start
    // or leaves reading.
    std::atomic<bool> running{false};
    std::atomic<double> integralTime{0.0};    // persisted only
    std::atomic<double> integralCurrent{0.0}; // persisted only
    std::atomic<int> currentRange{150};       // nA, scale of the pixel conversion

    // Guarded by `mutex`.
    bool paused = false;
    bool quitRequested = false;
    bool parked = false; // the loop sits on pauseCondition
    bool m_startPending = false; // set by startCapture, taken up (or called off by stopCapture) before reading

    const int frameLength = Zk128::FrameLength;
    const ULONG readTimeoutMs = 1000;
    const ULONG writeTimeoutMs = 1000;

    std::atomic<int> frameTimeoutMs{3000};
    std::atomic<WaitStrategy> m_waitStrategy{WaitStrategy::Sleep};

    // Frame health of the capture in progress (or the last one): written by the
    // loop, read by the GUI.
    std::atomic<std::uint64_t> m_framesReceived{0};
    std::atomic<std::uint64_t> m_framesTimedOut{0};
    std::atomic<std::uint64_t> m_framesDiscarded{0};
    std::atomic<qint64> m_captureStartedMs{0};

    // The consumers, in publishing order (m_consumers); each guards its own state.
    ReferenceCalibration m_references;
    PixelReadout m_readout;
    FrameRendering m_rendering;
    SaveRunFeeder m_saveRuns;
    SharedFramePublisher m_sharedMemory;
    LiveFrameCopy m_live;
    TemplatePicture m_template;
    std::vector<FrameConsumer *> m_consumers; // set before the loop starts, read-only after

    // Standard primitives rather than QMutex/QWaitCondition: a QWaitCondition
    // wait hands the mutex over inside Qt, where the thread sanitizer cannot
    // see it, and every pause/resume would then read as a race.
    mutable std::mutex mutex;
    std::condition_variable pauseCondition;  // woken by resume, startAcquisition, startCapture, shutdown and the loop parking

    // Worker thread only.
    FramePool m_pool;
    std::uint64_t m_frameIndex = 0; // frames published since the loop started
    FrameAssembler assembler;
    FramePacer m_pacer;
    QElapsedTimer requestClock;  // since the latest frame request
    QElapsedTimer m_stopClock;   // since the loop first saw the stop request of this capture
    bool m_stopSeen = false;
};
