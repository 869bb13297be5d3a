#pragma once

#include "acquisition/DiskSpaceGuard.h"
#include "acquisition/Hdf5Id.h"
#include "acquisition/RunSink.h"

#include <chrono>
#include <optional>

// Writes a save run as one HDF5 file, <folder>/<name>.h5: the frames' currents
// (nA) and gray levels, their times, the references and what the instrument
// was doing (README, "HDF5 recordings", lists every path and attribute).
//
// Built on HDF5's C API: the calls this sink rests on (direct chunk writes,
// SWMR writing, its flushes) exist only there, and the C++ wrapper reports
// errors by throwing, which a sink must not do.
//
// Reading while it grows: the file has the latest format and everything the
// run will ever need is created before SWMR writing starts: the datasets, every
// attribute, and the two references (NaN, no time) which are filled in at the
// end. During the run frames are only appended and fixed-size attribute
// values change, which SWMR writers may do; the file is flushed at least once
// a second while frames arrive, so `h5py.File(path, "r", libver="latest",
// swmr=True)` sees the frames up to the last flush. Closing ends SWMR writing;
// nothing is reopened, so a reader that keeps the file open never blocks the
// end of a run.
//
// The file carries its final name from the start (no temporary name): live
// readers need it, and a writer that dies leaves a file whose `complete`
// attribute is false and whose frames are those of the last flush (such a file
// opens with swmr=True, or normally after `h5clear -s`).
//
// Speed: each frame is one chunk written whole with a direct chunk write; the
// chunk of timestamps being filled is rewritten whole with it. Nothing waits
// in HDF5's chunk cache. The datasets grow by one frame per frame, which is
// what live readers see.
//
// Full disk: before each frame a DiskSpaceGuard keeps a reserve free, so a disk
// that fills stops the run ("No space left on device") while the file can
// still be closed with every frame written. Any other failed write shrinks the
// datasets back to the frames before it.
//
// Thread contract: as RunSink, used by one thread at a time; every member is
// touched only by that thread. HDF5 itself is Debian's thread-safe build.
class Hdf5RunSink : public RunSink
{
public:
    struct Options
    {
        int deflateLevel = 0; // 0: frames stored as they are; 1..9: byte shuffle + deflate at this level
        std::chrono::milliseconds flushInterval{1000}; // longest time between flushes while frames arrive
    };

    Hdf5RunSink();
    explicit Hdf5RunSink(const Options &options);
    // A file still open is closed as it is: complete stays false.
    ~Hdf5RunSink() override;
    Hdf5RunSink(const Hdf5RunSink &) = delete;
    Hdf5RunSink &operator=(const Hdf5RunSink &) = delete;

    static QString filePath(const SaveRunPlan &plan); // <folder>/<name>.h5

    QString kind() const override; // "HDF5 file"
    // Fails when the file exists already: a recording is never overwritten.
    bool open(const SaveRunPlan &plan, QString *error) override;
    bool write(const RecordedFrame &frame, QString *error) override;
    // Fills in the references that were measured, frames_written and complete
    // (true only when the run was complete and every frame was written), then
    // closes the file. Without an open file (open failed, or finished already)
    // there is nothing to do.
    bool finish(const RunReferences &references, bool complete, QString *error) override;
    // The frames in the file. After finish: those the closed file holds (when
    // closing failed, those of the last flush that reached the disk).
    int framesWritten() const override;

private:
    bool create(const SaveRunPlan &plan);
    bool createFrameDatasets(hid_t file);
    bool createReferenceDatasets(hid_t file);
    QString appendFrame(const RecordedFrame &frame);
    bool resize(hsize_t frames);
    bool writeFrameChunk(hid_t dataset, hid_t type, hsize_t index, const void *data, std::size_t bytes);
    bool writeTimestamp(hsize_t index, double seconds);
    bool writeReference(hid_t dataset, const std::vector<double> &values,
                        const std::optional<std::chrono::system_clock::time_point> &taken);
    bool flush();
    QString close(const RunReferences *references, bool complete);

    Options m_options;
    Hdf5Id m_file;
    QString m_path;          // the open file's name, synced once it is closed
    Hdf5Id m_current;        // /frames/current
    Hdf5Id m_gray;           // /frames/gray
    Hdf5Id m_timestamp;      // /frames/timestamp
    Hdf5Id m_fullOff;        // /references/full_off
    Hdf5Id m_fullOn;         // /references/full_on
    Hdf5Id m_frameMemorySpace;     // one frame, for writes through the filters
    std::vector<double> m_timestampChunk; // the times of the timestamp chunk being filled
    std::optional<DiskSpaceGuard> m_diskSpace;
    int m_framesRequested = 0;
    int m_framesWritten = 0;  // frames appended to the datasets
    int m_calibratedFrames = 0; // of them, rendered with calibration on
    int m_framesFlushed = 0;  // frames in the file as of the last flush that succeeded
    bool m_writeFailed = false;
    std::chrono::steady_clock::time_point m_lastFlush;
};
