#include "operation/ParameterSummary.h"

#include <QStringList>

#include <limits>

namespace ParameterSummary {

namespace {

const QString kCurrent = QStringLiteral("Current:");
const QString kVbias1 = QStringLiteral("Vbias1:");
const QString kVbias2 = QStringLiteral("Vbias2:");
const QString kVon = QStringLiteral("Von:");
const QString kVoff = QStringLiteral("Voff:");

// The number after `key` on its line, or NaN.
double valueOf(const QStringList &lines, const QString &key)
{
    for (const QString &line : lines) {
        if (!line.startsWith(key))
            continue;
        bool ok = false;
        const double value = line.mid(key.size()).trimmed().toDouble(&ok);
        return ok ? value : std::numeric_limits<double>::quiet_NaN();
    }
    return std::numeric_limits<double>::quiet_NaN();
}

} // namespace

QString compose(double rangeNa, const QString &vbias1, const QString &vbias2, const QString &von, const QString &voff)
{
    return kCurrent + QString::number(rangeNa, 'g', 6) + '\n' + kVbias1 + vbias1 + '\n' + kVbias2 + vbias2 + '\n'
        + kVon + von + '\n' + kVoff + voff + '\n';
}

std::optional<Values> parse(const QString &text)
{
    const QStringList lines = text.split(QLatin1Char('\n'));
    Values values;
    values.rangeNa = valueOf(lines, kCurrent);
    if (!(values.rangeNa > 0.0))
        return std::nullopt;
    values.vbias1Volts = valueOf(lines, kVbias1);
    values.vbias2Volts = valueOf(lines, kVbias2);
    values.vonVolts = valueOf(lines, kVon);
    values.voffVolts = valueOf(lines, kVoff);
    return values;
}

} // namespace ParameterSummary
