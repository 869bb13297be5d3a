#include "tango/DetectorControl.h"

#include "context/ConsoleContext.h"
#include "device/DeviceProtocol.h"
#include "services/EventLog.h"

#include <cmath>

namespace {
const QString kDisconnected = QStringLiteral("the device was disconnected");
const QString kStoppedAnswering = QStringLiteral("the device stopped answering");
const QString kInterrupted = QStringLiteral("the run was interrupted");
const QString kAborted = QStringLiteral("the run was aborted");

QString sentence(QString clause)
{
    clause[0] = clause[0].toUpper();
    return clause + QLatin1Char('.');
}
} // namespace

DetectorControl::DetectorControl(const ConsoleContext &context, QString serial,
                                 FrameTap::Observer observer)
    : m_context(context)
    , m_serial(std::move(serial))
    , m_worker(context)
    , m_device(context.backend(), m_worker, context.log())
    , m_tap(m_worker.rendering(), [this, observer = std::move(observer)](const CurrentFrame &currents,
                                                                         const std::vector<std::uint8_t> &gray) {
        m_frameSeen.store(true);
        observer(currents, gray);
    })
{
    m_status = QStringLiteral("No device is open.");
    m_settings.save.data = true; // as the capture tool saves by default
    m_worker.addConsumer(m_tap);
    // Direct connections: the handlers run on the worker's and the writer's
    // threads and touch only atomics and the outcome.
    QObject::connect(&m_worker, &ReceiverThread::deviceFailed, [this](const QString &failure) {
        m_context.log().line(failure.toUtf8());
        m_workerFailed.store(true);
    });
    QObject::connect(&m_worker, &ReceiverThread::errorOccurred, [this](const QString &failure) {
        m_context.log().line(failure.toUtf8());
        m_workerFailed.store(true);
    });
    QObject::connect(&m_worker, &ReceiverThread::saveProgressed, [this](int gathered) { m_saveProgress.store(gathered); });
    QObject::connect(&m_worker, &ReceiverThread::saveFinished, [this](const SaveOutcome &outcome) { finishSave(outcome); });
    QObject::connect(&m_worker, &ReceiverThread::saveFailed, [this](const QString &message) {
        std::lock_guard<std::mutex> lock(m_outcomeMutex);
        m_outcome.sentence = message;
    });
    m_worker.moveToThread(&m_thread);
    QObject::connect(&m_thread, &QThread::started, &m_worker, &ReceiverThread::process);
    m_thread.start();
    // Parked until a capture starts: the handshake and the parameter command
    // use the same handle from the caller's thread.
    m_worker.pause();
}

DetectorControl::~DetectorControl()
{
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (m_worker.isSaveRunArmed()) {
            m_context.log().line("The run was interrupted.");
            m_worker.endSaveRun(kInterrupted);
        }
        stopCaptureLocked();
    }
    m_worker.waitForSaveRuns();
    m_tap.clear();
    m_worker.shutdown();
    m_thread.quit();
    m_thread.wait();
    m_device.close(); // the worker has ended: nothing else reads the device
}

const char *DetectorControl::stateName(State state)
{
    switch (state) {
    case State::Off: return "OFF";
    case State::On: return "ON";
    case State::Running: return "RUNNING";
    case State::Fault: return "FAULT";
    }
    return "UNKNOWN";
}

QString DetectorControl::status() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_status;
}

QString DetectorControl::refusal(const char *operation) const
{
    return QStringLiteral("%1 is not allowed while the device is %2.")
        .arg(QLatin1String(operation), QLatin1String(stateName(m_state.load())));
}

QString DetectorControl::connect()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    if (m_state != State::Off && m_state != State::Fault)
        return refusal("Connect");
    m_device.close(); // a device given up is still held until now
    QString problem;
    if (!m_device.connect(m_serial, &problem))
        return problem;
    const std::optional<double> volts = m_device.readBatteryVolts();
    m_battery.reset();
    if (volts) {
        m_context.log().line(QStringLiteral("Battery: %1 V.").arg(*volts, 0, 'f', 2).toUtf8());
        m_battery = int(std::lround(DeviceProtocol::batteryCharge(*volts) * 100.0));
    }
    m_applied.reset();
    m_workerFailed.store(false);
    m_state = State::On;
    m_status = QStringLiteral("Connected to %1.").arg(m_device.serial());
    return {};
}

QString DetectorControl::disconnect()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    if (m_worker.isSaveRunArmed())
        m_worker.endSaveRun(QStringLiteral("capture was stopped"));
    stopCaptureLocked();
    closeLocked(State::Off, QStringLiteral("No device is open."));
    return {};
}

QString DetectorControl::applyParameters()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    if (m_state != State::On)
        return refusal("ApplyParameters");
    IntegrationSearch::State search = m_search;
    const ParameterSet parameters = ParameterSet::choose(double(m_settings.rangeNa), m_settings.voltages, search);
    if (!parameters.integrationFound)
        m_context.log().line("No suitable integration time found within the specified range.");
    QString problem;
    if (!m_device.set(parameters, &problem)) {
        // A device that no longer answers its status query is gone.
        if (!m_device.stillAnswers())
            failLocked(kDisconnected);
        return problem;
    }
    m_search = parameters.integration;
    m_applied = parameters;
    return {};
}

