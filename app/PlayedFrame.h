#pragma once

#include "acquisition/Frame.h"

#include <cstdint>

// A recorded frame as the console's consumers take it during playback.
namespace PlayedFrame {

// A copy of `recorded` numbered `index` (the display and the readout take
// only frames numbered above the last they showed, and a recording may be
// stepped backwards) and arriving now on the steady clock; its recorded wall
// time and its device bytes (which a recording makes from the currents) stay.
FramePtr renumbered(const Frame &recorded, std::uint64_t index);

} // namespace PlayedFrame
