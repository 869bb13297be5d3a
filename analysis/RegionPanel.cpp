#include "analysis/RegionPanel.h"

#include "analysis/LiveAnalysisSource.h"
#include "analysis/PlotRanges.h"

#include <qcustomplot.h>

#include <QClipboard>
#include <QFormLayout>
#include <QGuiApplication>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

#include <algorithm>
#include <cmath>

namespace {

constexpr double kValueMargin = 0.25; // room for the mean to wander before the axis moves
constexpr double kSameFrameSeconds = 1e-6; // the run axis of a single frame still has a width

QString current(double nA)
{
    return std::isnan(nA) ? QStringLiteral("-") : QStringLiteral("%1 nA").arg(nA, 0, 'f', 4);
}

QString regionText(const QRect &region)
{
    if (region.isNull())
        return QStringLiteral("Whole matrix (drag with the right button on the live picture to choose a region)");
    return QStringLiteral("Columns %1 to %2, rows %3 to %4")
        .arg(region.left())
        .arg(region.right())
        .arg(region.top())
        .arg(region.bottom());
}

// A figure that changes with every frame. Its size is fixed to the widest
// figure: a label that grows or shrinks with its text would lay the window out
// again, and resize the plots, 30 times a second.
QLabel *figureLabel(const char *name)
{
    auto *label = new QLabel(QStringLiteral("-"));
    label->setObjectName(QLatin1String(name));
    label->setTextInteractionFlags(Qt::TextSelectableByMouse);
    label->setFixedSize(label->fontMetrics().horizontalAdvance(QStringLiteral("-000000.0000 nA")) + 4,
                        label->sizeHint().height());
    return label;
}

} // namespace

RegionPanel::RegionPanel(QWidget *parent)
    : QGroupBox(QStringLiteral("Region statistics"), parent)
{
    buildPlot();
    auto *layout = new QVBoxLayout(this);
    layout->addLayout(buildFigures());
    layout->addWidget(m_plot, 1);
    setRegion(QRect());
}

RegionPanel::~RegionPanel() = default;

void RegionPanel::buildPlot()
{
    m_plot = new QCustomPlot;
    m_plot->setObjectName(QStringLiteral("regionMeanPlot"));
    m_plot->setMinimumHeight(160);
    m_plot->setNotAntialiasedElements(QCP::aeAll);
    showTimeAxis();
    m_plot->yAxis->setLabel(QStringLiteral("Region mean (nA)"));
    m_dataLayer = std::make_unique<PlotDataLayer>(m_plot);
    m_meanGraph = m_plot->addGraph();
    m_meanGraph->setPen(QPen(QColor(0, 0, 255)));
    m_meanGraph->setLayer(m_dataLayer->layer());
    m_shownGraph = m_plot->addGraph();
    m_shownGraph->setLineStyle(QCPGraph::lsNone);
    m_shownGraph->setScatterStyle(QCPScatterStyle(QCPScatterStyle::ssDisc, QColor(220, 0, 0), 7));
    m_shownGraph->setLayer(m_dataLayer->layer());
}

QLayout *RegionPanel::buildFigures()
{
    m_regionText = new QLabel;
    m_regionText->setObjectName(QStringLiteral("regionText"));
    m_pixels = figureLabel("regionPixels");
    m_nanPixels = figureLabel("regionNanPixels");
    m_mean = figureLabel("regionMean");
    m_deviation = figureLabel("regionStd");
    m_minimum = figureLabel("regionMin");
    m_maximum = figureLabel("regionMax");
    m_signalToNoise = figureLabel("regionSnr");
    auto *copy = new QPushButton(QStringLiteral("Copy"));
    copy->setObjectName(QStringLiteral("regionCopy"));
    connect(copy, &QPushButton::clicked, this,
            [this] { QGuiApplication::clipboard()->setText(RegionStatistics::tabSeparated(m_figures)); });

    auto *left = new QFormLayout;
    left->addRow(QStringLiteral("Pixels:"), m_pixels);
    left->addRow(QStringLiteral("NaN pixels (left out):"), m_nanPixels);
    left->addRow(QStringLiteral("Mean:"), m_mean);
    left->addRow(QStringLiteral("Std deviation:"), m_deviation);
    auto *right = new QFormLayout;
    right->addRow(QStringLiteral("Minimum:"), m_minimum);
    right->addRow(QStringLiteral("Maximum:"), m_maximum);
    right->addRow(QStringLiteral("SNR (mean / std):"), m_signalToNoise);
    right->addRow(QString(), copy);
    auto *columns = new QHBoxLayout;
    columns->addLayout(left);
    columns->addLayout(right);
    auto *layout = new QVBoxLayout;
    layout->addWidget(m_regionText);
    layout->addLayout(columns);
    return layout;
}

