#include "operation/SaveRequest.h"

#include "acquisition/RunFiles.h"
#include "operation/SaveFolderNamer.h"

#include <QDir>
#include <algorithm>
#include <cerrno>
#include <cstring>

#include <unistd.h>
#include <QFileInfo>
#include <QStorageInfo>
#include <QTextStream>

namespace {

// Bytes on disk per frame and once per run, measured with simulator frames
// (the HDF5 figure is the raw data: the file adds 0.03 %). Pictures and video
// are taken at their noisiest, colour; the margin covers the rest.
constexpr qint64 kDataPerFrame = 180000;      // _current.csv and _gray.csv
constexpr qint64 kDataPerRun = 260000;        // _fulloff.csv and _fullon.csv
constexpr qint64 kPicturePerFrame = 50000;    // a colour PNG of noise
constexpr qint64 kVideoPerFrame = 4000;
constexpr qint64 kHdf5PerFrame = 147464;      // 16384 x 8 + 16384 + 8
constexpr qint64 kHdf5PerRun = 300000;        // references, attributes, index
constexpr qint64 kParameterFile = 4096;
constexpr double kMargin = 1.1;
constexpr qint64 kMegabyte = 1000 * 1000;

// The longest name the run's files take beyond the folder name, in bytes:
// the parameter file under its temporary name while it is written
// ("_SetParameterData.txt" and the ".part" of its temporary name), with
// room to spare.
constexpr int kLongestSuffixBytes = 28;
constexpr int kFileNameBytes = 255;

QString tooLong()
{
    return QStringLiteral("The name is too long: the run's file names would pass 255 bytes.");
}

// Why nothing can be written in the folder, in the system's words, or empty
// when a folder can be made in it. Asked before the free space: a folder
// that cannot be written (a read-only or virtual file system, no permission)
// often reports no free space either, which would name the wrong cause.
QString unwritableReason(const QString &directory)
{
    const QByteArray path = QFile::encodeName(directory);
    if (::access(path.constData(), W_OK | X_OK) != 0)
        return QString::fromLocal8Bit(std::strerror(errno));
    QByteArray probe = path + "/.tessivo-write-check-XXXXXX";
    if (!::mkdtemp(probe.data()))
        return QString::fromLocal8Bit(std::strerror(errno));
    ::rmdir(probe.constData());
    return QString();
}

bool insideFolder(const QString &folder, const QString &directory)
{
    const QString inner = QFileInfo(folder).canonicalFilePath();
    const QString outer = QFileInfo(directory).canonicalFilePath();
    return !inner.isEmpty() && !outer.isEmpty() && inner.startsWith(outer + QLatin1Char('/'));
}

// Written under a temporary name and renamed into place, so a run folder never
// holds half a parameter file; the folder was just claimed, so no other run
// uses that name. It is not synced here: this runs on the caller's thread
// (the window's, for a Save), where a sync on a busy disk can take hundreds
// of milliseconds; the writer syncs it with the run's files.
QString writeParameterFile(const QString &path, const QString &summary)
{
    const QString partial = path + QStringLiteral(".part");
    QFile file(partial);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Text | QIODevice::NewOnly))
        return file.errorString();
    QTextStream out(&file);
    out << summary;
    out.flush();
    if (out.status() != QTextStream::Ok || !file.flush())
        return file.errorString();
    file.close();
    QString reason;
    if (!RunFiles::renameOver(partial, path, &reason))
        return reason;
    return QString();
}

} // namespace

QStringList SaveRequest::kinds() const
{
    QStringList list;
    if (data)
        list << QStringLiteral("data");
    if (pictures)
        list << QStringLiteral("pictures");
    if (video)
        list << QStringLiteral("video");
    if (hdf5)
        list << QStringLiteral("HDF5 file");
    return list;
}

