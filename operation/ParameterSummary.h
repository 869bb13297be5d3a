#pragma once

#include <QString>

// The parameter summary: the five lines that describe the device's parameters
// and go into every save run's parameter file, each ended by a line feed:
// "Current:" with the range in nA (6 significant digits), then "Vbias1:",
// "Vbias2:", "Von:" and "Voff:" with the voltages.
namespace ParameterSummary {

QString compose(double rangeNa, const QString &vbias1, const QString &vbias2, const QString &von, const QString &voff);

} // namespace ParameterSummary
