#include "app/ConsoleShutdown.h"

#include "acquisition/SaveRunFeeder.h"
#include "services/EventLog.h"
#include "services/StopSignals.h"

#include <algorithm>
#include <chrono>

namespace ConsoleShutdown {

void stopOnSignal(StopSignals &stopSignals, EventLog &log, std::function<void()> stop)
{
    QObject::connect(&stopSignals, &StopSignals::stopRequested, &stopSignals, [&log, stop = std::move(stop)](int signal) {
        log.line(QStringLiteral("Signal %1 received: stopping; the save run keeps the frames gathered so far.")
                    .arg(signal)
                    .toUtf8());
        StopSignals::stoppingSaid();
        stop();
    });
}

QString finishSaveRuns(SaveRunFeeder &saveRuns, EventLog &log, int timeoutMs)
{
    saveRuns.end(QStringLiteral("the console was closed"));
    if (saveRuns.waitUntilIdle(std::chrono::milliseconds(std::max(0, timeoutMs))))
        return QString();
    const QString sentence =
        QStringLiteral("The console closed with %1 frames of the save run not written: the disk did not take them "
                       "within %2 s.")
            .arg(saveRuns.framesPending())
            .arg(timeoutMs / 1000);
    log.line(sentence.toUtf8());
    return sentence;
}

} // namespace ConsoleShutdown
