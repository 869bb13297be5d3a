#pragma once

#include "acquisition/DisplayLevels.h"
#include "analysis/CurrentHistogram.h"
#include "analysis/PlotDataLayer.h"

#include <QGroupBox>

#include <memory>
#include <vector>

class QCheckBox;
class QComboBox;
class QCPGraph;
class QCPItemStraightLine;
class QCustomPlot;
class QDoubleSpinBox;
class QMouseEvent;

// The histogram of the drawn frame's currents and the display levels set on
// it: "Levels" turns them on; low and high are typed in, dragged as two
// markers on the histogram, or, with "Auto", follow each frame's 0.5 and 99.5
// percentiles. The count axis is linear or logarithmic. Low never passes high.
//
// Every change the operator makes is announced with levelsChanged; with Auto
// on, the figures shown follow the frames without announcing (the renderer
// takes the percentiles of every frame itself).
//
// Thread contract: GUI thread only.
class HistogramLevelsPanel : public QGroupBox
{
    Q_OBJECT

public:
    static constexpr int kBins = 256;

    // highNa: the high level to start from (the current range: the picture
    // then looks as it does with levels off).
    explicit HistogramLevelsPanel(double highNa, QWidget *parent = nullptr);
    ~HistogramLevelsPanel() override;

    // Plots the histogram of a frame (16384 currents, nA).
    void showFrame(const std::vector<double> &currents);

    DisplayLevels levels() const { return m_levels; }
    QCustomPlot *plot() const { return m_plot; }

signals:
    void levelsChanged(const DisplayLevels &levels);

private:
    enum class Marker { None, Low, High };

    void buildPlot();
    QLayout *buildControls();
    void operatorChanged(DisplayLevels levels);
    void showLevels();
    void showAxes();
    void pressed(QMouseEvent *event);
    void moved(QMouseEvent *event);
    Marker markerNear(double pixelX) const;

    // GUI thread only, like the whole panel.
    DisplayLevels m_levels;          // as shown; the last announced unless Auto moved low and high
    CurrentHistogram m_histogram;    // of the frame drawn last
    Marker m_dragged = Marker::None; // the marker under a held left button
    QCustomPlot *m_plot = nullptr;
    std::unique_ptr<PlotDataLayer> m_dataLayer; // the bars and the markers
    QCPGraph *m_bars = nullptr;
    QCPItemStraightLine *m_lowMarker = nullptr;
    QCPItemStraightLine *m_highMarker = nullptr;
    QComboBox *m_countAxis = nullptr;
    QCheckBox *m_enabled = nullptr;
    QCheckBox *m_automatic = nullptr;
    QDoubleSpinBox *m_low = nullptr;
    QDoubleSpinBox *m_high = nullptr;
};
