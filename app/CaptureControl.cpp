#include "CaptureControl.h"

#include "EventLog.h"
#include "CaptureSwitch.h"
#include "FrameRendering.h"
#include "ReferenceCalibration.h"
#include "SaveRunFeeder.h"
#include "WorkerGate.h"

#include <QHBoxLayout>
#include <QPushButton>
#include <QVBoxLayout>
#include <QTimer>
#include <QWidget>

CaptureControl::CaptureControl(const CaptureWidgets &widgets, ConsoleState &state, const CaptureTargets &worker,
                               WorkerGate &gate, QTimer &fpsTimer, QTimer &batteryTimer,
                               std::function<void()> resetRecognitionPage, EventLog &log, OperatorMessage::Sink message,
                               QObject *parent)
    : QObject(parent)
    , m_log(log)
    , ui(widgets)
    , state(state)
    , worker(worker)
    , gate(gate)
    , fpsTimer(fpsTimer)
    , batteryTimer(batteryTimer)
    , resetRecognitionPage(std::move(resetRecognitionPage))
    , message(std::move(message))
{
    ui.play->setAccessibleName(QString::fromLatin1(StartCaptureName));
    buildCalibrationButtons();
    ui.play->setToolTip(QStringLiteral("Start capture"));
    connect(calibration, &QPushButton::clicked, this, &CaptureControl::calibrationClicked);
    connect(fullOn, &QPushButton::clicked, this, &CaptureControl::requestFullOn);
    connect(fullOff, &QPushButton::clicked, this, &CaptureControl::requestFullOff);
}

void CaptureControl::buildCalibrationButtons()
{
    QWidget *area = ui.calibrationArea;
    auto *layout = new QVBoxLayout(area);
    calibration = new QPushButton(QStringLiteral("Open Calibration"), area);
    layout->addWidget(calibration);
    auto *references = new QHBoxLayout;
    fullOn = new QPushButton(QStringLiteral("Full-On"), area);
    fullOff = new QPushButton(QStringLiteral("Full-Off"), area);
    fullOn->setEnabled(false);
    fullOff->setEnabled(false);
    references->addWidget(fullOn);
    references->addWidget(fullOff);
    layout->addLayout(references);
}

QString CaptureControl::notConfiguredMessage()
{
    return QStringLiteral("The device is not configured: set the parameters and press Setting.");
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
    if (!state.configured) {
        // Currents computed with a range the device does not run would be wrong.
        message(notConfiguredMessage());
        return;
    }
    start();
}

void CaptureControl::start()
{
    ui.play->setStyleSheet(playButtonRunningSheet());
    ui.play->setAccessibleName(QString::fromLatin1(StopCaptureName));
    ui.playArea->setStyleSheet(playAreaRunningSheet());
    m_log.line("Start Capture data.");
    batteryTimer.stop();
    gate.withdraw(WorkerGate::Job::Battery); // a poll still waiting must not meet the capture
    state.running = true;
    // Writes the start command and the first frame request from this thread,
    // before the worker's loop is let go.
    gate.whenParked(WorkerGate::Job::StartCapture, [this] {
        if (state.running)
            worker.loop.startCapture();
    });
    fpsTimer.start(FpsIntervalMs);
    ui.set->setEnabled(false);
    ui.set->setToolTip(QStringLiteral("Please stop collecting first!"));
    ui.play->setToolTip(QStringLiteral("Stop capture"));
}

void CaptureControl::stop()
{
    fpsTimer.stop();
    // A start still waiting for the last capture to finish is called off.
    gate.withdraw(WorkerGate::Job::StartCapture);
    // An armed save run keeps the frames gathered so far.
    worker.saveRuns.end(QStringLiteral("capture was stopped"));
    worker.loop.stopCapture();
    m_log.line("Stop Capture data.");
    batteryTimer.start();
    ui.play->setStyleSheet(playButtonStoppedSheet());
    ui.play->setAccessibleName(QString::fromLatin1(StartCaptureName));
    ui.playArea->setStyleSheet(playAreaStoppedSheet());
    state.running = false;
    ui.set->setEnabled(!state.recordingOpen); // a device lost during playback leaves it locked
    ui.set->setToolTip(QString());
    ui.play->setToolTip(QStringLiteral("Start capture"));
    if (resetRecognitionPage)
        resetRecognitionPage();
}

void CaptureControl::setRecordingOpen(bool open)
{
    if (open && state.running)
        stop();
    if (open)
        batteryTimer.stop();
    else if (state.connected)
        batteryTimer.start();
    ui.play->setEnabled(!open);
    ui.set->setEnabled(!open);
    fullOn->setEnabled(!open && state.calibrationOpen);
    fullOff->setEnabled(!open && state.calibrationOpen);
}

void CaptureControl::calibrationClicked()
{
    if (!state.running && !state.recordingOpen) {
        message(QStringLiteral("Please Start capture first!"));
        return;
    }
    const bool open = !state.calibrationOpen;
    worker.rendering.setCalibrationEnabled(open);
    // The references of a recording are the run's own; none is measured from it.
    fullOn->setEnabled(open && !state.recordingOpen);
    fullOff->setEnabled(open && !state.recordingOpen);
    calibration->setText(open ? QStringLiteral("Close Calibration") : QStringLiteral("Open Calibration"));
    m_log.line(open ? "Open calibration." : "Close Calibration.");
    state.calibrationOpen = open;
}

void CaptureControl::requestFullOn()
{
    worker.references.requestFullOn();
}

void CaptureControl::requestFullOff()
{
    worker.references.requestFullOff();
}

void CaptureControl::fullOnDone()
{
    m_log.line("Full on success.");
    message(QStringLiteral("Full on success."));
}

void CaptureControl::fullOffDone()
{
    m_log.line("Full off success.");
    message(QStringLiteral("Full off success."));
}
