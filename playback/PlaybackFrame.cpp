#include "playback/PlaybackFrame.h"

#include <algorithm>
#include <cmath>

namespace PlaybackFrame {

namespace {

constexpr double kLargestRaw = double((1 << 24) - 1);

std::uint32_t rawOf(double current, double step)
{
    if (!std::isfinite(current))
        return current > 0.0 ? std::uint32_t(kLargestRaw) : 0u;
    return std::uint32_t(std::clamp(std::round(current / step), 0.0, kLargestRaw));
}

} // namespace

FramePtr make(std::vector<double> currents, int range, int k, double unixSeconds)
{
    auto frame = std::make_shared<Frame>();
    frame->raw.assign(std::size_t(Zk128::FrameLength), 0);
    const double step = double(std::max(range, 1)) * 0.000001; // as PixelDecoder::current
    unsigned char *pixel = frame->raw.data();
    const std::size_t pixels = std::min(currents.size(), std::size_t(Zk128::PixelCount));
    for (std::size_t i = 0; i < pixels; ++i, pixel += 3) {
        const std::uint32_t raw = rawOf(currents[i], step);
        pixel[0] = static_cast<unsigned char>(raw >> 16);
        pixel[1] = static_cast<unsigned char>(raw >> 8);
        pixel[2] = static_cast<unsigned char>(raw);
    }
    frame->currents = std::move(currents);
    frame->range = range;
    frame->index = std::uint64_t(k) + 1;
    frame->arrived = timeOf(unixSeconds);
    frame->arrivedSteady = std::chrono::steady_clock::now();
    return frame;
}

std::chrono::system_clock::time_point timeOf(double unixSeconds)
{
    if (!std::isfinite(unixSeconds))
        return {};
    return std::chrono::system_clock::time_point(
        std::chrono::round<std::chrono::system_clock::duration>(std::chrono::duration<double>(unixSeconds)));
}

int rangeOf(double rangeNa)
{
    return std::isfinite(rangeNa) && rangeNa >= 1.0 ? int(std::lround(rangeNa)) : 0;
}

} // namespace PlaybackFrame
