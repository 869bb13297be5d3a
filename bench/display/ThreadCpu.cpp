#include "bench/display/ThreadCpu.h"

#include <QDir>
#include <QFile>

#include <unistd.h>

namespace {

QByteArray readAll(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

} // namespace

std::map<long, ThreadCpu::Thread> ThreadCpu::sample()
{
    std::map<long, Thread> threads;
    const QDir tasks(QStringLiteral("/proc/self/task"));
    for (const QString &entry : tasks.entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        const QByteArray stat = readAll(tasks.filePath(entry) + "/stat");
        // The name is in brackets and may hold blanks; the fields after it are plain.
        const int close = stat.lastIndexOf(')');
        if (close < 0)
            continue;
        const QList<QByteArray> fields = stat.mid(close + 2).split(' ');
        if (fields.size() < 13)
            continue;
        Thread thread;
        thread.name = QString::fromUtf8(readAll(tasks.filePath(entry) + "/comm")).trimmed();
        thread.ticks = fields[11].toLongLong() + fields[12].toLongLong(); // utime, stime
        threads[entry.toLong()] = thread;
    }
    return threads;
}

long ThreadCpu::ticksPerSecond()
{
    return sysconf(_SC_CLK_TCK);
}

long ThreadCpu::mainThreadId()
{
    return long(getpid());
}
