#include "acquisition/SaveRunFeeder.h"

#include "acquisition/CsvWriter.h"
#include "acquisition/FrameRendering.h"
#include "acquisition/ReferenceCalibration.h"
#include "acquisition/RunSinks.h"
#include "services/EventLog.h"

#include <QDateTime>

SaveRunFeeder::SaveRunFeeder(const FrameRendering &rendering, const ReferenceCalibration &references,
                             EventLog &log)
    : m_rendering(rendering)
    , m_log(log)
    , m_references(references)
{
}

SaveRunFeeder::~SaveRunFeeder()
{
    // A run still armed keeps what it gathered; its files are closed before
    // anything else goes.
    end(QStringLiteral("the console was closed"));
    m_writer.waitUntilIdle();
}

bool SaveRunFeeder::arm(const SaveRunPlan &plan, QString *refusal)
{
    if (plan.frames < 1) {
        // Such a run would never end.
        *refusal = QStringLiteral("The number of frames to save must be at least 1.");
        return false;
    }
    std::lock_guard<std::mutex> lock(m_mutex);
    if (m_run.armed)
        endLocked(QStringLiteral("a new save run was started"));
    m_run = ArmedRun{true, plan, 0, 0};
    m_gathered.store(0);
    m_run.writerRun = m_writer.begin(plan, m_sinkFactory ? m_sinkFactory(plan) : makeRunSinks(plan),
                                     [this](const SaveOutcome &outcome) {
                                         m_log.line(outcome.logLine().toUtf8());
                                         if (m_finished)
                                             m_finished(outcome);
                                     });
    m_armed.store(true, std::memory_order_release);
    return true;
}

void SaveRunFeeder::setSinkFactory(SinkFactory factory)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_sinkFactory = std::move(factory);
}

void SaveRunFeeder::end(const QString &reason)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    if (m_run.armed)
        endLocked(reason);
}

bool SaveRunFeeder::isArmed() const
{
    return m_armed.load(std::memory_order_acquire);
}

SaveRunPlan SaveRunFeeder::armedPlan() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_run.armed ? m_run.plan : SaveRunPlan{};
}

void SaveRunFeeder::endLocked(const QString &interruption)
{
    m_writer.end(m_references.snapshot(), interruption);
    m_run.armed = false;
    m_armed.store(false, std::memory_order_release);
}

void SaveRunFeeder::consume(const FramePtr &frame)
{
    // Whether this frame is recorded is decided once, when it arrives.
    if (!m_armed.load(std::memory_order_acquire))
        return;
    auto recorded = std::make_shared<RecordedFrame>();
    recorded->time = frame->arrived;
    recorded->timestamp =
        QDateTime::fromMSecsSinceEpoch(
            std::chrono::duration_cast<std::chrono::milliseconds>(frame->arrived.time_since_epoch()).count())
            .toString(QString::fromLatin1(CsvFormat::kTimestampFormat));
    recorded->currents = frame->currents;
    recorded->picture = m_rendering.renderSaved(*frame, &recorded->gray, &recorded->calibrated);

    std::uint64_t run = 0;
    bool complete = false;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (!m_run.armed)
            return; // ended between the frame's arrival and now
        if (!m_writer.isRunning()) {
            // Every output of the run failed and the writer ended it; its
            // outcome has been reported.
            m_run.armed = false;
            m_armed.store(false, std::memory_order_release);
            return;
        }
        recorded->index = ++m_run.gathered;
        run = m_run.writerRun;
        complete = m_run.gathered >= m_run.plan.frames;
        if (complete) {
            // Gathered in full: nothing else may end it or number a frame for it.
            m_run.armed = false;
            m_armed.store(false, std::memory_order_release);
        }
    }
    const int gathered = recorded->index;
    m_gathered.store(gathered);
    // Blocks while the writer's queue is full (a slow disk slows the capture
    // instead of losing frames), outside the run lock: ending the run wakes
    // it, so Stop, Save and closing never wait for the disk.
    m_writer.append(run, std::move(recorded));
    if (complete)
        m_writer.endRun(run, m_references.snapshot(), QString());
    if (m_progress) {
        m_progress(gathered);
        if (complete)
            m_progress(gathered);
    }
}
