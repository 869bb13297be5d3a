#pragma once

#include "analysis/LiveAnalysisDialogs.h"
#include "analysis/LiveAnalysisSource.h"
#include "analysis/ReceivedRate.h"

#include <QElapsedTimer>
#include <QTimer>
#include <QWidget>

#include <cstdint>

class FrameHealthPanel;
class HistogramLevelsPanel;
class ReferencePanel;
class RegionPanel;
struct SettingsIdentity;

// The "Live Analysis" window: the histogram and display levels, the region's
// statistics, the frame health and the saved references of the running
// console, read through a LiveAnalysisSource.
//
// While shown it pulls the newest frame on its own timer and redraws only
// when there is a new one, at most kMaxRedrawsPerSecond times a second
// however fast frames arrive; frames in between are skipped, not queued. The
// health figures also move on while no frame comes.
//
// A top-level window (no parent) that does not keep the application running.
//
// Thread contract: GUI thread only, like the source.
class LiveAnalysisWindow : public QWidget
{
    Q_OBJECT

public:
    static constexpr int kMaxRedrawsPerSecond = 30;
    static constexpr int kHealthIntervalMs = 250; // health refresh while no frame comes

    LiveAnalysisWindow(LiveAnalysisSource &source, const SettingsIdentity &settings,
                       LiveAnalysisDialogs dialogs = LiveAnalysisDialogs::standard());
    ~LiveAnalysisWindow() override;

    // Pulls the newest frame and redraws when it is new (what the timer
    // calls); true when it redrew.
    bool refresh();
    int redrawCount() const { return m_redraws; }

public slots:
    // The region measured, in sensor cells; null for the whole matrix.
    void setRegion(const QRect &sensorCells);

protected:
    void showEvent(QShowEvent *event) override;
    void hideEvent(QHideEvent *event) override;

private:
    void redraw();
    void pullRunMeans();
    void showHealth();

    // GUI thread only, like the whole window.
    LiveAnalysisSource &m_source;
    HistogramLevelsPanel *m_levels = nullptr;
    RegionPanel *m_region = nullptr;
    FrameHealthPanel *m_health = nullptr;
    ReferencePanel *m_references = nullptr;
    QTimer m_timer;            // runs while the window is shown
    QElapsedTimer m_clock;     // steady time for the rate and the health refresh
    qint64 m_lastHealthMs = 0; // m_clock time of the last health refresh
    ReceivedRate m_rate;
    LiveFrame m_frame;         // the frame drawn last; its storage is reused
    RunMeans m_runMeans;       // the region means over the recording shown last
    int m_redraws = 0;
};
