#pragma once

#include "acquisition/SaveRunPlan.h"

#include <QString>

#include <optional>

// A save run as the operator (or a script) asks for it.
struct SaveRequest
{
    static constexpr int kMaxFrames = 1000;

    QString directory; // the chosen folder; the run folder is made inside it
    QString name;      // the run's name: its folder and file-name prefix
    int frames = 1;    // 1..1000
    bool data = false;
    bool pictures = false;
    bool video = false;
    bool hdf5 = false;

    // The kinds asked for, as the operator's messages name them.
    QStringList kinds() const;
};

// Turns a request into a run on disk, refusing with one sentence anything
// that would write somewhere unexpected or run out of space part-way:
// names with "/", "\", "..", control characters or a leading ".", empty
// names, names whose files would pass 255 bytes, a run folder that resolves
// outside the chosen folder, and a file system without the room the run
// needs. On success the run folder exists with its parameter file in it.
namespace SaveRunPreparation {

// The sentence that refuses the name, or empty when it will do.
QString checkName(const QString &name);
// About how many bytes the run will put on disk.
qint64 estimatedBytes(const SaveRequest &request);
// The parameter file of the run folder `folderName`.
QString parameterFileName(const QString &folderName);

// The run's plan (folder made, parameter file written), or nothing with
// *refusal saying why; nothing is left on disk after a refusal but a
// directory the request named.
std::optional<SaveRunPlan> prepare(const SaveRequest &request, const QString &parameterSummary,
                                   const RunMetadata &metadata, QString *refusal);

} // namespace SaveRunPreparation
