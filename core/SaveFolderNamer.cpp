#include "SaveFolderNamer.h"

#include <QDir>

namespace SaveFolderNamer {

QString uniqueName(const QString &directory, const QString &name)
{
    const QDir dir(directory);
    QString candidate = name;
    for (int counter = 1; dir.exists(candidate); ++counter)
        candidate = QStringLiteral("%1_%2").arg(name).arg(counter);
    return candidate;
}

} // namespace SaveFolderNamer
