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

// Puts the file's bytes on the disk (fsync), so that a file renamed into
// place or reported saved survives a power cut or a pulled stick.
bool syncOpenFile(QFileDevice &file, QString *reason);
// The same for a closed file another library wrote (the video, the HDF5 file).
bool syncFile(const QString &path, QString *reason);
// Makes the folder's entries (the renames into place) durable.
bool syncFolder(const QString &path, QString *reason);

// Creates the folder and its parents as needed.
bool makeFolder(const QString &path, QString *reason);

} // namespace RunFiles
