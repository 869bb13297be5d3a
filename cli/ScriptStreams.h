#pragma once

#include <QByteArray>
#include <QFile>
#include <QString>

#include <memory>

class EventLog;

// Where tessivo128-capture's output goes. Standard output belongs to the
// script: it carries only the tool's results (the serial numbers of --list,
// the run folder), one per line. The event log copies every line to standard
// output, as the window wants it; so the real standard output is kept aside
// under a descriptor of its own and descriptor 1 is pointed at the null
// device, where the log's copy (and anything else printed there) goes. The
// log file still receives every line. Sentences for the user and the
// progress go to standard error. Qt's messages go to the log once there is
// one (routeMessagesTo); critical ones also to standard error.
//
// Thread contract: built and used on the main thread. The Qt message
// handler it installs may run on any thread (one log line and one write to
// standard error per message); the log it writes to is held in an atomic
// pointer, set and cleared on the main thread.
class ScriptStreams
{
public:
    ScriptStreams();
    ~ScriptStreams();
    ScriptStreams(const ScriptStreams &) = delete;
    ScriptStreams &operator=(const ScriptStreams &) = delete;

    // One line on the script's standard output.
    void result(const QString &line);
    // One line on standard error.
    void problem(const QString &sentence);
    // Text as it is on standard error (a progress line redrawn in place).
    void progress(const QByteArray &text);
    // Standard error is a terminal: progress may redraw a line in place.
    bool errorIsTerminal() const { return m_errorIsTerminal; }

    // Sends Qt's messages to log until the returned guard goes; before and
    // after, Qt's own handler writes them to standard error. Qt takes a plain
    // function as handler, so the log is kept where that function finds it.
    [[nodiscard]] static std::shared_ptr<void> routeMessagesTo(EventLog &log);

private:
    QFile m_result; // the kept standard output; closed when there was none
    QFile m_error;
    bool m_errorIsTerminal = false;
};
