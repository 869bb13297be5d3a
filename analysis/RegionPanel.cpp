#include "RegionPanel.h"

#include "LiveAnalysisSource.h"

#include <qcustomplot.h>

#include <QClipboard>
#include <QFormLayout>
#include <QGuiApplication>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

#include <cmath>

namespace {

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

QLabel *figureLabel(const char *name)
{
    auto *label = new QLabel(QStringLiteral("-"));
    label->setObjectName(QLatin1String(name));
    label->setTextInteractionFlags(Qt::TextSelectableByMouse);
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

void RegionPanel::buildPlot()
{
    m_plot = new QCustomPlot;
    m_plot->setObjectName(QStringLiteral("regionMeanPlot"));
    m_plot->setMinimumHeight(160);
    m_plot->setNotAntialiasedElements(QCP::aeAll);
    auto ticker = QSharedPointer<QCPAxisTickerDateTime>::create();
    ticker->setDateTimeFormat(QStringLiteral("hh:mm:ss"));
    m_plot->xAxis->setTicker(ticker);
    m_plot->xAxis->setLabel(QStringLiteral("Time"));
    m_plot->yAxis->setLabel(QStringLiteral("Region mean (nA)"));
    m_meanGraph = m_plot->addGraph();
    m_meanGraph->setPen(QPen(QColor(0, 0, 255)));
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

void RegionPanel::setRegion(const QRect &sensorCells)
{
    m_region = sensorCells;
    m_regionText->setText(regionText(sensorCells));
    m_meanGraph->data()->clear();
    m_plot->replot(QCustomPlot::rpQueuedReplot);
}

void RegionPanel::showFrame(const LiveFrame &frame)
{
    m_figures = RegionStatistics::measure(frame.currents, m_region);
    showFigures();
    plotMean(double(frame.timeMs) / 1000.0);
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

// The mean against the frame's time, the last minute in view.
void RegionPanel::plotMean(double seconds)
{
    if (!std::isnan(m_figures.mean))
        m_meanGraph->addData(seconds, m_figures.mean);
    m_meanGraph->data()->removeBefore(seconds - kHistorySeconds);
    m_plot->xAxis->setRange(seconds - kHistorySeconds, seconds);
    bool found = false;
    const QCPRange values = m_meanGraph->data()->valueRange(found);
    if (found) {
        const double margin = std::max(values.size() * 0.05, 1e-3);
        m_plot->yAxis->setRange(values.lower - margin, values.upper + margin);
    }
    m_plot->replot(QCustomPlot::rpQueuedReplot);
}
