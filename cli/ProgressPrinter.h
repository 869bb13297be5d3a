#pragma once

#include <QByteArray>
#include <QString>

#include <functional>

// How a run's progress reaches the user (on standard error). On a terminal:
// one line redrawn in place, at most five times a second, with the frames
// gathered, the rate and the time left. Elsewhere (a file, a pipe): the same
// line as a plain line at each quarter of the run, so a 1000-frame run
// writes four lines rather than a thousand. Quiet: nothing.
//
// Thread contract: main thread only.
class ProgressPrinter
{
public:
    enum class Style { Terminal, Lines, Quiet };
    using Writer = std::function<void(const QByteArray &text)>;
    static constexpr qint64 kRedrawMs = 200;

    ProgressPrinter(Style style, Writer writer);

    // "Capturing 20 frames into /data/run (data, video)."
    void begin(int total, const QString &folder, const QString &kinds);
    // gathered frames after elapsedMs since the run was armed.
    void update(int gathered, qint64 elapsedMs);
    // Ends a line left open by the terminal style.
    void end();

    // "120 of 1000 frames, 812.4 frames/s, 1 s left"
    static QString status(int gathered, int total, qint64 elapsedMs);

private:
    void write(const QString &text);

    const Style m_style;
    const Writer m_writer;
    int m_total = 0;
    int m_quartersShown = 0;     // Lines: quarters of the run already printed
    qint64 m_lastRedrawMs = -1;  // Terminal: when the line was last drawn
    int m_shown = -1;            // Terminal: the count it showed
    bool m_lineOpen = false;     // Terminal: a line without its newline yet
};
