#pragma once

#include "acquisition/RecordedFrame.h"
#include "acquisition/RunSink.h"
#include "acquisition/SaveOutcome.h"
#include "acquisition/SaveRunPlan.h"

#include <QString>
#include <QStringList>

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

// Writes save runs to disk on a thread of its own, so that the acquisition
// loop only hands frames over and never waits for a disk, an encoder or a
// formatter. One run at a time: begin, append the frames as they are
// gathered, end. The sinks of a run (CSV data, pictures, video, HDF5) are
// opened, fed and finished on the writer thread, in frame order.
//
// Nothing is dropped: append blocks while `queueLimit` frames wait, so a disk
// slower than the capture slows the capture down instead of losing frames,
// and memory stays bounded whatever the length of the run. Ending a run never
// waits: end() wakes an append blocked on a full queue (its frame is not
// counted), so a stalled disk cannot hold up Stop, Save or closing.
//
// A sink that fails is not fed again but is still finished. When every sink
// of the run has failed, the writer ends the run by itself: the outcome is
// delivered at once, isRunning() turns false and later appends are ignored.
//
// Thread contract: begin, append and end may be called from any thread, but
// the frames of one run come from one thread (the acquisition loop). The
// outcome callback runs on the writer thread, once per run, after every sink
// has finished. m_mutex guards the queue and the run state.
class SaveRunWriter
{
public:
    using Finished = std::function<void(const SaveOutcome &outcome)>;

    explicit SaveRunWriter(std::size_t queueLimit = 32);
    // A run still going is ended as interrupted ("the console was closed") and
    // written out before the thread ends.
    ~SaveRunWriter();
    SaveRunWriter(const SaveRunWriter &) = delete;
    SaveRunWriter &operator=(const SaveRunWriter &) = delete;

    // Starts a run. A run still going is ended first as interrupted ("a new
    // save run was started"). The sinks are opened on the writer thread; one
    // that does not open counts as failed and is not finished (a sink's open
    // removes what it made before it failed). A kind the plan asks for with no
    // sink handed over fails as "no writer was set up for it".
    // Returns the run's number, for append and endRun.
    std::uint64_t begin(const SaveRunPlan &plan, std::vector<std::unique_ptr<RunSink>> sinks, Finished finished);
    // Queues the next frame of run `run` (ignored when that run is not going,
    // also when it ends while the append waits for room).
    void append(std::uint64_t run, std::shared_ptr<const RecordedFrame> frame);
    // Ends the run going after the frames queued so far. An empty
    // interruption means the run gathered all its frames. Returns at once.
    void end(const RunReferences &references, const QString &interruption);
    // The same for run `run` only (nothing when another run is going).
    void endRun(std::uint64_t run, const RunReferences &references, const QString &interruption);
    // True from begin until the run has been ended (by end, or by itself).
    bool isRunning() const;
    // Blocks until every run handed over has been written and its outcome delivered.
    void waitUntilIdle();
    // The same for at most `limit`; false when the writer is still busy then.
    bool waitUntilIdle(std::chrono::milliseconds limit);
    // Frames handed over but not yet through every sink (the one being written included).
    int framesPending() const;

private:
    // What the callers hand the writer thread, in order.
    struct Command
    {
        enum class Type { Begin, Frame, End };
        Type type = Type::Frame;
        std::uint64_t run = 0;                       // the run it belongs to
        SaveRunPlan plan;                            // Begin
        std::vector<std::unique_ptr<RunSink>> sinks; // Begin
        Finished finished;                           // Begin
        std::shared_ptr<const RecordedFrame> frame;  // Frame
        RunReferences references;                    // End
        QString interruption;                        // End
        int gathered = 0;                            // End: frames appended to the run
    };
    // One sink of the run being written.
    struct SinkSlot
    {
        std::unique_ptr<RunSink> sink;
        bool opened = false;
        QString failure; // "the video could not be written: ..."; empty while it works
    };
    // The run the writer thread is writing.
    struct ActiveRun
    {
        std::uint64_t id = 0;
        SaveRunPlan plan;
        QStringList kinds;          // in outcome order
        QStringList missingKinds;   // asked for by the plan but handed no sink
        std::vector<SinkSlot> sinks;
        Finished finished;
    };

    void pushEnd(const RunReferences &references, const QString &interruption); // m_mutex held
    void threadLoop();
    void handle(Command &command);
    void startRun(Command &command);
    void writeFrame(const RecordedFrame &frame);
    bool allSinksFailed() const;
    void endFailedRun();
    void finishRun(const RunReferences &references, const QString &interruption, int gathered);

    const std::size_t m_queueLimit;

    mutable std::mutex m_mutex;
    std::condition_variable m_commandQueued; // the writer thread waits for work or the end
    std::condition_variable m_frameTaken;    // append waits for room, or for its run to end
    std::condition_variable m_idle;          // waitUntilIdle waits for an empty queue

    // Guarded by m_mutex; written by the callers and by the writer thread.
    std::deque<Command> m_queue;
    std::size_t m_queuedFrames = 0; // Frame commands in m_queue
    bool m_running = false;         // see isRunning()
    std::uint64_t m_runId = 0;      // the run begin started last
    int m_gathered = 0;             // frames appended to run m_runId
    bool m_busy = false;            // the writer thread is handling a command
    bool m_busyWithFrame = false;   // ... and that command is a frame
    bool m_stopping = false;        // the destructor asked the thread to end

    // Writer thread only.
    std::unique_ptr<ActiveRun> m_active;

    std::thread m_thread; // last: it starts once every member above exists
};
