#pragma once

#include "acquisition/Frame.h"

#include <vector>

// Builds the frames a recording hands out: the same immutable Frame the
// capture loop publishes, so every consumer takes recorded frames as it takes
// live ones.
namespace PlaybackFrame {

// Frame `k` (0-based) of a recording: `currents` (16384 values, nA) as
// recorded, `range` in nA, index k + 1, `arrived` at `unixSeconds` (the epoch
// when the time is unknown) and `arrivedSteady` when it was read.
//
// `raw` holds the device values nearest to the currents on `range`:
// round(current / (range x 0.000001)), clamped to the 24 bits a pixel has, 0
// for NaN. Decoding them gives back the currents of a recording of the
// device's own values (an HDF5 run) exactly; currents printed with 6
// significant digits (a CSV run) come back within those digits and half a
// device step (range x 0.0000005 nA). The renderer and the calibration work
// from `raw`, so that is what they show; the readouts take `currents`.
FramePtr make(std::vector<double> currents, int range, int k, double unixSeconds);

// The moment `unixSeconds` (seconds since the Unix epoch, as a recording
// stores it) stands for; the epoch when it is not a number. Rounded to the
// clock's own tick, not to whole microseconds: a time a fraction of a
// microsecond before a millisecond must stay in that millisecond, as the
// CSV export prints it.
std::chrono::system_clock::time_point timeOf(double unixSeconds);

// The range a frame is decoded on, from a run's recorded range in nA.
int rangeOf(double rangeNa);

} // namespace PlaybackFrame
