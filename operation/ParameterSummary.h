#pragma once

#include <QString>

#include <optional>

// The parameter summary: the five lines that describe the device's parameters
// and go into every save run's parameter file, each ended by a line feed:
// "Current:" with the range in nA (6 significant digits), then "Vbias1:",
// "Vbias2:", "Von:" and "Voff:" with the voltages.
namespace ParameterSummary {

QString compose(double rangeNa, const QString &vbias1, const QString &vbias2, const QString &von, const QString &voff);

// The values a summary records, read back from a parameter file.
struct Values
{
    double rangeNa = 0.0;
    double vbias1Volts = 0.0; // NaN for a voltage whose line is missing or not a number
    double vbias2Volts = 0.0;
    double vonVolts = 0.0;
    double voffVolts = 0.0;
};

// The values of `text` as compose writes them (lines in any order, "\r\n"
// too); nothing when the "Current:" line is missing or not a positive number.
std::optional<Values> parse(const QString &text);

} // namespace ParameterSummary
