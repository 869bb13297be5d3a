#pragma once

#include <QString>

#include <cstdint>

// How long the device takes for a frame. It integrates each of the 128 rows
// for the integration count x 12.5 ns, then sends the 49157-byte frame over
// the USB link; the next frame is requested once that one is in. The range
// chooses the count (IntegrationSearch), so it sets the frame rate: 800 nA
// runs at about 78 frames/s, 1 nA at about 1.3.
namespace FrameTiming {

constexpr double kCountNs = 12.5;
constexpr int kRowsPerFrame = 128;
constexpr double kFrameBytes = 49157.0;
constexpr double kLinkBytesPerSecond = 40e6; // the FT232H's synchronous FIFO, in practice

// The frame's integration time in ms.
double integrationMs(std::uint32_t integrationCount);
// The frames per second to expect: integration plus the frame's transfer.
double expectedFramesPerSecond(std::uint32_t integrationCount);
// "800 nA: integration 11.5 ms, about 78.6 frames/s"
QString summary(double rangeNa, std::uint32_t integrationCount);

} // namespace FrameTiming
