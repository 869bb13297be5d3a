#pragma once

#include "DisplayLevels.h"
#include "DisplayScale.h"
#include "FrameAssembler.h"
#include "FrameHealth.h"
#include "FramePacer.h"
#include "FrameTypes.h"
#include "PixelSeriesSampler.h"
#include "ReferenceCalibrator.h"
#include "SaveOutcome.h"
#include "SaveRunPlan.h"
#include "SaveRunWriter.h"

#include "D2xxTypes.h"

#include <QElapsedTimer>
#include <QImage>
#include <QMutex>
#include <QObject>
#include <QString>
#include <QStringList>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <vector>

class ConsoleContext;
class D2xxBackend;


// The acquisition worker. The main window keeps one as a member, moves it to
// its own QThread and starts the capture loop (`process`) from the thread's
// started signal. It owns everything between the open device handle and the
// GUI: frame assembly, calibration references, rendering, recording and the
// save runs. It reports only through signals (queued to the GUI thread).
//
// Save runs: armSaveRun hands the loop a plan; each of the next frames goes,
// as it arrives, to the save-run writer, which streams it to disk on a thread
// of its own. The run ends when its last frame is gathered, or early
// (endSaveRun) with everything gathered so far kept; saveFinished tells how
// it went.
//
// Thread contract, in short: the GUI thread calls the operations and writes
// the public flags; the loop runs on the worker thread. `paused`,
// `quitRequested` and `parked` are guarded by `mutex`; the armed save run by
// `m_runMutex`; the calibration references and their times by
// `referenceMutex`; the It-curve pixel list by `seriesMutex`; the newest frame
// for the live analysis by `m_liveMutex`. Every other shared flag or scalar is
// a std::atomic; the operations that take a list or a plan do the ordering
// themselves.
class ReceiverThread : public QObject
{
    Q_OBJECT

public:
    // How the loop waits for a frame: asleep through most of the device's
    // frame time (the default), or polling without pause (lowest latency, one
    // busy core; kept for comparison).
    enum class WaitStrategy { Sleep, BusyPoll };

    explicit ReceiverThread(const ConsoleContext &context, QObject *parent = nullptr);
    ~ReceiverThread() override;

    // ---- The armed save run's kinds, for anyone to read (armSaveRun sets
    // them, the end of the run clears them) ----
    std::atomic<bool> saveCsvOnCompletion{false}; // the run writes the CSV files
    std::atomic<bool> savePictures{false};        // the run writes a PNG per frame
    std::atomic<bool> saveVideo{false};           // the run writes an MP4
    // ---- Flags the GUI writes directly (GUI writes, loop reads and clears) ----
    std::atomic<bool> fullOnPending{false};       // full-on reference being gathered
    std::atomic<bool> fullOffPending{false};      // full-off reference being gathered
    std::atomic<bool> seriesEnabled{false};       // It-curve sampling; startSeries / stopSeries set it
    std::atomic<bool> modePictureRequested{false}; // next frame becomes the recognition template

    // Written by the connect flow (GUI thread) while the loop is parked, read
    // by every device call of the loop.
    std::atomic<FT_HANDLE> deviceHandle{nullptr};
    // Result of the latest device call of either thread; only ever compared with 0.
    std::atomic<FT_STATUS> lastStatus{0};

