#include "WorkerParking.h"

#include "ReceiverThread.h"

#include <QThread>

bool WorkerParking::ensureParked(ReceiverThread &worker, const QThread &workerThread, int timeoutMs)
{
    if (!workerThread.isRunning())
        return true;
    return worker.isParked() || worker.waitUntilParked(timeoutMs);
}
