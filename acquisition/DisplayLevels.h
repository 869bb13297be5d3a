#pragma once

#include <QMetaType>

#include <cstddef>
#include <utility>

// Display levels: which currents the live picture spreads over its full
// scale. Off (the default), the picture is rendered as it always is: on the
// current range, or between each pixel's references with calibration on.
// On, the current `low` maps to level 0 and `high` to 255 in every colour
// mode. Levels shape only what the operator sees: saved gray levels, pictures
// and video never depend on them.
struct DisplayLevels
{
    bool enabled = false;
    bool automatic = false; // low and high follow each frame's 0.5 and 99.5 percentiles
    double low = 0.0;       // nA
    double high = 0.0;      // nA

    bool operator==(const DisplayLevels &other) const
    {
        return enabled == other.enabled && automatic == other.automatic && low == other.low && high == other.high;
    }
};

Q_DECLARE_METATYPE(DisplayLevels)

namespace LevelMapping {

constexpr double kAutoLowFraction = 0.005;
constexpr double kAutoHighFraction = 0.995;

// The level (0..255, not truncated) of a current between low and high: 0 at
// or below low, 255 at or above high; NaN for a current that is not a number.
// A span of zero or less maps everything at or above low to 255.
double level(double current, double low, double high);

// The automatic levels of a frame: its 0.5 and 99.5 percentiles (nearest
// rank) over the values that are numbers; {0, 0} when none is.
std::pair<double, double> automaticLevels(const double *values, std::size_t count);

} // namespace LevelMapping
