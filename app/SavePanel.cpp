#include "SavePanel.h"

#include "EventLog.h"
#include "RunFolderLink.h"
#include "SaveRunFeeder.h"
#include "SaveRequest.h"
#include "core/ParameterSummary.h"

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
    , ui(widgets)
    , state(state)
    , worker(worker)
    , summary(summary)
    , metadata(std::move(metadata))
    , message(std::move(message))
    , chooseDirectory([] {
        return QFileDialog::getExistingDirectory(nullptr, QStringLiteral("Select Directory"), QString(),
                                                 QFileDialog::ShowDirsOnly);
    })
    , ask([](const QString &text) {
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

void SavePanel::saveClicked()
{
    const bool exporting = m_recording.isOpen && m_recording.isOpen();
    if (!state.running && !exporting) {
        message(QStringLiteral("Please start collecting data"));
        return;
    }
    int count = ui.frames->currentText().toInt(nullptr, 10);
    if (count > MaxFrames) {
        message(QStringLiteral("The input value cannot exceed 1000! "));
        return;
    }
    if (count < 1) {
        // Such a request would never complete; no folder is made for it.
        message(QStringLiteral("The number of frames to save must be at least 1."));
        return;
    }
    if (worker.isArmed()) {
        if (!ask(runInProgressQuestion()))
            return;
        worker.end(QStringLiteral("a new save run was started"));
    }

    if (exporting)
        count = std::min(count, m_recording.framesFromCurrent());

    SaveRequest request;
    request.directory = ui.path->text();
    request.name = ui.name->text();
    request.frames = count;
    request.data = ui.data->isChecked();
    request.pictures = ui.picture->isChecked();
    request.video = ui.video->isChecked();
    request.hdf5 = ui.hdf5 && ui.hdf5->isChecked();

    QString refusal;
    RunMetadata described = metadata ? metadata() : RunMetadata();
    QString parameters = summary;
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
        message(refusal);
        return;
    }
    qDebug() << "Data saved to" << plan->folder + QLatin1Char('/') + parameterFileName(plan->name);
    m_log.line(QStringLiteral("Save run requested: %1, %2 frames, kinds %3.")
                .arg(plan->folder)
                .arg(plan->frames)
                .arg(request.kinds().isEmpty() ? QStringLiteral("none") : request.kinds().join(QStringLiteral(", ")))
                .toUtf8());
    requestCount = count;
    folder = plan->folder;
    outcomeShown = false;
    resetProgress();
    if (!worker.arm(*plan, &refusal)) {
        showFailure(refusal);
        return;
    }
    if (exporting)
        m_recording.feed(plan->frames);
}

void SavePanel::choosePath()
{
    const QString chosen = chooseDirectory();
    if (chosen.isEmpty()) {
        message(QStringLiteral("Please select a valid path"));
        return;
    }
    ui.path->setText(chosen);
}

void SavePanel::showProgress(int index)
{
    if (requestCount < 1 || outcomeShown)
        return; // no request of this panel is running, or its outcome is shown
    // 100 % and "Save success!" wait for the outcome: gathered is not yet written.
    const double percent = std::min(100.0, double(index) / requestCount * 100.0);
    ui.progress->setValue(int(percent));
    ui.state->setText(QString::number(double(std::lround(percent)), 'g', 6) + QStringLiteral("%"));
}

void SavePanel::showOutcome(const SaveOutcome &outcome)
{
    if (outcome.folder == folder) {
        outcomeShown = true;
        if (ui.runFolder && outcome.written > 0)
            ui.runFolder->showFolder(outcome.folder);
        if (outcome.success()) {
            ui.progress->setValue(100);
            ui.state->setText(QStringLiteral("Save success!"));
        } else {
            // Never back to 100 % after a failure.
            const int percent = outcome.requested > 0 ? outcome.written * 100 / outcome.requested : 0;
            ui.progress->setValue(std::min(percent, 99));
            ui.state->setText(QStringLiteral("Saved %1 of %2").arg(outcome.written).arg(outcome.requested));
        }
    }
    if (!outcome.success())
        message(outcome.message());
}

void SavePanel::showFailure(const QString &sentence)
{
    resetProgress();
    message(sentence);
}

void SavePanel::resetProgress()
{
    ui.progress->setValue(0);
    ui.state->clear();
    if (ui.runFolder)
        ui.runFolder->clearFolder();
}
