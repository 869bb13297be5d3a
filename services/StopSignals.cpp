#include "services/StopSignals.h"

#include "services/ServicesLogging.h"

#include <QSocketNotifier>
#include <QtGlobal>

#include <atomic>
#include <cerrno>
#include <csignal>
#include <ctime>

#ifndef Q_OS_WIN
#include <fcntl.h>
#include <unistd.h>
#endif

namespace {

static_assert(ATOMIC_INT_LOCK_FREE == 2 && ATOMIC_LLONG_LOCK_FREE == 2 && ATOMIC_BOOL_LOCK_FREE == 2,
              "the signal handler needs lock-free atomics");

// Written by the handler (and the main thread at construction), read anywhere.
std::atomic<int> g_firstSignal{0};
std::atomic<long long> g_firstMs{0};
std::atomic<bool> g_stoppingSaid{false};
std::atomic<int> g_exitCode{1};
std::atomic<int> g_pipeWrite{-1};

long long monotonicMs()
{
    timespec now{};
    ::clock_gettime(CLOCK_MONOTONIC, &now); // async-signal-safe
    return (long long)(now.tv_sec) * 1000 + now.tv_nsec / 1000000 + 1; // never 0, which means "none yet"
}

// Async-signal-safe only: atomics, clock_gettime, write and _exit.
void onStopSignal(int signal)
{
    const int savedErrno = errno;
    const long long now = monotonicMs();
    long long none = 0;
    if (g_firstMs.compare_exchange_strong(none, now)) {
        g_firstSignal.store(signal);
#ifndef Q_OS_WIN
        const char byte = char(signal);
        const int fd = g_pipeWrite.load();
        if (fd >= 0 && ::write(fd, &byte, 1) < 0) {
            // The pipe is full or gone: the flag alone tells a polling loop.
        }
#endif
    } else if (g_stoppingSaid.load() && now - g_firstMs.load() >= StopSignals::kBurstMs) {
        ::_exit(g_exitCode.load());
    }
    errno = savedErrno;
}

} // namespace

StopSignals::StopSignals(int immediateExitCode, QObject *parent) : QObject(parent)
{
    g_exitCode.store(immediateExitCode);
#ifdef Q_OS_WIN
    for (const int signal : {SIGINT, SIGTERM})
        std::signal(signal, onStopSignal);
#else
    int fds[2] = {-1, -1};
    if (::pipe(fds) == 0) {
        for (const int fd : fds) {
            ::fcntl(fd, F_SETFD, FD_CLOEXEC);
            ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) | O_NONBLOCK);
        }
        g_pipeWrite.store(fds[1]);
        m_notifier = new QSocketNotifier(fds[0], QSocketNotifier::Read, this);
        connect(m_notifier, &QSocketNotifier::activated, this, &StopSignals::readPipe);
    } else {
        qCWarning(lcServices, "The stop signals cannot wake the event loop; they are looked at while it polls.");
    }
    struct sigaction action {};
    action.sa_handler = onStopSignal;
    action.sa_flags = SA_RESTART;
    sigemptyset(&action.sa_mask);
    for (const int signal : {SIGINT, SIGTERM, SIGHUP}) {
        if (::sigaction(signal, &action, nullptr) != 0)
            qCWarning(lcServices, "Signal %d could not be caught; it will end the program without keeping the run.", signal);
    }
#endif
}

StopSignals::~StopSignals()
{
#ifndef Q_OS_WIN
    // The handlers stay (a late signal still counts); only the pipe goes.
    const int write = g_pipeWrite.exchange(-1);
    if (m_notifier) {
        const int read = int(m_notifier->socket());
        delete m_notifier;
        ::close(read);
    }
    if (write >= 0)
        ::close(write);
#endif
}

bool StopSignals::received()
{
    return g_firstSignal.load() != 0;
}

int StopSignals::firstSignal()
{
    return g_firstSignal.load();
}

void StopSignals::stoppingSaid()
{
    g_stoppingSaid.store(true);
}

void StopSignals::readPipe()
{
#ifndef Q_OS_WIN
    char byte = 0;
    while (::read(int(m_notifier->socket()), &byte, 1) > 0) {
    }
#endif
    emit stopRequested(g_firstSignal.load());
}
