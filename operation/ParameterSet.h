#pragma once

#include "device/DeviceProtocol.h"
#include "operation/BiasVoltages.h"
#include "operation/IntegrationSearch.h"

#include <QString>

#include <vector>

class AcquisitionSettings;

// The parameters one parameter command sets: the current range, the four
// bias voltages and the integration the search chose for the range, with the
// 18-byte command that carries them. The window's Setting and the
// command-line tool build it the same way, and hand it to the worker only
// once the device acknowledged it.
struct ParameterSet
{
    // The widest current range the device offers; the narrowest typed range is 1 nA.
    static constexpr int kMaxRangeNa = 800;

    double rangeNa = kMaxRangeNa;
    BiasVoltages voltages;
    IntegrationSearch::State integration;
    bool integrationFound = true; // false: no candidate qualified; the previous integration is kept
    DeviceProtocol::Frame command;

    // The integration search for the range, starting from `previous`, and the command.
    static ParameterSet choose(double rangeNa, const BiasVoltages &voltages, const IntegrationSearch::State &previous,
                               const std::vector<double> &table = IntegrationSearch::defaultTable());
    // The acknowledged values reach the worker: range (and the full-on
    // reference with it), integral current and integral time.
    void applyTo(AcquisitionSettings &worker, const std::vector<double> &table = IntegrationSearch::defaultTable()) const;
    // The parameter summary of these values, as the parameter file records them.
    QString summary() const;
};
