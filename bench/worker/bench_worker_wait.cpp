// How the acquisition loop waits for a frame: asleep through most of the
// device's frame time (the console's way) against polling without pause (the
// loop as it used to be), in the same run. Printed per case: frames/s and the
// CPU share of the worker thread. Targets: at 800 nA the worker uses at most
// 15 % of a core with at least 99 % of the busy loop's frames/s; at
// integration count 0 the sleeping loop keeps at least 95 % of its frames/s.

#include "bench/worker/BenchCapture.h"

#include <QCoreApplication>

#include <cstdio>

namespace {

struct Figures {
    double framesPerSecond = 0.0;
    double cpu = 0.0;
};

Figures measure(int rangeNa, std::uint32_t count, ReceiverThread::WaitStrategy strategy, double seconds)
{
    BenchCapture capture(rangeNa, count);
    if (!capture.ready())
        return {};
    capture.worker().setWaitStrategy(strategy);
    capture.play();
    QThread::msleep(500); // past the start-up and the pacer's first frames
    Figures figures;
    figures.cpu = BenchCapture::busiestThreadCpu(seconds, &figures.framesPerSecond, &capture);
    capture.stop();
    return figures;
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const double seconds = argc > 1 ? QString::fromLocal8Bit(argv[1]).toDouble() : 4.0;
    const struct {
        const char *name;
        int range;
        std::uint32_t count;
    } cases[] = {{"800 nA, count 7180 (11.5 ms per frame)", 800, 7180}, {"count 0 (the link's pace)", 100, 0}};
    std::printf("worker waiting for frames, %.0f s per case\n", seconds);
    for (const auto &c : cases) {
        const Figures busy = measure(c.range, c.count, ReceiverThread::WaitStrategy::BusyPoll, seconds);
        const Figures sleep = measure(c.range, c.count, ReceiverThread::WaitStrategy::Sleep, seconds);
        std::printf("  %s\n", c.name);
        std::printf("    busy polling : %7.1f frames/s, worker CPU %5.1f %% of a core\n", busy.framesPerSecond,
                    100.0 * busy.cpu);
        std::printf("    sleeping     : %7.1f frames/s, worker CPU %5.1f %% of a core  (%.1f %% of the busy rate)\n",
                    sleep.framesPerSecond, 100.0 * sleep.cpu, 100.0 * sleep.framesPerSecond / busy.framesPerSecond);
    }
    return 0;
}
