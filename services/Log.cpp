#include "Log.h"

#include "LogWriter.h"
#include "StandardDescriptors.h"

#include <QDir>
#include <QFile>
#include <QDir>

#include <cstdio>

#ifndef Q_OS_WIN
#include <fcntl.h>
#include <unistd.h>
#endif

namespace {

// The log's two targets and its writer, built on first use. The namespace-scope
// object below makes that first use happen during static initialisation, so
// "log.txt" is opened once, before main, in whatever the working directory is
// then. Append mode opens the file with O_APPEND and the file is unbuffered:
// every line is one write, so two console instances interleave whole lines.
// The function-local static makes construction safe from any thread; after
// it, the writer's mutex guards both devices.
struct ProcessLog {
    // Resolved once, so the log stays where it was opened whatever the working directory becomes.
    QFile file{QDir::current().absoluteFilePath(QStringLiteral("log.txt"))};
    QFile console;
    LogWriter writer{&file, &console, [] { return QDateTime::currentDateTime(); }};

    ProcessLog()
    {
        // Built before main: a closed standard output or error gets the null
        // device first, so the log file never takes descriptor 1 or 2.
        StandardDescriptors::reserve();
        // Standard output first: when it was closed, the log file would
        // otherwise take its descriptor and receive every line twice.
        if (standardOutputIsOpen())
            console.open(stdout, QIODevice::WriteOnly | QIODevice::Unbuffered, QFileDevice::DontCloseHandle);
        // An unopenable file (read-only directory, a directory of that name)
        // leaves the file closed: the writer then skips it.
        if (!file.open(QIODevice::WriteOnly | QIODevice::Append | QIODevice::Unbuffered))
            qWarning("The event log file %s could not be opened (%s); log lines go to standard output only.",
                     qPrintable(QDir::current().absoluteFilePath(file.fileName())),
                     qPrintable(file.errorString()));
    }

    static bool standardOutputIsOpen()
    {
#ifdef Q_OS_WIN
        return _fileno(stdout) >= 0;
#else
        return fcntl(STDOUT_FILENO, F_GETFD) != -1;
#endif
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
