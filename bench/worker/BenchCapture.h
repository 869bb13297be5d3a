#pragma once

#include "acquisition/ReceiverThread.h"
#include "context/ConsoleContext.h"
#include "simulator/ZK128Device.h"

#include <QTemporaryDir>
#include <QThread>

#include <cstdint>
#include <memory>

// A worker in its own thread in front of the simulator, for the benchmarks:
// opened, set to a range and an integration count, parked until play().
class BenchCapture
{
public:
    BenchCapture(int rangeNa, std::uint32_t integrationCount);
    ~BenchCapture();
    BenchCapture(const BenchCapture &) = delete;
    BenchCapture &operator=(const BenchCapture &) = delete;

    bool ready() const { return m_ready; }
    void play();
    bool stop();

    ReceiverThread &worker() { return *m_worker; }
    const ConsoleContext &context() const { return m_context; }
    ZK128Device &device() { return *m_device; }

    // Peak resident memory of this process (VmHWM), in MiB.
    static double peakResidentMiB();
    // Frames per second the worker sends to the window over `seconds`.
    double frameRate(double seconds);
    // CPU share (0..1 of one core) of the busiest thread but the main one over `seconds`.
    static double busiestThreadCpu(double seconds, double *framesPerSecond = nullptr, BenchCapture *capture = nullptr);

private:
    std::shared_ptr<ZK128Device> m_device;
    QTemporaryDir m_dir;
    ConsoleContext m_context;
    void *m_handle = nullptr;
    QThread m_thread;
    ReceiverThread *m_worker = nullptr;
    bool m_ready = false;
};
