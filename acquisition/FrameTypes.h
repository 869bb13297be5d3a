#pragma once

#include <memory>
#include <vector>

// Shared types of the acquisition engine.

// One device frame as the loop takes it: frameLength (49157) bytes whose first
// 49152 are the 16384 pixel values, three bytes each, most significant first,
// row-major (index = x + 128 * y).
using RawFrame = std::vector<unsigned char>;

// 16384 pixel currents in nA, row-major.
using CurrentFrame = std::vector<double>;

// Three per-channel lists of It-curve samples; travels in a queued signal.
using PixelCurrentSeries = std::shared_ptr<std::vector<std::vector<double>>>;

namespace Zk128 {
constexpr int Side = 128;
constexpr int PixelCount = Side * Side;      // 16384
constexpr int FrameLength = 49157;           // marker + pixels + 2 trailing bytes
constexpr int PixelBytes = PixelCount * 3;   // 49152
} // namespace Zk128
