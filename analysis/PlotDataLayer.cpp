#include "analysis/PlotDataLayer.h"

PlotDataLayer::PlotDataLayer(QCustomPlot *plot)
    : m_plot(plot)
{
    m_plot->addLayer(QStringLiteral("data"), m_plot->layer(QStringLiteral("main")), QCustomPlot::limAbove);
    m_layer = m_plot->layer(QStringLiteral("data"));
    m_layer->setMode(QCPLayer::lmBuffered);
    // Every buffer is blended onto the widget at each repaint: the overlay
    // (only used for selection rectangles, which these plots do not offer)
    // shares the axes' buffer instead of having its own.
    m_plot->layer(QStringLiteral("overlay"))->setMode(QCPLayer::lmLogical);
    // The plot fills its own background: nothing beneath it needs painting.
    m_plot->setAttribute(Qt::WA_OpaquePaintEvent);
}

bool PlotDataLayer::axesMoved() const
{
    return !m_drawn || m_plot->xAxis->range() != m_x || m_plot->yAxis->range() != m_y
           || m_plot->yAxis->scaleType() != m_yScale;
}

void PlotDataLayer::replot()
{
    if (!axesMoved()) {
        m_layer->replot();
        return;
    }
    m_x = m_plot->xAxis->range();
    m_y = m_plot->yAxis->range();
    m_yScale = m_plot->yAxis->scaleType();
    m_drawn = true;
    m_plot->replot(QCustomPlot::rpQueuedReplot);
}
