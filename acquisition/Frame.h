#pragma once

#include "acquisition/FrameTypes.h"

#include <chrono>
#include <cstdint>
#include <memory>

// One frame as the capture loop publishes it: the device's bytes, the
// currents they stand for on the range they were taken with, when the frame
// arrived and its number in the capture. Filled once by the capture loop,
// then shared read-only by every consumer (FramePtr); the buffers come from
// a FramePool and go back to it when the last consumer lets go.
struct Frame
{
    RawFrame raw;            // Zk128::FrameLength bytes as assembled
    CurrentFrame currents;   // Zk128::PixelCount currents in nA on `range`
    int range = 0;           // nA, the full scale of the conversion
    std::uint64_t index = 0; // 1 for the first frame the loop ever published
    std::chrono::system_clock::time_point arrived;       // wall clock, for the saved time stamps
    std::chrono::steady_clock::time_point arrivedSteady; // for intervals and latencies
};

using FramePtr = std::shared_ptr<const Frame>;

// Fills frame.currents from frame.raw on frame.range (see PixelDecoder).
void decodeCurrents(Frame &frame);
