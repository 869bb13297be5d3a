#pragma once

#include "acquisition/Frame.h"
#include "acquisition/SaveRunPlan.h"
#include "analysis/LiveAnalysisSource.h"
#include "app/ConsoleState.h"
#include "app/OperatorMessage.h"
#include "playback/Recording.h"
#include "playback/RecordingOpener.h"

#include <QObject>
#include <QPointer>
#include <QString>

#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

class DisplayPipeline;
class EventLog;
class FrameRendering;
class LiveFrameCopy;
class LoopParking;
class PixelReadout;
class QProgressDialog;
class QPushButton;
class QVBoxLayout;
class QWidget;
class RecordingExport;
class RunRegionMeans;
class ReferenceCalibration;
class SaveRunFeeder;

// The consumers of the capture loop a recording is played into, and the
// loop's parking, which the playback waits for before it feeds them.
struct PlaybackTargets
{
    PixelReadout &readout;
    FrameRendering &rendering;
    LiveFrameCopy &liveFrames;
    ReferenceCalibration &references;
    SaveRunFeeder &saveRuns;
    LoopParking &loop;
};

// A recording shared by the thread that plays it and the one that exports
// from it: the mutex keeps them to one at a time, as a Recording asks.
struct SharedRecording
{
    std::mutex mutex;
    std::unique_ptr<Recording> recording;

    // Frame k read under the mutex; null with the reader's reason in *error.
    FramePtr readFrame(int k, QString *error)
    {
        std::lock_guard<std::mutex> lock(mutex);
        FramePtr frame = recording->frame(k);
        if (!frame && error)
            *error = recording->lastError();
        return frame;
    }
};

// A saved run played back through the same consumers the capture loop feeds:
// the live view with its colour modes, rotation and mirroring, calibration
// (with the references the run stored), the pixel readout and the Live
// Analysis copy. Opening runs on a thread of its own with a progress dialog
// for a long index; failures and the recording's notice reach the operator
// as one sentence each. While a recording is open the capture controls are
// locked (the window's CaptureLock), no device command is sent, and closing
// it gives back the live picture and references as they were.
//
// Thread contract: GUI thread only, except the opening thread, which only
// runs the opener and posts its result back, and an export's thread (see
// RecordingExport), which reads the recording under SharedRecording::mutex.
// m_cancelOpening is an atomic the opening thread reads.
class RecordingPlayback : public QObject
{
    Q_OBJECT

public:
    using Opener = std::function<std::unique_ptr<Recording>(const QString &path, QString *error,
                                                            const RecordingOpener::Progress &progress)>;
    // Locks the capture controls while a recording is open, frees them after.
    using CaptureLock = std::function<void(bool recordingOpen)>;

    RecordingPlayback(const PlaybackTargets &targets, ConsoleState &state, DisplayPipeline &pipeline,
                      CaptureLock lockCapture, EventLog &log,
                      OperatorMessage::Sink message = OperatorMessage::modalBox(), QObject *parent = nullptr);
    ~RecordingPlayback() override;

    // The opener (default: RecordingOpener::open).
    void setOpener(Opener opener) { m_opener = std::move(opener); }
    // Asks the operator for a recording file; empty when none was chosen.
    using FileChooser = std::function<QString()>;

    // The window the progress dialog belongs to and paths are dropped on.
    void attachTo(QWidget *window);
    // Builds "Open Recording..." into `pageLayout` (the Display page's
    // column) in a section of its own after `above`, dressed as it is.
    QPushButton *buildOpenButton(QVBoxLayout *pageLayout, QWidget *above);
    void setFileChooser(FileChooser chooser) { m_chooseFile = std::move(chooser); }
    // The open button: asks for a file and opens it.
    void chooseAndOpen();

    // Opens PATH in the background; the recording shown is replaced once the
    // new one is open. Ignored while another opening runs.
    void open(const QString &path);
    // Back to the live view, with everything as before the recording opened.
    void close();

    bool isOpen() const { return bool(m_shared); }
    bool isOpening() const { return m_opening.joinable(); }
    QString path() const;
    int frameCount() const { return m_frameCount; }
    int currentFrame() const { return m_current; }
    // When frame k was recorded, s since the Unix epoch; NaN when unknown.
    double frameTime(int k) const;
    bool canFollow() const;
    // The times of the first and last frames; nothing while none is open.
    std::optional<RunSpan> runSpan() const;
    // Looks for frames written since; returns the frame count.
    int refresh();
    // Plays frame k into the consumers; false (and the reason in the log)
    // when it cannot be read.
    bool showFrame(int k);
    // Plays the frame shown once more (a cell was picked on it); nothing
    // while no recording is open.
    void replayFrame();

    // ---- What the Save page and the It-curve ask of an open recording ------
    RunMetadata metadata() const;
    int framesFromCurrent() const { return isOpen() ? m_frameCount - m_current : 0; }
    // Feeds `count` frames from the current one to the armed save run, on a
    // thread of its own.
    void exportFrames(int count);
    // The currents of each cell (index x + 128 y) in every frame, with the
    // frames' times in s after the first frame.
    void wholeSeries(const std::vector<int> &cells, std::vector<double> &seconds,
                     std::vector<std::vector<double>> &currents);
    // The mean of `region` in every frame, as LiveAnalysisSource::runMeans
    // asks it: measured in the background (see RunRegionMeans), again for a
    // new region at once and for a run that grew once the last measure ended.
    bool runMeans(const QRect &region, std::uint64_t after, RunMeans &means);

    bool eventFilter(QObject *watched, QEvent *event) override;

signals:
    void recordingOpened();
    void recordingClosed();
    // An opening failed; the sentence was shown.
    void openFailed(const QString &sentence);
    void frameShown(int k);

private:
    void finishOpening(std::shared_ptr<SharedRecording> opened, const QString &error, const QString &path);
    void showProgress(int step);
    void endOpeningThread();
    void endExport();
    void takeOver(std::shared_ptr<SharedRecording> opened);
    void applyRunReferences();
    void giveBack();

    PlaybackTargets m_targets;
    ConsoleState &m_state;
    DisplayPipeline &m_pipeline;
    CaptureLock m_lockCapture;
    EventLog &m_log;
    OperatorMessage::Sink m_message;
    Opener m_opener;
    FileChooser m_chooseFile;
    QPointer<QWidget> m_window;
    QPointer<QProgressDialog> m_progress;

    std::thread m_opening;                   // joined on the GUI thread
    std::atomic<bool> m_cancelOpening{false}; // GUI writes, opening thread reads

    std::shared_ptr<SharedRecording> m_shared; // null while none is open
    int m_frameCount = 0;
    int m_current = 0;
    std::uint64_t m_sequence = 0;            // number of the last frame played
    FramePtr m_liveFrame;                    // the newest live frame when the recording opened
    RunReferences m_liveReferences;          // the references in use then
    std::unique_ptr<RecordingExport> m_export;
    std::unique_ptr<RunRegionMeans> m_means; // the region means of the open recording
    std::uint64_t m_meansVersion = 0;        // of the last measure started; never goes back
};
