#pragma once

#include <QFile>
#include <QString>

#include <functional>
#include <vector>

// Where each frame of a frames CSV file (<name>_current.csv) begins, and when
// it was taken: the byte offsets of its "Time: " lines, found in one pass
// over the file, and the times those lines carry. 16 bytes a frame, so a
// frame is read by seeking to it whatever the file's length.
//
// Thread contract: built and read by one thread at a time.
class CsvFrameIndex
{
public:
    // Called with the share of the file scanned so far (0..1); returning
    // false stops the scan.
    using Progress = std::function<bool(double fraction)>;

    enum class Result { Built, NotFrames, Cancelled, ReadFailed };

    // Scans `file` (open for reading) from its start. NotFrames when it does
    // not begin with a "Time: " line; ReadFailed with the system's reason in
    // *reason when reading fails.
    Result build(QFile &file, const Progress &progress, QString *reason);

    int frameCount() const { return int(m_offsets.size()); }
    // Bytes of frame k: from its "Time: " line to the next one (or the end of
    // the file as scanned).
    qint64 begin(int k) const { return m_offsets[std::size_t(k)]; }
    qint64 end(int k) const;
    // When frame k was taken, seconds since the Unix epoch; NaN for "Time: Unknown".
    double time(int k) const { return m_times[std::size_t(k)]; }

    // Forgets the last frame (one cut short).
    void dropLast();

    // A "Time: " text as the save run writes it (local time) in seconds since
    // the Unix epoch, or NaN.
    static double parseTime(const char *text, qsizetype length);

private:
    void add(qint64 offset, const char *text, qsizetype length);

    std::vector<qint64> m_offsets;
    std::vector<double> m_times;
    qint64 m_fileEnd = 0;
};
