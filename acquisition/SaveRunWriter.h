#pragma once

#include "RecordedFrame.h"
#include "RunSink.h"
#include "SaveOutcome.h"
#include "SaveRunPlan.h"

#include <QString>

#include <condition_variable>
#include <cstddef>
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
// and memory stays bounded whatever the length of the run.
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
    // that does not open counts as failed.
    void begin(const SaveRunPlan &plan, std::vector<std::unique_ptr<RunSink>> sinks, Finished finished);
    // Queues the next frame of the run (ignored when no run is going).
    void append(std::shared_ptr<const RecordedFrame> frame);
    // Ends the run after the frames queued so far. An empty interruption
    // means the run gathered all its frames. Returns at once.
    void end(const RunReferences &references, const QString &interruption);
    // True from begin until the run has been ended (by end, or by itself).
    bool isRunning() const;
    // Blocks until every run handed over has been written and its outcome delivered.
    void waitUntilIdle();
};
