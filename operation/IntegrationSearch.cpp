#include "operation/IntegrationSearch.h"

const std::vector<double> &IntegrationSearch::defaultTable()
{
    static const std::vector<double> table{12.5, 50.0, 100.0, 150.0};
    return table;
}

bool IntegrationSearch::run(const std::vector<double> &table, double rangeNa, State &state)
{
    for (int i = 0; i < int(table.size()); ++i) {
        const double value = Scale * table[std::size_t(i)] / rangeNa * 1000000;
        state.integrationValue = value;
        if (value >= MinimumValue && state.integrationCount <= MaximumHeldCount) {
            state.candidateIndex = i;
            state.integrationCount = int(value / 25);
            return true;
        }
    }
    return false;
}

double IntegrationSearch::integralCurrent(const std::vector<double> &table, const State &state)
{
    // The table read backwards: the largest candidate pairs with index 0.
    const int mirrored = int(table.size()) - 1 - state.candidateIndex;
    if (mirrored < 0 || mirrored >= int(table.size()))
        return 0.0;
    return table[std::size_t(mirrored)];
}
