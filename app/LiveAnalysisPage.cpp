#include "app/LiveAnalysisPage.h"

#include "acquisition/LiveFrameCopy.h"
#include "analysis/LiveAnalysisWindow.h"
#include "analysis/SavedReferences.h"
#include "display/DisplayPipeline.h"
#include "services/EventLog.h"

#include <QPushButton>
#include <QVBoxLayout>
#include <QWidget>

LiveAnalysisPage::LiveAnalysisPage(QVBoxLayout *pageLayout, QWidget *itCurveSection, const AnalysisFeeds &feeds,
                                   const ConsoleState &state, WorkerAnalysisSource::Voltages sentVoltages,
                                   DisplayPipeline &pipeline, const SettingsIdentity &settings,
                                   EventLog &log, OperatorMessage::Sink message, QObject *parent)
    : QObject(parent)
    , m_log(log)
    , m_liveFrames(feeds.liveFrames)
    , m_source(feeds, state, std::move(sentVoltages))
    , m_settings(settings)
    , m_message(std::move(message))
{
    // A section of its own under the It-curve one, dressed as it is.
    auto *section = new QWidget(itCurveSection->parentWidget());
    section->setStyleSheet(itCurveSection->styleSheet());
    auto *layout = new QVBoxLayout(section);
    layout->setContentsMargins(itCurveSection->layout()->contentsMargins().left(), 0,
                               itCurveSection->layout()->contentsMargins().right(), 0);
    m_button = new QPushButton(QStringLiteral("Live Analysis"), section);
    layout->addWidget(m_button);
    pageLayout->insertWidget(pageLayout->indexOf(itCurveSection) + 1, section);
    connect(m_button, &QPushButton::clicked, this, &LiveAnalysisPage::openWindow);
    connect(&pipeline, &DisplayPipeline::regionSelected, this, [this](const QRect &cells) {
        if (m_window)
            m_window->setRegion(cells);
    });
}

LiveAnalysisPage::~LiveAnalysisPage()
{
    m_liveFrames.setPublishing(false);
    delete m_window.data();
}

LiveAnalysisWindow *LiveAnalysisPage::window() const
{
    return m_window.data();
}

void LiveAnalysisPage::openWindow()
{
    if (!m_window) {
        m_window = new LiveAnalysisWindow(m_source, m_settings);
        m_window->setAttribute(Qt::WA_DeleteOnClose);
        connect(m_window.data(), &QObject::destroyed, this, [this] { m_liveFrames.setPublishing(false); });
    }
    // The worker copies its newest frame only while someone looks at it.
    m_liveFrames.setPublishing(true);
    m_window->show();
    m_window->raise();
    m_window->activateWindow();
}

void LiveAnalysisPage::loadReferencesAtStart()
{
    const SavedReferences::StartLoad loaded = SavedReferences::loadAtConsoleStart(m_settings);
    if (!loaded.sentence.isEmpty()) {
        m_log.line(loaded.sentence.toUtf8());
        m_message(loaded.sentence);
        return;
    }
    if (!loaded.references)
        return;
    m_source.applyReferences(*loaded.references);
    m_log.line("Calibration references loaded at start.");
    const QString warning = SavedReferences::rangeWarning(*loaded.references, m_source.currentRangeNa());
    if (!warning.isEmpty())
        m_message(warning);
}
