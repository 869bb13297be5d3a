#include "LogWriter.h"

#include <QFileDevice>
#include <QIODevice>

#include <utility>

namespace {

QByteArray number(int value)
{
    return QByteArray::number(value);
}

QByteArray hexDigits(const unsigned char *bytes, int count, bool upperCase)
{
    QByteArray out;
    if (!bytes || count <= 0)
        return out;
    out.reserve(count * 3);
    const char *digits = upperCase ? "0123456789ABCDEF" : "0123456789abcdef";
    for (int i = 0; i < count; ++i) {
        out.append(digits[bytes[i] >> 4]);
        out.append(digits[bytes[i] & 0x0F]);
        out.append(' ');
    }
    return out;
}

} // namespace

LogWriter::LogWriter(QIODevice *file, QIODevice *console, Clock clock)
    : m_file(file), m_console(console), m_clock(std::move(clock))
{
}

QByteArray LogWriter::formatLine(const QDateTime &time, const QByteArray &text)
{
    const QDate d = time.date();
    const QTime t = time.time();
    return '[' + number(d.year()) + '-' + number(d.month()) + '-' + number(d.day()) + ' '
        + number(t.hour()) + ':' + number(t.minute()) + ':' + number(t.second()) + "] " + text
        + '\n';
}

QByteArray LogWriter::formatFileHex(const unsigned char *bytes, int count)
{
    return hexDigits(bytes, count, false) + '\n';
}

QByteArray LogWriter::formatConsoleHex(const QDateTime &time, const unsigned char *bytes, int count)
{
    const QTime t = time.time();
    return "[ " + number(t.hour()) + ':' + number(t.minute()) + ':' + number(t.second()) + '.'
        + number(t.msec()) + " ]" + hexDigits(bytes, count, true) + '\n';
}

void LogWriter::line(const QByteArray &text)
{
    const QByteArray bytes = formatLine(m_clock(), text);
    put(m_file, bytes);
    put(m_console, bytes);
}

void LogWriter::hexBytes(const unsigned char *bytes, int count)
{
    const QDateTime now = m_clock();
    put(m_file, formatFileHex(bytes, count));
    put(m_console, formatConsoleHex(now, bytes, count));
}

void LogWriter::put(QIODevice *device, const QByteArray &bytes)
{
    // A failed write is ignored: the log must never stop the console.
    if (!device || !device->isWritable())
        return;
    device->write(bytes);
    if (auto *file = qobject_cast<QFileDevice *>(device))
        file->flush();
}
