#pragma once

#include "ConsoleState.h"
#include "OperatorMessage.h"

#include <QObject>
#include <QString>

#include <functional>

class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QProgressBar;
class ReceiverThread;

// The widgets of the save page.
struct SaveWidgets
{
    QComboBox *frames = nullptr;     // comboBox_saveframes
    QLineEdit *name = nullptr;       // lineEdit_savename
    QLineEdit *path = nullptr;       // lineEdit_savepath
    QCheckBox *data = nullptr;       // checkBox_data
    QCheckBox *picture = nullptr;    // checkBox_picture
    QCheckBox *video = nullptr;      // checkBox_video
    QProgressBar *progress = nullptr; // progressBar
    QLabel *state = nullptr;         // label_savestate
};

// The save page: checks a request, creates a run folder with a unique name,
// writes the parameter file into it and hands the request to the worker; then
// shows the worker's progress and its save failures.
//
// Thread contract: GUI thread only; the worker's progress and failures arrive
// through queued signals.
class SavePanel : public QObject
{
    Q_OBJECT

public:
    static constexpr int MaxFrames = 1000;
    using DirectoryChooser = std::function<QString()>;

    // summary is the window's parameter summary, written as the parameter file.
    SavePanel(const SaveWidgets &widgets, const ConsoleState &state, ReceiverThread &worker, const QString &summary,
              OperatorMessage::Sink message = OperatorMessage::modalBox(), QObject *parent = nullptr);

    // The Save button.
    void saveClicked();
    // The folder button; chooser defaults to the platform's directory chooser.
    void choosePath();
    void setDirectoryChooser(DirectoryChooser chooser) { chooseDirectory = std::move(chooser); }
    // The worker's progress: index frames of the running request are stored.
    void showProgress(int index);
    // The worker could not carry out a save.
    void showFailure(const QString &sentence);

    // The folder of the last armed request (empty before).
    QString lastFolder() const { return folder; }
    int requestedFrames() const { return requestCount; }

    static QString parameterFileName(const QString &folderName)
    {
        return folderName + QStringLiteral("_SetParameterData.txt");
    }

private:
    bool writeParameterFile(const QString &filePath);
    void resetProgress();

    SaveWidgets ui;
    const ConsoleState &state;
    ReceiverThread &worker;
    const QString &summary;
    OperatorMessage::Sink message;
    DirectoryChooser chooseDirectory;

    int requestCount = 0; // frames of the request that runs; progress is measured against it
    QString folder;
};
