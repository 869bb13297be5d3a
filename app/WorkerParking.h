#pragma once

class QThread;
class ReceiverThread;

// The window's own device exchanges (battery poll, parameter command, closing
// the handle) must never overlap the worker's reads. After a stop the worker
// may still be finishing the frame in progress; these waits until it sits on
// its wait condition again.
class WorkerParking
{
public:
    // Long enough for the worker to give up a frame that never completes.
    static constexpr int DefaultTimeoutMs = 4000;

    // True when the worker cannot be reading: its thread is not running, or
    // it has parked (waiting at most timeoutMs for that).
    static bool ensureParked(ReceiverThread &worker, const QThread &workerThread,
                             int timeoutMs = DefaultTimeoutMs);
};
