#include "analysis/CurrentDialog.h"

#include "analysis/AnalysisLogging.h"

#include <algorithm>

#include <QCloseEvent>
#include <QDebug>

CurrentDialog::CurrentDialog(QWidget *parent, int rangeMax)
    : QCustomPlot(parent), rangeMax(rangeMax)
{
    setFixedSize(800, 600);

    QFont labelFont(font().family(), 8);
    xAxis->setRange(0, timeWindow);
    xAxis->setLabel("Time(s)");
    xAxis->setLabelFont(labelFont);
    yAxis->setRange(0, rangeMax);
    yAxis->setLabel("Current(na)");
    yAxis->setLabelFont(labelFont);

    // Many points arrive every second; plain lines keep the repaint cheap.
    setNotAntialiasedElements(QCP::aeAll);
    setInteractions(QCP::iRangeZoom | QCP::iRangeDrag);

    for (const QColor &color : colors) {
        QCPGraph *graph = addGraph();
        graph->setPen(QPen(color, 2));
        graph->setLineStyle(QCPGraph::lsLine);
        graphs.append(graph);
    }
}

CurrentDialog::~CurrentDialog() = default;

void CurrentDialog::appendSeries(std::shared_ptr<std::vector<std::vector<double>>> data,
                                 double time)
{
    if (closedByUser || !data)
        return;
    for (int i = 0; i < int(data->size()); ++i) {
        for (double value : (*data)[i]) {
            if (i >= graphs.size()) {
                qCWarning(lcAnalysis) << "Index out of range:" << i;
            } else if (!graphs[i]) {
                qCWarning(lcAnalysis) << "Graph at index" << i << "is null.";
            } else {
                graphs[i]->addData(time, value);
                lastKey = time;
            }
        }
    }

    dropOldPoints();
    // Once the time passes the window, scroll with it; a burst of frames then
    // costs one queued repaint.
    if (lastKey > timeWindow) {
        xAxis->setRange(lastKey - timeWindow, lastKey);
        replot(QCustomPlot::rpQueuedReplot);
    } else {
        xAxis->setRange(0, timeWindow);
        replot(QCustomPlot::rpRefreshHint);
    }
}

void CurrentDialog::showWholeRun(const std::vector<double> &seconds,
                                 const std::vector<std::vector<double>> &currents)
{
    for (int i = 0; i < graphs.size(); ++i) {
        QVector<double> keys;
        QVector<double> values;
        if (i < int(currents.size())) {
            const std::size_t points = std::min(seconds.size(), currents[std::size_t(i)].size());
            keys = QVector<double>(seconds.begin(), seconds.begin() + std::ptrdiff_t(points));
            values = QVector<double>(currents[std::size_t(i)].begin(),
                                     currents[std::size_t(i)].begin() + std::ptrdiff_t(points));
        }
        graphs[i]->setData(keys, values, true);
    }
    lastKey = seconds.empty() ? 0.0 : seconds.back();
    xAxis->setRange(0, std::max(lastKey, 1e-3));
    replot(QCustomPlot::rpQueuedReplot);
}

void CurrentDialog::dropOldPoints()
{
    // A tenth of slack on both bounds: the points go in batches, not one per frame.
    constexpr int kPointSlack = kMaxPoints / 10;
    constexpr double kTimeSlack = kHistorySeconds / 10;
    for (QCPGraph *graph : graphs) {
        const QSharedPointer<QCPGraphDataContainer> points = graph->data();
        if (points->isEmpty())
            continue;
        if (points->constBegin()->key < lastKey - kHistorySeconds - kTimeSlack)
            points->removeBefore(lastKey - kHistorySeconds);
        if (points->size() > kMaxPoints + kPointSlack)
            points->removeBefore((points->constEnd() - kMaxPoints)->key);
    }
}

void CurrentDialog::closeEvent(QCloseEvent *event)
{
    closedByUser = true;
    emit closed();
    QCustomPlot::closeEvent(event);
}
