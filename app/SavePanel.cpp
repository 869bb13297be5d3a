#include "app/SavePanel.h"

#include "acquisition/SaveRunFeeder.h"
#include "app/AppLogging.h"
#include "app/RunFolderLink.h"
#include "operation/ParameterSummary.h"
#include "operation/SaveRequest.h"
#include "services/EventLog.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDebug>
#include <QDir>
#include <QFileDialog>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QProgressBar>

#include <algorithm>
#include <chrono>
#include <cmath>

SavePanel::SavePanel(const SaveWidgets &widgets, const ConsoleState &state, SaveRunFeeder &worker,
                     const QString &summary, MetadataSource metadata, EventLog &log, OperatorMessage::Sink message, QObject *parent)
    : QObject(parent)
    , m_log(log)
    , m_ui(widgets)
    , m_state(state)
    , m_worker(worker)
    , m_summary(summary)
    , m_metadata(std::move(metadata))
    , m_message(std::move(message))
    , m_chooseDirectory([] {
        return QFileDialog::getExistingDirectory(nullptr, QStringLiteral("Select Directory"), QString(),
                                                 QFileDialog::ShowDirsOnly);
    })
    , m_ask([](const QString &text) {
        return QMessageBox::question(nullptr, QString(), text, QMessageBox::Yes | QMessageBox::No, QMessageBox::No)
            == QMessageBox::Yes;
    })
{
}

QString SavePanel::parameterFileName(const QString &folderName)
{
    return SaveRunPreparation::parameterFileName(folderName);
}

QString SavePanel::runInProgressQuestion()
{
    return QStringLiteral("A save run is in progress. Stop it and keep the frames saved so far?");
}

void SavePanel::requestSave()
{
    const bool exporting = m_recording.isOpen && m_recording.isOpen();
    if (!m_state.running && !exporting) {
        m_message(QStringLiteral("Please start collecting data"));
        return;
    }
    int count = m_ui.frames->currentText().toInt(nullptr, 10);
    if (count > kMaxFrames) {
        m_message(QStringLiteral("The input value cannot exceed 1000! "));
        return;
    }
    if (count < 1) {
        // Such a request would never complete; no folder is made for it.
        m_message(QStringLiteral("The number of frames to save must be at least 1."));
        return;
    }
    if (m_worker.isArmed()) {
        if (!m_ask(runInProgressQuestion()))
            return;
        m_worker.end(QStringLiteral("a new save run was started"));
    }

    if (exporting)
        count = std::min(count, m_recording.framesFromCurrent());

    SaveRequest request;
    request.directory = m_ui.path->text();
    request.name = m_ui.name->text();
    request.frames = count;
    request.data = m_ui.data->isChecked();
    request.pictures = m_ui.picture->isChecked();
    request.video = m_ui.video->isChecked();
    request.hdf5 = m_ui.hdf5 && m_ui.hdf5->isChecked();

    QString refusal;
    RunMetadata described = m_metadata ? m_metadata() : RunMetadata();
    QString parameters = m_summary;
    if (exporting) {
        // The run saved is the recording's: its parameters, not the device's now.
        described = m_recording.metadata();
        if (described.startTime.time_since_epoch().count() == 0)
            described.startTime = std::chrono::system_clock::now();
        parameters = ParameterSummary::compose(described.currentRangeNa, QString::number(described.vbias1Volts),
                                               QString::number(described.vbias2Volts),
                                               QString::number(described.vonVolts),
                                               QString::number(described.voffVolts));
    }
    const std::optional<SaveRunPlan> plan = SaveRunPreparation::prepare(request, parameters, described, &refusal);
    if (!plan) {
        m_log.line(QStringLiteral("Save run refused: %1").arg(refusal).toUtf8());
        m_message(refusal);
        return;
    }
    qCDebug(lcApp) << "Data saved to" << plan->folder + QLatin1Char('/') + parameterFileName(plan->name);
    m_log.line(QStringLiteral("Save run requested: %1, %2 frames, kinds %3.")
                .arg(plan->folder)
                .arg(plan->frames)
                .arg(request.kinds().isEmpty() ? QStringLiteral("none") : request.kinds().join(QStringLiteral(", ")))
                .toUtf8());
    m_requestCount = count;
    m_folder = plan->folder;
    m_outcomeShown = false;
    resetProgress();
    if (!m_worker.arm(*plan, &refusal)) {
        showFailure(refusal);
        return;
    }
    if (exporting)
        m_recording.feed(plan->frames);
}

void SavePanel::choosePath()
{
    const QString chosen = m_chooseDirectory();
    if (chosen.isEmpty()) {
        m_message(QStringLiteral("Please select a valid path"));
        return;
    }
    m_ui.path->setText(chosen);
}

void SavePanel::showProgress(int index)
{
    if (m_requestCount < 1 || m_outcomeShown)
        return; // no request of this panel is running, or its outcome is shown
    // 100 % and "Save success!" wait for the outcome: gathered is not yet written.
    const double percent = std::min(100.0, double(index) / m_requestCount * 100.0);
    m_ui.progress->setValue(int(percent));
    m_ui.state->setText(QString::number(double(std::lround(percent)), 'g', 6) + QStringLiteral("%"));
}

void SavePanel::showOutcome(const SaveOutcome &outcome)
{
    if (outcome.folder == m_folder) {
        m_outcomeShown = true;
        if (m_ui.runFolder && outcome.written > 0)
            m_ui.runFolder->showFolder(outcome.folder);
        if (outcome.success()) {
            m_ui.progress->setValue(100);
            m_ui.state->setText(QStringLiteral("Save success!"));
        } else {
            // Never back to 100 % after a failure.
            const int percent = outcome.requested > 0 ? outcome.written * 100 / outcome.requested : 0;
            m_ui.progress->setValue(std::min(percent, 99));
            m_ui.state->setText(QStringLiteral("Saved %1 of %2").arg(outcome.written).arg(outcome.requested));
        }
    }
    if (!outcome.success())
        m_message(outcome.message());
}

void SavePanel::showFailure(const QString &sentence)
{
    resetProgress();
    m_message(sentence);
}

void SavePanel::resetProgress()
{
    m_ui.progress->setValue(0);
    m_ui.state->clear();
    if (m_ui.runFolder)
        m_ui.runFolder->clearFolder();
}