    // ---- Operations (GUI thread) -------------------------------------------
    // The device the loop reads from now on (null: none); call while it is parked.
    void useDevice(FT_HANDLE handle, FT_STATUS status = FT_OK)
    {
        lastStatus.store(status);
        deviceHandle.store(handle);
    }
    void setCurrentRange(int range);
    void setDisplayMode(int mode);
    void setIntegralTime(double value);
    void setIntegralCurrent(double value);
    void setCalibrationEnabled(bool enabled);
    void setVideoFps(int fps);
    void setSelectedPixel(int index);
    // Arms a save run: the plan's next frames go to the save-run writer (the
    // plan's folder exists). A run still armed ends first, interrupted by "a
    // new save run was started". A plan of fewer than one frame is refused
    // (saveFailed).
    void armSaveRun(const SaveRunPlan &plan);
    // Ends the armed run early, keeping every frame gathered so far; `reason`
    // says why ("capture was stopped"). Without an armed run nothing happens.
    void endSaveRun(const QString &reason);
    bool isSaveRunArmed() const;
    // Blocks until every run handed to the writer is on disk and reported.
    void waitForSaveRuns();
    // The same for at most timeoutMs; false when the writer is still busy (a stalled disk).
    bool waitForSaveRuns(int timeoutMs);
    // Frames handed to the writer that are not on disk yet.
    int saveFramesPending() const;
    // Makes the sinks of the runs armed from now on (default: the sinks of
    // the plan's kinds). For tests and the soak benchmark: a sink that blocks
    // or fails stands for a stalled or full disk.
    using SinkFactory = std::function<std::vector<std::unique_ptr<RunSink>>(const SaveRunPlan &plan)>;
    void setSinkFactory(SinkFactory factory);
    // The live picture's display levels (saved data never depends on them).
    void setDisplayLevels(const DisplayLevels &levels);
    // What the colours of the last picture sent stand for (any thread).
    DisplayScale shownScale() const;
    // Replaces both references (16384 values each), as loaded from a file.
    void setReferences(const RunReferences &references);
    // The references with the times they were taken at.
    RunReferences referencesSnapshot() const;
    // While on, the loop keeps a copy of the newest frame's currents for newestFrame.
    void setLiveFramePublishing(bool on) { m_publishLive.store(on); }
    // The newest frame when it is newer than `after` (a sequence number).
    bool newestFrame(std::uint64_t after, std::vector<double> &currents, std::uint64_t &sequence,
                     qint64 &timeMs) const;
    // Moves the list in; the caller's vector is left empty. At most 3 entries are used.
    void setSeriesPixels(std::vector<int> &&pixels);
    void holdSeriesClock();
    // It-curve sampling of these cells (at most 3), from the next frame on.
    void startSeries(std::vector<int> pixels);
    // Stops the sampling; a later start continues the time axis where it stopped.
    void stopSeries();
    // Stops the sampling without holding the time axis (the plot went away).
    void endSeries() { seriesEnabled.store(false, std::memory_order_release); }
    // The next frames become the full-on (full-off) reference; the next frame
    // becomes the recognition template.
    void requestFullOn() { fullOnPending.store(true); }
    void requestFullOff() { fullOffPending.store(true); }
    void requestTemplatePicture() { modePictureRequested.store(true); }
    // Writes the start command, drops its answer, writes the first frame
    // request and lets the loop read. Call only while the loop is parked.
    void startAcquisition();
    void requestStop();
    void pause();
    void resume();
    void shutdown();
    // Play and Stop as one operation each: resume then start; request the stop
    // then pause (the loop finishes the frame in flight, sends the stop
    // command, consumes its answer and parks).
    void startCapture();
    void stopCapture();

    // Blocks the calling (GUI) thread until the loop sits on its wait condition,
    // at most timeoutMs; true when it is parked.
    bool waitUntilParked(int timeoutMs);
    bool isParked() const;

    // A frame request whose frame has not completed after this long is given up:
    // the receive queue is purged and a new request is written.
    void setFrameTimeoutMs(int ms);
    void setWaitStrategy(WaitStrategy strategy) { m_waitStrategy.store(strategy); }
    FrameHealth frameHealth() const;

    // Called on the worker thread with every frame's currents (nA) and the
    // gray levels a save run records, before the frame is shown; it must be
    // quick, as it holds the loop. An empty observer stops the calls.
    using FrameObserver = std::function<void(const CurrentFrame &currents, const std::vector<std::uint8_t> &gray)>;
    void setFrameObserver(FrameObserver observer);

