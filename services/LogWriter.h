#pragma once

#include <QByteArray>
#include <QDateTime>

#include <functional>

class QIODevice;

// Formats and writes the event log's two kinds of line to a file and to a
// console. The process-wide log (Log.h) owns one of these; tests build their
// own with a fixed clock and in-memory devices.
//
// Lines: "[Y-M-D h:m:s] text" to both targets; hex dumps as "ae cc 00 " to the
// file and "[ h:m:s.ms ]AE CC 00 " to the console. Time fields are decimal
// without zero padding. Each line goes out in one write and is flushed, so a
// file opened in append mode by two processes receives whole lines.
//
// Thread contract: not synchronised; the console writes the log from the GUI
// thread only.
class LogWriter
{
public:
    using Clock = std::function<QDateTime()>; // local time, millisecond resolution

    // Either device may be null or not writable: that copy is skipped.
    LogWriter(QIODevice *file, QIODevice *console, Clock clock);

    void line(const QByteArray &text);
    // A null pointer or a count below one writes an empty dump line.
    void hexBytes(const unsigned char *bytes, int count);

    static QByteArray formatLine(const QDateTime &time, const QByteArray &text);
    static QByteArray formatFileHex(const unsigned char *bytes, int count);
    static QByteArray formatConsoleHex(const QDateTime &time, const unsigned char *bytes, int count);

private:
    static void put(QIODevice *device, const QByteArray &bytes);

    QIODevice *m_file;
    QIODevice *m_console;
    Clock m_clock;
};
