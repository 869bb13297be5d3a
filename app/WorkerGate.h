#pragma once

#include <QObject>

#include <functional>
#include <vector>

class LoopParking;
class QThread;

// The window's own device exchanges (battery poll, parameter command,
// closing the handle, starting a capture) must never overlap the worker's
// reads, nor a connect attempt's. After a stop the worker may still be
// finishing the frame in flight, so an exchange is passed through this gate:
// it runs at once when the worker is parked and no connect attempt holds the
// gate, and otherwise waits, without blocking the window, until the worker
// reports that it has parked or the attempt releases the gate.
//
// Each job has a kind; a newer job of a kind replaces a waiting one, and a
// waiting job can be withdrawn (a start withdrawn by a stop).
//
// Thread contract: GUI thread only; the worker's report (its loopParked
// signal) arrives through a queued connection to loopParked(), made by
// whoever composes the gate with the worker.
class WorkerGate : public QObject
{
    Q_OBJECT

public:
    enum class Job { StartCapture, Battery, Parameters, CloseDevice };

    WorkerGate(LoopParking &worker, const QThread &workerThread, QObject *parent = nullptr);

    // Runs the job now when the worker is parked, or keeps it until it is.
    // True when it ran now.
    bool whenParked(Job kind, std::function<void()> job);
    void withdraw(Job kind);
    bool isWaiting(Job kind) const;
    // True when the worker cannot be reading right now.
    bool workerParked() const;
    // While held, every job waits, even with the worker parked: the window's
    // connect attempt is talking to the device from a thread of its own.
    // Releasing runs the waiting jobs when the worker is parked.
    void hold();
    void release();

public slots:
    // The worker has parked: runs the waiting jobs.
    void loopParked();

private:

    struct Waiting {
        Job kind;
        std::function<void()> job;
    };
    LoopParking &m_worker;
    const QThread &m_workerThread;
    std::vector<Waiting> m_waiting; // in the order they were asked for
    bool m_held = false;
};
