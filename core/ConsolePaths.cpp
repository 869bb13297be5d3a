#include "ConsolePaths.h"

#include "Log.h"

#include <QCoreApplication>
#include <QDir>

ConsolePaths ConsolePaths::forApplication()
{
    ConsolePaths paths;
    paths.detectFolder = QCoreApplication::applicationDirPath() + QStringLiteral("/detect");
    paths.resultFolder = QDir::current().absoluteFilePath(QStringLiteral("result"));
    paths.logFile = logFilePath();
    return paths;
}
