#include "CaptureControl.h"

#include "Log.h"
#include "ReceiverThread.h"
#include "WorkerGate.h"

#include <QPushButton>
#include <QTimer>
#include <QWidget>

CaptureControl::CaptureControl(const CaptureWidgets &widgets, ConsoleState &state, ReceiverThread &worker,
                               WorkerGate &gate, QTimer &fpsTimer, QTimer &batteryTimer,
                               std::function<void()> resetRecognitionPage, OperatorMessage::Sink message,
                               QObject *parent)
    : QObject(parent)
    , ui(widgets)
    , state(state)
    , worker(worker)
    , gate(gate)
    , fpsTimer(fpsTimer)
    , batteryTimer(batteryTimer)
    , resetRecognitionPage(std::move(resetRecognitionPage))
    , message(std::move(message))
{
}

QString CaptureControl::playButtonRunningSheet()
{
    return QStringLiteral("QPushButton { border-image: url(:/image/image_resource/stop.png);margin: 9px;}");
}

QString CaptureControl::playAreaRunningSheet()
{
    return QStringLiteral("QWidget:hover {background-color:rgb(235, 91, 106);margin: 6px;border-radius: 8px;}"
                          "QWidget{background-color:rgb(208,61,79);margin: 6px;border-radius: 8px;}");
}

QString CaptureControl::playButtonStoppedSheet()
{
    return QStringLiteral("QPushButton { border-image: url(:/image/image_resource/play.png);margin: 9px;}");
}

QString CaptureControl::playAreaStoppedSheet()
{
    return QStringLiteral("QWidget:hover {background-color: #9A7741;margin: 4px;border-radius: 8px;}");
}

void CaptureControl::playClicked()
{
    if (!state.connected) {
        message(QStringLiteral("No Devices Connected."));
        return;
    }
    if (state.running) {
        stop();
        return;
    }
    start();
}

void CaptureControl::start()
{
    ui.play->setStyleSheet(playButtonRunningSheet());
    ui.playArea->setStyleSheet(playAreaRunningSheet());
    logLine("Start Capture data.");
    batteryTimer.stop();
    gate.withdraw(WorkerGate::Job::Battery); // a poll still waiting must not meet the capture
    state.running = true;
    // Writes the start command and the first frame request from this thread,
    // before the worker's loop is let go.
    gate.whenParked(WorkerGate::Job::StartCapture, [this] {
        if (state.running)
            worker.startCapture();
    });
    fpsTimer.start(FpsIntervalMs);
    ui.set->setEnabled(false);
    ui.set->setToolTip(QStringLiteral("Please stop collecting first!"));
}

void CaptureControl::stop()
{
    fpsTimer.stop();
    // A start still waiting for the last capture to finish is called off.
    gate.withdraw(WorkerGate::Job::StartCapture);
    // An armed save run keeps the frames gathered so far.
    worker.endSaveRun(QStringLiteral("capture was stopped"));
    worker.stopCapture();
    logLine("Stop Capture data.");
    batteryTimer.start();
    ui.play->setStyleSheet(playButtonStoppedSheet());
    ui.playArea->setStyleSheet(playAreaStoppedSheet());
    state.running = false;
    ui.set->setEnabled(true);
    ui.set->setToolTip(QString());
    if (resetRecognitionPage)
        resetRecognitionPage();
}

void CaptureControl::calibrationClicked()
{
    if (!state.running) {
        message(QStringLiteral("Please Start capture first!"));
        return;
    }
    const bool open = !state.calibrationOpen;
    worker.setCalibrationEnabled(open);
    ui.fullOn->setEnabled(open);
    ui.fullOff->setEnabled(open);
    ui.calibration->setText(open ? QStringLiteral("Close Calibration") : QStringLiteral("Open Calibration"));
    logLine(open ? "Open calibration." : "Close Calibration.");
    state.calibrationOpen = open;
}

void CaptureControl::requestFullOn()
{
    worker.fullOnPending.store(true);
}

void CaptureControl::requestFullOff()
{
    worker.fullOffPending.store(true);
}

void CaptureControl::fullOnDone()
{
    logLine("Full on success.");
    message(QStringLiteral("Full on success."));
}

void CaptureControl::fullOffDone()
{
    logLine("Full off success.");
    message(QStringLiteral("Full off success."));
}
