#pragma once

#include "acquisition/FrameTypes.h"

#include <cstdint>

// How a pixel's three bytes become a current: raw = b0 * 65536 + b1 * 256 + b2,
// current (nA) = raw * range * 0.000001 in double precision, so a raw value of
// 1,000,000 is exactly the full range.
class PixelDecoder
{
public:
    static bool isValidIndex(int index) { return index >= 0 && index < Zk128::PixelCount; }

    // pixelBytes points at the first pixel byte of a frame (offset 0 of a RawFrame).
    static std::uint32_t raw(const unsigned char *pixelBytes, int index)
    {
        const unsigned char *p = pixelBytes + 3 * index;
        return (std::uint32_t(p[0]) << 16) | (std::uint32_t(p[1]) << 8) | std::uint32_t(p[2]);
    }

    static double current(std::uint32_t raw, int currentRange)
    {
        return double(raw) * double(currentRange) * 0.000001;
    }

    static double current(const RawFrame &frame, int index, int currentRange)
    {
        return current(raw(frame.data(), index), currentRange);
    }
};
