#pragma once

#include "analysis/ReferenceSet.h"

#include <QString>

#include <hdf5.h>

#include <optional>

// A pair of calibration references in an HDF5 file laid out as the
// references of a recording (README, "HDF5 recordings"): /references/full_off
// and /references/full_on, float64 [128, 128] in nA (row = y, column = x),
// each with `units` = "nA" and `taken_unix_s` (NaN for a reference never
// measured, whose values are the console's defaults it held); the root's
// vbias1_V, vbias2_V, von_V, voff_V and current_range_nA. A recording's file
// therefore loads as a reference file too.
//
// Thread contract: none of its own; HDF5 is Debian's thread-safe build.
namespace ReferenceFile {

// Writes the references to `path`, replacing a file there only once the new
// one is complete. False, with one sentence in `error`, when it fails.
bool save(const QString &path, const ReferenceSet &references, QString *error);

// The references in `path`; nothing, with one sentence in `error`, when the
// file cannot be read or is not laid out as above. Times come back to the
// microsecond.
std::optional<ReferenceSet> load(const QString &path, QString *error);

// The same from a file already open for reading (a recording being played
// back); nothing, with the reason as a clause ("it holds no
// /references/full_on") in `reason`, when it is not laid out as above.
std::optional<ReferenceSet> read(hid_t file, QString *reason);

} // namespace ReferenceFile
