#pragma once

#include <QString>

// Picks a run folder name that is not taken yet in a directory: the name
// itself, then name_1, name_2 and so on.
namespace SaveFolderNamer {
QString uniqueName(const QString &directory, const QString &name);
} // namespace SaveFolderNamer
