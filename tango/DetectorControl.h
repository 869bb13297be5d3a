#pragma once

#include "acquisition/ReceiverThread.h"
#include "operation/BiasVoltages.h"
#include "operation/CaptureDevice.h"
#include "operation/IntegrationSearch.h"
#include "operation/ParameterSet.h"
#include "operation/SaveRequest.h"
#include "tango/FrameTap.h"

#include <QElapsedTimer>
#include <QString>
#include <QThread>

#include <atomic>
#include <mutex>
#include <optional>

class ConsoleContext;

// One ZK128 driven by the console's core for a remote client: the device
// session (CaptureDevice), the acquisition worker on its own thread, the
// parameter set and the save-run preparation, in the window's order. It
// keeps the state (off, on, running, fault), refuses an operation in the
// wrong state with a sentence naming the state, and takes the device to
// fault when it is lost or stops answering, ending a save run as partial.
//
// Thread contract: the operations and watch() may come from any thread;
// `m_mutex` serialises them and guards the members marked so. The worker
// reports by direct signal connections on its own and the writer's threads:
// those handlers touch only the atomics and `m_outcomeMutex`.
class DetectorControl
{
public:
    enum class State { Off, On, Running, Fault };

    // Written values and readings a client sees.
    struct Settings {
        int rangeNa = 800;
        BiasVoltages voltages;
        bool calibrated = false;
        SaveRequest save;
    };
    struct Outcome {
        QString folder;
        QString sentence;
    };

    static constexpr int kStallMs = 10000; // longest wait for a frame while running (the slowest range takes 0.8 s)
    static constexpr int kParkMs = 10000;  // longest wait for the worker to park after the stop

    // serial: the ZK128 to open (empty: the first one).
    DetectorControl(const ConsoleContext &context, QString serial, FrameTap::Observer observer);
    // A save run in progress ends as partial ("the run was interrupted"), the
    // capture stops and the device is closed.
    ~DetectorControl();

    State state() const { return m_state.load(); }
    static const char *stateName(State state);
    QString status() const;

    // Each returns the refusal sentence, empty when done.
    QString connect();
    QString disconnect();
    QString applyParameters();
    QString start();
    QString stop();
    QString takeReference(bool fullOn);
    QString save(QString *folder);
    QString abortSave();

    // Written settings; they reach the device with applyParameters (range and
    // voltages), at once (calibration) or with the next save (save settings).
    Settings settings() const;
    void setRange(int rangeNa);
    void setVoltages(const BiasVoltages &voltages);
    void setCalibrated(bool calibrated);
    void setSave(const SaveRequest &save);

    // Looks at the worker's failures and stalls; takes the device to fault.
    void watch();

    FrameHealth health() const { return m_worker.frameHealth(); }
    std::optional<int> batteryPercent() const;
    QString serial() const;
    int saveProgress() const { return m_saveProgress.load(); }
    Outcome lastOutcome() const;

private:
    QString refusal(const char *operation) const; // m_mutex held
    void stopCaptureLocked();
    void closeLocked(State next, const QString &status);
    void failLocked(const QString &reason);
    void finishSave(const SaveOutcome &outcome);
    RunMetadata metadataLocked() const;

    const ConsoleContext &m_context;
    const QString m_serial;
    QThread m_thread;
    ReceiverThread m_worker; // declared after its thread: destroyed before it
    CaptureDevice m_device;
    FrameTap m_tap; // a consumer of m_worker's frames, added before its loop starts

    mutable std::mutex m_mutex;
    std::atomic<State> m_state{State::Off}; // written under m_mutex, read by anyone
    QString m_status;                       // guarded by m_mutex
    Settings m_settings;                    // guarded by m_mutex
    std::optional<ParameterSet> m_applied;  // guarded by m_mutex: the last acknowledged set
    IntegrationSearch::State m_search;      // guarded by m_mutex
    std::optional<int> m_battery;           // guarded by m_mutex
    QElapsedTimer m_frameClock;             // guarded by m_mutex: since the last frame was seen
    QString m_armedFolder;                  // guarded by m_mutex: the save run in progress

    // Set by the worker's and writer's threads.
    std::atomic<bool> m_frameSeen{false}; // a frame arrived since watch() last looked
    std::atomic<bool> m_workerFailed{false};
    std::atomic<int> m_saveProgress{0};
    mutable std::mutex m_outcomeMutex; // guards m_outcome
    Outcome m_outcome;
};
