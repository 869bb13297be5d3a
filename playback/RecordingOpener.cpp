#include "playback/RecordingOpener.h"

#include "acquisition/CsvWriter.h"
#include "acquisition/Hdf5ErrorScope.h"
#include "playback/CsvRecording.h"
#include "playback/Hdf5Recording.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <hdf5.h>

namespace RecordingOpener {

namespace {

const QString kHdf5Suffix = QStringLiteral(".h5");
const QString kFramesSuffix = QStringLiteral("_current.csv");

QString native(const QString &path)
{
    return QDir::toNativeSeparators(path);
}

// The recording file of a run folder: "<name>.h5", else "<name>_current.csv"
// (name = the folder's name), else the folder's only file of either kind.
// Empty, with the sentence in *error, when there is none or no single one.
QString recordingIn(const QDir &folder, QString *error)
{
    const QString name = folder.dirName();
    for (const QString &suffix : {kHdf5Suffix, kFramesSuffix}) {
        if (QFileInfo(folder.filePath(name + suffix)).isFile())
            return folder.filePath(name + suffix);
    }
    for (const QString &suffix : {kHdf5Suffix, kFramesSuffix}) {
        const QStringList files = folder.entryList({QLatin1Char('*') + suffix}, QDir::Files);
        if (files.size() == 1)
            return folder.filePath(files.first());
        if (files.size() > 1) {
            *error = QStringLiteral("The folder %1 holds several recordings; open one of its files.")
                         .arg(native(folder.path()));
            return QString();
        }
    }
    *error = QStringLiteral("The folder %1 holds no recording (%2.h5 or %2_current.csv).")
                 .arg(native(folder.path()), name);
    return QString();
}

} // namespace

std::unique_ptr<Recording> open(const QString &path, QString *error, const Progress &progress)
{
    const QFileInfo info(path);
    if (!info.exists()) {
        *error = QStringLiteral("There is no file or folder %1.").arg(native(path));
        return nullptr;
    }
    QString file = info.absoluteFilePath();
    if (info.isDir()) {
        file = recordingIn(QDir(file), error);
        if (file.isEmpty())
            return nullptr;
    }
    // Told apart by their bytes, not their names: a renamed file still opens,
    // and a file that is neither is named as such.
    bool hdf5 = false;
    {
        Hdf5ErrorScope quiet;
        hdf5 = H5Fis_hdf5(QFile::encodeName(file).constData()) > 0;
    }
    if (hdf5)
        return Hdf5Recording::open(file, error);
    QFile probe(file);
    if (!probe.open(QIODevice::ReadOnly)) {
        *error = QStringLiteral("The file %1 could not be opened: %2.").arg(native(file), probe.errorString());
        return nullptr;
    }
    if (!probe.peek(qint64(sizeof CsvFormat::kTimePrefix) - 1).startsWith(CsvFormat::kTimePrefix)) {
        *error = QStringLiteral("The file %1 is not a recording: it is neither an HDF5 file nor a CSV frames file.")
                     .arg(native(file));
        return nullptr;
    }
    probe.close();
    return CsvRecording::open(file, error, progress);
}

} // namespace RecordingOpener
