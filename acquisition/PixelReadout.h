#pragma once

#include "acquisition/FrameConsumer.h"
#include "acquisition/PixelSeriesSampler.h"

#include <atomic>
#include <cstdint>
#include <mutex>
#include <vector>

// The currents of chosen cells: the selected cell's current of the newest
// frame, and the It-curve series of up to three cells, sampled on every frame
// and handed out in batches to whoever draws them.
//
// Thread contract: consume runs on the capture thread (the sampler is its
// own). The selected cell and its newest current are atomics; the series
// cells and the batch waiting to be taken are guarded by m_seriesMutex. The
// series clock's hold and rebase go through atomics (GUI holds, capture
// thread rebases).
class PixelReadout : public FrameConsumer
{
public:
    // One It-curve step: the previous step's samples and the time of this one.
    struct SeriesStep
    {
        PixelCurrentSeries samples;
        double elapsedSeconds = 0.0;
    };

    void consume(const FramePtr &frame) override;

    void setSelectedPixel(int index) { m_selected.store(index); }
    // The selected cell's current in the newest frame when that frame is
    // newer than `after`; `index` receives the frame's number.
    bool selectedCurrent(std::uint64_t after, double &current, std::uint64_t &index) const;

    // Moves the list in; the caller's vector is left empty. At most 3 entries are used.
    void setSeriesPixels(std::vector<int> &&pixels);
    // It-curve sampling of these cells (at most 3), from the next frame on.
    void startSeries(std::vector<int> pixels);
    // Stops the sampling; a later start continues the time axis where it stopped.
    void stopSeries();
    // Stops the sampling without holding the time axis (the plot went away).
    void endSeries() { m_seriesEnabled.store(false, std::memory_order_release); }
    void holdSeriesClock();
    bool seriesEnabled() const { return m_seriesEnabled.load(std::memory_order_acquire); }
    // The steps sampled since the last call, oldest first.
    std::vector<SeriesStep> takeSeries();

private:
    void sampleSeries(const Frame &frame);

    std::atomic<int> m_selected{0};
    std::atomic<double> m_selectedCurrent{0.0};
    std::atomic<std::uint64_t> m_selectedIndex{0}; // stored after the current (release)

    std::atomic<bool> m_seriesEnabled{false};
    std::mutex m_seriesMutex;
    std::vector<int> m_seriesPixels;
    std::vector<SeriesStep> m_pending;
    std::atomic<double> m_heldElapsed{0.0};
    std::atomic<double> m_lastElapsed{0.0};
    std::atomic<bool> m_rebaseClock{false};
    // Capture thread only.
    std::vector<int> m_scratch;
    PixelSeriesSampler m_sampler;
};
