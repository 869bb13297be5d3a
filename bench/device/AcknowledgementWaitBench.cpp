// Cost of a successful acknowledgement wait (handshake and parameter command)
// against the simulated ZK128: the time the caller is blocked per exchange,
// the checks it took, and the time spent outside the sleeps between checks
// (write, queue status, read and compare).
#include "device/AcknowledgementWait.h"
#include "device/DeviceProtocol.h"
#include "simulator/SimulatorBackend.h"
#include "simulator/ZK128Device.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <memory>
#include <thread>
#include <vector>

namespace {

struct Figures {
    double medianUs = 0;
    double p99Us = 0;
    double medianWorkUs = 0; // excluding the sleeps between checks
    double meanChecks = 0;
    int failures = 0;
};

// Accumulates the wall time spent sleeping between checks.
double sleptUs = 0;

void timedSleep(std::chrono::milliseconds duration)
{
    const auto start = std::chrono::steady_clock::now();
    std::this_thread::sleep_for(duration);
    sleptUs += std::chrono::duration<double, std::micro>(std::chrono::steady_clock::now() - start).count();
}

template <typename Exchange>
Figures measure(int rounds, Exchange exchange)
{
    std::vector<double> micros;
    std::vector<double> work;
    micros.reserve(std::size_t(rounds));
    long checks = 0;
    int failures = 0;
    for (int i = 0; i < rounds; ++i) {
        sleptUs = 0;
        const auto start = std::chrono::steady_clock::now();
        const AcknowledgementWait::Result result = exchange();
        const auto stop = std::chrono::steady_clock::now();
        micros.push_back(std::chrono::duration<double, std::micro>(stop - start).count());
        work.push_back(micros.back() - sleptUs);
        checks += result.checks;
        failures += result.acknowledged ? 0 : 1;
    }
    std::sort(micros.begin(), micros.end());
    std::sort(work.begin(), work.end());
    Figures figures;
    figures.medianUs = micros[micros.size() / 2];
    figures.p99Us = micros[micros.size() * 99 / 100];
    figures.medianWorkUs = work[work.size() / 2];
    figures.meanChecks = double(checks) / rounds;
    figures.failures = failures;
    return figures;
}

void print(const char *what, int rounds, const Figures &f)
{
    std::printf("%-18s rounds %3d  blocked median %9.1f us  p99 %9.1f us  "
                "work median %7.1f us  checks/exchange %.2f  failed %d\n",
                what, rounds, f.medianUs, f.p99Us, f.medianWorkUs, f.meanChecks, f.failures);
}

} // namespace

int main()
{
    auto device = std::make_shared<ZK128Device>();
    SimulatorBackend backend(device);
    FT_HANDLE handle = nullptr;
    if (backend.openEx("ZK128", FT_OPEN_BY_SERIAL_NUMBER, &handle) != FT_OK) {
        std::fprintf(stderr, "The simulated ZK128 could not be opened.\n");
        return 1;
    }
    backend.setTimeouts(handle, 2000, 1000);
    AcknowledgementWait wait(backend, handle, timedSleep);

    // Each exchange blocks for at least one check interval when the device
    // answers after the first check, so a few rounds give stable figures.
    constexpr int rounds = 40;
    print("handshake", rounds, measure(rounds, [&] { return wait.handshake(); }));

    DeviceProtocol::Parameters parameters;
    parameters.candidateIndex = 3;
    parameters.currentRangeNa = 800.0;
    parameters.integrationCount = 7180;
    const DeviceProtocol::Frame frame = DeviceProtocol::parameterCommand(parameters);
    print("parameter command", rounds, measure(rounds, [&] { return wait.sendParameterCommand(frame); }));

    backend.close(handle);
    return 0;
}
