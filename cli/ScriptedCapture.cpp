#include "cli/ScriptedCapture.h"

#include "analysis/ReferenceFile.h"
#include "analysis/SavedReferences.h"
#include "cli/ExitCode.h"
#include "cli/ProgressPrinter.h"
#include "cli/ScriptStreams.h"
#include "context/ConsoleContext.h"
#include "device/BatteryReport.h"
#include "operation/FrameTiming.h"
#include "operation/ParameterSet.h"
#include "operation/SaveRequest.h"
#include "services/EventLog.h"
#include "services/StopSignals.h"

#include <QEventLoop>
#include <QTimer>

#include <cstdlib>

namespace {
const QString kInterruption = QStringLiteral("the run was interrupted");
const QString kStopping = QStringLiteral("Stopping: the frames gathered so far are being saved.");
} // namespace

SettingsIdentity ScriptedCapture::settingsIdentity()
{
    SettingsIdentity identity;
    identity.application = QStringLiteral("Tessivo_128_capture");
    return identity;
}

ScriptedCapture::ScriptedCapture(const ConsoleContext &context, const CaptureOptions &options,
                                 ScriptStreams &streams, ProgressPrinter &progress, QObject *parent)
    : QObject(parent)
    , m_context(context)
    , m_options(options)
    , m_streams(streams)
    , m_progress(progress)
    , m_worker(context)
    , m_device(context.backend(), m_worker, context.log())
{
}

ScriptedCapture::~ScriptedCapture() = default;

int ScriptedCapture::run()
{
    m_worker.moveToThread(&m_thread);
    connect(&m_thread, &QThread::started, &m_worker, &ReceiverThread::process);
    m_thread.start();
    // Parked until the capture starts: the handshake and the parameter
    // command use the same handle from this thread.
    m_worker.pause();

    const int code = connectAndCapture();

    m_worker.shutdown();
    m_thread.quit();
    m_thread.wait();
    m_device.close(); // the worker has ended: nothing else reads the device
    return finishSummary(code);
}

int ScriptedCapture::finishSummary(int code)
{
    m_summary.exitCode = code;
    if (m_options.summaryPath.isEmpty())
        return code;
    QString error;
    if (m_summary.write(m_options.summaryPath, &error))
        return code;
    m_streams.problem(error);
    // A script relies on the file: a run it cannot read about is no success.
    return code == ExitCode::kSuccess ? ExitCode::kSave : code;
}

bool ScriptedCapture::loadReferences()
{
    if (m_options.referencesPath.isEmpty())
        return true;
    QString error;
    m_references = ReferenceFile::load(m_options.referencesPath, &error);
    if (m_references && !SavedReferences::anyMeasured(*m_references))
        error = QStringLiteral("The file %1 holds no measured reference.").arg(m_options.referencesPath);
    if (!error.isEmpty()) {
        m_references.reset();
        m_streams.problem(QStringLiteral("--references: %1").arg(error));
        return false;
    }
    return true;
}

void ScriptedCapture::applyReferences()
{
    if (!m_references)
        return;
    // After the parameters: a new range refills the full-on reference.
    if (const QString warning = SavedReferences::rangeWarning(*m_references, m_worker.currentRangeValue());
        !warning.isEmpty())
        m_streams.problem(warning);
    m_worker.references().setReferences(SavedReferences::applied(m_worker.references().snapshot(), *m_references));
    m_worker.rendering().setCalibrationEnabled(true);
    m_summary.calibrated = true;
    m_context.log().line(QStringLiteral("References from %1 applied; calibration on.").arg(m_options.referencesPath).toUtf8());
}

