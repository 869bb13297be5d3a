#pragma once

#include "acquisition/FrameConsumer.h"
#include "acquisition/SaveOutcome.h"
#include "acquisition/SaveRunPlan.h"
#include "acquisition/SaveRunWriter.h"

#include <QString>

#include <atomic>
#include <chrono>
#include <memory>
#include <vector>
#include <functional>
#include <mutex>

class FrameRendering;
class ReferenceCalibration;

// The save runs, in one place: arm hands it a plan; each of the next frames
// goes, as it arrives, to the save-run writer, which streams it to disk on a
// thread of its own. The run ends when its last frame is gathered, or early
// (end) with everything gathered so far kept; the finished callback tells how
// it went.
//
// Thread contract: arm, end and the queries may be called from any thread;
// consume runs on the capture thread. m_mutex guards the armed run and the
// sink factory. It is never held while a frame waits for room in the writer
// (ending a run wakes that wait, so Stop, Save and closing never wait for the
// disk); each frame carries its run's writer number instead, so a run never
// receives a frame numbered for another. The progress callback runs on the
// capture thread, the finished callback on the writer's thread; both are set
// before the capture starts.
class EventLog;

class SaveRunFeeder : public FrameConsumer
{
public:
    using Progress = std::function<void(int gathered)>;
    using Finished = std::function<void(const SaveOutcome &outcome)>;
    // Makes the sinks of a run (default: the sinks of the plan's kinds).
    using SinkFactory = std::function<std::vector<std::unique_ptr<RunSink>>(const SaveRunPlan &plan)>;

    // Each run's outcome goes to log (from the writer's thread).
    SaveRunFeeder(const FrameRendering &rendering, const ReferenceCalibration &references, EventLog &log);
    ~SaveRunFeeder() override;

    void onProgress(Progress progress) { m_progress = std::move(progress); }
    void onFinished(Finished finished) { m_finished = std::move(finished); }

    // Arms a run (the plan's folder exists). A run still armed ends first,
    // interrupted by "a new save run was started". A plan of fewer than one
    // frame is refused: false, with the sentence in *refusal.
    bool arm(const SaveRunPlan &plan, QString *refusal);
    // Ends the armed run early, keeping every frame gathered so far; `reason`
    // says why. Without an armed run nothing happens.
    void end(const QString &reason);
    bool isArmed() const;
    // The armed run's plan (kinds all off when none is armed).
    SaveRunPlan armedPlan() const;
    // Frames the latest run has gathered so far (it keeps its count once ended).
    int gathered() const { return m_gathered.load(); }
    // Blocks until every run handed to the writer is on disk and reported.
    void waitUntilIdle() { m_writer.waitUntilIdle(); }
    // The same for at most `limit`; false when the writer is still busy (a stalled disk).
    bool waitUntilIdle(std::chrono::milliseconds limit) { return m_writer.waitUntilIdle(limit); }
    // Frames handed to the writer that are not on disk yet.
    int framesPending() const { return m_writer.framesPending(); }
    // The sinks of the runs armed from now on. For tests and the soak
    // benchmark: a sink that blocks or fails stands for a stalled or full disk.
    void setSinkFactory(SinkFactory factory);

    void consume(const FramePtr &frame) override;

private:
    void endLocked(const QString &interruption); // m_mutex held

    const FrameRendering &m_rendering;
    EventLog &m_log; // safe from any thread
    const ReferenceCalibration &m_references;
    Progress m_progress;
    Finished m_finished;

    struct ArmedRun
    {
        bool armed = false;
        SaveRunPlan plan;
        int gathered = 0;
        std::uint64_t writerRun = 0; // the writer's number of this run
    };
    mutable std::mutex m_mutex;
    ArmedRun m_run;
    SinkFactory m_sinkFactory; // empty: the plan's own sinks
    std::atomic<bool> m_armed{false}; // mirrors m_run.armed for the capture thread's quick test
    std::atomic<int> m_gathered{0};
    // The writer of every save run; itself thread-safe. Declared last: its
    // callback reaches the members above.
    SaveRunWriter m_writer;
};
