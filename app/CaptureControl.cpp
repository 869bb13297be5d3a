#include "app/CaptureControl.h"

#include "acquisition/CaptureSwitch.h"
#include "acquisition/FrameRendering.h"
#include "acquisition/ReferenceCalibration.h"
#include "acquisition/SaveRunFeeder.h"
#include "app/WorkerGate.h"
#include "services/EventLog.h"

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
    , m_ui(widgets)
    , m_state(state)
    , m_worker(worker)
    , m_gate(gate)
    , m_fpsTimer(fpsTimer)
    , m_batteryTimer(batteryTimer)
    , m_resetRecognitionPage(std::move(resetRecognitionPage))
    , m_message(std::move(message))
{
    m_ui.play->setAccessibleName(QString::fromLatin1(kStartCaptureName));
    buildCalibrationButtons();
    m_ui.play->setToolTip(QStringLiteral("Start capture"));
    connect(m_calibration, &QPushButton::clicked, this, &CaptureControl::toggleCalibration);
    connect(m_fullOn, &QPushButton::clicked, this, &CaptureControl::requestFullOn);
    connect(m_fullOff, &QPushButton::clicked, this, &CaptureControl::requestFullOff);
}

void CaptureControl::buildCalibrationButtons()
{
    QWidget *area = m_ui.calibrationArea;
    auto *layout = new QVBoxLayout(area);
    m_calibration = new QPushButton(QStringLiteral("Open Calibration"), area);
    layout->addWidget(m_calibration);
    auto *references = new QHBoxLayout;
    m_fullOn = new QPushButton(QStringLiteral("Full-On"), area);
    m_fullOff = new QPushButton(QStringLiteral("Full-Off"), area);
    m_fullOn->setEnabled(false);
    m_fullOff->setEnabled(false);
    references->addWidget(m_fullOn);
    references->addWidget(m_fullOff);
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

void CaptureControl::togglePlay()
{
    if (!m_state.connected) {
        m_message(QStringLiteral("No Devices Connected."));
        return;
    }
    if (m_state.running) {
        stop();
        return;
    }
    if (!m_state.configured) {
        // Currents computed with a range the device does not run would be wrong.
        m_message(notConfiguredMessage());
        return;
    }
    start();
}

void CaptureControl::start()
{
    m_ui.play->setStyleSheet(playButtonRunningSheet());
    m_ui.play->setAccessibleName(QString::fromLatin1(kStopCaptureName));
    m_ui.playArea->setStyleSheet(playAreaRunningSheet());
    m_log.line("Start Capture data.");
    m_batteryTimer.stop();
    m_gate.withdraw(WorkerGate::Job::Battery); // a poll still waiting must not meet the capture
    m_state.running = true;
    // Writes the start command and the first frame request from this thread,
    // before the worker's loop is let go.
    m_gate.whenParked(WorkerGate::Job::StartCapture, [this] {
        if (m_state.running)
            m_worker.loop.startCapture();
    });
    m_fpsTimer.start(kFpsIntervalMs);
    m_ui.set->setEnabled(false);
    m_ui.set->setToolTip(QStringLiteral("Please stop collecting first!"));
    m_ui.play->setToolTip(QStringLiteral("Stop capture"));
}

void CaptureControl::stop()
{
    m_fpsTimer.stop();
    // A start still waiting for the last capture to finish is called off.
    m_gate.withdraw(WorkerGate::Job::StartCapture);
    // An armed save run keeps the frames gathered so far.
    m_worker.saveRuns.end(QStringLiteral("capture was stopped"));
    m_worker.loop.stopCapture();
    m_log.line("Stop Capture data.");
    m_batteryTimer.start();
    m_ui.play->setStyleSheet(playButtonStoppedSheet());
    m_ui.play->setAccessibleName(QString::fromLatin1(kStartCaptureName));
    m_ui.playArea->setStyleSheet(playAreaStoppedSheet());
    m_state.running = false;
    m_ui.set->setEnabled(!m_state.recordingOpen); // a device lost during playback leaves it locked
    m_ui.set->setToolTip(QString());
    m_ui.play->setToolTip(QStringLiteral("Start capture"));
    if (m_resetRecognitionPage)
        m_resetRecognitionPage();
}

void CaptureControl::setRecordingOpen(bool open)
{
    if (open && m_state.running)
        stop();
    if (open)
        m_batteryTimer.stop();
    else if (m_state.connected)
        m_batteryTimer.start();
    m_ui.play->setEnabled(!open);
    m_ui.set->setEnabled(!open);
    m_fullOn->setEnabled(!open && m_state.calibrationOpen);
    m_fullOff->setEnabled(!open && m_state.calibrationOpen);
}

void CaptureControl::toggleCalibration()
{
    if (!m_state.running && !m_state.recordingOpen) {
        m_message(QStringLiteral("Please Start capture first!"));
        return;
    }
    const bool open = !m_state.calibrationOpen;
    m_worker.rendering.setCalibrationEnabled(open);
    // The references of a recording are the run's own; none is measured from it.
    m_fullOn->setEnabled(open && !m_state.recordingOpen);
    m_fullOff->setEnabled(open && !m_state.recordingOpen);
    m_calibration->setText(open ? QStringLiteral("Close Calibration") : QStringLiteral("Open Calibration"));
    m_log.line(open ? "Open calibration." : "Close Calibration.");
    m_state.calibrationOpen = open;
}

void CaptureControl::requestFullOn()
{
    m_worker.references.requestFullOn();
}

void CaptureControl::requestFullOff()
{
    m_worker.references.requestFullOff();
}

void CaptureControl::reportFullOn()
{
    m_log.line("Full on success.");
    m_message(QStringLiteral("Full on success."));
}

void CaptureControl::reportFullOff()
{
    m_log.line("Full off success.");
    m_message(QStringLiteral("Full off success."));
}
