#include "operation/ParameterSummary.h"

namespace ParameterSummary {

QString compose(double rangeNa, const QString &vbias1, const QString &vbias2, const QString &von, const QString &voff)
{
    return QStringLiteral("Current:") + QString::number(rangeNa, 'g', 6) + '\n' + QStringLiteral("Vbias1:") + vbias1
        + '\n' + QStringLiteral("Vbias2:") + vbias2 + '\n' + QStringLiteral("Von:") + von + '\n'
        + QStringLiteral("Voff:") + voff + '\n';
}

} // namespace ParameterSummary
