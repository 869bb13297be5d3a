#pragma once

#include "ConsoleState.h"
#include "D2xxTypes.h"
#include "DeviceSession.h"
#include "ReceiverThread.h"
#include "SaveRunPlan.h"

#include <QElapsedTimer>
#include <QImage>
#include <QMainWindow>
#include <QPointer>
#include <QString>
#include <QThread>
#include <QTimer>

#include <memory>
#include <vector>

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
class QHBoxLayout;

namespace Ui {
class MainWindow;
}

// The console's single top-level window and its controller. It owns the form,
// the device handle, the acquisition worker (a member object living in its own
// thread) and the timers; every page's behaviour is a slot here.
//
// Thread contract: every member is used on the GUI thread only. The worker
// lives in `workerThread`; the window drives it by direct calls to its
// operations (which take the worker's own locks or write its atomics) and hears
// from it only through queued signals.
class MainWindow : public QMainWindow
{
    Q_OBJECT

public:
    // context: what the console runs with; it must outlive the window.
    explicit MainWindow(const ConsoleContext &context, QWidget *parent = nullptr);
    ~MainWindow() override;

    ReceiverThread &receiver() { return worker; }
    QThread &receiverThread() { return workerThread; }
    const QString &parameterSummaryText() const { return parameterSummary; }
    bool isCaptureRunning() const { return state.running; }
    bool isDeviceConnected() const { return state.connected; }

    // The flows behind the slots (for tests and the recognition page).
    DeviceConnection &connection() { return *deviceConnection; }
    DisplayPipeline &displayPipeline() { return *pipeline; }
    KeepRatioWidget *liveView() const { return display; }
    SavePanel &saves() { return *savePanel; }
    ParameterPanel &parameters() { return *parameterPanel; }
    ItCurvePage &itCurve() { return *curvePage; }
    RecognitionPage &recognition() { return *recognitionPage; }
    LiveAnalysisPage &liveAnalysis() { return *analysisPage; }
    DeviceStatusStrip &statusStrip() { return *m_statusStrip; }
    RecordingPlayback &playback() { return *m_playback; }
    PlaybackBar &playbackBar() { return *m_playbackBar; }
    ColourScaleBar &colourScale() { return *m_colourScale; }
    RunFolderLink &runFolderLink() { return *m_runFolder; }
    bool isDeviceConfigured() const { return state.configured; }
    // Brings the status strip and the live marks up to date (its timer does
    // it four times a second).
    void refreshStatus();
    // The simulator controls window (Ctrl+Shift+S), or null when the device
    // is a real one or the window was never opened.
    SimulatorControlWindow *simulatorControls() const;
    void openSimulatorControls();

public slots:
    void handleSetMaxSuccess();
    void handleSetMinSuccess();
    void handleSaveMessage(int index);
    void handle_close_button_click();
    void handle_max_size_button_click();
    void handle_mini_size_button_click();
    void handle_connect_button_click();
    void handle_play_button_click();
    void handle_stop_button_click();
    void handle_set_button_click();
    void handle_voltage_about_button_click();
    void handle_set_full_off_click();
    void handle_set_full_on_click();
    void getBattery();
    void handle_save_path_button_click();
    void receive_errorOccurred(QString errormessage);
    void updateFPS();
    void handle_display_image_rotate();
    void handle_display_image_mirrorHorizontal();
    void handle_display_image_mirrorVertical();
    void handle_save_data_click();
    void handle_cali_data_click();
    void handle_radio_button_toggled(bool checked);
    void handle_Display_show_mode(bool checked);
    void saveSettings();
    void loadSettings();
    void slotTest();
    void OpenCanvas();
    void Fillcoordinates(int index);
    void StartCollect();
    void StopCollect();
    void onCanvasClosed();
    void SlotSaveModePicture();
    void SlotOFFSetOn();
    void SlotOFFSetOff();
    void Recognize();
    void savedata(std::shared_ptr<std::vector<std::vector<double>>> data, double duration);
    void SetClickedLocate(int x, int y);
    void SetDoubleClickedLocate(int x, int y);

protected:
    bool nativeEvent(const QByteArray &eventType, void *message, qintptr *result) override;
    void resizeEvent(QResizeEvent *event) override;

private:
    RunMetadata runMetadata() const;
    void buildControllers();
    void buildPlayback();
    void buildLiveView();
    void connectButtons();
    void connectWorker();
    void buildNavigation();
    void applyInputConstraints();
    void buildStatusViews();
    void setIconToolTips();
    void showColourScale();
    // The screen's refresh interval, at most kMaxRefreshHz.
    int refreshIntervalMs() const;
    // Takes what the capture loop's consumers hold for the window: the newest
    // picture, the selected cell's current, the It-curve steps and the save
    // progress.
    void refreshFromCapture();

    static constexpr double kMaxRefreshHz = 60.0;

    const ConsoleContext &context;
    Ui::MainWindow *ui;
    QThread workerThread;           // no parent; started in the constructor, joined in the destructor
    QTimer batteryTimer;            // 300000 ms, drives getBattery
    QTimer *fpsTimer = nullptr;     // child of the window, drives updateFPS
    QTimer refreshTimer;            // at the screen's refresh rate, drives refreshFromCapture
    int shownSaveProgress = 0;      // the save progress last shown
    ReceiverThread worker;          // moved to workerThread
    DeviceSession session;          // the window's own device exchanges and the held handle
    QString parameterSummary;
    // Running, connected and calibration-open flags; the device handle and
    // status live in `session`, the device-list attempt counter in DeviceList.
    ConsoleState state;

    // The live view inside widget_display.
    KeepRatioWidget *display = nullptr;
    QHBoxLayout *displayLayout = nullptr;

    // The controllers behind the slots, children of the window, built in
    // dependency order by buildControllers. Each page controller builds and
    // connects its own run-time widgets: the calibration buttons (widget_7),
    // the It-curve rows (widget_9) and the recognition controls (widget_24).
    // The integration search lives in ParameterPanel; rotation, mirroring,
    // display mode and the frame-rate counters in DisplayPipeline.
    WorkerGate *gate = nullptr;     // orders the window's device exchanges after the worker's reads
    DisplayPipeline *pipeline = nullptr;
    CaptureControl *capture = nullptr;
    DeviceConnection *deviceConnection = nullptr;
    ParameterPanel *parameterPanel = nullptr;
    SavePanel *savePanel = nullptr;
    ItCurvePage *curvePage = nullptr;
    RecognitionPage *recognitionPage = nullptr;
    LiveAnalysisPage *analysisPage = nullptr;
    RecordingPlayback *m_playback = nullptr; // a saved run played through the consumers above
    PlaybackBar *m_playbackBar = nullptr;    // under the live picture while a recording is open
    QPointer<SimulatorControlWindow> simulatorWindow;

    // What the operator sees about the device, children of the form.
    DeviceStatusStrip *m_statusStrip = nullptr; // under the live picture
    ColourScaleBar *m_colourScale = nullptr;    // beside the live picture
    RunFolderLink *m_runFolder = nullptr;       // on the save page
    QLabel *m_rangeTiming = nullptr;            // beside the range on the settings page
    QTimer m_statusTimer;                       // drives refreshStatus
};
