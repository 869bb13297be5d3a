#pragma once

#include "acquisition/SaveOutcome.h"
#include "acquisition/SaveRunPlan.h"
#include "app/ConsoleState.h"
#include "app/OperatorMessage.h"

#include <QObject>
#include <QString>

#include <functional>

class EventLog;
class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QProgressBar;
class RunFolderLink;
class SaveRunFeeder;

// The widgets of the save page.
struct SaveWidgets
{
    QComboBox *frames = nullptr;     // comboBox_saveframes
    QLineEdit *name = nullptr;       // lineEdit_savename
    QLineEdit *path = nullptr;       // lineEdit_savepath
    QCheckBox *data = nullptr;       // checkBox_data
    QCheckBox *picture = nullptr;    // checkBox_picture
    QCheckBox *video = nullptr;      // checkBox_video
    QCheckBox *hdf5 = nullptr;       // checkBox_hdf5
    QProgressBar *progress = nullptr; // progressBar
    QLabel *state = nullptr;         // label_savestate
    RunFolderLink *runFolder = nullptr; // where the last run went, or null
};

// The save page: checks a request (name, folder, free space), creates the
// run folder with its parameter file and arms the worker's save run; then
// shows the progress and, when the run's files are closed, how it ended:
// "Save success!" only when every requested kind was written completely,
// otherwise one message box that says what was written and what was not.
//
// Thread contract: GUI thread only; the worker's progress and outcome arrive
// through queued signals.
class SavePanel : public QObject
{
    Q_OBJECT

public:
    static constexpr int kMaxFrames = 1000;
    using DirectoryChooser = std::function<QString()>;
    // Asks the operator a yes/no question; true for yes.
    using Question = std::function<bool(const QString &text)>;
    // What the device runs with now, recorded in the run's HDF5 file.
    using MetadataSource = std::function<RunMetadata()>;

    // While a recording is open the Save button saves frames from it: from
    // the frame shown, for the count asked (no more than the run holds from
    // there), recorded with what the recording says the instrument did.
    struct RecordingSource
    {
        std::function<bool()> isOpen;
        std::function<int()> framesFromCurrent;
        std::function<RunMetadata()> metadata;
        std::function<void(int frames)> feed; // once the run is armed
    };

    // summary is the window's parameter summary, written as the parameter file.
    SavePanel(const SaveWidgets &widgets, const ConsoleState &state, SaveRunFeeder &worker, const QString &summary,
              MetadataSource metadata, EventLog &log, OperatorMessage::Sink message = OperatorMessage::modalBox(),
              QObject *parent = nullptr);

    // The Save button.
    void requestSave();
    // The folder button; chooser defaults to the platform's directory chooser.
    void choosePath();
    void setDirectoryChooser(DirectoryChooser chooser) { m_chooseDirectory = std::move(chooser); }
    void setQuestion(Question question) { m_ask = std::move(question); }
    void setRecordingSource(RecordingSource source) { m_recording = std::move(source); }
    // The worker's progress: index frames of the running request are gathered.
    void showProgress(int index);
    // The run's files are closed: how it went.
    void showOutcome(const SaveOutcome &outcome);
    // The worker could not carry out a save.
    void showFailure(const QString &sentence);

    // The folder of the last armed request (empty before).
    QString lastFolder() const { return m_folder; }
    int requestedFrames() const { return m_requestCount; }

    static QString parameterFileName(const QString &folderName);
    static QString runInProgressQuestion();

private:
    EventLog &m_log; // safe from any thread
    void resetProgress();

    SaveWidgets m_ui;
    const ConsoleState &m_state;
    SaveRunFeeder &m_worker; // the capture loop's save runs
    const QString &m_summary;
    MetadataSource m_metadata;
    OperatorMessage::Sink m_message;
    DirectoryChooser m_chooseDirectory;
    Question m_ask;
    RecordingSource m_recording; // empty members: no recording can be open

    int m_requestCount = 0; // frames of the request that runs; progress is measured against it
    QString m_folder;
    // The outcome of the request has been shown: progress that arrives late
    // (it travels from another thread) must not overwrite it.
    bool m_outcomeShown = false;
};
