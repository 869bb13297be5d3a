// tessivo128-capture: captures and saves a run from the command line, on the
// same core as the window (see ScriptedCapture and README "Scripted runs").
#include "cli/CaptureOptions.h"
#include "cli/ExitCode.h"
#include "cli/ProgressPrinter.h"
#include "cli/ScriptStreams.h"
#include "cli/ScriptedCapture.h"
#include "cli/SerialListing.h"
#include "context/BackendSelector.h"
#include "context/ConsoleContext.h"
#include "services/ProcessSignals.h"
#include "services/StopSignals.h"
#include "simulator/SimulatorBackend.h"

#include <QCoreApplication>
#include <QThread>

namespace {

BackendSelector::Choice chooseBackend(const CaptureOptions &options)
{
    if (options.device.isEmpty())
        return BackendSelector::chooseFromEnvironment();
    return BackendSelector::choose(options.device, qEnvironmentVariable("TESSIVO_D2XX_LIBRARY"));
}

int listDevices(D2xxBackend &backend, ScriptStreams &streams)
{
    DeviceSession session(backend);
    QString problem;
    const QStringList serials = SerialListing::read(
        session, [](std::chrono::milliseconds pause) { QThread::msleep(std::uint64_t(pause.count())); }, &problem);
    for (const QString &serial : serials)
        streams.result(serial);
    if (!problem.isEmpty())
        streams.problem(problem);
    return serials.isEmpty() ? ExitCode::kDevice : ExitCode::kSuccess;
}

ProgressPrinter::Style progressStyle(const CaptureOptions &options, const ScriptStreams &streams)
{
    if (options.quiet)
        return ProgressPrinter::Style::Quiet;
    return streams.errorIsTerminal() ? ProgressPrinter::Style::Terminal : ProgressPrinter::Style::Lines;
}

} // namespace

int main(int argc, char *argv[])
{
    ProcessSignals::ignoreBrokenPipe();
    QCoreApplication app(argc, argv);
    const StopSignals stopSignals(ExitCode::kInterrupted);
    ScriptStreams streams;

    QString refusal;
    const std::optional<CaptureOptions> options = CaptureOptions::parse(app.arguments(), &refusal);
    if (!options) {
        streams.problem(refusal);
        return ExitCode::kBadArguments;
    }
    if (options->action == CaptureOptions::Action::Help) {
        streams.result(CaptureOptions::helpText().trimmed());
        return ExitCode::kSuccess;
    }
    if (options->action == CaptureOptions::Action::Version) {
        streams.result(CaptureOptions::versionText());
        return ExitCode::kSuccess;
    }

    const BackendSelector::Choice choice = chooseBackend(*options);
    const ConsoleContext context(choice.backend, ConsolePaths::forApplication(), ScriptedCapture::settingsIdentity(),
                                 choice.simulator);
    const auto messagesLogged = ScriptStreams::routeMessagesTo(context.log());
    context.log().line(choice.logMessage.toUtf8());
    if (!choice.backend) {
        streams.problem(choice.logMessage);
        return ExitCode::kDevice;
    }
    // A simulator setting that was not understood must not pass unseen.
    if (const auto simulator = std::dynamic_pointer_cast<SimulatorBackend>(choice.backend))
        for (const QString &warning : simulator->environmentWarnings())
            streams.problem(warning);
    if (options->action == CaptureOptions::Action::List)
        return listDevices(context.backend(), streams);

    ProgressPrinter progress(progressStyle(*options, streams),
                             [&streams](const QByteArray &text) { streams.progress(text); });
    ScriptedCapture capture(context, *options, streams, progress);
    return capture.run();
}
