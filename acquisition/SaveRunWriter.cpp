#include "acquisition/SaveRunWriter.h"

#include "acquisition/AcquisitionLogging.h"
#include "acquisition/RunFiles.h"

#include <QDebug>

#include <algorithm>

namespace {

// The order the operator's message lists the kinds in.
const QStringList kKindOrder = {QStringLiteral("data"), QStringLiteral("pictures"), QStringLiteral("video"),
                                QStringLiteral("HDF5 file")};

int kindRank(const QString &kind)
{
    const int rank = int(kKindOrder.indexOf(kind));
    return rank < 0 ? int(kKindOrder.size()) : rank;
}

QString failureClause(const QString &kind, const QString &reason)
{
    return QStringLiteral("the %1 could not be written: %2").arg(kind, reason);
}

QStringList plannedKinds(const SaveRunPlan &plan)
{
    QStringList kinds;
    const bool asked[] = {plan.data, plan.pictures, plan.video, plan.hdf5};
    for (int k = 0; k < kKindOrder.size(); ++k)
        if (asked[k])
            kinds << kKindOrder[k];
    return kinds;
}

} // namespace

SaveRunWriter::SaveRunWriter(std::size_t queueLimit)
    : m_queueLimit(std::max<std::size_t>(queueLimit, 1)), m_thread([this] { threadLoop(); })
{
}

SaveRunWriter::~SaveRunWriter()
{
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (m_running)
            pushEnd({}, QStringLiteral("the console was closed"));
        m_stopping = true;
    }
    m_commandQueued.notify_all();
    m_thread.join(); // the thread writes out everything queued before it ends
}

void SaveRunWriter::pushEnd(const RunReferences &references, const QString &interruption)
{
    Command command;
    command.type = Command::Type::End;
    command.run = m_runId;
    command.references = references;
    command.interruption = interruption;
    command.gathered = m_gathered;
    m_queue.push_back(std::move(command));
    m_running = false;
    m_frameTaken.notify_all(); // an append waiting for room now has no run
}

std::uint64_t SaveRunWriter::begin(const SaveRunPlan &plan, std::vector<std::unique_ptr<RunSink>> sinks,
                                    Finished finished)
{
    std::uint64_t id = 0;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (m_running)
            pushEnd({}, QStringLiteral("a new save run was started"));
        Command command;
        command.type = Command::Type::Begin;
        command.run = ++m_runId;
        command.plan = plan;
        command.sinks = std::move(sinks);
        command.finished = std::move(finished);
        m_queue.push_back(std::move(command));
        m_running = true;
        m_gathered = 0;
        id = m_runId;
    }
    m_commandQueued.notify_one();
    return id;
}

void SaveRunWriter::append(std::uint64_t run, std::shared_ptr<const RecordedFrame> frame)
{
    if (!frame)
        return;
    {
        std::unique_lock<std::mutex> lock(m_mutex);
        // A disk slower than the capture holds the capture here: no frame is dropped.
        m_frameTaken.wait(lock, [&] { return !m_running || m_runId != run || m_queuedFrames < m_queueLimit; });
        if (!m_running || m_runId != run)
            return;
        Command command;
        command.type = Command::Type::Frame;
        command.run = run;
        command.frame = std::move(frame);
        m_queue.push_back(std::move(command));
        ++m_queuedFrames;
        ++m_gathered;
    }
    m_commandQueued.notify_one();
}

void SaveRunWriter::end(const RunReferences &references, const QString &interruption)
{
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (!m_running)
            return;
        pushEnd(references, interruption);
    }
    m_commandQueued.notify_one();
}

void SaveRunWriter::endRun(std::uint64_t run, const RunReferences &references, const QString &interruption)
{
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (!m_running || m_runId != run)
            return;
        pushEnd(references, interruption);
    }
    m_commandQueued.notify_one();
}

bool SaveRunWriter::isRunning() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_running;
}

void SaveRunWriter::waitUntilIdle()
{
    std::unique_lock<std::mutex> lock(m_mutex);
    m_idle.wait(lock, [this] { return m_queue.empty() && !m_busy; });
}

bool SaveRunWriter::waitUntilIdle(std::chrono::milliseconds limit)
{
    std::unique_lock<std::mutex> lock(m_mutex);
    return m_idle.wait_for(lock, limit, [this] { return m_queue.empty() && !m_busy; });
}

int SaveRunWriter::framesPending() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return int(m_queuedFrames) + (m_busyWithFrame ? 1 : 0);
}

void SaveRunWriter::threadLoop()
{
    std::unique_lock<std::mutex> lock(m_mutex);
    for (;;) {
        m_commandQueued.wait(lock, [this] { return !m_queue.empty() || m_stopping; });
        if (m_queue.empty())
            return; // stopping, and everything handed over is written
        Command command = std::move(m_queue.front());
        m_queue.pop_front();
        if (command.type == Command::Type::Frame) {
            --m_queuedFrames;
            m_frameTaken.notify_all();
        }
        m_busy = true;
        m_busyWithFrame = command.type == Command::Type::Frame;
        lock.unlock();
        handle(command);
        command = Command(); // the frame and the sinks go before the lock is taken again
        lock.lock();
        m_busy = false;
        m_busyWithFrame = false;
        if (m_queue.empty())
            m_idle.notify_all();
    }
}

