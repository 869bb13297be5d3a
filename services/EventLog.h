#pragma once

#include "services/LogWriter.h"

#include <QByteArray>
#include <QFile>
#include <QString>

// The console's event log: one file, opened when the log is made, in append
// mode (two console instances may append to it at the same time), and every
// line also on standard output. A file that cannot be opened is reported once
// on standard error and the standard-output copy still appears. A write that
// fails later (closed pipe, full disk) skips that copy; see LogWriter. Entry
// points call ProcessSignals::ignoreBrokenPipe() first, or a closed standard
// output ends the process at the next line.
//
// The console context owns the log; classes that log get a reference to it.
//
// Thread contract: line() and hexBytes() may be called from any thread (GUI,
// capture loop, save-run writer, tools); the one LogWriter serialises them
// with its mutex, so every line arrives whole.
class EventLog
{
public:
    // Opens path (making its folder when missing); descriptors 0-2 are
    // reserved first, so the file never takes standard output's number.
    explicit EventLog(const QString &path);
    EventLog(const EventLog &) = delete;
    EventLog &operator=(const EventLog &) = delete;

    // Writes "[Y-M-D h:m:s] text" (local time, no zero padding) to the file
    // and to standard output, each flushed.
    void line(const QByteArray &text);
    // Writes count bytes as hex: "ae cc 00 " to the file (no time stamp) and
    // "[ h:m:s.ms ]AE CC 00 " to standard output.
    void hexBytes(const unsigned char *bytes, int count);
    // The absolute path of the log file (whether or not it could be opened).
    QString path() const { return m_file.fileName(); }

private:
    void openFile();

    QFile m_file;    // written under m_writer's mutex only
    QFile m_console; // likewise
    LogWriter m_writer;
};
