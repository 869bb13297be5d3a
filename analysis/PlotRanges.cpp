#include "analysis/PlotRanges.h"

#include <algorithm>

namespace PlotRanges {

QCPRange steady(const QCPRange &shown, const QCPRange &needed, double margin)
{
    const bool holds = shown.lower <= needed.lower && needed.upper <= shown.upper;
    if (holds && needed.size() * 2.0 >= shown.size())
        return shown;
    // A flat series still gets a span to sit in.
    const double span = std::max(needed.size(), 1e-3 * std::max(1.0, std::abs(needed.center())));
    return QCPRange(needed.lower - margin * span, needed.upper + margin * span);
}

double steadyTop(double shown, double needed, double headroom)
{
    if (needed <= shown && needed * headroom * headroom >= shown)
        return shown;
    return needed * headroom;
}

} // namespace PlotRanges
