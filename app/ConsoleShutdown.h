#pragma once

#include <QString>

#include <functional>

class EventLog;
class SaveRunFeeder;
class StopSignals;

// How the console ends when the operator does not close it: a stop signal
// (a logout, a service stop, a closed terminal) and a disk that stops taking
// a save run.
namespace ConsoleShutdown {

// Longest wait, when the console closes, for the save run's last frames.
constexpr int kCloseWaitMs = 10000;

// On the first stop signal: logs that the console is stopping, lets a later
// signal end it at once, and calls `stop` (the console quits its event loop,
// as closing the window does; finishSaveRuns then ends the save run).
void stopOnSignal(StopSignals &stopSignals, EventLog &log, std::function<void()> stop);

// Ends the armed save run ("the console was closed") and waits at most
// timeoutMs for its files. Empty when everything is on disk and closed;
// otherwise the sentence that says what stays unwritten (also logged).
QString finishSaveRuns(SaveRunFeeder &saveRuns, EventLog &log, int timeoutMs = kCloseWaitMs);

} // namespace ConsoleShutdown
