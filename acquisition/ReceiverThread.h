#pragma once

#include "FrameAssembler.h"
#include "FrameSaver.h"
#include "FrameTypes.h"
#include "PixelSeriesSampler.h"
#include "ReferenceCalibrator.h"

#include "D2xxTypes.h"

#include <QElapsedTimer>
#include <QImage>
#include <QMutex>
#include <QObject>
#include <QSettings>
#include <QString>
#include <QStringList>

#include <array>
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <vector>

// The acquisition worker. The main window keeps one as a member, moves it to
// its own QThread and starts the capture loop (`process`) from the thread's
// started signal. It owns everything between the open device handle and the
// GUI: frame assembly, calibration references, rendering, recording and the
// save runs. It reports only through signals (queued to the GUI thread).
//
// Thread contract, in short: the GUI thread calls the operations and writes
// the public flags; the loop runs on the worker thread. `paused`,
// `quitRequested` and `parked` are guarded by `mutex`; the recording lists and
// the save names by `recordingMutex`; the calibration references by
// `referenceMutex`; the It-curve pixel list by `seriesMutex`. Every other
// shared flag or scalar is a std::atomic. A flag that makes the loop read a
// string or list is stored with release and loaded by the loop with acquire.
class ReceiverThread : public QObject
{
    Q_OBJECT

public:
    explicit ReceiverThread(QObject *parent = nullptr);
    ~ReceiverThread() override;

    // ---- Flags the GUI writes directly (GUI writes, loop reads and clears) ----
    std::atomic<bool> saveCsvOnCompletion{false}; // write the four CSV files when the recording completes
    std::atomic<bool> savePictures{false};        // PNG per frame of the next save run
    std::atomic<bool> saveVideo{false};           // MP4 of the next save run
    std::atomic<bool> fullOnPending{false};       // full-on reference being gathered
    std::atomic<bool> fullOffPending{false};      // full-off reference being gathered
    std::atomic<bool> seriesEnabled{false};       // It-curve sampling; store with release after setSeriesPixels
    std::atomic<bool> modePictureRequested{false}; // next frame becomes the recognition template

    // Written by the connect flow (GUI thread), read by every device call of the loop.
    std::atomic<FT_HANDLE> deviceHandle{nullptr};
    // Result of the latest device call of either thread; only ever compared with 0.
    std::atomic<FT_STATUS> lastStatus{0};

    // ---- Operations (GUI thread) -------------------------------------------
    void setCurrentRange(int range);
    void setDisplayMode(int mode);
    void setIntegralTime(double value);
    void setIntegralCurrent(double value);
    void setCalibrationEnabled(bool enabled);
    void setVideoFps(int fps);
    void setSelectedPixel(int index);
    // Refused (nothing recorded, saveFailed emitted) while framesToSave < 1.
    void setRecording(bool enabled);
    void setFramesToSave(int count);
    void setSaveName(const QString &name);
    void setSavePath(const QString &path);
    // Safe during a recording: the recording starts over from its next frame.
    void clearRecordedFrames();
    // Moves the list in; the caller's vector is left empty. At most 3 entries are used.
    void setSeriesPixels(std::vector<int> &&pixels);
    void holdSeriesClock();
    void startAcquisition();
    void requestStop();
    void pause();
    void resume();
    void shutdown();

    // Blocks the calling (GUI) thread until the loop sits on its wait condition,
    // at most timeoutMs; true when it is parked. The window calls it after a
    // stop, before its own device exchanges.
    bool waitUntilParked(int timeoutMs);
    bool isParked() const;

    // A frame request whose frame has not completed after this long is given up:
    // the partial bytes are dropped and a new request is written.
    void setFrameTimeoutMs(int ms);
    // Where the recognition template is written (default: <application dir>/detect/mode.png).
    void setModePicturePath(const QString &path);

    // ---- Read-only views (any thread) ----------------------------------------
    int currentRangeValue() const { return currentRange.load(); }
    int displayModeValue() const { return displayMode.load(); }
    int framesToSaveValue() const { return framesToSave.load(); }
    double integralTimeValue() const { return integralTime.load(); }
    double integralCurrentValue() const { return integralCurrent.load(); }
    bool isRecording() const { return recording.load(std::memory_order_acquire); }
    bool isRunning() const { return running.load(); }
    std::vector<double> fullOnReferenceSnapshot() const;
    std::vector<double> fullOffReferenceSnapshot() const;
    int recordedFrameCount() const;

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
    // A save or recording request that could not be carried out, as one sentence.
    void saveFailed(QString message);

private:
    enum class FrameWait { Pending, Taken, GiveUp };