void RegionPanel::showTimeAxis()
{
    if (m_runSpan) {
        m_plot->xAxis->setLabel(QStringLiteral("Seconds after the first frame of the recording"));
        m_plot->xAxis->setRange(0.0, std::max(m_runSpan->last - m_runSpan->first, kSameFrameSeconds));
    } else {
        m_plot->xAxis->setLabel(QStringLiteral("Seconds before the newest frame"));
        m_plot->xAxis->setRange(-kHistorySeconds, 0.0);
    }
}

void RegionPanel::setRunSpan(const std::optional<RunSpan> &span)
{
    const bool sameRun = span.has_value() == m_runSpan.has_value() && (!span || span->first == m_runSpan->first);
    const bool sameAxis = sameRun && (!span || span->last == m_runSpan->last);
    if (sameAxis)
        return;
    m_runSpan = span;
    if (!sameRun) {
        m_meanGraph->data()->clear();
        m_shownGraph->data()->clear();
        m_newestSeconds = 0.0;
    }
    showTimeAxis();
    m_plot->replot();
}

void RegionPanel::setRegion(const QRect &sensorCells)
{
    m_region = sensorCells;
    m_regionText->setText(regionText(sensorCells));
    m_meanGraph->data()->clear();
    m_shownGraph->data()->clear();
    m_dataLayer->replot();
}

void RegionPanel::showFrame(const LiveFrame &frame)
{
    m_figures = RegionStatistics::measure(frame.currents, m_region);
    showFigures();
    if (m_runSpan)
        markRunFrame(double(frame.timeMs) / 1000.0);
    else
        plotMean(double(frame.timeMs) / 1000.0);
}

void RegionPanel::showRunMeans(const RunMeans &means)
{
    if (!m_runSpan || means.region != m_region)
        return;
    QVector<double> keys, values;
    for (std::size_t k = 0; k < means.means.size(); ++k) {
        if (std::isnan(means.means[k]))
            continue; // a frame without a number in the region has no point
        keys.append(means.seconds[k]);
        values.append(means.means[k]);
    }
    m_meanGraph->setData(keys, values, true);
    fitValues();
}

void RegionPanel::markRunFrame(double seconds)
{
    m_shownGraph->data()->clear();
    if (!std::isnan(m_figures.mean))
        m_shownGraph->addData(seconds - m_runSpan->first, m_figures.mean);
    fitValues();
}

void RegionPanel::fitValues()
{
    bool found = false;
    const QCPRange values = m_meanGraph->data()->valueRange(found);
    if (found)
        m_plot->yAxis->setRange(PlotRanges::steady(m_plot->yAxis->range(), values, kValueMargin));
    m_dataLayer->replot();
}

void RegionPanel::showFigures()
{
    m_pixels->setText(QString::number(m_figures.pixels));
    m_nanPixels->setText(QString::number(m_figures.nanPixels));
    m_mean->setText(current(m_figures.mean));
    m_deviation->setText(current(m_figures.standardDeviation));
    m_minimum->setText(current(m_figures.minimum));
    m_maximum->setText(current(m_figures.maximum));
    m_signalToNoise->setText(std::isnan(m_figures.signalToNoise) ? QStringLiteral("-")
                                                                 : QString::number(m_figures.signalToNoise, 'f', 2));
}

// The mean against the seconds before this frame, the last minute in view.
void RegionPanel::plotMean(double seconds)
{
    shiftTimes(seconds);
    if (!std::isnan(m_figures.mean))
        m_meanGraph->addData(0.0, m_figures.mean);
    m_meanGraph->data()->removeBefore(-kHistorySeconds);
    fitValues();
}

// Makes the points' keys count back from a newest frame at `seconds`. All
// move by the same amount, so they stay in order.
void RegionPanel::shiftTimes(double seconds)
{
    const double shift = seconds - m_newestSeconds;
    m_newestSeconds = seconds;
    if (shift == 0.0)
        return;
    for (QCPGraphData &point : *m_meanGraph->data())
        point.key -= shift;
}
