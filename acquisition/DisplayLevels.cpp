#include "acquisition/DisplayLevels.h"

#include <algorithm>
#include <cmath>
#include <vector>

namespace LevelMapping {

double level(double current, double low, double high)
{
    if (std::isnan(current))
        return current;
    if (current <= low)
        return 0.0;
    if (current >= high)
        return 255.0;
    return (current - low) / (high - low) * 255.0;
}

std::pair<double, double> automaticLevels(const double *values, std::size_t count)
{
    std::vector<double> finite;
    finite.reserve(count);
    std::copy_if(values, values + count, std::back_inserter(finite), [](double v) { return !std::isnan(v); });
    if (finite.empty())
        return {0.0, 0.0};
    const auto rank = [&](double fraction) {
        return std::min(finite.size() - 1, std::size_t(fraction * double(finite.size() - 1) + 0.5));
    };
    const std::size_t lowRank = rank(kAutoLowFraction);
    const std::size_t highRank = rank(kAutoHighFraction);
    std::nth_element(finite.begin(), finite.begin() + std::ptrdiff_t(lowRank), finite.end());
    const double low = finite[lowRank];
    std::nth_element(finite.begin() + std::ptrdiff_t(lowRank), finite.begin() + std::ptrdiff_t(highRank),
                     finite.end());
    return {low, finite[highRank]};
}

} // namespace LevelMapping
