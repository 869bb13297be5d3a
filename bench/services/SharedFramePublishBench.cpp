// Per-frame cost of publishing 16384 currents in shared memory: pwrite of the
// 131072 bytes through the descriptor (what the console does) against the old
// memcpy into a writable mapping (which faults once the object is shrunk).
// Works on a private object, so a running console is not disturbed. Prints its
// figures; run by hand from the build directory.
#include "services/SharedFrameView.h"

#include <QElapsedTimer>

#include <fcntl.h>
#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

constexpr int kFrames = 5000;
constexpr double kBudgetUs = 200.0; // the whole host cost of one frame

struct Figures {
    double median;
    double p99;
};

template <typename Publish>
Figures measure(std::vector<double> &frame, Publish publish)
{
    std::vector<double> times;
    times.reserve(kFrames);
    for (int i = 0; i < kFrames; ++i) {
        frame[std::size_t(i) % frame.size()] = i; // a different frame each time
        QElapsedTimer timer;
        timer.start();
        publish();
        times.push_back(double(timer.nsecsElapsed()) / 1000.0);
    }
    std::sort(times.begin(), times.end());
    return {times[times.size() / 2], times[times.size() * 99 / 100]};
}

void print(const char *what, const Figures &figures)
{
    std::printf("%-34s median %6.1f us, p99 %6.1f us (%.0f %% of the %.0f us frame budget at the median)\n", what,
                figures.median, figures.p99, 100.0 * figures.median / kBudgetUs, kBudgetUs);
}

} // namespace

int main()
{
    const std::string name = "TessivoBench-" + std::to_string(getpid());
    std::vector<double> frame(SharedFrameView::kMaxValues, 12.5);

    SharedFrameView view(name.c_str());
    if (!view.isOpen())
        return EXIT_FAILURE; // the view has said why
    bool allPublished = true;
    const Figures written = measure(frame, [&] { allPublished = view.publish(frame.data(), frame.size()) && allPublished; });

    const int fd = shm_open(("/" + name).c_str(), O_RDWR, 0);
    void *mapping = fd >= 0 ? mmap(nullptr, SharedFrameView::Size, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0)
                            : MAP_FAILED;
    if (mapping == MAP_FAILED) {
        std::fprintf(stderr, "The comparison mapping could not be made.\n");
        shm_unlink(("/" + name).c_str());
        return EXIT_FAILURE;
    }
    const Figures copied =
        measure(frame, [&] { std::memcpy(mapping, frame.data(), SharedFrameView::Size); });
    munmap(mapping, SharedFrameView::Size);
    ::close(fd);
    shm_unlink(("/" + name).c_str());

    std::printf("Shared frame publish, %d frames of %zu bytes:\n", kFrames, SharedFrameView::Size);
    print("pwrite through the descriptor:", written);
    print("memcpy into a mapping (old):", copied);
    if (!allPublished) {
        std::fprintf(stderr, "Some frames were not published.\n");
        return EXIT_FAILURE;
    }
    return EXIT_SUCCESS;
}
