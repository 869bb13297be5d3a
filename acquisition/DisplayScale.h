#pragma once

// What the colours of the live picture stand for: the value shown as level 0
// and the one shown as level 255, in nA (the range, or the operator's display
// levels) or in per cent of each pixel's way from its full-off to its full-on
// reference (calibration on).
struct DisplayScale
{
    enum class Unit { Nanoamperes, PercentOfReferences };

    Unit unit = Unit::Nanoamperes;
    double low = 0.0;
    double high = 0.0;

    static DisplayScale ofRange(int rangeNa) { return {Unit::Nanoamperes, 0.0, double(rangeNa)}; }
    static DisplayScale ofReferences() { return {Unit::PercentOfReferences, 0.0, 100.0}; }
    static DisplayScale ofLevels(double low, double high) { return {Unit::Nanoamperes, low, high}; }

    bool operator==(const DisplayScale &other) const
    {
        return unit == other.unit && low == other.low && high == other.high;
    }
};
