#include "analysis/LiveAnalysisWindow.h"

#include "analysis/FrameHealthPanel.h"
#include "analysis/HistogramLevelsPanel.h"
#include "analysis/ReferencePanel.h"
#include "analysis/RegionPanel.h"

#include <QDateTime>
#include <QGridLayout>

namespace {

// Whole milliseconds, rounded up: the timer never fires more often than allowed.
constexpr int kRedrawIntervalMs = (1000 + LiveAnalysisWindow::kMaxRedrawsPerSecond - 1)
                                  / LiveAnalysisWindow::kMaxRedrawsPerSecond;

} // namespace

LiveAnalysisWindow::LiveAnalysisWindow(LiveAnalysisSource &source, const SettingsIdentity &settings,
                                       LiveAnalysisDialogs dialogs)
    : QWidget(nullptr)
    , m_source(source)
{
    setWindowTitle(QStringLiteral("Live Analysis"));
    setAttribute(Qt::WA_QuitOnClose, false);
    resize(960, 680);

    m_levels = new HistogramLevelsPanel(source.currentRangeNa());
    m_region = new RegionPanel;
    m_health = new FrameHealthPanel;
    m_references = new ReferencePanel(source, settings, std::move(dialogs));
    connect(m_levels, &HistogramLevelsPanel::levelsChanged, this,
            [this](const DisplayLevels &levels) { m_source.setDisplayLevels(levels); });

    auto *layout = new QGridLayout(this);
    layout->addWidget(m_levels, 0, 0);
    layout->addWidget(m_region, 0, 1);
    layout->addWidget(m_health, 1, 0);
    layout->addWidget(m_references, 1, 1);
    layout->setRowStretch(0, 1);
    layout->setColumnStretch(0, 1);
    layout->setColumnStretch(1, 1);

    m_timer.setTimerType(Qt::PreciseTimer);
    m_timer.setInterval(kRedrawIntervalMs);
    connect(&m_timer, &QTimer::timeout, this, &LiveAnalysisWindow::refresh);
    m_clock.start();
    showHealth();
}

LiveAnalysisWindow::~LiveAnalysisWindow() = default;

void LiveAnalysisWindow::setRegion(const QRect &sensorCells)
{
    m_region->setRegion(sensorCells);
    if (!m_frame.currents.empty())
        m_region->showFrame(m_frame); // the figures of the new region at once
}

bool LiveAnalysisWindow::refresh()
{
    pullRunMeans();
    if (!m_source.newestFrame(m_frame.sequence, m_frame)) {
        if (m_clock.elapsed() - m_lastHealthMs >= kHealthIntervalMs)
            showHealth();
        return false;
    }
    redraw();
    return true;
}

void LiveAnalysisWindow::redraw()
{
    m_levels->showFrame(m_frame.currents);
    m_region->setRunSpan(m_source.runSpan());
    m_region->showFrame(m_frame);
    showHealth();
    ++m_redraws;
}

// While a recording is played, the region means over the whole run, once
// the source has measured them.
void LiveAnalysisWindow::pullRunMeans()
{
    const std::optional<RunSpan> span = m_source.runSpan();
    if (!span)
        return;
    m_region->setRunSpan(span);
    if (m_source.runMeans(m_region->region(), m_runMeans.version, m_runMeans))
        m_region->showRunMeans(m_runMeans);
}

void LiveAnalysisWindow::showHealth()
{
    const FrameHealth health = m_source.frameHealth();
    m_lastHealthMs = m_clock.elapsed();
    m_rate.add(m_lastHealthMs, health.received);
    m_health->showHealth(health, m_source.isCapturing(), QDateTime::currentMSecsSinceEpoch(),
                         m_rate.framesPerSecond());
}

void LiveAnalysisWindow::showEvent(QShowEvent *event)
{
    QWidget::showEvent(event);
    m_timer.start();
}

void LiveAnalysisWindow::hideEvent(QHideEvent *event)
{
    m_timer.stop();
    QWidget::hideEvent(event);
}