namespace SaveRunPreparation {

QString checkName(const QString &name)
{
    if (name.trimmed().isEmpty())
        return QStringLiteral("Please enter a name for the save run.");
    const bool control = std::any_of(name.begin(), name.end(), [](QChar c) { return c.category() == QChar::Other_Control; });
    if (name.contains(QLatin1Char('/')) || name.contains(QLatin1Char('\\')) || name.contains(QLatin1String(".."))
        || name.startsWith(QLatin1Char('.')) || control) {
        return QStringLiteral("The name must not contain \"/\", \"\\\", \"..\" or control characters, "
                              "nor start with \".\".");
    }
    if (name.toUtf8().size() + kLongestSuffixBytes > kFileNameBytes)
        return tooLong();
    return QString();
}

qint64 estimatedBytes(const SaveRequest &request)
{
    const qint64 frames = request.frames;
    qint64 bytes = kParameterFile;
    if (request.data)
        bytes += frames * kDataPerFrame + kDataPerRun;
    if (request.pictures)
        bytes += frames * kPicturePerFrame;
    if (request.video)
        bytes += frames * kVideoPerFrame;
    if (request.hdf5)
        bytes += frames * kHdf5PerFrame + kHdf5PerRun;
    return qint64(double(bytes) * kMargin);
}

QString parameterFileName(const QString &folderName)
{
    return folderName + QStringLiteral("_SetParameterData.txt");
}

std::optional<SaveRunPlan> prepare(const SaveRequest &request, const QString &parameterSummary,
                                   const RunMetadata &metadata, QString *refusal)
{
    const auto refuse = [refusal](const QString &sentence) {
        if (refusal)
            *refusal = sentence;
        return std::nullopt;
    };
    if (request.frames < 1 || request.frames > SaveRequest::kMaxFrames)
        return refuse(QStringLiteral("The number of frames to save must be from 1 to 1000."));
    const QString nameProblem = checkName(request.name);
    if (!nameProblem.isEmpty())
        return refuse(nameProblem);
    if (request.directory.trimmed().isEmpty())
        return refuse(QStringLiteral("Please choose a folder to save into."));
    const QString directory = QDir(request.directory).absolutePath();
    if (!QDir().mkpath(directory))
        return refuse(QStringLiteral("The folder %1 could not be created.").arg(QDir::toNativeSeparators(directory)));

    if (const QString reason = unwritableReason(directory); !reason.isEmpty())
        return refuse(QStringLiteral("The folder %1 cannot be written: %2.")
                          .arg(QDir::toNativeSeparators(directory), reason));

    const QStorageInfo storage(directory);
    const qint64 needed = estimatedBytes(request);
    if (storage.isValid() && storage.bytesAvailable() < needed) {
        return refuse(QStringLiteral("The folder's disk has %1 MB free; this run needs about %2 MB.")
                          .arg(storage.bytesAvailable() / kMegabyte)
                          .arg((needed + kMegabyte - 1) / kMegabyte));
    }

    const QString folderName = SaveFolderNamer::claim(directory, request.name, nullptr);
    if (folderName.isEmpty()) {
        const QString wanted = directory + QLatin1Char('/') + request.name;
        return refuse(QStringLiteral("The folder %1 could not be created.").arg(QDir::toNativeSeparators(wanted)));
    }
    const QString folder = directory + QLatin1Char('/') + folderName;
    if (!checkName(folderName).isEmpty()) {
        QDir().rmdir(folder);
        return refuse(tooLong());
    }
    if (!insideFolder(folder, directory)) {
        QDir().rmdir(folder);
        return refuse(QStringLiteral("The run folder would lie outside %1.").arg(QDir::toNativeSeparators(directory)));
    }
    const QString parameterFile = folder + QLatin1Char('/') + parameterFileName(folderName);
    const QString failure = writeParameterFile(parameterFile, parameterSummary);
    if (!failure.isEmpty()) {
        QDir(folder).removeRecursively();
        return refuse(QStringLiteral("The parameter file %1 could not be written: %2.")
                          .arg(QDir::toNativeSeparators(parameterFile), failure));
    }

    SaveRunPlan plan;
    plan.folder = folder;
    plan.name = folderName;
    plan.frames = request.frames;
    plan.data = request.data;
    plan.pictures = request.pictures;
    plan.video = request.video;
    plan.hdf5 = request.hdf5;
    plan.metadata = metadata;
    plan.syncedBeside = parameterFile;
    return plan;
}

} // namespace SaveRunPreparation
