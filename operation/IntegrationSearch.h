#pragma once

#include <vector>

// Chooses the integration parameters for a current range: the first entry of
// the integral-current table whose integration value reaches 160000 is taken,
// and the integration count is that value / 25. Pure computation.
class IntegrationSearch
{
public:
    static constexpr double Scale = 0.9574142156862745;
    static constexpr double MinimumValue = 160000.0;
    static constexpr int MaximumHeldCount = 100000000;

    // The window's search state; the search updates it in place.
    struct State {
        double integrationValue = 179500.0;
        int integrationCount = 7180;
        int candidateIndex = 3;
    };

    static const std::vector<double> &defaultTable();

    // Returns false when no entry qualifies; the index and count then keep
    // their previous values (the integration value holds the last one tried).
    // rangeNa must be positive.
    static bool run(const std::vector<double> &table, double rangeNa, State &state);

    // What the worker is told after an acknowledged command.
    static double integralTime(const State &state) { return state.integrationCount * 12.5; }
    static double integralCurrent(const std::vector<double> &table, const State &state);
};
