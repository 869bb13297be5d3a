#pragma once

#include "analysis/PlotDataLayer.h"
#include "analysis/RegionStatistics.h"

#include <QGroupBox>

#include "analysis/LiveAnalysisSource.h"

#include <memory>
#include <optional>

struct LiveFrame;
class QCPGraph;
class QCustomPlot;
class QLabel;
class QPushButton;

// The figures of the region (sensor cells; the whole matrix when none) in the
// drawn frame, its mean over the last minute, and "Copy", which puts the
// figures on the clipboard as a header line and a value line, tab-separated.
// Live, the mean is plotted against the seconds before the newest frame, so
// the time axis holds still and a new frame redraws only the curve. While a
// recording is played, the curve is the region's mean in every frame of the
// run (measured by the source) and a dot marks the frame drawn.
//
// Thread contract: GUI thread only.
class RegionPanel : public QGroupBox
{
    Q_OBJECT

public:
    static constexpr double kHistorySeconds = 60.0;

    explicit RegionPanel(QWidget *parent = nullptr);
    ~RegionPanel() override;

    // A new region (null: the whole matrix); its mean plot starts afresh.
    void setRegion(const QRect &sensorCells);
    QRect region() const { return m_region; }

    // A recording's span: the mean is plotted against the seconds after its
    // first frame, the whole run in view. Nothing: live, the last minute.
    void setRunSpan(const std::optional<RunSpan> &span);
    // The region mean in every frame of the recording played; ignored while
    // live or when measured on another region.
    void showRunMeans(const RunMeans &means);

    // Measures the frame's region, shows the figures and plots the mean.
    void showFrame(const LiveFrame &frame);
    const RegionFigures &figures() const { return m_figures; }
    QCustomPlot *meanPlot() const { return m_plot; }

private:
    void buildPlot();
    QLayout *buildFigures();
    void showFigures();
    void plotMean(double seconds);
    void markRunFrame(double seconds);
    void fitValues();
    void showTimeAxis();
    void shiftTimes(double seconds);

    // GUI thread only, like the whole panel.
    QRect m_region;         // null for the whole matrix
    RegionFigures m_figures; // of the frame drawn last
    QLabel *m_regionText = nullptr;
    QLabel *m_pixels = nullptr;
    QLabel *m_nanPixels = nullptr;
    QLabel *m_mean = nullptr;
    QLabel *m_deviation = nullptr;
    QLabel *m_minimum = nullptr;
    QLabel *m_maximum = nullptr;
    QLabel *m_signalToNoise = nullptr;
    QCustomPlot *m_plot = nullptr;
    std::unique_ptr<PlotDataLayer> m_dataLayer; // the mean curve
    QCPGraph *m_meanGraph = nullptr;            // keys: seconds before m_newestSeconds, or after the run's first frame
    QCPGraph *m_shownGraph = nullptr;           // the frame drawn, while a recording is played
    double m_newestSeconds = 0.0;               // the time of the newest point, s since the Unix epoch
    std::optional<RunSpan> m_runSpan;           // the recording played, or nothing while live
};
