#include "services/EventLog.h"

#include "services/ServicesLogging.h"
#include "services/StandardDescriptors.h"

#include <QDateTime>
#include <QDir>
#include <QFileInfo>

#include <cstdio>

#ifndef Q_OS_WIN
#include <fcntl.h>
#include <unistd.h>
#endif

namespace {

bool standardOutputIsOpen()
{
#ifdef Q_OS_WIN
    return _fileno(stdout) >= 0;
#else
    return fcntl(STDOUT_FILENO, F_GETFD) != -1;
#endif
}

} // namespace

// Append mode opens the file with O_APPEND and the file is unbuffered: every
// line is one write, so two console instances interleave whole lines.
EventLog::EventLog(const QString &path)
    : m_file(QFileInfo(path).absoluteFilePath()) // resolved once, whatever the working directory becomes
    , m_writer(&m_file, &m_console, [] { return QDateTime::currentDateTime(); })
{
    // A closed standard output or error gets the null device first, so the
    // log file never takes descriptor 1 or 2.
    StandardDescriptors::reserve();
    // Standard output first: when it was closed, the log file would
    // otherwise take its descriptor and receive every line twice.
    if (standardOutputIsOpen())
        m_console.open(stdout, QIODevice::WriteOnly | QIODevice::Unbuffered, QFileDevice::DontCloseHandle);
    openFile();
}

// An unopenable file (read-only directory, a directory of that name) leaves
// the file closed: the writer then skips it.
void EventLog::openFile()
{
    QDir().mkpath(QFileInfo(m_file.fileName()).absolutePath());
    if (!m_file.open(QIODevice::WriteOnly | QIODevice::Append | QIODevice::Unbuffered))
        qCWarning(lcServices, "The event log file %s could not be opened (%s); log lines go to standard output only.",
                 qPrintable(QFileInfo(m_file.fileName()).absoluteFilePath()), qPrintable(m_file.errorString()));
}

void EventLog::line(const QByteArray &text)
{
    m_writer.line(text);
}

void EventLog::hexBytes(const unsigned char *bytes, int count)
{
    m_writer.hexBytes(bytes, count);
}
