#pragma once

#include "playback/Recording.h"

#include <QString>

#include <functional>
#include <memory>

namespace RecordingOpener {

// Reports how far the opening is (0..1, for a CSV run's index); returning
// false cancels it. Called on the thread that opens.
using Progress = std::function<bool(double fraction)>;

// Opens PATH: a run folder (its "<name>.h5" when present, else its
// "<name>_current.csv"), a "<name>.h5" or a "<name>_current.csv". Returns
// null with one sentence in *error for a missing file, a file that is not a
// recording or an HDF5 file of another layout. May take seconds for a large
// CSV run; safe to call on a background thread.
std::unique_ptr<Recording> open(const QString &path, QString *error, const Progress &progress = {});

} // namespace RecordingOpener
