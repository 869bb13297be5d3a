#pragma once

#include <QtGlobal>

#include <cstdint>

// How a capture went, frame by frame: what the window's health readouts and
// the log show. Counts start at zero with each capture.
struct FrameHealth
{
    std::uint64_t received = 0;  // frames taken and processed
    std::uint64_t timedOut = 0;  // requests given up because no complete frame came in time
    std::uint64_t discarded = 0; // accumulations that could not hold a frame
    qint64 captureStartedMs = 0; // ms since the Unix epoch at the capture's start; 0 before any

    std::uint64_t lost() const { return timedOut + discarded; }
};
