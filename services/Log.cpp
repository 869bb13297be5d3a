#include "Log.h"

#include "LogWriter.h"

#include <QFile>
#include <QDir>

#include <cstdio>

namespace {

// The log's two targets and its writer, built on first use. The namespace-scope
// object below makes that first use happen during static initialisation, so
// "log.txt" is opened once, before main, in whatever the working directory is
// then. Append mode opens the file with O_APPEND and the file is unbuffered:
// every line is one write, so two console instances interleave whole lines.
struct ProcessLog {
    // Resolved once, so the log stays where it was opened whatever the working directory becomes.
    QFile file{QDir::current().absoluteFilePath(QStringLiteral("log.txt"))};
    QFile console;
    LogWriter writer{&file, &console, [] { return QDateTime::currentDateTime(); }};

    ProcessLog()
    {
        // An unopenable file (read-only directory, a directory of that name)
        // leaves the file closed: the writer then skips it without a word.
        file.open(QIODevice::WriteOnly | QIODevice::Append | QIODevice::Unbuffered);
        console.open(stdout, QIODevice::WriteOnly, QFileDevice::DontCloseHandle);
    }
};

ProcessLog &processLog()
{
    static ProcessLog log;
    return log;
}

[[maybe_unused]] const ProcessLog &openedBeforeMain = processLog();

} // namespace

QString logFilePath()
{
    return processLog().file.fileName();
}

void logLine(const QByteArray &text)
{
    processLog().writer.line(text);
}

void logHexBytes(const unsigned char *bytes, int count)
{
    processLog().writer.hexBytes(bytes, count);
}
