#pragma once

#include <QRect>
#include <QString>

#include <limits>
#include <vector>

// The figures of a region of one frame, in nA. Pixels whose current is not a
// number are left out of every figure and counted apart.
struct RegionFigures
{
    QRect region;       // the sensor cells measured
    int pixels = 0;     // pixels with a current
    int nanPixels = 0;  // pixels left out
    double mean = std::numeric_limits<double>::quiet_NaN();
    double standardDeviation = std::numeric_limits<double>::quiet_NaN(); // over the pixels (divides by their count)
    double minimum = std::numeric_limits<double>::quiet_NaN();
    double maximum = std::numeric_limits<double>::quiet_NaN();
    double signalToNoise = std::numeric_limits<double>::quiet_NaN(); // mean / standard deviation
};

namespace RegionStatistics {

// The figures of `region` (sensor cells, clipped to the matrix; a null
// rectangle is the whole matrix) of a frame of 16384 currents, row-major.
// A frame of another size gives no pixels.
RegionFigures measure(const std::vector<double> &currents, const QRect &region);

// The figures as tab-separated text: a header line, then a value line.
QString tabSeparated(const RegionFigures &figures);

} // namespace RegionStatistics
