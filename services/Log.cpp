#include "services/Log.h"

#include <QDir>

namespace {

constexpr char kLogFileName[] = "log.txt";

} // namespace

QString workingDirectoryLogFilePath()
{
    return QDir::current().absoluteFilePath(QLatin1String(kLogFileName));
}

QString stateLogFilePath()
{
    QString state = qEnvironmentVariable("XDG_STATE_HOME");
    // The base directory specification: a relative path is to be ignored.
    if (state.isEmpty() || QDir::isRelativePath(state))
        state = QDir::homePath() + QStringLiteral("/.local/state");
    return state + QStringLiteral("/tessivo128/") + QLatin1String(kLogFileName);
}
