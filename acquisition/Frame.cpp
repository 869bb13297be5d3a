#include "acquisition/Frame.h"

#include "acquisition/PixelDecoder.h"

void decodeCurrents(Frame &frame)
{
    frame.currents.resize(std::size_t(Zk128::PixelCount));
    const unsigned char *pixels = frame.raw.data();
    for (int i = 0; i < Zk128::PixelCount; ++i)
        frame.currents[std::size_t(i)] = PixelDecoder::current(PixelDecoder::raw(pixels, i), frame.range);
}