    // ---- Read-only views (any thread) ----------------------------------------
    int currentRangeValue() const { return currentRange.load(); }
    int displayModeValue() const { return displayMode.load(); }
    double integralTimeValue() const { return integralTime.load(); }
    double integralCurrentValue() const { return integralCurrent.load(); }
    bool isRecording() const { return recording.load(std::memory_order_acquire); }
    bool isRunning() const { return running.load(); }
    std::vector<double> fullOnReferenceSnapshot() const;
    std::vector<double> fullOffReferenceSnapshot() const;

public slots:
    // The capture loop; runs on the worker thread until shutdown.
    void process();

signals:
    void onCellclicked(double current);
    void errorOccurred(QString errormessage);
    void sendImagetoMain(QImage displayImage);
    void finished();
    void savemessage(int index);
    void setMaxSuccess();
    void setMinSuccess();
    void pixelCurrentDataUpdated(std::shared_ptr<std::vector<std::vector<double>>> sharedData, double duration);
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

    // Outer pass: waits while paused or not running; false once quitting.
    bool waitForCapture();
    void runReadLoop(std::vector<unsigned char> &readBuffer, RawFrame &rawFrame);
    FrameWait pollDevice(std::vector<unsigned char> &readBuffer, RawFrame &rawFrame, int &readErrorCount,
                         bool &leavePass);
    void waitForBytes();
    bool stopOverdue();
    void processFrame(const RawFrame &rawFrame);
    void reportSelectedPixel(const RawFrame &rawFrame, int range);
    void sampleSeries(const RawFrame &rawFrame, int range);
    void feedCalibration(const RawFrame &rawFrame, int range);
    QImage renderFrame(const RawFrame &rawFrame, int range, bool withGray, QImage *saved);
    void publishToSharedMemory();
    void publishLiveFrame(qint64 arrivedMs);
    void recordFrame(std::chrono::system_clock::time_point arrived, const QImage &picture);
    void endRunLocked(const QString &interruption); // m_runMutex held
    void clearRunFlags();
    void saveModePicture(const QImage &image);
    void requestNextFrame();
    void giveUpFrame(bool timedOut);
    void endCapture();
    void consumeStopAnswer();
    void purgeReceiveQueue();
    bool writeCommand(const std::vector<std::uint8_t> &command);
    void leaveReadLoop(); // running = false under the mutex

    // Set once in the constructor; the backend itself may be called from any thread.
    const std::shared_ptr<D2xxBackend> m_backend;
    // The command frames the loop sends (built once from DeviceProtocol).
    const std::vector<std::uint8_t> m_startCommand;
    const std::vector<std::uint8_t> m_frameRequest;
    const std::vector<std::uint8_t> m_stopCommand;

    // Persistence of the three parameters below, in the console's settings
    // store (GUI thread, at construction and destruction only).
    const ConsoleContext &m_context;

    std::atomic<bool> stopRequested{false};  // GUI sets (requestStop), startAcquisition clears
    // The read loop runs while set. Written under `mutex` by the GUI
    // (startAcquisition, shutdown) and by the loop when it leaves reading.
    std::atomic<bool> running{false};
    std::atomic<bool> calibrationEnabled{false};
    std::atomic<double> integralTime{0.0};    // persisted only
    std::atomic<double> integralCurrent{0.0}; // persisted only
    std::atomic<int> videoFps{18};
    std::atomic<int> currentRange{150};       // nA, scale of the pixel conversion

    // Guarded by `mutex`.
    bool paused = false;
    bool quitRequested = false;
    bool parked = false; // the loop sits on pauseCondition

    // GUI stores with release after the lists are clear; the loop loads with acquire.
    std::atomic<bool> recording{false}; // a save run is armed (mirrors m_run.armed)
    std::atomic<int> selectedPixel{0};

    const int frameLength = Zk128::FrameLength;
    const int pixelCount = Zk128::PixelCount;
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

