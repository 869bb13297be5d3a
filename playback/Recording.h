#pragma once

#include "acquisition/Frame.h"
#include "acquisition/SaveRunPlan.h"

#include <QString>

#include <vector>

// A saved run opened for playback: one more source of frames for the same
// consumers the capture loop feeds. Frames are read on demand (an HDF5 file by
// chunk, a CSV run through an index of its "Time:" lines), so memory stays
// flat in the run's length.
//
// Thread contract: a recording is used by one thread at a time (made on a
// background thread by RecordingOpener, then handed to the thread that plays
// it); the frames it returns are immutable and may be shared with any thread.
class Recording
{
public:
    virtual ~Recording() = default;

    // The file this recording reads: the run's "<name>.h5" or "<name>_current.csv".
    virtual QString path() const = 0;
    // What the instrument was doing while the run was recorded, as far as the
    // run stored it (the HDF5 root attributes, or the CSV run's parameter file).
    virtual RunMetadata metadata() const = 0;
    // The references stored with the run (HDF5 /references, or the CSV run's
    // "_fullon.csv" and "_fulloff.csv"); a reference the run does not hold is
    // empty.
    virtual RunReferences references() const = 0;

    // Whole frames readable now.
    virtual int frameCount() const = 0;
    // Frame k (0-based) with its currents on the run's range, its index k + 1
    // and its recorded time as `arrived`; null when it cannot be read, with
    // the reason in lastError().
    virtual FramePtr frame(int k) = 0;
    // When frame k arrived, seconds since the Unix epoch.
    virtual double frameTime(int k) const = 0;
    // The current of pixel (x, y) in nA in every frame, in frame order.
    virtual std::vector<double> pixelSeries(int x, int y) = 0;

    // A file still being written by another console or tool that this
    // recording can follow.
    virtual bool canFollow() const { return false; }
    // Looks for frames written since the last call; returns frameCount().
    virtual int refresh() { return frameCount(); }

    // One sentence the operator should read when the recording opens, or
    // empty: "The last frame is incomplete; N frames are shown." or
    // "This run was interrupted after N frames."
    virtual QString notice() const = 0;
    virtual QString lastError() const = 0;
};
