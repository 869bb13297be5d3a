#include "ConsoleShutdown.h"

#include "Log.h"
#include "ReceiverThread.h"
#include "StopSignals.h"


namespace ConsoleShutdown {

void stopOnSignal(StopSignals &stopSignals, std::function<void()> stop)
{
    QObject::connect(&stopSignals, &StopSignals::stopRequested, &stopSignals, [stop = std::move(stop)](int signal) {
        logLine(QStringLiteral("Signal %1 received: stopping; the save run keeps the frames gathered so far.")
                    .arg(signal)
                    .toUtf8());
        StopSignals::stoppingSaid();
        stop();
    });
}

QString finishSaveRuns(ReceiverThread &worker, int timeoutMs)
{
    worker.endSaveRun(QStringLiteral("the console was closed"));
    if (worker.waitForSaveRuns(timeoutMs))
        return QString();
    const QString sentence =
        QStringLiteral("The console closed with %1 frames of the save run not written: the disk did not take them "
                       "within %2 s.")
            .arg(worker.saveFramesPending())
            .arg(timeoutMs / 1000);
    logLine(sentence.toUtf8());
    return sentence;
}

} // namespace ConsoleShutdown
