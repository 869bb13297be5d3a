#pragma once

#include "acquisition/Hdf5Id.h"

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QProcess>
#include <QStandardPaths>
#include <QString>

#include <hdf5.h>

#include <cstdint>
#include <vector>

// The files of a save run read back with real readers: a CSV parser, the
// HDF5 API, ffprobe and a PNG decoder. Each answers -1 for a file it cannot
// read as a whole.
namespace RunFileReaders {

constexpr int kLinesPerFrame = 130; // "Time: ...", 128 rows, an empty line

// Whole frames in a frames CSV file, or -1 when it holds anything else.
inline int wholeCsvFrames(const QString &path, int blockLines = kLinesPerFrame)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return -1;
    QList<QByteArray> lines = file.readAll().split('\n');
    if (lines.isEmpty() || !lines.takeLast().isEmpty() || lines.size() % blockLines != 0)
        return -1; // the file must end with a whole block
    const int header = blockLines - 129;
    for (int start = 0; start < lines.size(); start += blockLines) {
        if (header == 1 && !lines[start].startsWith("Time: "))
            return -1;
        for (int row = 0; row < 128; ++row) {
            const QList<QByteArray> values = lines[start + header + row].split(',');
            if (values.size() != 128)
                return -1;
            for (const QByteArray &value : values) {
                bool ok = false;
                value.toDouble(&ok);
                if (!ok)
                    return -1;
            }
        }
        if (!lines[start + blockLines - 1].isEmpty())
            return -1;
    }
    return lines.size() / blockLines;
}

// The frames of a frames CSV file: each one's time ("Time: " line) and its
// 16384 values; empty when the file is not whole frames.
struct CsvFrame
{
    QString time;
    std::vector<double> values;
};

inline std::vector<CsvFrame> csvFrames(const QString &path)
{
    std::vector<CsvFrame> frames;
    QFile file(path);
    if (wholeCsvFrames(path) < 0 || !file.open(QIODevice::ReadOnly))
        return frames;
    const QList<QByteArray> lines = file.readAll().split('\n');
    for (int start = 0; start + kLinesPerFrame <= lines.size(); start += kLinesPerFrame) {
        CsvFrame frame;
        frame.time = QString::fromUtf8(lines[start].mid(6));
        for (int row = 1; row <= 128; ++row)
            for (const QByteArray &value : lines[start + row].split(','))
                frame.values.push_back(value.toDouble());
        frames.push_back(std::move(frame));
    }
    return frames;
}

struct Hdf5Run
{
    int frames = -1;       // length of /frames/current
    int framesWritten = -1;
    int complete = -1;
    double rangeNa = -1;
};

inline Hdf5Run readHdf5(const QString &path)
{
    Hdf5Run run;
    if (!QFileInfo::exists(path))
        return run;
    const Hdf5Id file(H5Fopen(QFile::encodeName(path).constData(), H5F_ACC_RDONLY, H5P_DEFAULT));
    if (!file.valid())
        return run;
    const Hdf5Id dataset(H5Dopen2(file.get(), "frames/current", H5P_DEFAULT));
    const Hdf5Id space(H5Dget_space(dataset.get()));
    hsize_t dims[3] = {0, 0, 0};
    if (H5Sget_simple_extent_ndims(space.get()) == 3 && H5Sget_simple_extent_dims(space.get(), dims, nullptr) == 3
        && dims[1] == 128 && dims[2] == 128)
        run.frames = int(dims[0]);
    const auto attribute = [&](const char *name, hid_t type, void *value) {
        const Hdf5Id id(H5Aopen(file.get(), name, H5P_DEFAULT));
        const Hdf5Id stored(H5Aget_type(id.get()));
        // The complete flag is an enumeration: read as its stored 8-bit integer.
        H5Aread(id.get(), H5Tget_class(stored.get()) == H5T_ENUM ? stored.get() : type, value);
    };
    std::int32_t written = -1;
    std::int8_t complete = -1;
    attribute("frames_written", H5T_NATIVE_INT32, &written);
    attribute("complete", H5T_NATIVE_INT8, &complete);
    attribute("current_range_nA", H5T_NATIVE_DOUBLE, &run.rangeNa);
    run.framesWritten = written;
    run.complete = complete;
    return run;
}

// Frames ffprobe decodes from the video; -1 when it cannot read it.
inline int videoFrames(const QString &path)
{
    QProcess ffprobe;
    ffprobe.start(QStandardPaths::findExecutable(QStringLiteral("ffprobe")),
                  {"-v", "error", "-count_frames", "-select_streams", "v:0", "-show_entries",
                   "stream=nb_read_frames", "-of", "csv=p=0", path});
    if (!ffprobe.waitForFinished(60000) || ffprobe.exitCode() != 0)
        return -1;
    bool ok = false;
    const int frames = ffprobe.readAllStandardOutput().trimmed().toInt(&ok);
    return ok ? frames : -1;
}

inline int decodedPictures(const QString &folder, const QString &name)
{
    int decoded = 0;
    for (const QFileInfo &file : QDir(folder + QStringLiteral("/pic")).entryInfoList(QDir::Files)) {
        const QImage picture(file.filePath());
        if (picture.size() != QSize(128, 128) || !file.fileName().startsWith(name + QLatin1Char('_')))
            return -1;
        ++decoded;
    }
    return decoded;
}

} // namespace RunFileReaders
