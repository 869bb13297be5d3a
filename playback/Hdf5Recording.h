#pragma once

#include "acquisition/Hdf5Id.h"
#include "playback/Recording.h"

#include <memory>

// An HDF5 run (README, "HDF5 recordings") played back: a frame is one chunk
// of /frames/current read by hyperslab, a pixel's series one column of it,
// the times come from /frames/timestamp, the references from /references and
// what the instrument did from the root attributes.
//
// The file is opened for SWMR reading, so a run that the console or
// `tessivo128-capture` is still writing opens too. While its writer holds it
// (the file's superblock says so) refresh() follows it: the two datasets are
// refreshed through the same handles (with HDF5 1.10 a second handle of a
// refreshed dataset reads wrong), and the frames readable are the shorter
// of the two. Once the writer has closed the file, the next refresh reopens
// it once to take its last frames, its references and `complete`.
//
// Nothing is ever written: the file is opened read-only.
//
// HDF5 keeps one view of a file per process: a second recording of a file
// that another one still holds refreshes the shared datasets when it opens,
// after which the older recording's reads are not to be trusted (HDF5 1.10).
// Close a recording before opening its file again.
//
// Thread contract: as Recording; HDF5 is Debian's thread-safe build.
class Hdf5Recording : public Recording
{
public:
    // Opens `path`; null, with one sentence in *error, when it cannot be
    // opened or is an HDF5 file of another layout.
    static std::unique_ptr<Hdf5Recording> open(const QString &path, QString *error);
    ~Hdf5Recording() override;

    QString path() const override { return m_path; }
    RunMetadata metadata() const override { return m_metadata; }
    RunReferences references() const override { return m_references; }
    int frameCount() const override { return m_frames; }
    FramePtr frame(int k) override;
    double frameTime(int k) const override;
    std::vector<double> pixelSeries(int x, int y) override;
    // True while the run is not complete and a writer holds the file.
    bool canFollow() const override { return !m_complete && m_writerHolds; }
    int refresh() override;
    QString notice() const override { return m_notice; }
    QString lastError() const override { return m_lastError; }

    // Whether a writer has the file open (HDF5 marks it in the superblock
    // until it closes the file; a writer that died leaves the mark).
    static bool writerHolds(const QString &path);

private:
    explicit Hdf5Recording(const QString &path) : m_path(path) {}
    // (Re)opens the file and reads everything but the frames; the reason as a
    // sentence when it cannot.
    QString load();
    QString readLayout();
    bool readTimes(int from, int to);
    void closeHandles();
    void updateNotice();

    QString m_path;
    Hdf5Id m_file;
    Hdf5Id m_current;    // /frames/current, refreshed while following
    Hdf5Id m_timestamp;  // /frames/timestamp, refreshed while following
    Hdf5Id m_frameSpace; // one 128 x 128 frame in memory
    RunMetadata m_metadata;
    RunReferences m_references;
    std::vector<double> m_times; // one per readable frame, seconds since the Unix epoch
    int m_frames = 0;
    int m_range = 0;             // nA, what frames are decoded on
    bool m_complete = false;
    bool m_writerHolds = false;
    bool m_swmr = false;         // opened for SWMR reading
    QString m_notice;
    QString m_lastError;
};
