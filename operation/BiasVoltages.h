#pragma once

#include <QString>

#include <optional>

// The four bias voltages of the parameter command, as the operator typed or
// restored them and as they were sent. Each must be a number from -15 to 15 V
// (the DAC's range is wider, but the matrix must never see more).
struct BiasVoltages
{
    static constexpr double kLimitVolts = 15.0;

    double vbias1 = 0.0;
    double vbias2 = 0.0;
    double von = 0.0;
    double voff = 0.0;

    // The four texts parsed, in the order Vbias1, Vbias2, Von, Voff; on the
    // first text that is not a number from -15 to 15 (empty, "-", "abc",
    // "99", "nan"), nothing and *refusal holds the sentence that names it.
    static std::optional<BiasVoltages> parse(const QString &vbias1, const QString &vbias2, const QString &von,
                                             const QString &voff, QString *refusal);
    // One text: a number from -15 to 15 V, or nothing.
    static std::optional<double> parseVolts(const QString &text);
    // "Vbias2 must be a number from -15 to 15 V."
    static QString refusalFor(const QString &fieldName);
    // A voltage as the parameter file records it: the shortest form of the
    // number sent ("5", "-2.5").
    static QString text(double volts);
};
