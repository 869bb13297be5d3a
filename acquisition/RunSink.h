#pragma once

#include "acquisition/RecordedFrame.h"
#include "acquisition/SaveRunPlan.h"

#include <QString>

// One kind of output of a save run (CSV data, pictures, video, HDF5). The
// save-run writer drives each sink on its own thread: open once, write every
// frame in order, finish once. A sink never throws.
//
// Failures: each call returns false with *error set to a short clause that
// reads after "could not be written: " ("No space left on device"). After a
// failed write the writer stops feeding that sink but still calls finish, so
// the sink can leave what it wrote in a readable state: whole frames only,
// files closed and renamed into place. framesWritten() counts the frames that
// are on disk complete.
//
// Thread contract: used by one thread at a time (the writer's).
class RunSink
{
public:
    virtual ~RunSink() = default;

    // How the operator's message names this output: "data", "pictures",
    // "video" or "HDF5 file".
    virtual QString kind() const = 0;
    // Creates the sink's files (under temporary names where the sink renames
    // them at the end).
    virtual bool open(const SaveRunPlan &plan, QString *error) = 0;
    virtual bool write(const RecordedFrame &frame, QString *error) = 0;
    // Ends the run: writes what belongs at the end (the references), closes
    // and renames into place. complete: every requested frame was gathered.
    virtual bool finish(const RunReferences &references, bool complete, QString *error) = 0;
    virtual int framesWritten() const = 0;
};
