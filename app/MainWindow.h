#pragma once

#include "acquisition/ReceiverThread.h"
#include "acquisition/SaveRunPlan.h"
#include "app/ConsoleState.h"
#include "device/DeviceSession.h"

#include <QMainWindow>
#include <QPointer>
#include <QString>
#include <QThread>
#include <QTimer>

class CaptureControl;
class ColourScaleBar;
class DeviceStatusStrip;
class QLabel;
class RunFolderLink;
class ConsoleContext;
class DeviceConnection;
class DisplayPipeline;
class ItCurvePage;
class LiveAnalysisPage;
class RecognitionPage;
class KeepRatioWidget;
class ParameterPanel;
class PlaybackBar;
class RecordingPlayback;
class SavePanel;
class SimulatorControlWindow;
class WorkerGate;

namespace Ui {
class MainWindow;
}

// The console's single top-level window and its composition root. It owns the
// form, the acquisition worker (a member object living in its own thread) and
// the timers, builds the page controllers and connects the form, the worker
// and the timers to them; the behaviour lives in the controllers.
//
// Thread contract: every member is used on the GUI thread only. The worker
// lives in `m_workerThread`; the window drives it by direct calls to its
// operations (which take the worker's own locks or write its atomics) and hears
// from it only through queued signals.
class MainWindow : public QMainWindow
{
    Q_OBJECT

public:
    // context: what the console runs with; it must outlive the window.
    explicit MainWindow(const ConsoleContext &context, QWidget *parent = nullptr);
    ~MainWindow() override;

    ReceiverThread &receiver() { return m_worker; }
    QThread &receiverThread() { return m_workerThread; }
    const QString &parameterSummaryText() const { return m_parameterSummary; }
    bool isCaptureRunning() const { return m_state.running; }
    bool isDeviceConnected() const { return m_state.connected; }
    bool isDeviceConfigured() const { return m_state.configured; }

    // The controllers the window composes (for tests and tools).
    DeviceConnection &connection() { return *m_connection; }
    DisplayPipeline &displayPipeline() { return *m_pipeline; }
    KeepRatioWidget *liveView() const { return m_display; }
    SavePanel &saves() { return *m_savePanel; }
    ParameterPanel &parameters() { return *m_parameterPanel; }
    ItCurvePage &itCurve() { return *m_curvePage; }
    RecognitionPage &recognition() { return *m_recognitionPage; }
    LiveAnalysisPage &liveAnalysis() { return *m_analysisPage; }
    DeviceStatusStrip &statusStrip() { return *m_statusStrip; }
    RecordingPlayback &playback() { return *m_playback; }
    PlaybackBar &playbackBar() { return *m_playbackBar; }
    ColourScaleBar &colourScale() { return *m_colourScale; }
    RunFolderLink &runFolderLink() { return *m_runFolder; }
    // The simulator controls window (Ctrl+Shift+S), or null when the device
    // is a real one or the window was never opened.
    SimulatorControlWindow *simulatorControls() const;
    // Stores the form's fields and choices (also when the window closes).
    void saveSettings() const;

public slots:
    // Brings the status strip and the live marks up to date (its timer does
    // it four times a second).
    void refreshStatus();
    void openSimulatorControls();

protected:
    bool nativeEvent(const QByteArray &eventType, void *message, qintptr *result) override;
    void resizeEvent(QResizeEvent *event) override;

private slots:
    void closeAfterConfirmation();
    void toggleMaximised();
    void showVoltageHelp();
    void showColourScale();
    void showCellCurve(int x, int y);
    // Takes what the capture loop's consumers hold for the window: the newest
    // picture, the selected cell's current, the It-curve steps and the save
    // progress.
    void refreshFromCapture();

private:
    RunMetadata runMetadata() const;
    void buildStatusViews();
    void buildLiveView();
    void buildControllers();
    void buildPlayback();
    void connectForm();
    void connectWorker();
    // The screen's refresh interval, at most kMaxRefreshHz.
    int refreshIntervalMs() const;

    static constexpr double kMaxRefreshHz = 60.0;
    static constexpr int kStatusIntervalMs = 250;

    const ConsoleContext &m_context;
    Ui::MainWindow *m_ui;
    QThread m_workerThread;          // no parent; started in the constructor, joined in the destructor
    QTimer m_batteryTimer;           // every DeviceConnection::kBatteryIntervalMs, polls the battery
    QTimer *m_fpsTimer = nullptr;    // child of the window, counts the frame rate
    QTimer m_refreshTimer;           // at the screen's refresh rate, drives refreshFromCapture
    int m_shownSaveProgress = 0;     // the save progress last shown
    ReceiverThread m_worker;         // moved to m_workerThread
    DeviceSession m_session;         // the window's own device exchanges and the held handle
    QString m_parameterSummary;
    // Running, connected and calibration-open flags; the device handle and
    // status live in `m_session`, the device-list attempt counter in DeviceList.
    ConsoleState m_state;

    // The live view inside widget_display.
    KeepRatioWidget *m_display = nullptr;

    // The controllers, children of the window, built in dependency order by
    // buildControllers. Each page controller builds and connects its own
    // run-time widgets: the calibration buttons (widget_7), the It-curve rows
    // (widget_9) and the recognition controls (widget_24). The integration
    // search lives in ParameterPanel; rotation, mirroring, display mode and the
    // frame-rate counters in DisplayPipeline.
    WorkerGate *m_gate = nullptr;    // orders the window's device exchanges after the worker's reads
    DisplayPipeline *m_pipeline = nullptr;
    CaptureControl *m_capture = nullptr;
    DeviceConnection *m_connection = nullptr;
    ParameterPanel *m_parameterPanel = nullptr;
    SavePanel *m_savePanel = nullptr;
    ItCurvePage *m_curvePage = nullptr;
    RecognitionPage *m_recognitionPage = nullptr;
    LiveAnalysisPage *m_analysisPage = nullptr;
    RecordingPlayback *m_playback = nullptr; // a saved run played through the consumers above
    PlaybackBar *m_playbackBar = nullptr;    // under the live picture while a recording is open
    QPointer<SimulatorControlWindow> m_simulatorWindow;

    // What the operator sees about the device, children of the form.
    DeviceStatusStrip *m_statusStrip = nullptr; // under the live picture
    ColourScaleBar *m_colourScale = nullptr;    // beside the live picture
    RunFolderLink *m_runFolder = nullptr;       // on the save page
    QLabel *m_rangeTiming = nullptr;            // beside the range on the settings page
    QTimer m_statusTimer;                       // drives refreshStatus
};
