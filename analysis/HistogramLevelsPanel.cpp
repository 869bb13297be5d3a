#include "analysis/HistogramLevelsPanel.h"

#include "analysis/PlotRanges.h"

#include <qcustomplot.h>

#include <QCheckBox>
#include <QComboBox>
#include <QDoubleSpinBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QSignalBlocker>
#include <QVBoxLayout>

#include <algorithm>
#include <cmath>

namespace {

constexpr double kMarkerGrabPixels = 6.0;
constexpr double kAxisMargin = 0.1;     // of the span, either side
constexpr double kLinearHeadroom = 1.25; // above the highest count
constexpr double kLogHeadroom = 3.0;
constexpr double kLevelLimit = 1e9;  // nA; far beyond any range

QDoubleSpinBox *levelBox(const char *name, double value)
{
    auto *box = new QDoubleSpinBox;
    box->setObjectName(QLatin1String(name));
    box->setRange(-kLevelLimit, kLevelLimit);
    box->setDecimals(4);
    box->setSuffix(QStringLiteral(" nA"));
    box->setKeyboardTracking(false); // a value counts once typed in, not per keystroke
    box->setValue(value);
    return box;
}

QCPItemStraightLine *marker(QCustomPlot *plot, const QColor &colour)
{
    auto *line = new QCPItemStraightLine(plot);
    line->setPen(QPen(colour, 2));
    line->setSelectable(false);
    return line;
}

void placeMarker(QCPItemStraightLine *line, double x)
{
    line->point1->setCoords(x, 0.0);
    line->point2->setCoords(x, 1.0);
}

} // namespace

HistogramLevelsPanel::HistogramLevelsPanel(double highNa, QWidget *parent)
    : QGroupBox(QStringLiteral("Histogram and levels"), parent)
{
    m_levels.high = highNa;
    buildPlot();
    auto *layout = new QVBoxLayout(this);
    layout->addWidget(m_plot, 1);
    layout->addLayout(buildControls());
    showLevels();
    showAxes();
}

HistogramLevelsPanel::~HistogramLevelsPanel() = default;

void HistogramLevelsPanel::buildPlot()
{
    m_plot = new QCustomPlot;
    m_plot->setObjectName(QStringLiteral("histogramPlot"));
    m_plot->setMinimumHeight(200);
    m_plot->setNotAntialiasedElements(QCP::aeAll);
    m_plot->xAxis->setLabel(QStringLiteral("Current (nA)"));
    m_plot->yAxis->setLabel(QStringLiteral("Pixels"));
    m_dataLayer = std::make_unique<PlotDataLayer>(m_plot);
    // An outline without fill: filling the steps costs more than the rest of the plot.
    m_bars = m_plot->addGraph();
    m_bars->setLineStyle(QCPGraph::lsStepCenter);
    m_bars->setPen(QPen(QColor(40, 40, 40)));
    m_bars->setLayer(m_dataLayer->layer());
    m_lowMarker = marker(m_plot, QColor(0, 90, 200));
    m_highMarker = marker(m_plot, QColor(200, 40, 0));
    m_lowMarker->setLayer(m_dataLayer->layer());
    m_highMarker->setLayer(m_dataLayer->layer());
    connect(m_plot, &QCustomPlot::mousePress, this, &HistogramLevelsPanel::pressed);
    connect(m_plot, &QCustomPlot::mouseMove, this, &HistogramLevelsPanel::moved);
    connect(m_plot, &QCustomPlot::mouseRelease, this, [this] { m_dragged = Marker::None; });
}

QLayout *HistogramLevelsPanel::buildControls()
{
    m_countAxis = new QComboBox;
    m_countAxis->setObjectName(QStringLiteral("countAxis"));
    m_countAxis->addItems({QStringLiteral("Linear counts"), QStringLiteral("Log counts")});
    m_countAxis->setAccessibleName(QStringLiteral("Histogram counts"));
    m_enabled = new QCheckBox(QStringLiteral("Levels"));
    m_enabled->setObjectName(QStringLiteral("levelsEnabled"));
    m_automatic = new QCheckBox(QStringLiteral("Auto"));
    m_automatic->setObjectName(QStringLiteral("levelsAuto"));
    m_low = levelBox("levelLow", m_levels.low);
    m_high = levelBox("levelHigh", m_levels.high);
    m_low->setAccessibleName(QStringLiteral("Low level (nA)"));
    m_high->setAccessibleName(QStringLiteral("High level (nA)"));

    connect(m_countAxis, &QComboBox::currentIndexChanged, this, [this] {
        showAxes();
        m_dataLayer->replot();
    });
    connect(m_enabled, &QCheckBox::toggled, this, [this](bool on) {
        DisplayLevels levels = m_levels;
        levels.enabled = on;
        operatorChanged(levels);
    });
    connect(m_automatic, &QCheckBox::toggled, this, [this](bool on) {
        DisplayLevels levels = m_levels;
        levels.automatic = on;
        operatorChanged(levels);
    });
    connect(m_low, &QDoubleSpinBox::valueChanged, this, [this](double value) {
        DisplayLevels levels = m_levels;
        levels.low = std::min(value, levels.high);
        operatorChanged(levels);
    });
    connect(m_high, &QDoubleSpinBox::valueChanged, this, [this](double value) {
        DisplayLevels levels = m_levels;
        levels.high = std::max(value, levels.low);
        operatorChanged(levels);
    });

    auto *switches = new QHBoxLayout;
    switches->addWidget(m_enabled);
    switches->addWidget(m_automatic);
    switches->addStretch();
    switches->addWidget(m_countAxis);
    auto *values = new QHBoxLayout;
    values->addWidget(new QLabel(QStringLiteral("Low")));
    values->addWidget(m_low, 1);
    values->addSpacing(12);
    values->addWidget(new QLabel(QStringLiteral("High")));
    values->addWidget(m_high, 1);
    auto *rows = new QVBoxLayout;
    rows->addLayout(switches);
    rows->addLayout(values);
    return rows;
}