void SaveRunWriter::handle(Command &command)
{
    switch (command.type) {
    case Command::Type::Begin:
        startRun(command);
        break;
    case Command::Type::Frame:
        // A run that ended by itself takes no more frames.
        if (m_active && m_active->id == command.run)
            writeFrame(*command.frame);
        break;
    case Command::Type::End:
        if (m_active && m_active->id == command.run)
            finishRun(command.references, command.interruption, command.gathered);
        break;
    }
}

void SaveRunWriter::startRun(Command &command)
{
    auto run = std::make_unique<ActiveRun>();
    run->id = command.run;
    run->plan = command.plan;
    run->finished = std::move(command.finished);

    std::vector<std::unique_ptr<RunSink>> &sinks = command.sinks;
    sinks.erase(std::remove(sinks.begin(), sinks.end(), nullptr), sinks.end());
    std::stable_sort(sinks.begin(), sinks.end(), [](const std::unique_ptr<RunSink> &a, const std::unique_ptr<RunSink> &b) {
        return kindRank(a->kind()) < kindRank(b->kind());
    });
    QStringList sinkKinds;
    for (std::unique_ptr<RunSink> &sink : sinks) {
        sinkKinds << sink->kind();
        SinkSlot slot;
        slot.sink = std::move(sink);
        run->sinks.push_back(std::move(slot));
    }
    for (const QString &kind : plannedKinds(run->plan))
        if (!sinkKinds.contains(kind))
            run->missingKinds << kind;
    run->kinds = plannedKinds(run->plan) + sinkKinds;
    run->kinds.removeDuplicates();
    std::stable_sort(run->kinds.begin(), run->kinds.end(),
                     [](const QString &a, const QString &b) { return kindRank(a) < kindRank(b); });

    for (SinkSlot &slot : run->sinks) {
        QString reason;
        slot.opened = slot.sink->open(run->plan, &reason);
        if (!slot.opened)
            slot.failure = failureClause(slot.sink->kind(), reason);
    }
    m_active = std::move(run);
    if (allSinksFailed())
        endFailedRun();
}

void SaveRunWriter::writeFrame(const RecordedFrame &frame)
{
    for (SinkSlot &slot : m_active->sinks) {
        QString reason;
        if (slot.failure.isEmpty() && !slot.sink->write(frame, &reason))
            slot.failure = failureClause(slot.sink->kind(), reason);
    }
    if (allSinksFailed())
        endFailedRun();
}

bool SaveRunWriter::allSinksFailed() const
{
    return std::all_of(m_active->sinks.begin(), m_active->sinks.end(),
                       [](const SinkSlot &slot) { return !slot.failure.isEmpty(); });
}

// Nothing more of this run can reach the disk: its queued frames are dropped
// and, unless the caller has ended it already, it ends here and now.
void SaveRunWriter::endFailedRun()
{
    const std::uint64_t id = m_active->id;
    bool endQueued = true;
    int gathered = 0;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        const auto first = std::remove_if(m_queue.begin(), m_queue.end(), [id](const Command &command) {
            return command.type == Command::Type::Frame && command.run == id;
        });
        m_queuedFrames -= std::size_t(m_queue.end() - first);
        m_queue.erase(first, m_queue.end());
        if (m_running && m_runId == id) {
            m_running = false;
            gathered = m_gathered;
            endQueued = false;
        }
    }
    m_frameTaken.notify_all();
    if (!endQueued)
        finishRun({}, QString(), gathered);
    // Otherwise the caller's end, now next in the queue for this run, finishes it.
}

void SaveRunWriter::finishRun(const RunReferences &references, const QString &interruption, int gathered)
{
    ActiveRun &run = *m_active;
    const bool complete = interruption.isEmpty() && gathered >= run.plan.frames;
    SaveOutcome outcome;
    outcome.folder = run.plan.folder;
    outcome.kinds = run.kinds;
    outcome.requested = run.plan.frames;
    outcome.gathered = gathered;
    outcome.interruption = interruption;
    if (run.sinks.empty() && run.missingKinds.isEmpty())
        outcome.interruption = QStringLiteral("no kind of output was chosen");

    // A kind without a sink has nothing on disk.
    int written = run.sinks.empty() || !run.missingKinds.isEmpty() ? 0 : gathered;
    for (SinkSlot &slot : run.sinks) {
        QString reason;
        if (slot.opened && !slot.sink->finish(references, complete, &reason) && slot.failure.isEmpty())
            slot.failure = failureClause(slot.sink->kind(), reason);
        written = std::min(written, slot.sink->framesWritten());
    }
    outcome.written = written;
    // The renames into place are durable before the run is reported saved.
    QString reason;
    if (!run.plan.syncedBeside.isEmpty() && !RunFiles::syncFile(run.plan.syncedBeside, &reason))
        qCWarning(lcAcquisition).noquote() << "The parameter file could not be synced to the disk:" << reason;
    if (!run.sinks.empty() && !RunFiles::syncFolder(run.plan.folder, &reason))
        qCWarning(lcAcquisition).noquote() << "The run folder could not be synced to the disk:" << reason;
    for (const QString &kind : run.kinds) {
        for (const SinkSlot &slot : run.sinks)
            if (slot.sink->kind() == kind && !slot.failure.isEmpty())
                outcome.failures << slot.failure;
        if (run.missingKinds.contains(kind))
            outcome.failures << failureClause(kind, QStringLiteral("no writer was set up for it"));
    }

    const Finished finished = std::move(run.finished);
    m_active.reset(); // every file of the run is closed before the outcome goes out
    if (finished)
        finished(outcome);
}
