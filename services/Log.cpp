#include "Log.h"

#include "LogWriter.h"
#include "StandardDescriptors.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <atomic>
#include <cstdio>

#ifndef Q_OS_WIN
#include <fcntl.h>
#include <unistd.h>
#endif

namespace {

constexpr char kLogFileName[] = "log.txt";

// The file useLogFile chose; empty for "log.txt" in the working directory.
// Main thread, before the log is first used.
QString &chosenLogFile()
{
    static QString path;
    return path;
}

QString defaultLogFile()
{
    return QDir::current().absoluteFilePath(QLatin1String(kLogFileName));
}

// The log's two targets and its writer, built on first use (the entry point's
// first line), so a log sent elsewhere by useLogFile never leaves an empty
// "log.txt" in the working directory. Append mode opens the file with
// O_APPEND and the file is unbuffered: every line is one write, so two
// console instances interleave whole lines. The function-local static makes
// construction safe from any thread; after it, the writer's mutex guards both
// devices.
struct ProcessLog {
    // Resolved once, so the log stays where it was opened whatever the working directory becomes.
    QFile file{chosenLogFile().isEmpty() ? defaultLogFile() : chosenLogFile()};
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
        openFile();
    }

    // An unopenable file (read-only directory, a directory of that name)
    // leaves the file closed: the writer then skips it.
    void openFile()
    {
        QDir().mkpath(QFileInfo(file.fileName()).absolutePath());
        if (!file.open(QIODevice::WriteOnly | QIODevice::Append | QIODevice::Unbuffered))
            qWarning("The event log file %s could not be opened (%s); log lines go to standard output only.",
                     qPrintable(QFileInfo(file.fileName()).absoluteFilePath()), qPrintable(file.errorString()));
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

// Whether the log has been opened. Set by whichever thread opens it, read by
// useLogFile on the main thread.
std::atomic<bool> logStarted{false};

ProcessLog &startedLog()
{
    ProcessLog &log = processLog();
    logStarted.store(true, std::memory_order_release);
    return log;
}

} // namespace

void useLogFile(const QString &path)
{
    chosenLogFile() = QFileInfo(path).absoluteFilePath();
    if (!logStarted.load(std::memory_order_acquire))
        return;
    ProcessLog &log = processLog();
    log.file.close();
    log.file.setFileName(chosenLogFile());
    log.openFile();
}

QString stateLogFilePath()
{
    QString state = qEnvironmentVariable("XDG_STATE_HOME");
    // The base directory specification: a relative path is to be ignored.
    if (state.isEmpty() || QDir::isRelativePath(state))
        state = QDir::homePath() + QStringLiteral("/.local/state");
    return state + QStringLiteral("/tessivo128/") + QLatin1String(kLogFileName);
}

QString logFilePath()
{
    return startedLog().file.fileName();
}

void logLine(const QByteArray &text)
{
    startedLog().writer.line(text);
}

void logHexBytes(const unsigned char *bytes, int count)
{
    startedLog().writer.hexBytes(bytes, count);
}
