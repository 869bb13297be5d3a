#pragma once

#include <QByteArray>
#include <QString>

// Process-wide event log. "log.txt" in the working directory (or the file the
// entry point chose with useLogFile) is opened once, at the first line or
// path query, in append mode (two console instances may append to it at
// the same time); every line also goes to standard output. A file that cannot
// be opened is reported once on standard error and the standard-output copy
// still appears. A write that fails later (closed pipe, full disk) skips that
// copy; see LogWriter. Entry points call ProcessSignals::ignoreBrokenPipe()
// first, or a closed standard output ends the process at the next line.
//
// Thread contract: both functions may be called from any thread (GUI,
// acquisition worker, tools); the process log's single LogWriter serialises
// them with its one mutex, so every line arrives whole.

// Writes "[Y-M-D h:m:s] text" (local time, no zero padding) to the file and to
// standard output, each flushed.
void logLine(const QByteArray &text);

// Writes count bytes as hex: "ae cc 00 " to the file (no time stamp) and
// "[ h:m:s.ms ]AE CC 00 " to standard output.
void logHexBytes(const unsigned char *bytes, int count);

// The absolute path of the log file (whether or not it could be opened).
QString logFilePath();

// Sends the log to path instead of "log.txt" in the working directory, making
// its folder when missing. Called by an entry point on its main thread before
// any other thread logs; a log already open is closed and reopened there.
void useLogFile(const QString &path);

// "log.txt" in the user's state folder: $XDG_STATE_HOME/tessivo128, by default
// ~/.local/state/tessivo128. Where the console logs when started from its
// desktop entry, whose working directory is wherever the launcher runs.
QString stateLogFilePath();
