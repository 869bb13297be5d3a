#include "operation/FrameTiming.h"

namespace FrameTiming {

double integrationMs(std::uint32_t integrationCount)
{
    return double(integrationCount) * kCountNs * kRowsPerFrame / 1e6;
}

double expectedFramesPerSecond(std::uint32_t integrationCount)
{
    const double transferMs = kFrameBytes / kLinkBytesPerSecond * 1000.0;
    return 1000.0 / (integrationMs(integrationCount) + transferMs);
}

QString summary(double rangeNa, std::uint32_t integrationCount)
{
    const double fps = expectedFramesPerSecond(integrationCount);
    return QStringLiteral("%1 nA: integration %2 ms, about %3 frames/s")
        .arg(rangeNa, 0, 'g', 6)
        .arg(integrationMs(integrationCount), 0, 'f', 1)
        .arg(fps, 0, 'f', fps < 10 ? 2 : 1);
}

} // namespace FrameTiming
