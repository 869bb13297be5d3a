#include "analysis/FrameHealthPanel.h"

#include <QFormLayout>
#include <QLabel>

namespace {

const QString kLostSheet = QStringLiteral("QLabel { color: #d00000; font-weight: bold; }");

// A figure of fixed size: a label that follows its text's width would lay
// the window out again with every refresh.
QLabel *healthLabel(const char *name)
{
    auto *label = new QLabel(QStringLiteral("-"));
    label->setObjectName(QLatin1String(name));
    label->setFixedSize(label->fontMetrics().horizontalAdvance(QStringLiteral("not capturing 0000000000")) + 4,
                        label->sizeHint().height());
    return label;
}

// A count, red once it is above zero. The sheet changes only with the state:
// setting one makes Qt polish the label again.
void showLossCount(QLabel *label, std::uint64_t count)
{
    label->setText(QString::number(count));
    const QString sheet = count > 0 ? kLostSheet : QString();
    if (label->styleSheet() != sheet)
        label->setStyleSheet(sheet);
}

QString duration(qint64 ms)
{
    const qint64 seconds = ms / 1000;
    return QStringLiteral("%1:%2:%3")
        .arg(seconds / 3600)
        .arg((seconds / 60) % 60, 2, 10, QLatin1Char('0'))
        .arg(seconds % 60, 2, 10, QLatin1Char('0'));
}

} // namespace

FrameHealthPanel::FrameHealthPanel(QWidget *parent)
    : QGroupBox(QStringLiteral("Frame health"), parent)
{
    m_received = healthLabel("healthReceived");
    m_timedOut = healthLabel("healthTimedOut");
    m_discarded = healthLabel("healthDiscarded");
    m_rate = healthLabel("healthRate");
    m_elapsed = healthLabel("healthElapsed");
    auto *layout = new QFormLayout(this);
    layout->addRow(QStringLiteral("Frames received:"), m_received);
    layout->addRow(QStringLiteral("Frames timed out:"), m_timedOut);
    layout->addRow(QStringLiteral("Frames discarded:"), m_discarded);
    layout->addRow(QStringLiteral("Frames/s:"), m_rate);
    layout->addRow(QStringLiteral("Capturing for:"), m_elapsed);
}

void FrameHealthPanel::showHealth(const FrameHealth &health, bool capturing, qint64 nowMs, double framesPerSecond)
{
    m_received->setText(QString::number(health.received));
    showLossCount(m_timedOut, health.timedOut);
    showLossCount(m_discarded, health.discarded);
    m_rate->setText(QString::number(capturing ? framesPerSecond : 0.0, 'f', 1));
    if (!capturing)
        m_elapsed->setText(QStringLiteral("not capturing"));
    else if (health.captureStartedMs <= 0)
        m_elapsed->setText(QStringLiteral("-"));
    else
        m_elapsed->setText(duration(qMax<qint64>(0, nowMs - health.captureStartedMs)));
}
