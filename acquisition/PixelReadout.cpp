#include "acquisition/PixelReadout.h"

#include "acquisition/PixelDecoder.h"

void PixelReadout::consume(const FramePtr &frame)
{
    const int index = m_selected.load();
    if (PixelDecoder::isValidIndex(index)) {
        m_selectedCurrent.store(frame->currents[std::size_t(index)]);
        m_selectedIndex.store(frame->index, std::memory_order_release);
    }
    if (m_seriesEnabled.load(std::memory_order_acquire))
        sampleSeries(*frame);
}

bool PixelReadout::selectedCurrent(std::uint64_t after, double &current, std::uint64_t &index) const
{
    const std::uint64_t newest = m_selectedIndex.load(std::memory_order_acquire);
    if (newest <= after)
        return false;
    current = m_selectedCurrent.load();
    index = newest;
    return true;
}

void PixelReadout::sampleSeries(const Frame &frame)
{
    {
        std::lock_guard<std::mutex> lock(m_seriesMutex);
        m_scratch.assign(m_seriesPixels.begin(), m_seriesPixels.end());
    }
    const auto now = PixelSeriesSampler::Clock::now();
    if (m_rebaseClock.exchange(false, std::memory_order_acq_rel))
        m_sampler.rebase(m_heldElapsed.exchange(0.0), now);
    SeriesStep step;
    step.samples = m_sampler.step(frame.raw, m_scratch, frame.range, now, step.elapsedSeconds);
    m_lastElapsed.store(step.elapsedSeconds);
    std::lock_guard<std::mutex> lock(m_seriesMutex);
    m_pending.push_back(std::move(step));
}

std::vector<PixelReadout::SeriesStep> PixelReadout::takeSeries()
{
    std::vector<SeriesStep> taken;
    std::lock_guard<std::mutex> lock(m_seriesMutex);
    taken.swap(m_pending);
    return taken;
}

void PixelReadout::setSeriesPixels(std::vector<int> &&pixels)
{
    std::lock_guard<std::mutex> lock(m_seriesMutex);
    m_seriesPixels = std::move(pixels);
    pixels.clear(); // a moved-from vector is only "valid"; the caller is promised an empty one
}

void PixelReadout::holdSeriesClock()
{
    m_heldElapsed.store(m_lastElapsed.load());
    m_rebaseClock.store(true, std::memory_order_release);
}

void PixelReadout::startSeries(std::vector<int> pixels)
{
    setSeriesPixels(std::move(pixels));
    // The list is in place before the flag: the loop reads it once it sees the flag.
    m_seriesEnabled.store(true, std::memory_order_release);
}

void PixelReadout::stopSeries()
{
    m_seriesEnabled.store(false, std::memory_order_release);
    holdSeriesClock();
}
