#pragma once

#include "SaveOutcome.h"

#include <QImage>
#include <QObject>
#include <QString>

#include <memory>
#include <vector>

// Lives in the test thread and repeats the worker's signals, which reach it
// queued. QSignalSpy appends from the emitting thread, so spies watch this
// relay rather than the worker.
class WorkerSignals : public QObject
{
    Q_OBJECT

signals:
    void onCellclicked(double current);
    void errorOccurred(QString errormessage);
    void sendImagetoMain(QImage displayImage);
    void finished();
    void savemessage(int index);
    void setMaxSuccess();
    void setMinSuccess();
    void pixelCurrentDataUpdated(std::shared_ptr<std::vector<std::vector<double>>> sharedData, double duration);
    void saveFailed(QString message);
    void saveFinished(SaveOutcome outcome);
    void deviceFailed(QString message);
};
