#pragma once

#include <qcustomplot.h>

#include <QColor>
#include <QList>

#include <memory>
#include <vector>

// The It-curve window: plots the current of up to three chosen cells against
// time, one graph per series position, and scrolls so that the last
// timeWindow seconds stay in view. Created without parent, deleted by its
// owner once it has reported closed().
//
// History: each curve keeps the last kHistorySeconds (10 minutes) to scroll
// and zoom back into, and at most kMaxPoints points: at the link's top rate
// (about 800 frames/s) that is the last two minutes. Older points are
// dropped in batches, so a window left open for days holds a few MB.
//
// Thread contract: GUI thread only; series arrive through queued connections.
class CurrentDialog : public QCustomPlot
{
    Q_OBJECT

public:
    static constexpr double kHistorySeconds = 600.0;
    static constexpr int kMaxPoints = 100000;

    CurrentDialog(QWidget *parent, int rangeMax);
    ~CurrentDialog() override;

    // Adds the points of one frame: data[i] holds the currents (nA) of the
    // i-th chosen cell, plotted at time seconds by graph i.
    void appendSeries(std::shared_ptr<std::vector<std::vector<double>>> data, double time);

    // Replaces the curves with whole series at once (a recording's run):
    // currents[i] over `seconds`, graph i; the time axis spans the run.
    void showWholeRun(const std::vector<double> &seconds, const std::vector<std::vector<double>> &currents);

signals:
    void closed();

protected:
    void closeEvent(QCloseEvent *event) override;

private:
    void dropOldPoints();

    double lastKey = 0;
    int timeWindow = 10;
    int rangeMax;
    QList<QCPGraph *> graphs; // owned by the plot
    QList<QColor> colors{QColor(0, 0, 255, 255), QColor(255, 0, 0, 255), QColor(0, 255, 0, 255)};
    // Set once the window was closed: a series still queued for it is dropped.
    bool closedByUser = false;
};
