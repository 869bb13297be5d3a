#pragma once

// The selected full-scale current in nA, one value for the whole process
// (200 at start). The range buttons, the set flow and the settings load write
// it; the It-curve window sizes its axis from it. GUI thread only.
namespace CurrentRange {
double value();
void set(double nanoAmperes);
} // namespace CurrentRange
