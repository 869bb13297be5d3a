// Whole-loop throughput of the acquisition worker against the simulator with
// no integration wait: request, transfer at the simulated USB rate, assembly,
// pixel readout, rendering, shared-memory copy and the image signal. The
// simulator alone cannot exceed its link: 49157 bytes at 40 MB/s, about 814
// frames/s. The simulator's own request-and-read loop (bench_simulator)
// reaches about 400 frames/s on the default link, so the last case, with the
// link made instantaneous, shows the worker's own per-frame cost.

#include "BenchCapture.h"

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
    worker.setDisplayMode(c.displayMode);
    worker.setCalibrationEnabled(c.calibrated);
    if (c.series) {
        worker.setSeriesPixels({0, 8000, 16383});
        worker.seriesEnabled.store(true, std::memory_order_release);
    }
    std::atomic<long> frames{0};
    QObject::connect(&worker, &ReceiverThread::sendImagetoMain, &worker, [&frames](const QImage &) { ++frames; },
                     Qt::DirectConnection);
    capture.play();
    while (frames.load() < 10) // past the start-up
        QThread::msleep(1);
    const long first = frames.load();
    QElapsedTimer clock;
    clock.start();
    QThread::msleep(static_cast<unsigned long>(seconds * 1000));
    const long counted = frames.load() - first;
    const double elapsed = clock.nsecsElapsed() / 1e9;
    capture.stop();
    return counted / elapsed;
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
