#include "operation/BiasVoltages.h"

#include <QLocale>

#include <cmath>

std::optional<double> BiasVoltages::parseVolts(const QString &text)
{
    bool ok = false;
    const double volts = QLocale::c().toDouble(text.trimmed(), &ok);
    if (!ok || !std::isfinite(volts) || std::abs(volts) > kLimitVolts)
        return std::nullopt;
    return volts == 0.0 ? 0.0 : volts; // no "-0" in the parameter file
}

QString BiasVoltages::refusalFor(const QString &fieldName)
{
    return QStringLiteral("%1 must be a number from -15 to 15 V.").arg(fieldName);
}

QString BiasVoltages::text(double volts)
{
    return QString::number(volts, 'g', 6);
}

std::optional<BiasVoltages> BiasVoltages::parse(const QString &vbias1, const QString &vbias2, const QString &von,
                                                const QString &voff, QString *refusal)
{
    const std::pair<const char *, const QString *> fields[] = {
        {"Vbias1", &vbias1}, {"Vbias2", &vbias2}, {"Von", &von}, {"Voff", &voff}};
    double values[4] = {};
    for (int i = 0; i < 4; ++i) {
        const std::optional<double> volts = parseVolts(*fields[i].second);
        if (!volts) {
            if (refusal)
                *refusal = refusalFor(QString::fromLatin1(fields[i].first));
            return std::nullopt;
        }
        values[i] = *volts;
    }
    return BiasVoltages{values[0], values[1], values[2], values[3]};
}
