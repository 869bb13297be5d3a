#include "app/WorkerGate.h"

#include "acquisition/LoopParking.h"

#include <QThread>

#include <algorithm>

WorkerGate::WorkerGate(LoopParking &worker, const QThread &workerThread, QObject *parent)
    : QObject(parent)
    , m_worker(worker)
    , m_workerThread(workerThread)
{
}

bool WorkerGate::workerParked() const
{
    return !m_workerThread.isRunning() || m_worker.isParked();
}

bool WorkerGate::whenParked(Job kind, std::function<void()> job)
{
    withdraw(kind);
    if (!m_held && m_waiting.empty() && workerParked()) {
        job();
        return true;
    }
    m_waiting.push_back({kind, std::move(job)});
    return false;
}

void WorkerGate::withdraw(Job kind)
{
    m_waiting.erase(std::remove_if(m_waiting.begin(), m_waiting.end(),
                                   [kind](const Waiting &waiting) { return waiting.kind == kind; }),
                    m_waiting.end());
}

bool WorkerGate::isWaiting(Job kind) const
{
    return std::any_of(m_waiting.begin(), m_waiting.end(), [kind](const Waiting &waiting) { return waiting.kind == kind; });
}

void WorkerGate::loopParked()
{
    // A job may start a capture (the worker then runs again): the rest wait
    // for its next park.
    while (!m_held && !m_waiting.empty() && workerParked()) {
        Waiting next = std::move(m_waiting.front());
        m_waiting.erase(m_waiting.begin());
        next.job();
    }
}

void WorkerGate::hold()
{
    m_held = true;
}

void WorkerGate::release()
{
    m_held = false;
    loopParked();
}
