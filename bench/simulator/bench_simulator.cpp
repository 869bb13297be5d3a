// Simulator figures: frame throughput with no integration wait (request, then
// read until the whole frame is in, as the acquisition loop does), and the
// cost of one getStatus + read pair on a small answer.

#include "simulator/SimulatorBackend.h"
#include "simulator/ZK128Device.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <vector>

using Clock = std::chrono::steady_clock;

namespace {

constexpr DWORD kFrameBytes = 49157;

void writeCommand(SimulatorBackend &backend, FT_HANDLE handle, std::vector<unsigned char> frame)
{
    unsigned sum = 0;
    for (unsigned char b : frame)
        sum += b;
    frame.push_back(static_cast<unsigned char>(sum & 0xFF));
    frame.push_back(0x0A);
    DWORD written = 0;
    backend.write(handle, frame.data(), DWORD(frame.size()), &written);
}

bool readFrame(SimulatorBackend &backend, FT_HANDLE handle, std::vector<unsigned char> &buffer)
{
    DWORD total = 0;
    while (total < kFrameBytes) {
        DWORD rx = 0, tx = 0, ev = 0;
        if (backend.getStatus(handle, &rx, &tx, &ev) != FT_OK)
            return false;
        if (rx == 0)
            continue;
        DWORD got = 0;
        if (backend.read(handle, buffer.data() + total, std::min(rx, kFrameBytes - total), &got) != FT_OK)
            return false;
        total += got;
    }
    return true;
}

void frameThroughput(SimulatorBackend &backend, FT_HANDLE handle, const char *label)
{
    std::vector<unsigned char> buffer(kFrameBytes);
    int frames = 0;
    const auto start = Clock::now();
    const auto end = start + std::chrono::seconds(2);
    while (Clock::now() < end) {
        writeCommand(backend, handle, {0xAE, 0xAA, 0x05});
        if (!readFrame(backend, handle, buffer)) {
            std::printf("frame read failed\n");
            return;
        }
        ++frames;
    }
    const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
    std::printf("%-44s %8.1f frames/s (%d frames in %.2f s, %.1f MB/s)\n", label, frames / seconds, frames, seconds,
                frames * double(kFrameBytes) / seconds / 1e6);
}

void statusReadCost(SimulatorBackend &backend, FT_HANDLE handle)
{
    constexpr int kRounds = 20000;
    std::vector<double> micros;
    micros.reserve(kRounds);
    unsigned char buffer[16];
    for (int i = 0; i < kRounds; ++i) {
        writeCommand(backend, handle, {0xAE, 0xAA, 0x00});
        // Wait (outside the timed part) until the 5-byte answer is there.
        DWORD rx = 0, tx = 0, ev = 0;
        while (rx < 5)
            backend.getStatus(handle, &rx, &tx, &ev);
        const auto t0 = Clock::now();
        backend.getStatus(handle, &rx, &tx, &ev);
        DWORD got = 0;
        backend.read(handle, buffer, rx, &got);
        micros.push_back(std::chrono::duration<double, std::micro>(Clock::now() - t0).count());
    }
    std::sort(micros.begin(), micros.end());
    std::printf("%-44s %8.2f us median, %.2f us 90th percentile (%d pairs)\n", "getStatus + read of a 5-byte answer",
                micros[micros.size() / 2], micros[micros.size() * 9 / 10], kRounds);
}

} // namespace

int main()
{
    auto device = std::make_shared<ZK128Device>();
    device->setScene(ZK128Device::Scene::Uniform);
    device->setReplyDelay(std::chrono::microseconds(0));
    SimulatorBackend backend(device);
    FT_HANDLE handle = nullptr;
    if (backend.openEx("ZK128", FT_OPEN_BY_SERIAL_NUMBER, &handle) != FT_OK) {
        std::printf("The simulator could not be opened.\n");
        return 1;
    }
    backend.setTimeouts(handle, 2000, 1000);
    // Range 800 nA with integration count 0: no integration wait.
    writeCommand(backend, handle, {0xAE, 0xAA, 0x01, 0x80, 0, 0x80, 0, 0x80, 0, 0x80, 0, 3, 0x20, 0, 0, 0});
    std::vector<unsigned char> ack(5);
    DWORD got = 0;
    backend.read(handle, ack.data(), 5, &got);

    frameThroughput(backend, handle, "frames, count 0, USB 40 MB/s (default)");
    device->setUsbBytesPerSecond(0);
    frameThroughput(backend, handle, "frames, count 0, instantaneous link");
    statusReadCost(backend, handle);
    backend.close(handle);
    return 0;
}
