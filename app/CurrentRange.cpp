#include "CurrentRange.h"

namespace {
double g_currentRange = 200.0;
}

double CurrentRange::value()
{
    return g_currentRange;
}

void CurrentRange::set(double nanoAmperes)
{
    g_currentRange = nanoAmperes;
}
