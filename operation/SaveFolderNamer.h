#pragma once

#include <QString>

// Claims a run folder of its own in a directory: the name itself, then
// name_1, name_2 and so on. Each folder is made with one call that fails when
// the name is taken, so runs started at the same moment (two consoles, six
// scripts) never end up sharing a folder.
namespace SaveFolderNamer {

// The name of the folder created for the caller, or empty with *reason (the
// system's words) when no folder could be created.
QString claim(const QString &directory, const QString &name, QString *reason);

} // namespace SaveFolderNamer
