#pragma once

#include "analysis/LiveAnalysisSource.h"

#include <QRect>

#include <atomic>
#include <memory>
#include <thread>

struct SharedRecording;

// The mean of a region in every frame of an open recording, computed on a
// thread of its own: a 1000-frame run takes a few hundred ms to read, which
// must not hold up the window. Each frame is measured as the live figures
// are (RegionStatistics), so NaN pixels are left out the same way.
//
// Thread contract: built, asked and destroyed on the GUI thread. The thread
// reads the recording one frame at a time under SharedRecording::mutex, so a
// frame shown or exported meanwhile waits for one frame at most; it alone
// writes m_means until it sets m_done (release), after which only the GUI
// thread reads them. m_stop is an atomic the GUI thread sets.
class RunRegionMeans
{
public:
    // Measures `region` in frames 0 .. frames - 1; the result carries `version`.
    RunRegionMeans(std::shared_ptr<SharedRecording> recording, const QRect &region, int frames,
                   std::uint64_t version);
    ~RunRegionMeans();

    const QRect &region() const { return m_region; }
    int frames() const { return m_frames; }
    bool isDone() const { return m_done.load(std::memory_order_acquire); }
    // The means, once done.
    const RunMeans &means() const { return m_means; }

private:
    void run();

    std::shared_ptr<SharedRecording> m_recording;
    const QRect m_region;
    const int m_frames;
    RunMeans m_means;
    std::atomic<bool> m_stop{false};
    std::atomic<bool> m_done{false};
    std::thread m_thread; // last: starts once the members above exist
};
