#pragma once

#include <chrono>
#include <optional>
#include <vector>

// A pair of calibration references with what they were taken at: what
// "Save references..." writes and "Load references..." gives back.
struct ReferenceSet
{
    std::vector<double> fullOff; // 16384 currents in nA, row-major
    std::vector<double> fullOn;  // 16384 currents in nA, row-major
    // When each was measured; empty for one the operator never took (it then
    // holds the worker's defaults).
    std::optional<std::chrono::system_clock::time_point> fullOffTaken;
    std::optional<std::chrono::system_clock::time_point> fullOnTaken;
    double currentRangeNa = 0.0; // the range the references were taken at
    double vbias1Volts = 0.0;    // the voltages the device had acknowledged
    double vbias2Volts = 0.0;
    double vonVolts = 0.0;
    double voffVolts = 0.0;
};
