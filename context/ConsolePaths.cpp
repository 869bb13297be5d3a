#include "context/ConsolePaths.h"

#include "services/Log.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>

ConsolePaths ConsolePaths::forApplication(const QString &scratchFolder, const QString &logFile)
{
    ConsolePaths paths;
    paths.shippedFolder = shippedFolderFor(QCoreApplication::applicationDirPath());
    paths.scratchFolder = scratchFolder;
    paths.resultFolder = QDir::current().absoluteFilePath(QStringLiteral("result"));
    paths.logFile = logFile.isEmpty() ? workingDirectoryLogFilePath() : QFileInfo(logFile).absoluteFilePath();
    return paths;
}

QString ConsolePaths::shippedFolderFor(const QString &executableFolder)
{
    // TESSIVO_SHARE_FROM_BIN: the installed data folder relative to the
    // installed executables, as the install rules lay them out.
    const QString installed = QDir::cleanPath(executableFolder + QStringLiteral("/" TESSIVO_SHARE_FROM_BIN));
    if (QFileInfo(installed).isDir())
        return installed;
    return executableFolder + QStringLiteral("/detect");
}
