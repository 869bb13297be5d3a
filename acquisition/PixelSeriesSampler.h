#pragma once

#include "acquisition/FrameTypes.h"

#include <chrono>
#include <vector>

// The It-curve step: each frame it samples up to three chosen pixels and hands
// out what the previous step sampled, paired with the present time on the
// series clock. So the first hand-out after start-up carries three empty lists,
// and after a stop and restart the first one carries the last values sampled
// before the stop. The clock counts whole milliseconds from the first step and
// can be re-based so that a restarted curve continues from where it was held.
//
// Thread contract: owned and used by the acquisition thread only.
class PixelSeriesSampler
{
public:
    using Clock = std::chrono::steady_clock;
    static constexpr int Channels = 3;

    PixelSeriesSampler();

    // The next step reports heldSeconds (whole milliseconds) at `now`.
    void rebase(double heldSeconds, Clock::time_point now);

    // One step at `now` on `frame`: returns the previous step's lists and sets
    // elapsedSeconds to the series time of `now`. Entries of `pixels` past the
    // third, and indices outside the matrix, are not sampled.
    PixelCurrentSeries step(const RawFrame &frame, const std::vector<int> &pixels, int currentRange,
                            Clock::time_point now, double &elapsedSeconds);

private:
    std::vector<std::vector<double>> seriesAccumulator; // always Channels lists
    Clock::time_point seriesClockStart;
    bool clockStarted = false;
};
