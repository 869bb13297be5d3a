#include "analysis/SavedReferences.h"

#include "analysis/ReferenceFile.h"
#include "context/SettingsIdentity.h"
#include "context/SettingsKeys.h"

#include <QSettings>

#include <cmath>

namespace SavedReferences {

bool loadAtStart(const SettingsIdentity &identity)
{
    return identity.open()->value(QLatin1String(SettingsKeys::kLoadReferencesAtStart), false).toBool();
}

void setLoadAtStart(const SettingsIdentity &identity, bool enabled)
{
    identity.open()->setValue(QLatin1String(SettingsKeys::kLoadReferencesAtStart), enabled);
}

QString lastFile(const SettingsIdentity &identity)
{
    return identity.open()->value(QLatin1String(SettingsKeys::kLastReferencesFile)).toString();
}

void setLastFile(const SettingsIdentity &identity, const QString &path)
{
    identity.open()->setValue(QLatin1String(SettingsKeys::kLastReferencesFile), path);
}

StartLoad loadAtConsoleStart(const SettingsIdentity &identity)
{
    StartLoad result;
    const QString path = lastFile(identity);
    if (!loadAtStart(identity) || path.isEmpty())
        return result;
    result.references = ReferenceFile::load(path, &result.sentence);
    return result;
}

QString rangeWarning(const ReferenceSet &references, double currentRangeNa)
{
    // The ranges are set values, not measurements: only a real difference counts.
    if (std::abs(references.currentRangeNa - currentRangeNa) <= 1e-9 * std::abs(currentRangeNa))
        return QString();
    return QStringLiteral("These references were taken at %1 nA; the current range is %2 nA.")
        .arg(QString::number(references.currentRangeNa), QString::number(currentRangeNa));
}

RunReferences applied(const RunReferences &held, const ReferenceSet &loaded)
{
    RunReferences next = held;
    if (loaded.fullOffTaken) {
        next.fullOff = loaded.fullOff;
        next.fullOffTaken = loaded.fullOffTaken;
    }
    if (loaded.fullOnTaken) {
        next.fullOn = loaded.fullOn;
        next.fullOnTaken = loaded.fullOnTaken;
    }
    return next;
}

bool anyMeasured(const ReferenceSet &loaded)
{
    return loaded.fullOffTaken.has_value() || loaded.fullOnTaken.has_value();
}

} // namespace SavedReferences
