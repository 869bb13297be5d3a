#include "SavePanel.h"

#include "ReceiverThread.h"
#include "SaveFolderNamer.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDebug>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QTextStream>

#include <cmath>

SavePanel::SavePanel(const SaveWidgets &widgets, const ConsoleState &state, ReceiverThread &worker,
                     const QString &summary, OperatorMessage::Sink message, QObject *parent)
    : QObject(parent)
    , ui(widgets)
    , state(state)
    , worker(worker)
    , summary(summary)
    , message(std::move(message))
    , chooseDirectory([] {
        return QFileDialog::getExistingDirectory(nullptr, QStringLiteral("Select Directory"), QString(),
                                                 QFileDialog::ShowDirsOnly);
    })
{
}

void SavePanel::saveClicked()
{
    if (!state.running) {
        message(QStringLiteral("Please start collecting data"));
        return;
    }
    const int count = ui.frames->currentText().toInt(nullptr, 10);
    if (count > MaxFrames) {
        message(QStringLiteral("The input value cannot exceed 1000! "));
        return;
    }
    if (count < 1) {
        // Such a request would never complete; no folder is made for it.
        message(QStringLiteral("The number of frames to save must be at least 1."));
        return;
    }

    const QString directory = ui.path->text();
    const QString name = ui.name->text();
    if (directory.isEmpty() || name.isEmpty()) {
        message(QStringLiteral("Please enter a folder name and a save path."));
        return;
    }
    QDir().mkpath(directory);
    const QString folderName = SaveFolderNamer::uniqueName(directory, name);
    const QString runFolder = directory + QStringLiteral("/") + folderName;
    if (!QDir().mkpath(runFolder)) {
        message(QStringLiteral("The folder %1 could not be created.").arg(QDir::toNativeSeparators(runFolder)));
        return;
    }

    // Values first, flags after, recording last: each flag publishes the values it uses.
    worker.clearRecordedFrames();
    worker.setFramesToSave(count);
    worker.setSavePath(directory);
    worker.setSaveName(folderName);
    if (ui.data->isChecked())
        worker.saveCsvOnCompletion.store(true, std::memory_order_release);
    if (ui.picture->isChecked())
        worker.savePictures.store(true, std::memory_order_release);
    if (ui.video->isChecked())
        worker.saveVideo.store(true, std::memory_order_release);
    requestCount = count;
    folder = runFolder;
    resetProgress();
    worker.setRecording(true);

    const QString filePath = runFolder + QStringLiteral("/") + parameterFileName(folderName);
    if (!writeParameterFile(filePath)) {
        qWarning() << "Could not open file for writing:" << filePath;
        // The frames are still saved; only the parameter file is missing.
        message(QStringLiteral("The parameter file %1 could not be written.").arg(QDir::toNativeSeparators(filePath)));
    }
}

bool SavePanel::writeParameterFile(const QString &filePath)
{
    QFile file(filePath);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate | QIODevice::Text))
        return false;
    QTextStream out(&file);
    out << summary;
    out.flush();
    file.close();
    if (file.error() != QFileDevice::NoError)
        return false;
    qDebug() << "Data saved to" << filePath;
    return true;
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
    if (requestCount < 1)
        return; // no request of this panel is running
    const double percent = std::min(100.0, double(index) / requestCount * 100.0);
    ui.progress->setValue(int(percent));
    if (index >= requestCount)
        ui.state->setText(QStringLiteral("Save success!"));
    else
        ui.state->setText(QString::number(double(std::lround(percent)), 'g', 6) + QStringLiteral("%"));
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
}
