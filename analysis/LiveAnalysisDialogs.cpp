#include "analysis/LiveAnalysisDialogs.h"

#include <QFileDialog>
#include <QMessageBox>

namespace {

const QString kFilter = QStringLiteral("HDF5 files (*.h5 *.hdf5);;All files (*)");

} // namespace

LiveAnalysisDialogs LiveAnalysisDialogs::standard()
{
    LiveAnalysisDialogs dialogs;
    dialogs.chooseSaveFile = [](QWidget *parent, const QString &folder) {
        QFileDialog dialog(parent, QStringLiteral("Save references"), folder, kFilter);
        dialog.setAcceptMode(QFileDialog::AcceptSave);
        dialog.setDefaultSuffix(QStringLiteral("h5")); // the dialog also asks before replacing a file
        return dialog.exec() == QDialog::Accepted ? dialog.selectedFiles().value(0) : QString();
    };
    dialogs.chooseOpenFile = [](QWidget *parent, const QString &folder) {
        return QFileDialog::getOpenFileName(parent, QStringLiteral("Load references"), folder, kFilter);
    };
    dialogs.warn = [](QWidget *parent, const QString &sentence) {
        QMessageBox::warning(parent, QStringLiteral("Live Analysis"), sentence);
    };
    return dialogs;
}
