#include "acquisition/SaveOutcome.h"

QString SaveOutcome::message() const
{
    if (success())
        return QString();
    QString sentence = framesClause();
    if (!interruption.isEmpty())
        sentence += QStringLiteral(": ") + interruption;
    if (!failures.isEmpty())
        sentence += QStringLiteral("; ") + failures.join(QStringLiteral("; "));
    if (interruption.isEmpty() && failures.isEmpty())
        sentence += QStringLiteral(": the run ended early"); // fewer frames on disk than gathered, no reason known
    return sentence + QLatin1Char('.');
}

QString SaveOutcome::framesClause() const
{
    return QStringLiteral("Saved %1 of %2 frames").arg(written).arg(requested);
}

QString SaveOutcome::logLine() const
{
    const QString result = success() ? QStringLiteral("saved") : message();
    return QStringLiteral("Save run %1: %2 of %3 frames gathered, kinds %4; %5")
        .arg(folder)
        .arg(gathered)
        .arg(requested)
        .arg(kinds.isEmpty() ? QStringLiteral("none") : kinds.join(QStringLiteral(", ")), result);
}
