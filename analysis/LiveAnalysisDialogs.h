#pragma once

#include <QString>

#include <functional>

class QWidget;

// The dialogs the live analysis window opens: file choosers and the message
// box. Functions, so that tests answer them without any dialog appearing.
struct LiveAnalysisDialogs
{
    // A file to save to or to open, starting in `folder`; empty when cancelled.
    using FileChooser = std::function<QString(QWidget *parent, const QString &folder)>;
    // Shows one sentence to the operator.
    using Message = std::function<void(QWidget *parent, const QString &sentence)>;

    FileChooser chooseSaveFile;
    FileChooser chooseOpenFile;
    Message warn;

    // Qt's file dialogs for HDF5 files and a modal warning box.
    static LiveAnalysisDialogs standard();
};
