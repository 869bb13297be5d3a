#pragma once

#include <QFileDevice>
#include <QString>

// File steps the save-run sinks share, each reporting the system's own reason
// as a clause that reads after "could not be written: ".
namespace RunFiles {

// Writes every byte. A short write is tried again, so that a full disk
// reports "No space left on device" rather than a bare short count (Qt
// reports no error for a write that got only part of its bytes down).
bool writeAll(QFileDevice &file, const char *data, qint64 size, QString *reason);

// Replaces `to` with `from`; an existing file of that name is overwritten.
bool renameOver(const QString &from, const QString &to, QString *reason);

// Creates the folder and its parents as needed.
bool makeFolder(const QString &path, QString *reason);

} // namespace RunFiles
