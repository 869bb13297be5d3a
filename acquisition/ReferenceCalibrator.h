#pragma once

#include "acquisition/FrameTypes.h"

#include <array>
#include <vector>

// Builds one per-pixel reference (full-on or full-off) from ten consecutive
// frames: each pixel's reference is the mean of its middle eight readings, the
// lowest and the highest dropped. Each reference kind has its own calibrator,
// so two kinds can never fill each other's slots.
//
// Thread contract: owned and used by the acquisition thread; addFrame fans the
// sampling out over OpenCV's worker threads and joins before it returns.
class ReferenceCalibrator
{
public:
    static constexpr int FramesPerReference = 10;

    ReferenceCalibrator(); // allocates the 10 x 16384 sample slots once

    // Samples the frame's currents in parallel over the 16384 pixels. On the
    // 10th frame reduces every pixel to the mean of the middle 8 of its 10
    // values, writes it into `reference` (16384 entries) and returns true; the
    // counter is then 0 again.
    bool addFrame(const RawFrame &frame, int currentRange, std::vector<double> &reference);

    int framesGathered() const { return m_framesGathered; } // 0..9
    void reset();

    // Mean of positions 1..8 of the sorted values (ties dropped once each).
    static double trimmedMean(std::array<double, 10> values);

private:
    // Slot (f, i) at f * 16384 + i: the current of pixel i in the f-th frame.
    std::vector<double> m_samples;
    int m_framesGathered = 0;
};
