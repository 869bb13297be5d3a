#pragma once

#include "simulator/SimulatorEnvironment.h"

#include <QString>

#include <atomic>
#include <memory>
#include <thread>

class ZK128Device;

// Lets a program outside the process watch and handle the simulated device,
// for tests of the console's own executables:
//   TESSIVO_SIM_COMMAND_LOG=FILE  every command the device receives, except
//                                 frame requests, is appended to FILE as one
//                                 line of hex bytes ("AE AA 00 00 0A");
//   TESSIVO_SIM_UNPLUG_FILE=FILE  the device is unplugged while FILE exists
//                                 and plugged in again when it is removed.
// Both are looked at every kPeriodMs on a thread of the tap's own.
//
// Thread contract: built and destroyed by one thread; the tap's thread only
// calls the device, which is itself thread-safe.
class SimulatorTap
{
public:
    static constexpr int kPeriodMs = 20;

    // Null when neither variable is set.
    static std::unique_ptr<SimulatorTap> fromEnvironment(std::shared_ptr<ZK128Device> device,
                                                         const SimulatorEnvironment::Lookup &lookup);
    SimulatorTap(std::shared_ptr<ZK128Device> device, QString commandLog, QString unplugFile);
    ~SimulatorTap();
    SimulatorTap(const SimulatorTap &) = delete;
    SimulatorTap &operator=(const SimulatorTap &) = delete;

private:
    void run();
    void writeCommands();
    void followUnplugFile();

    const std::shared_ptr<ZK128Device> m_device;
    const QString m_commandLog;
    const QString m_unplugFile;
    std::atomic<bool> m_quit{false}; // set by the destructor, read by the tap's thread
    bool m_unplugged = false;        // the tap's thread only: the file was there last time
    std::thread m_thread;
};
