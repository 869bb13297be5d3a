#pragma once

#include "app/OperatorMessage.h"
#include "app/WorkerAnalysisSource.h"

#include <QObject>
#include <QPointer>

class EventLog;
class DisplayPipeline;
class LiveFrameCopy;
class LiveAnalysisWindow;
class QPushButton;
class QVBoxLayout;
struct SettingsIdentity;

// The "Live Analysis" button on the Display page (below the It-curve section)
// and the window it opens: histogram and levels, region statistics, frame
// health and saved references. While the window is open the worker keeps a
// copy of its newest frame for it; the live view's right-button region goes
// to it. At start the last saved references come back when the operator
// asked for that ("Load at start").
//
// Thread contract: GUI thread only.
class LiveAnalysisPage : public QObject
{
    Q_OBJECT

public:
    // The button goes into `pageLayout` (the Display page's column) right
    // after `itCurveSection`.
    LiveAnalysisPage(QVBoxLayout *pageLayout, QWidget *itCurveSection, const AnalysisFeeds &feeds,
                     const ConsoleState &state, WorkerAnalysisSource::Voltages sentVoltages,
                     DisplayPipeline &pipeline, const SettingsIdentity &settings,
                     EventLog &log, OperatorMessage::Sink message = OperatorMessage::modalBox(), QObject *parent = nullptr);
    ~LiveAnalysisPage() override;

    // Raises the open window, or opens it.
    void openWindow();
    // "Load at start": reloads the last saved references, telling the
    // operator about a range mismatch or a file that cannot be read.
    void loadReferencesAtStart();

    QPushButton *button() const { return m_button; }
    // While a recording is played, the span the region mean is plotted over.
    void setRunSpan(std::function<std::optional<RunSpan>()> span) { m_source.setRunSpan(std::move(span)); }
    // ... and the region means over it.
    void setRunMeans(WorkerAnalysisSource::RunMeansFeed means) { m_source.setRunMeans(std::move(means)); }
    LiveAnalysisWindow *window() const;

private:
    EventLog &m_log; // safe from any thread
    LiveFrameCopy &m_liveFrames;
    WorkerAnalysisSource m_source;
    const SettingsIdentity &m_settings;
    OperatorMessage::Sink m_message;
    QPushButton *m_button = nullptr;
    QPointer<LiveAnalysisWindow> m_window; // no parent; deleted with the page
};