    void loadSettings();
    void saveSettings();

    // Outer pass: waits while paused or not running; false once quitting.
    bool waitForCapture();
    void runReadLoop(std::vector<unsigned char> &readBuffer, RawFrame &rawFrame, DWORD &rxQueue);
    FrameWait pollDevice(std::vector<unsigned char> &readBuffer, RawFrame &rawFrame,
                         DWORD &rxQueue, int &readErrorCount, bool &leavePass);
    void processFrame(const RawFrame &rawFrame);
    void takeTimestamp();
    void reportSelectedPixel(const RawFrame &rawFrame, int range);
    void sampleSeries(const RawFrame &rawFrame, int range);
    void feedCalibration(const RawFrame &rawFrame, int range);
    QImage renderFrame(const RawFrame &rawFrame, int range, bool recordThis);
    void publishToSharedMemory();
    void recordFrame();
    void completeRecording(int count);
    bool saveRecordedData(const QString &folder, const QString &name,
                          const std::vector<std::vector<double>> &currents,
                          const std::vector<std::vector<std::uint8_t>> &gray,
                          const QStringList &stamps);
    void runSaveStep(const QImage &image);
    bool refuseEmptySaveRun();
    void requestNextFrame();
    void giveUpFrame();
    bool writeCommand(const std::array<unsigned char, 5> &command);

    static constexpr std::array<unsigned char, 5> startCommand{0xAE, 0xAA, 0x02, 0x5A, 0x0A};
    static constexpr std::array<unsigned char, 5> nextFrameCommand{0xAE, 0xAA, 0x05, 0x5D, 0x0A};
    static constexpr std::array<unsigned char, 5> stopCommand{0xAE, 0xAA, 0x03, 0x5B, 0x0A};

    // Owned by the worker: persistence of the three parameters below (GUI thread
    // at construction and destruction only).
    QSettings settings;

    std::atomic<bool> stopRequested{false};  // GUI sets (requestStop), startAcquisition clears
    // The read loop runs while set. Written by the GUI under `mutex` (so a parked
    // loop cannot miss it) and by the loop after the stop command.
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
    std::atomic<bool> recording{false};
    std::atomic<int> selectedPixel{0};

    const int frameLength = Zk128::FrameLength;
    const int pixelCount = Zk128::PixelCount;
    const ULONG readTimeoutMs = 1000;
    const ULONG writeTimeoutMs = 1000;

    std::atomic<int> framesToSave{1};
    std::atomic<int> frameTimeoutMs{3000};

    // Guarded by `referenceMutex`: the loop calibrates and renders with them, the
    // GUI refills the full-on reference in setCurrentRange.
    mutable QMutex referenceMutex;
    std::vector<double> fullOffReference;
    std::vector<double> fullOnReference;
    // Worker thread only: one gatherer per kind, so the two never share frames.
    ReferenceCalibrator fullOnCalibrator;
    ReferenceCalibrator fullOffCalibrator;

    // Worker thread only: scratch of the frame being processed.
    std::vector<double> latestCurrents;
    std::vector<std::uint8_t> frameGray;
    QString pendingTimestamp; // time of the frame being recorded

    // Guarded by `recordingMutex` (GUI: clearRecordedFrames and the setters;
    // loop: appending, completion).
    mutable QMutex recordingMutex;
    int recordedCount = 0;
    int timestampCount = 0;
    QStringList timestamps;
    std::vector<std::vector<double>> recordedCurrents;
    std::vector<std::vector<std::uint8_t>> recordedGray; // gray levels as bytes: same text, 1/8 of the memory
    QString savePath;
    QString saveName;
    QString modePicturePath;

    // Standard primitives rather than QMutex/QWaitCondition: a QWaitCondition
    // wait hands the mutex over inside Qt, where the thread sanitizer cannot
    // see it, and every pause/resume would then read as a race.
    mutable std::mutex mutex;
    std::condition_variable pauseCondition;  // woken by resume, startAcquisition, shutdown
    std::condition_variable parkedCondition; // woken by the loop when it parks

    std::atomic<int> displayMode{0};

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
    FrameSaver frameSaver;
    QElapsedTimer requestClock; // since the latest frame request
};
