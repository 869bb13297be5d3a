#pragma once

#include "playback/CsvFrameIndex.h"
#include "playback/Recording.h"

#include <QFile>

#include <functional>
#include <memory>
#include <string>

// A CSV run played back: its "<name>_current.csv" read frame by frame
// through a CsvFrameIndex, the range and voltages from the run folder's
// parameter file "<name>_SetParameterData.txt", the references from
// "<name>_fulloff.csv" and "<name>_fullon.csv" when the run holds them.
//
// A CSV run records less than an HDF5 one: no integration count, serial,
// backend or version, no start (the first frame's time stands for it), and
// no time for its references. Its currents carry the 6 significant digits
// the export prints; times the milliseconds of its "Time: " lines.
//
// Thread contract: as Recording; the file is only ever opened for reading.
class CsvRecording : public Recording
{
public:
    using Progress = CsvFrameIndex::Progress;

    // Opens `path` and indexes its frames, reporting the share done through
    // `progress` (returning false from it cancels). Null, with one sentence
    // in *error, when the file cannot be read, is not a frames file, holds no
    // whole frame or the opening was cancelled.
    static std::unique_ptr<CsvRecording> open(const QString &path, QString *error, const Progress &progress = {});

    QString path() const override { return m_file.fileName(); }
    RunMetadata metadata() const override { return m_metadata; }
    RunReferences references() const override { return m_references; }
    int frameCount() const override { return m_index.frameCount(); }
    FramePtr frame(int k) override;
    double frameTime(int k) const override;
    std::vector<double> pixelSeries(int x, int y) override;
    QString notice() const override { return m_notice; }
    QString lastError() const override { return m_lastError; }

private:
    CsvRecording() = default;
    // Reads frame k's bytes into m_bytes; where its block begins, or null with lastError set.
    const char *readBlock(int k);
    // The 16384 currents of frame k into `values`; false with lastError set.
    bool readFrame(int k, std::vector<double> &values);
    void readParameters(const QString &prefix);
    void readReferences(const QString &prefix);

    QFile m_file;
    CsvFrameIndex m_index;
    RunMetadata m_metadata;
    RunReferences m_references;
    int m_range = 0;      // nA, what frames are decoded on
    std::string m_bytes;  // one frame's bytes, reused
    QString m_notice;
    QString m_lastError;
};
