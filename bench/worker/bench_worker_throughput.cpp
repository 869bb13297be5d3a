// Whole-loop throughput of the capture loop against the simulator with no
// integration wait: request, transfer at the simulated USB rate, assembly,
// decoding into a pooled frame and its consumers (pixel readout, It-curve,
// shared-memory copy; the live picture is rendered only when the window asks
// for it, so display mode and calibration no longer cost the loop). The
// simulator alone cannot exceed its link: 49157 bytes at 40 MB/s, about 814
// frames/s. The simulator's own request-and-read loop (bench_simulator)
// reaches about 400 frames/s on the default link, so the last case, with the
// link made instantaneous, shows the worker's own per-frame cost.

#include "bench/worker/BenchCapture.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QImage>

#include <atomic>
#include <cstdio>

namespace {

struct Case {
    const char *name;
    int displayMode;
    bool calibrated;
    bool series;
    bool instantLink; // no transfer time: what the worker itself can take
};

double measure(const Case &c, double seconds)
{
    BenchCapture capture(100, 0);
    if (!capture.ready())
        return -1.0;
    if (c.instantLink)
        capture.device().setUsbBytesPerSecond(0);
    ReceiverThread &worker = capture.worker();
    worker.rendering().setDisplayMode(c.displayMode);
    worker.rendering().setCalibrationEnabled(c.calibrated);
    if (c.series)
        worker.readout().startSeries({0, 8000, 16383});
    const auto frames = [&worker] { return worker.frameHealth().received; };
    capture.play();
    while (frames() < 10) // past the start-up
        QThread::msleep(1);
    const std::uint64_t first = frames();
    QElapsedTimer clock;
    clock.start();
    QThread::msleep(static_cast<unsigned long>(seconds * 1000));
    const std::uint64_t counted = frames() - first;
    const double elapsed = clock.nsecsElapsed() / 1e9;
    capture.stop();
    return double(counted) / elapsed;
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const double linkLimit = 40e6 / 49157.0;
    std::printf("worker throughput, integration count 0, simulated link 40 MB/s (limit %.0f frames/s)\n", linkLimit);
    const Case cases[] = {
        {"gray", 0, false, false, false},
        {"rgb", 1, false, false, false},
        {"heat, calibrated", 2, true, false, false},
        {"gray + It-curve (3 pixels)", 0, false, true, false},
        {"gray, instantaneous link", 0, false, false, true},
    };
    for (const Case &c : cases) {
        const double rate = measure(c, 2.0);
        std::printf("  %-28s %7.1f frames/s  (%5.1f %% of the link limit)\n", c.name, rate, 100.0 * rate / linkLimit);
    }
    std::printf("compare: bench_simulator's own request-and-read loop on the same link\n");
    return 0;
}
