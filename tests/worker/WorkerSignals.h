#pragma once

#include "acquisition/SaveOutcome.h"

#include <QObject>
#include <QString>


// Lives in the test thread and repeats the worker's signals, which reach it
// queued. QSignalSpy appends from the emitting thread, so spies watch this
// relay rather than the worker.
class WorkerSignals : public QObject
{
    Q_OBJECT

signals:
    void errorOccurred(QString errormessage);
    void finished();
    void saveProgressed(int index);
    void fullOnTaken();
    void fullOffTaken();
    void saveFailed(QString message);
    void saveFinished(SaveOutcome outcome);
    void deviceFailed(QString message);
};