int ScriptedCapture::connectAndCapture()
{
    const auto interruptedEarly = [this] {
        m_streams.problem(QStringLiteral("The run was interrupted before the capture began."));
        StopSignals::stoppingSaid();
        return ExitCode::kInterrupted;
    };
    m_summary.framesRequested = m_options.save.frames;
    m_summary.backend = m_context.backendKind();
    m_summary.serial = m_options.serial.isEmpty() ? QString::fromLatin1(DeviceSession::kSerialNumber)
                                                  : m_options.serial;
    if (!loadReferences())
        return ExitCode::kBadArguments;
    QString refusal;
    if (!m_device.connect(m_options.serial, &refusal)) {
        m_streams.problem(refusal);
        return ExitCode::kDevice;
    }
    m_summary.batteryVolts = m_device.readBatteryVolts();
    if (!m_options.quiet)
        m_streams.problem(QStringLiteral("Battery: %1.").arg(BatteryReport::text(m_summary.batteryVolts)));
    if (StopSignals::received())
        return interruptedEarly();

    // A scripted run starts from the window's initial search state, as a
    // freshly started window does.
    const ParameterSet parameters =
        ParameterSet::choose(double(m_options.rangeNa), m_options.voltages, IntegrationSearch::State());
    if (!parameters.integrationFound)
        m_context.log().line("No suitable integration time found within the specified range.");
    if (!m_device.set(parameters, &refusal)) {
        m_streams.problem(refusal);
        return ExitCode::kDevice;
    }
    const std::uint32_t count = std::uint32_t(parameters.integration.integrationCount);
    m_summary.currentRangeNa = parameters.rangeNa;
    m_summary.integrationMs = FrameTiming::integrationMs(count);
    m_summary.vbias1Volts = parameters.voltages.vbias1;
    m_summary.vbias2Volts = parameters.voltages.vbias2;
    m_summary.vonVolts = parameters.voltages.von;
    m_summary.voffVolts = parameters.voltages.voff;
    if (!m_options.quiet)
        m_streams.problem(FrameTiming::summary(parameters.rangeNa, count) + QLatin1Char('.'));
    applyReferences();
    if (StopSignals::received())
        return interruptedEarly();
    return capture(parameters);
}

int ScriptedCapture::capture(const ParameterSet &parameters)
{
    QString refusal;
    const std::optional<SaveRunPlan> plan =
        SaveRunPreparation::prepare(m_options.save, parameters.summary(), metadata(parameters), &refusal);
    const QString kinds = m_options.save.kinds().join(QStringLiteral(", "));
    if (!plan) {
        m_context.log().line(QStringLiteral("Save run refused: %1").arg(refusal).toUtf8());
        m_streams.problem(refusal);
        return ExitCode::kSave;
    }
    m_context.log().line(QStringLiteral("Save run requested: %1, %2 frames, kinds %3.").arg(plan->folder).arg(plan->frames).arg(kinds)
                .toUtf8());

    m_summary.runFolder = plan->folder;
    m_progress.begin(plan->frames, plan->folder, kinds);
    const SaveOutcome outcome = gather(*plan);
    // From arming to the last frame gathered (the clock restarts with each).
    const double seconds = double(m_runClock.elapsed() - m_frameClock.elapsed()) / 1000.0;
    m_summary.framesSaved = outcome.written;
    m_summary.framesPerSecond = seconds > 0 ? outcome.gathered / seconds : 0.0;
    // The last frame's report may come after the outcome, which ends the wait.
    m_progress.update(outcome.gathered, m_runClock.elapsed());
    stopCapture();
    m_progress.end();
    m_streams.result(plan->folder);
    return report(outcome);
}

