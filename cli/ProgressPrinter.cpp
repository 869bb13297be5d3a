#include "cli/ProgressPrinter.h"

#include <cmath>

ProgressPrinter::ProgressPrinter(Style style, Writer writer)
    : m_style(style)
    , m_writer(std::move(writer))
{
}

void ProgressPrinter::begin(int total, const QString &folder, const QString &kinds)
{
    m_total = total;
    m_quartersShown = 0;
    m_lastRedrawMs = -1;
    m_shown = -1;
    write(QStringLiteral("Capturing %1 frames into %2 (%3).\n").arg(total).arg(folder, kinds));
}

void ProgressPrinter::update(int gathered, qint64 elapsedMs)
{
    if (m_style == Style::Terminal) {
        const bool last = gathered >= m_total;
        if (gathered == m_shown || (!last && m_lastRedrawMs >= 0 && elapsedMs - m_lastRedrawMs < kRedrawMs))
            return;
        m_lastRedrawMs = elapsedMs;
        m_shown = gathered;
        // Carriage return, the line, and "erase to the end of the line" for a shorter one.
        write(QLatin1Char('\r') + status(gathered, m_total, elapsedMs) + QStringLiteral("\x1b[K"));
        m_lineOpen = true;
        return;
    }
    int quarters = m_quartersShown;
    while (quarters < 4 && gathered * 4 >= m_total * (quarters + 1))
        ++quarters;
    if (quarters == m_quartersShown)
        return;
    m_quartersShown = quarters;
    write(status(gathered, m_total, elapsedMs) + QLatin1Char('\n'));
}

void ProgressPrinter::end()
{
    if (m_lineOpen)
        write(QStringLiteral("\n"));
    m_lineOpen = false;
}

QString ProgressPrinter::status(int gathered, int total, qint64 elapsedMs)
{
    const double seconds = double(elapsedMs) / 1000.0;
    const double rate = seconds > 0.0 ? gathered / seconds : 0.0;
    QString text = QStringLiteral("%1 of %2 frames, %3 frames/s").arg(gathered).arg(total).arg(rate, 0, 'f', 1);
    if (rate > 0.0 && gathered < total)
        text += QStringLiteral(", %1 s left").arg(std::ceil((total - gathered) / rate), 0, 'f', 0);
    return text;
}

void ProgressPrinter::write(const QString &text)
{
    if (m_style != Style::Quiet && m_writer)
        m_writer(text.toLocal8Bit());
}
