#pragma once

#include <QByteArray>
#include <QString>

// Process-wide event log. "log.txt" in the working directory is opened once,
// before main runs, in append mode (two console instances may append to it at
// the same time); every line also goes to standard output. A file that cannot
// be opened is skipped silently and the standard-output copy still appears.
// Written from the GUI thread only.

// Writes "[Y-M-D h:m:s] text" (local time, no zero padding) to the file and to
// standard output, each flushed.
void logLine(const QByteArray &text);

// Writes count bytes as hex: "ae cc 00 " to the file (no time stamp) and
// "[ h:m:s.ms ]AE CC 00 " to standard output.
void logHexBytes(const unsigned char *bytes, int count);

// The absolute path of the log file (whether or not it could be opened).
QString logFilePath();
