#pragma once

#include "acquisition/ReceiverThread.h"
#include "simulator/ZK128Device.h"
#include "tests/support/TestContext.h"
#include "tests/worker/ProbeBackend.h"
#include "tests/worker/WorkerSignals.h"

#include <QThread>

#include <atomic>
#include <cstdint>
#include <functional>
#include <mutex>
#include <memory>
#include <vector>

// The frames the loop publishes, as one more consumer sees them: counted,
// the newest kept, and a hook (set before Play) run on the capture thread.
class FrameTap : public FrameConsumer
{
public:
    void consume(const FramePtr &frame) override;
    int count() const { return m_count.load(); }
    FramePtr newest() const;
    void setHook(std::function<void(const Frame &)> hook) { m_hook = std::move(hook); }

private:
    std::atomic<int> m_count{0};
    mutable std::mutex m_mutex;
    FramePtr m_newest;
    std::function<void(const Frame &)> m_hook;
};

// One worker in its own thread in front of a simulated ZK128, wired the way
// the main window wires it: started paused, driven by direct calls, reporting
// through queued signals (here to a relay in the test thread).
class WorkerRig
{
public:
    struct Options {
        int rangeNa = 100;
        std::uint32_t integrationCount = 0; // 0: frames as fast as USB carries them
        bool pauseAfterStart = true;
        int frameTimeoutMs = 400;
    };

    explicit WorkerRig(const Options &options);
    WorkerRig();
    ~WorkerRig();
    WorkerRig(const WorkerRig &) = delete;
    WorkerRig &operator=(const WorkerRig &) = delete;

    // Opens and configures the simulator and starts the worker thread; true
    // once the loop has parked.
    bool start();
    void play();                 // the capture control's Play: resume, then start
    bool stop(int timeoutMs = 5000); // Stop: request, pause, wait until parked

    ZK128Device &device() { return *m_device; }
    ProbeBackend &probe() { return *m_probe; }
    ReceiverThread &worker() { return *m_worker; }
    WorkerSignals &relay() { return m_signals; }
    FrameTap &tap() { return m_tap; }
    int frames() const { return m_tap.count(); } // published since the rig was built
    QThread &thread() { return m_thread; }
    const ConsoleContext &context() const { return m_context.context; }
    QString scratchFolder() const { return m_context.scratchFolder(); }

    // Commands the simulator received with the given code (AE AA code ...).
    int commandCount(std::uint8_t code) const;
    std::vector<std::uint8_t> lastCommand() const;

    // The parameter command for a range in nA and an integration count.
    static std::vector<std::uint8_t> parameterCommand(int rangeNa, std::uint32_t integrationCount);

private:
    bool configureDevice();

    Options m_options;
    std::shared_ptr<ZK128Device> m_device;
    std::shared_ptr<ProbeBackend> m_probe;
    TestContext m_context;
    FT_HANDLE m_handle = nullptr;
    QThread m_thread;
    FrameTap m_tap;                     // outlives the worker, which calls it
    ReceiverThread *m_worker = nullptr; // lives in m_thread; deleted after it ends
    WorkerSignals m_signals;
};
