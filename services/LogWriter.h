#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QString>

#include <functional>
#include <mutex>

class QIODevice;

// Formats and writes the event log's two kinds of line to a file and to a
// console. The event log (EventLog) owns one of these; tests build their
// own with a fixed clock and in-memory devices.
//
// Lines: "[Y-M-D h:m:s] text" to both targets; hex dumps as "ae cc 00 " to the
// file and "[ h:m:s.ms ]AE CC 00 " to the console. Time fields are decimal
// without zero padding. Each line goes out in one write and is flushed, so a
// file opened in append mode by two processes receives whole lines.
//
// A failed write (closed pipe, closed descriptor, full disk) skips that copy of
// the line and nothing else; the first failure of a run of them on a target
// gives one warning, and a later successful write ends the run.
//
// Thread contract: line() and hexBytes() may be called from any thread; one
// mutex serialises them, so lines of different threads never interleave. The
// clock and the devices are used under that mutex only; warnings are given
// after it is released, so a message handler may log.
class LogWriter
{
public:
    using Clock = std::function<QDateTime()>; // local time, millisecond resolution

    // Either device may be null or not writable: that copy is skipped.
    LogWriter(QIODevice *file, QIODevice *console, Clock clock);
    LogWriter(const LogWriter &) = delete;
    LogWriter &operator=(const LogWriter &) = delete;

    void line(const QByteArray &text);
    // A null pointer or a count below one writes an empty dump line.
    void hexBytes(const unsigned char *bytes, int count);

    static QByteArray formatLine(const QDateTime &time, const QByteArray &text);
    static QByteArray formatFileHex(const unsigned char *bytes, int count);
    static QByteArray formatConsoleHex(const QDateTime &time, const unsigned char *bytes, int count);

private:
    // One of the two copies of every line.
    struct Target {
        QIODevice *m_device;
        const char *m_name; // for the warning
        bool m_failing = false;
    };

    // The warning to give when this write starts a run of failures, else empty.
    static QString put(Target &target, const QByteArray &bytes);
    static void warn(const QString &first, const QString &second);

    std::mutex m_mutex;
    Target m_file;    // guarded by m_mutex
    Target m_console; // guarded by m_mutex
    Clock m_clock;    // called under m_mutex, so time stamps rise line by line
};