void HistogramLevelsPanel::operatorChanged(DisplayLevels levels)
{
    if (levels == m_levels) {
        showLevels(); // a clamped value goes back into its box
        return;
    }
    m_levels = levels;
    showLevels();
    m_dataLayer->replot();
    emit levelsChanged(m_levels);
}

// Puts the levels into the boxes and markers without their signals firing.
void HistogramLevelsPanel::showLevels()
{
    const QSignalBlocker blockLow(m_low), blockHigh(m_high), blockOn(m_enabled), blockAuto(m_automatic);
    m_enabled->setChecked(m_levels.enabled);
    m_automatic->setChecked(m_levels.automatic);
    m_automatic->setEnabled(m_levels.enabled);
    m_low->setValue(m_levels.low);
    m_high->setValue(m_levels.high);
    m_low->setEnabled(m_levels.enabled && !m_levels.automatic);
    m_high->setEnabled(m_levels.enabled && !m_levels.automatic);
    placeMarker(m_lowMarker, m_levels.low);
    placeMarker(m_highMarker, m_levels.high);
    m_lowMarker->setVisible(m_levels.enabled);
    m_highMarker->setVisible(m_levels.enabled);
    showAxes();
}

// The current axis spans the frame, and the markers when they are shown; the
// count axis reaches above the highest bin. Both hold still while the frames
// stay within them (PlotRanges).
void HistogramLevelsPanel::showAxes()
{
    double low = m_histogram.centres.empty() ? m_levels.low : m_histogram.low;
    double high = m_histogram.centres.empty() ? m_levels.high : m_histogram.high;
    if (m_levels.enabled) {
        low = std::min(low, m_levels.low);
        high = std::max(high, m_levels.high);
    }
    m_plot->xAxis->setRange(PlotRanges::steady(m_plot->xAxis->range(), QCPRange(low, high), kAxisMargin));

    const double most = m_histogram.counts.empty()
                            ? 1.0
                            : std::max(1.0, *std::max_element(m_histogram.counts.begin(), m_histogram.counts.end()));
    const bool logarithmic = m_countAxis && m_countAxis->currentIndex() == 1;
    if (logarithmic && m_plot->yAxis->scaleType() != QCPAxis::stLogarithmic) {
        m_plot->yAxis->setScaleType(QCPAxis::stLogarithmic);
        m_plot->yAxis->setTicker(QSharedPointer<QCPAxisTickerLog>::create());
    } else if (!logarithmic && m_plot->yAxis->scaleType() != QCPAxis::stLinear) {
        m_plot->yAxis->setScaleType(QCPAxis::stLinear);
        m_plot->yAxis->setTicker(QSharedPointer<QCPAxisTicker>::create());
    }
    const double top = PlotRanges::steadyTop(m_plot->yAxis->range().upper, most,
                                             logarithmic ? kLogHeadroom : kLinearHeadroom);
    // Empty bins fall below a logarithmic axis, to its lower edge.
    m_plot->yAxis->setRange(logarithmic ? QCPRange(0.5, top) : QCPRange(0.0, top));
}

void HistogramLevelsPanel::showFrame(const std::vector<double> &currents)
{
    m_histogram = CurrentHistogram::of(currents.data(), int(currents.size()), kBins);
    m_bars->setData(QVector<double>(m_histogram.centres.begin(), m_histogram.centres.end()),
                    QVector<double>(m_histogram.counts.begin(), m_histogram.counts.end()), true);
    if (m_levels.enabled && m_levels.automatic) {
        const auto [low, high] = LevelMapping::automaticLevels(currents.data(), currents.size());
        m_levels.low = low;
        m_levels.high = high;
        showLevels();
    } else {
        showAxes();
    }
    m_dataLayer->replot();
}

HistogramLevelsPanel::Marker HistogramLevelsPanel::markerNear(double pixelX) const
{
    if (!m_levels.enabled)
        return Marker::None;
    const double toLow = std::abs(m_plot->xAxis->coordToPixel(m_levels.low) - pixelX);
    const double toHigh = std::abs(m_plot->xAxis->coordToPixel(m_levels.high) - pixelX);
    if (std::min(toLow, toHigh) > kMarkerGrabPixels)
        return Marker::None;
    // Markers on top of each other: the one that can move that way is taken.
    if (toLow == toHigh)
        return pixelX < m_plot->xAxis->coordToPixel(m_levels.low) ? Marker::Low : Marker::High;
    return toLow < toHigh ? Marker::Low : Marker::High;
}

void HistogramLevelsPanel::pressed(QMouseEvent *event)
{
    m_dragged = event->button() == Qt::LeftButton ? markerNear(event->position().x()) : Marker::None;
}

void HistogramLevelsPanel::moved(QMouseEvent *event)
{
    if (m_dragged == Marker::None)
        return;
    const double value = m_plot->xAxis->pixelToCoord(event->position().x());
    DisplayLevels levels = m_levels;
    levels.automatic = false; // a dragged marker takes the levels over from Auto
    if (m_dragged == Marker::Low)
        levels.low = std::min(value, levels.high);
    else
        levels.high = std::max(value, levels.low);
    operatorChanged(levels);
}
