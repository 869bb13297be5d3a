#include "cli/ScriptStreams.h"

#include "services/EventLog.h"

#include <atomic>
#include <cstdio>

#include <fcntl.h>
#ifdef Q_OS_WIN
#include <io.h>
#else
#include <unistd.h>
#endif

namespace {

#ifdef Q_OS_WIN
constexpr const char *kNullDevice = "NUL";
#else
constexpr const char *kNullDevice = "/dev/null";
#endif

// The log Qt's messages go to while routeMessagesTo's guard lives.
std::atomic<EventLog *> messageLog{nullptr};

// Qt's messages belong in the log. The worker's warnings (a frame asked for
// again, say) are its own business: the tool reports what went wrong itself,
// in its own sentences; only critical messages also reach standard error.
void routeMessage(QtMsgType type, const QMessageLogContext &, const QString &message)
{
    if (EventLog *log = messageLog.load())
        log->line(message.toUtf8());
    if (type != QtCriticalMsg && type != QtFatalMsg)
        return;
    std::fprintf(stderr, "%s\n", message.toLocal8Bit().constData());
    std::fflush(stderr);
}

// Keeps the process's standard output under a new descriptor and points
// descriptor 1 at the null device; -1 when there was no standard output.
int keepStandardOutput()
{
    std::fflush(stdout);
    const int kept = ::dup(fileno(stdout));
    const int null = ::open(kNullDevice, O_WRONLY);
    if (null >= 0) {
        ::dup2(null, fileno(stdout));
        ::close(null);
    }
    return kept;
}

} // namespace

ScriptStreams::ScriptStreams()
{
    const int kept = keepStandardOutput();
    if (kept >= 0)
        m_result.open(kept, QIODevice::WriteOnly | QIODevice::Unbuffered, QFileDevice::AutoCloseHandle);
    m_error.open(stderr, QIODevice::WriteOnly | QIODevice::Unbuffered, QFileDevice::DontCloseHandle);
    m_errorIsTerminal = ::isatty(fileno(stderr)) != 0;
}

ScriptStreams::~ScriptStreams() = default;

std::shared_ptr<void> ScriptStreams::routeMessagesTo(EventLog &log)
{
    messageLog.store(&log);
    qInstallMessageHandler(routeMessage);
    // A null pointer still gets its deleter called.
    return std::shared_ptr<void>(nullptr, [](void *) {
        qInstallMessageHandler(nullptr);
        messageLog.store(nullptr);
    });
}

void ScriptStreams::result(const QString &line)
{
    // A script that closed its end of the pipe gets nothing; SIGPIPE is ignored.
    if (m_result.isOpen())
        m_result.write(line.toLocal8Bit() + '\n');
}

void ScriptStreams::problem(const QString &sentence)
{
    m_error.write(sentence.toLocal8Bit() + '\n');
    m_error.flush();
}

void ScriptStreams::progress(const QByteArray &text)
{
    m_error.write(text);
    m_error.flush();
}
