#pragma once

#include <qcustomplot.h>

// A buffered layer for a plot's data, above its grid and below its axes. When
// only the data changed since the last drawing, only this layer is drawn
// again; a whole replot (axes, ticks, labels, grid) costs several times
// more, so the axes are kept still where they can be (PlotRanges).
//
// Thread contract: GUI thread only, like the plot.
class PlotDataLayer
{
public:
    explicit PlotDataLayer(QCustomPlot *plot);

    QCPLayer *layer() const { return m_layer; }

    // Draws the data again: the layer alone while the axes stay as they were
    // last drawn, else the whole plot (queued: one replot per event loop pass).
    void replot();

private:
    bool axesMoved() const;

    // GUI thread only.
    QCustomPlot *m_plot;
    QCPLayer *m_layer = nullptr;
    QCPRange m_x;    // the axes as last drawn
    QCPRange m_y;
    QCPAxis::ScaleType m_yScale = QCPAxis::stLinear;
    bool m_drawn = false; // false until the first whole replot was asked for
};
