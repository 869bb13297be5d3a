#include "acquisition/PixelSeriesSampler.h"

#include "acquisition/PixelDecoder.h"

#include <algorithm>
#include <memory>

PixelSeriesSampler::PixelSeriesSampler()
    : seriesAccumulator(Channels)
{
}

void PixelSeriesSampler::rebase(double heldSeconds, Clock::time_point now)
{
    // Held times are whole milliseconds divided by 1000; the small bias keeps
    // 12.345 * 1000 from truncating to 12344 through its binary representation.
    const auto heldMs = std::chrono::milliseconds(static_cast<long long>(heldSeconds * 1000.0 + 1e-6));
    seriesClockStart = now - heldMs;
    clockStarted = true;
}

PixelCurrentSeries PixelSeriesSampler::step(const RawFrame &frame, const std::vector<int> &pixels, int currentRange,
                                            Clock::time_point now, double &elapsedSeconds)
{
    if (!clockStarted) {
        seriesClockStart = now;
        clockStarted = true;
    }
    const auto elapsedMs = std::chrono::duration_cast<std::chrono::milliseconds>(now - seriesClockStart).count();
    elapsedSeconds = double(elapsedMs) / 1000.0;

    auto snapshot = std::make_shared<std::vector<std::vector<double>>>(seriesAccumulator);
    for (auto &list : seriesAccumulator)
        list.clear();

    const std::size_t sampled = std::min<std::size_t>(pixels.size(), Channels);
    for (std::size_t k = 0; k < sampled; ++k) {
        const int p = pixels[k];
        if (PixelDecoder::isValidIndex(p) && std::size_t(3 * p + 3) <= frame.size())
            seriesAccumulator[k].push_back(PixelDecoder::current(frame, p, currentRange));
    }
    return snapshot;
}
