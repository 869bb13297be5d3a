#pragma once

#include <QString>

#include <atomic>
#include <memory>
#include <thread>

class EventLog;
class SaveRunFeeder;
struct SharedRecording;

// Frames of an open recording handed to the armed save run, from a first
// frame on, on a thread of its own: the save-run writer may make the feeder
// wait for room, which must not hold up the window. The run gets the frames
// with their recorded times, rendered as the console renders now, so a CSV
// run becomes HDF5 (or the other way round) and a long run can be trimmed.
//
// Thread contract: built, stopped and destroyed on the GUI thread; the
// export's thread reads the recording under its mutex and only hands frames
// to the feeder (thread-safe). m_stop and m_done are atomics.
class RecordingExport
{
public:
    RecordingExport(std::shared_ptr<SharedRecording> recording, int first, int count, SaveRunFeeder &saveRuns,
                    EventLog &log);
    ~RecordingExport();

    // Ends the run early when it is still being fed (keeping the frames
    // handed over), and waits for the thread.
    void stop(const QString &reason);
    bool isDone() const { return m_done.load(); }

private:
    void run(int first, int count);

    std::shared_ptr<SharedRecording> m_recording;
    SaveRunFeeder &m_saveRuns;
    EventLog &m_log;
    std::atomic<bool> m_stop{false};
    std::atomic<bool> m_done{false};
    std::thread m_thread; // last: starts once the members above exist
};
