#pragma once

#include "acquisition/ReceiverThread.h"
#include "acquisition/SaveOutcome.h"
#include "cli/CaptureOptions.h"
#include "cli/RunSummary.h"
#include "context/SettingsIdentity.h"
#include "operation/CaptureDevice.h"

#include <QElapsedTimer>
#include <QObject>
#include <QString>
#include <QThread>

#include <optional>

#include "analysis/ReferenceSet.h"

class ConsoleContext;
class ProgressPrinter;
class ScriptStreams;
struct ParameterSet;

// One unattended run of tessivo128-capture on the console's core, in the
// window's order: connect (open, configuration, handshake, battery), set
// (parameter command, acknowledged), prepare the run folder as the Save page
// does, start the capture, arm the save run on the acquisition worker, wait
// for its outcome, stop the capture (stop command, worker parked) and close
// the device. The worker and its save-run writer write the same files the
// window writes.
//
// The run ends early, keeping every frame gathered, on Ctrl+C, SIGTERM or
// SIGHUP ("the run was interrupted"), when the worker gives the device up, or when
// no frame has arrived for kStallMs ("the device stopped answering"). A run
// ended early whose files the disk has not taken kWriterWaitMs later is
// abandoned: the tool says how many frames stay unwritten and exits. The
// main loop never waits on the writer.
//
// Thread contract: main thread only. The worker runs on m_thread and reports
// through queued signals; the outcome arrives from the writer's thread,
// queued as well.
class ScriptedCapture : public QObject
{
    Q_OBJECT

public:
    static constexpr int kTickMs = 100;     // how often interruption and stalls are looked at
    static constexpr int kStallMs = 10000;  // longest wait for a frame (the slowest range takes 0.8 s)
    static constexpr int kParkMs = 10000;   // longest wait for the worker to park after the stop
    static constexpr int kWriterWaitMs = 10000; // longest wait for the run's files once it was ended early

    // Where the tool keeps the worker's own settings: apart from the window's,
    // so a scripted run never changes what the window restores.
    static SettingsIdentity settingsIdentity();

    ScriptedCapture(const ConsoleContext &context, const CaptureOptions &options, ScriptStreams &streams,
                    ProgressPrinter &progress, QObject *parent = nullptr);
    ~ScriptedCapture() override;

    // Carries the run out; returns the tool's exit code (ExitCode). With
    // --summary, the run's JSON summary is written last.
    int run();
    const RunSummary &summary() const { return m_summary; }

private:
    int connectAndCapture();
    // Loads --references; false (with the sentence printed) when it cannot.
    bool loadReferences();
    void applyReferences();
    int finishSummary(int code);
    int capture(const ParameterSet &parameters);
    SaveOutcome gather(const SaveRunPlan &plan);
    void watch();
    void giveUp(const QString &reason);
    void abandonStalledDisk();
    int report(const SaveOutcome &outcome);
    RunMetadata metadata(const ParameterSet &parameters) const;
    void stopCapture();

    const ConsoleContext &m_context;
    const CaptureOptions m_options;
    ScriptStreams &m_streams;
    ProgressPrinter &m_progress;
    QThread m_thread;
    ReceiverThread m_worker; // declared after its thread: destroyed before it
    CaptureDevice m_device;

    // The run in progress (main thread only).
    bool m_capturing = false;
    bool m_interrupted = false;
    QString m_deviceProblem; // why the device was given up; empty while it answers
    QElapsedTimer m_runClock;   // since the save run was armed
    QElapsedTimer m_frameClock; // since the last frame was gathered
    QElapsedTimer m_endClock;   // since the run was ended early (invalid before)
    std::optional<ReferenceSet> m_references; // --references, loaded before connecting
    RunSummary m_summary;
};
