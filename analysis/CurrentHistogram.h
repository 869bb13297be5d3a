#pragma once

#include <vector>

// How the currents of one frame spread: equal bins from its lowest to its
// highest current. Currents that are not finite numbers are left out.
struct CurrentHistogram
{
    double low = 0.0;  // nA, the lower edge of the first bin
    double high = 0.0; // nA, the upper edge of the last bin
    std::vector<double> centres; // nA, one per bin
    std::vector<double> counts;  // pixels per bin (doubles, as the plot takes them)

    // The histogram of `count` currents in `bins` bins; no bins when no
    // current is a finite number. A frame of one value gets a bin 1 nA wide.
    static CurrentHistogram of(const double *currents, int count, int bins);
};