SaveOutcome ScriptedCapture::gather(const SaveRunPlan &plan)
{
    QEventLoop loop;
    std::optional<SaveOutcome> outcome;
    connect(&m_worker, &ReceiverThread::saveFinished, &loop, [&](const SaveOutcome &finished) {
        if (finished.folder != plan.folder)
            return;
        outcome = finished;
        loop.quit();
    });
    connect(&m_worker, &ReceiverThread::saveFailed, &loop, [&](const QString &sentence) {
        SaveOutcome refused;
        refused.folder = plan.folder;
        refused.requested = plan.frames;
        refused.failures << sentence;
        outcome = refused;
        loop.quit();
    });
    connect(&m_worker, &ReceiverThread::saveProgressed, &loop, [this](int gathered) {
        m_frameClock.restart();
        m_progress.update(gathered, m_runClock.elapsed());
    });
    const auto workerFailed = [this](const QString &failure) {
        m_context.log().line(failure.toUtf8());
        // As the window tells them apart: a device that no longer answers
        // its status query is gone.
        giveUp(m_device.stillAnswers() ? QStringLiteral("the device stopped answering")
                                       : QStringLiteral("the device was disconnected"));
    };
    connect(&m_worker, &ReceiverThread::deviceFailed, &loop, workerFailed);
    connect(&m_worker, &ReceiverThread::errorOccurred, &loop, workerFailed);
    QTimer tick;
    connect(&tick, &QTimer::timeout, &loop, [this] { watch(); });
    tick.start(kTickMs);

    m_context.log().line("Start Capture data.");
    m_worker.startCapture();
    m_capturing = true;
    SaveRunPlan armed = plan;
    armed.metadata.startTime = std::chrono::system_clock::now();
    m_runClock.start();
    m_frameClock.start();
    m_worker.armSaveRun(armed);
    loop.exec();
    return *outcome;
}

void ScriptedCapture::watch()
{
    if (!m_interrupted && StopSignals::received()) {
        m_interrupted = true;
        m_context.log().line("The run was interrupted.");
        m_worker.endSaveRun(kInterruption);
        m_endClock.start();
        m_streams.problem(kStopping);
        StopSignals::stoppingSaid(); // from now on a further signal ends the tool at once
    }
    if (m_frameClock.hasExpired(kStallMs))
        giveUp(QStringLiteral("the device stopped answering"));
    if (m_endClock.isValid() && m_endClock.hasExpired(kWriterWaitMs))
        abandonStalledDisk();
}

void ScriptedCapture::abandonStalledDisk()
{
    // The writer is stuck on the disk and would hold the tool for good.
    const QString sentence =
        QStringLiteral("%1 frames of the run stay unwritten: the disk did not take them within %2 s.")
            .arg(m_worker.saveFramesPending())
            .arg(kWriterWaitMs / 1000);
    m_context.log().line(sentence.toUtf8());
    m_streams.problem(sentence);
    std::_Exit(m_interrupted ? ExitCode::kInterrupted : !m_deviceProblem.isEmpty() ? ExitCode::kDevice : ExitCode::kSave);
}

void ScriptedCapture::giveUp(const QString &reason)
{
    if (!m_deviceProblem.isEmpty())
        return;
    m_deviceProblem = reason;
    m_worker.endSaveRun(reason);
    m_endClock.start();
}

int ScriptedCapture::report(const SaveOutcome &outcome)
{
    if (outcome.success())
        return ExitCode::kSuccess;
    m_streams.problem(outcome.message());
    if (!m_deviceProblem.isEmpty())
        return ExitCode::kDevice;
    if (m_interrupted)
        return ExitCode::kInterrupted;
    return ExitCode::kSave;
}

RunMetadata ScriptedCapture::metadata(const ParameterSet &parameters) const
{
    RunMetadata metadata;
    metadata.vbias1Volts = parameters.voltages.vbias1;
    metadata.vbias2Volts = parameters.voltages.vbias2;
    metadata.vonVolts = parameters.voltages.von;
    metadata.voffVolts = parameters.voltages.voff;
    metadata.currentRangeNa = m_worker.currentRangeValue();
    metadata.integrationCount = std::uint32_t(parameters.integration.integrationCount);
    metadata.deviceSerial = m_device.serial();
    metadata.backend = m_context.backendKind();
    metadata.consoleVersion = QStringLiteral(TESSIVO_VERSION);
    metadata.startTime = std::chrono::system_clock::now();
    return metadata;
}

void ScriptedCapture::stopCapture()
{
    if (!m_capturing)
        return;
    m_capturing = false;
    // Sends the stop command after the frame in flight and parks the loop.
    m_worker.stopCapture();
    m_context.log().line("Stop Capture data.");
    if (!m_worker.waitUntilParked(kParkMs))
        m_context.log().line("The capture did not come to rest in time; the device is closed once the worker has ended.");
}
