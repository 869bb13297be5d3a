#include "services/LogWriter.h"

#include "services/ServicesLogging.h"

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
    : m_file{file, "the log file"}, m_console{console, "standard output"}, m_clock(std::move(clock))
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
    QString fileWarning, consoleWarning;
    {
        const std::lock_guard<std::mutex> lock(m_mutex);
        const QByteArray bytes = formatLine(m_clock(), text);
        fileWarning = put(m_file, bytes);
        consoleWarning = put(m_console, bytes);
    }
    warn(fileWarning, consoleWarning);
}

void LogWriter::hexBytes(const unsigned char *bytes, int count)
{
    QString fileWarning, consoleWarning;
    {
        const std::lock_guard<std::mutex> lock(m_mutex);
        const QDateTime now = m_clock();
        fileWarning = put(m_file, formatFileHex(bytes, count));
        consoleWarning = put(m_console, formatConsoleHex(now, bytes, count));
    }
    warn(fileWarning, consoleWarning);
}

QString LogWriter::put(Target &target, const QByteArray &bytes)
{
    // A device that was never opened is skipped; its owner reported that.
    QIODevice *device = target.m_device;
    if (!device || !device->isWritable())
        return {};
    bool written = device->write(bytes) == bytes.size();
    if (auto *file = qobject_cast<QFileDevice *>(device))
        written = file->flush() && written;
    if (written) {
        target.m_failing = false;
        return {};
    }
    if (target.m_failing)
        return {};
    target.m_failing = true;
    return QStringLiteral("Log lines could not be written to %1 (%2); they are skipped there until it "
                          "accepts them again.")
        .arg(QLatin1String(target.m_name), device->errorString());
}

void LogWriter::warn(const QString &first, const QString &second)
{
    for (const QString *warning : {&first, &second}) {
        if (!warning->isEmpty())
            qCWarning(lcServices, "%s", qPrintable(*warning));
    }
}
