#pragma once

#include "app/ConsoleState.h"
#include "app/OperatorMessage.h"

#include <QObject>

#include <functional>

class EventLog;
class CaptureSwitch;
class FrameRendering;
class QPushButton;
class QTimer;
class QWidget;
class ReferenceCalibration;
class SaveRunFeeder;
class WorkerGate;

// The widgets of capture control: three of the form's, and the area where
// the calibration buttons are built.
struct CaptureWidgets
{
    QPushButton *play = nullptr;        // pushButton_play
    QWidget *playArea = nullptr;        // widget_play
    QPushButton *set = nullptr;         // pushButton_set
    QWidget *calibrationArea = nullptr; // widget_7
};

// What capture control drives: the capture loop's Play and Stop, the save
// run a Stop ends, calibration on or off, the reference requests.
struct CaptureTargets
{
    CaptureSwitch &loop;
    SaveRunFeeder &saveRuns;
    FrameRendering &rendering;
    ReferenceCalibration &references;
};

// Starting and stopping a capture, the calibration controls, the full-on and
// full-off reference requests and their reports.
//
// Thread contract: GUI thread only; the worker is driven through its own
// operations (which lock or write atomics) and reports through queued signals.
// A start waits in the WorkerGate while the worker is still finishing the
// last capture, so Play never blocks the window.
class CaptureControl : public QObject
{
    Q_OBJECT

public:
    static constexpr int kFpsIntervalMs = 2000;
    // The play button's accessible name, which follows the capture state.
    static constexpr char kStartCaptureName[] = "Start capture";
    static constexpr char kStopCaptureName[] = "Stop capture";

    // Builds "Open Calibration" and, below it, "Full-On" and "Full-Off"
    // (disabled) inside the calibration area. resetRecognitionPage is run by
    // every stop (the recognition page's reset).
    CaptureControl(const CaptureWidgets &widgets, ConsoleState &state, const CaptureTargets &worker, WorkerGate &gate,
                   QTimer &fpsTimer, QTimer &batteryTimer,
                   std::function<void()> resetRecognitionPage,
                   EventLog &log, OperatorMessage::Sink message = OperatorMessage::modalBox(), QObject *parent = nullptr);

    // Play button: start, or stop when running.
    void togglePlay();
    // The stop sequence; also run after device loss and worker errors.
    void stop();
    void toggleCalibration();
    // A recording was opened (the capture stops, Play, Setting and the
    // reference requests are locked and the battery is not polled) or closed
    // (they are free again as the capture state allows).
    void setRecordingOpen(bool open);
    void requestFullOn();
    void requestFullOff();
    void reportFullOn();
    void reportFullOff();

    static QString notConfiguredMessage();
    static QString playButtonRunningSheet();
    static QString playAreaRunningSheet();
    static QString playButtonStoppedSheet();
    static QString playAreaStoppedSheet();

    QPushButton *calibrationButton() const { return m_calibration; }
    QPushButton *fullOnButton() const { return m_fullOn; }
    QPushButton *fullOffButton() const { return m_fullOff; }

private:
    EventLog &m_log; // safe from any thread
    void start();
    void buildCalibrationButtons();

    CaptureWidgets m_ui;
    QPushButton *m_calibration = nullptr; // "Open Calibration" / "Close Calibration"
    QPushButton *m_fullOn = nullptr;      // "Full-On"
    QPushButton *m_fullOff = nullptr;     // "Full-Off"
    ConsoleState &m_state;
    CaptureTargets m_worker;
    WorkerGate &m_gate;
    QTimer &m_fpsTimer;
    QTimer &m_batteryTimer;
    std::function<void()> m_resetRecognitionPage;
    OperatorMessage::Sink m_message;
};
