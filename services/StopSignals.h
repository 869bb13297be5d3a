#pragma once

#include <QObject>

class QSocketNotifier;

// SIGINT, SIGTERM and SIGHUP (Ctrl+C, a service stop or logout, a closed
// terminal or dropped ssh session) ask the process to stop the way the
// operator's Stop does. The handler does no work: it notes the first signal
// and writes one byte into a pipe, whose notifier reports it on the thread
// that owns this object; a loop that polls may look at received() instead.
//
// Signals that come together are one request: `timeout` and a terminal both
// deliver one keypress to the process more than once within microseconds.
// A later signal ends the process at once (with immediateExitCode) only when
// it comes at least kBurstMs after the first and after the process has said
// that it is stopping (stoppingSaid()); until then it is ignored.
//
// Thread contract: one object per process, built on the main thread before
// any other thread starts; the handlers stay installed for the rest of the
// process. received(), firstSignal() and stoppingSaid() are lock-free atomics,
// safe from any thread and from the handler.
class StopSignals : public QObject
{
    Q_OBJECT

public:
    static constexpr int kBurstMs = 1000;

    explicit StopSignals(int immediateExitCode, QObject *parent = nullptr);
    ~StopSignals() override;

    // A stop signal has arrived.
    static bool received();
    // The first stop signal's number, 0 before any.
    static int firstSignal();
    // The process has told its user that it is stopping: a later signal (at
    // least kBurstMs after the first) now ends it at once.
    static void stoppingSaid();

signals:
    // The first stop signal (one per process).
    void stopRequested(int signal);

private:
    void readPipe();

    QSocketNotifier *m_notifier = nullptr;
};