    // Guarded by `referenceMutex`: the loop calibrates and renders with them, the
    // GUI refills the full-on reference in setCurrentRange. A time is set when
    // the reference was measured (or loaded with one).
    mutable QMutex referenceMutex;
    std::vector<double> fullOffReference;
    std::vector<double> fullOnReference;
    std::optional<std::chrono::system_clock::time_point> m_fullOffTaken;
    std::optional<std::chrono::system_clock::time_point> m_fullOnTaken;
    // Worker thread only: one gatherer per kind, so the two never share frames.
    ReferenceCalibrator fullOnCalibrator;
    ReferenceCalibrator fullOffCalibrator;

    // Worker thread only: scratch of the frame being processed.
    std::vector<double> latestCurrents;
    std::vector<std::uint8_t> frameGray;
    bool m_frameCalibrated = false; // the frame being processed was rendered between the references

    // The armed save run, guarded by `m_runMutex` (GUI: arm and end; loop:
    // gathering). The lock is never held while a frame waits for room in the
    // writer; each frame carries its run's writer number instead, so a run
    // never receives a frame numbered for another.
    struct ArmedRun {
        bool armed = false;
        SaveRunPlan plan;
        int gathered = 0;
        std::uint64_t writerRun = 0; // the writer's number of this run
    };
    mutable std::mutex m_runMutex;
    ArmedRun m_run;
    SinkFactory m_sinkFactory; // guarded by m_runMutex; empty: the plan's own sinks
    // The writer of every save run; itself thread-safe. Declared after the
    // references, which its callback never touches.
    SaveRunWriter m_writer;

    const QString modePicturePath; // the recognition template, in the detect folder

    // Display levels: set by the GUI (setDisplayLevels), read by the loop;
    // the scale of the last rendered picture: written by the loop, read by
    // the GUI (shownScale). Both guarded by m_levelsMutex.
    mutable std::mutex m_levelsMutex;
    DisplayLevels m_levels;
    DisplayScale m_shownScale;

    // The newest frame for the live analysis, guarded by `m_liveMutex`
    // (written by the loop while m_publishLive is set, read by the GUI). The
    // loop copies a frame only once the previous copy was taken: the reader
    // comes at most 30 times a second, the frames up to 800.
    std::atomic<bool> m_publishLive{false};
    mutable std::mutex m_liveMutex;
    std::vector<double> m_liveCurrents;
    std::uint64_t m_liveSequence = 0;
    qint64 m_liveTimeMs = 0;
    mutable bool m_liveTaken = true;

    // Standard primitives rather than QMutex/QWaitCondition: a QWaitCondition
    // wait hands the mutex over inside Qt, where the thread sanitizer cannot
    // see it, and every pause/resume would then read as a race.
    mutable std::mutex mutex;
    std::condition_variable pauseCondition;  // woken by resume, startAcquisition, shutdown
    std::condition_variable parkedCondition; // woken by the loop when it parks

    std::atomic<int> displayMode{0};

    // The frame observer: set by any thread, called by the loop, guarded by
    // `m_observerMutex`; `m_observed` mirrors whether one is set.
    std::atomic<bool> m_observed{false};
    std::mutex m_observerMutex;
    FrameObserver m_observer;

    // It-curve: `seriesPixels` guarded by `seriesMutex`; the clock values are
    // atomics (GUI holds, loop samples); the sampler itself is worker-thread only.
    QMutex seriesMutex;
    std::vector<int> seriesPixels;
    std::vector<int> seriesScratch; // worker thread only: this frame's copy of seriesPixels
    std::atomic<double> heldElapsed{0.0};
    std::atomic<double> lastElapsed{0.0};
    std::atomic<bool> rebaseClock{false};
    PixelSeriesSampler seriesSampler;

    // Worker thread only.
    FrameAssembler assembler;
    FramePacer m_pacer;
    QElapsedTimer requestClock;  // since the latest frame request
    QElapsedTimer m_stopClock;   // since the loop first saw the stop request of this capture
    bool m_stopSeen = false;
};
