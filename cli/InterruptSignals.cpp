#include "InterruptSignals.h"

#include <QtGlobal>

#include <atomic>
#include <csignal>

namespace {

std::atomic<bool> g_received{false};
static_assert(ATOMIC_BOOL_LOCK_FREE == 2, "the signal handler needs a lock-free flag");

void noteSignal(int)
{
    g_received.store(true);
}

} // namespace

namespace InterruptSignals {

void install()
{
#ifdef Q_OS_WIN
    // The C runtime resets the handler when it calls it.
    std::signal(SIGINT, noteSignal);
    std::signal(SIGTERM, noteSignal);
#else
    struct sigaction action {};
    action.sa_handler = noteSignal;
    action.sa_flags = SA_RESETHAND | SA_RESTART;
    sigemptyset(&action.sa_mask);
    for (const int signal : {SIGINT, SIGTERM}) {
        if (sigaction(signal, &action, nullptr) != 0)
            qWarning("Signal %d could not be caught; it will end the tool without keeping the run.", signal);
    }
#endif
}

bool received()
{
    return g_received.load();
}

} // namespace InterruptSignals