QString DetectorControl::start()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    if (m_state != State::On)
        return refusal("Start");
    m_workerFailed.store(false);
    m_frameSeen.store(false);
    m_context.log().line("Start Capture data.");
    m_worker.startCapture();
    m_frameClock.start();
    m_state = State::Running;
    m_status = QStringLiteral("Capturing from %1.").arg(m_device.serial());
    return {};
}

QString DetectorControl::stop()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    if (m_state != State::Running)
        return refusal("Stop");
    if (m_worker.isSaveRunArmed())
        m_worker.endSaveRun(QStringLiteral("capture was stopped"));
    stopCaptureLocked();
    m_state = State::On;
    m_status = QStringLiteral("Connected to %1.").arg(m_device.serial());
    return {};
}

QString DetectorControl::takeReference(bool fullOn)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    if (m_state != State::Running)
        return refusal(fullOn ? "TakeFullOn" : "TakeFullOff");
    if (fullOn)
        m_worker.references().requestFullOn();
    else
        m_worker.references().requestFullOff();
    return {};
}

QString DetectorControl::save(QString *folder)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    if (m_state != State::Running)
        return refusal("Save");
    if (!m_applied)
        return QStringLiteral("Apply the parameters before saving: the run records the values the device acknowledged.");
    QString problem;
    const std::optional<SaveRunPlan> plan =
        SaveRunPreparation::prepare(m_settings.save, m_applied->summary(), metadataLocked(), &problem);
    if (!plan) {
        m_context.log().line(QStringLiteral("Save run refused: %1").arg(problem).toUtf8());
        return problem;
    }
    m_context.log().line(QStringLiteral("Save run requested: %1, %2 frames, kinds %3.")
                .arg(plan->folder)
                .arg(plan->frames)
                .arg(m_settings.save.kinds().join(QStringLiteral(", ")))
                .toUtf8());
    m_saveProgress.store(0);
    m_worker.armSaveRun(*plan);
    *folder = plan->folder;
    return {};
}

QString DetectorControl::abortSave()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    if (m_state != State::Running)
        return refusal("AbortSave");
    m_worker.endSaveRun(kAborted);
    return {};
}

DetectorControl::Settings DetectorControl::settings() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_settings;
}

void DetectorControl::setRange(int rangeNa)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_settings.rangeNa = rangeNa;
}

void DetectorControl::setVoltages(const BiasVoltages &voltages)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_settings.voltages = voltages;
}

void DetectorControl::setCalibrated(bool calibrated)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_settings.calibrated = calibrated;
    m_worker.rendering().setCalibrationEnabled(calibrated);
}

void DetectorControl::setSave(const SaveRequest &save)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_settings.save = save;
}

void DetectorControl::watch()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    if (m_state != State::Running)
        return;
    if (m_frameSeen.exchange(false))
        m_frameClock.restart();
    if (m_workerFailed.load()) {
        // As the window tells them apart: a device that no longer answers its
        // status query is gone.
        failLocked(m_device.stillAnswers() ? kStoppedAnswering : kDisconnected);
    } else if (m_frameClock.hasExpired(kStallMs)) {
        failLocked(kStoppedAnswering);
    }
}

std::optional<int> DetectorControl::batteryPercent() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_battery;
}

QString DetectorControl::serial() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_state == State::Off ? QString() : m_device.serial();
}

DetectorControl::Outcome DetectorControl::lastOutcome() const
{
    std::lock_guard<std::mutex> lock(m_outcomeMutex);
    return m_outcome;
}

void DetectorControl::stopCaptureLocked()
{
    if (m_state != State::Running)
        return;
    // Sends the stop command after the frame in flight and parks the loop.
    m_worker.stopCapture();
    m_context.log().line("Stop Capture data.");
    if (!m_worker.waitUntilParked(kParkMs))
        m_context.log().line("The capture did not come to rest in time.");
}

void DetectorControl::closeLocked(State next, const QString &status)
{
    m_device.close();
    m_battery.reset();
    m_applied.reset();
    m_state = next;
    m_status = status;
}

void DetectorControl::failLocked(const QString &reason)
{
    m_context.log().line(sentence(reason).toUtf8());
    if (m_worker.isSaveRunArmed())
        m_worker.endSaveRun(reason);
    stopCaptureLocked();
    // The console's own sentence for a lost device.
    closeLocked(State::Fault, reason == kDisconnected ? QStringLiteral("Device disconnected.") : sentence(reason));
}

void DetectorControl::finishSave(const SaveOutcome &outcome)
{
    m_context.log().line(outcome.logLine().toUtf8());
    std::lock_guard<std::mutex> lock(m_outcomeMutex);
    m_outcome.folder = outcome.folder;
    m_outcome.sentence = outcome.success() ? outcome.framesClause() : outcome.message();
}

RunMetadata DetectorControl::metadataLocked() const
{
    RunMetadata metadata;
    metadata.vbias1Volts = m_applied->voltages.vbias1;
    metadata.vbias2Volts = m_applied->voltages.vbias2;
    metadata.vonVolts = m_applied->voltages.von;
    metadata.voffVolts = m_applied->voltages.voff;
    metadata.currentRangeNa = m_worker.currentRangeValue();
    metadata.integrationCount = std::uint32_t(m_applied->integration.integrationCount);
    metadata.deviceSerial = m_device.serial();
    metadata.backend = m_context.backendKind();
    metadata.consoleVersion = QStringLiteral(TESSIVO_VERSION);
    metadata.startTime = std::chrono::system_clock::now();
    return metadata;
}
