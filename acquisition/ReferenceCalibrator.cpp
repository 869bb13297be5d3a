#include "acquisition/ReferenceCalibrator.h"

#include "acquisition/PixelDecoder.h"

#include <opencv2/core/utility.hpp>

#include <algorithm>

ReferenceCalibrator::ReferenceCalibrator()
    : m_samples(std::size_t(FramesPerReference) * Zk128::PixelCount, 0.0)
{
}

bool ReferenceCalibrator::addFrame(const RawFrame &frame, int currentRange, std::vector<double> &reference)
{
    if (frame.size() < std::size_t(Zk128::PixelBytes))
        return false; // not a frame; nothing is sampled
    double *slots = m_samples.data() + std::size_t(m_framesGathered) * Zk128::PixelCount;
    const unsigned char *pixels = frame.data();
    // Each task writes only the slots of its own pixels, so no lock is needed.
    cv::parallel_for_(cv::Range(0, Zk128::PixelCount), [&](const cv::Range &range) {
        for (int i = range.start; i < range.end; ++i)
            slots[i] = PixelDecoder::current(PixelDecoder::raw(pixels, i), currentRange);
    });

    if (++m_framesGathered < FramesPerReference)
        return false;
    m_framesGathered = 0;

    reference.resize(Zk128::PixelCount);
    std::array<double, FramesPerReference> values;
    for (int i = 0; i < Zk128::PixelCount; ++i) {
        for (int f = 0; f < FramesPerReference; ++f)
            values[std::size_t(f)] = m_samples[std::size_t(f) * Zk128::PixelCount + std::size_t(i)];
        reference[std::size_t(i)] = trimmedMean(values);
    }
    return true;
}

void ReferenceCalibrator::reset()
{
    m_framesGathered = 0;
}

double ReferenceCalibrator::trimmedMean(std::array<double, 10> values)
{
    std::sort(values.begin(), values.end());
    double sum = 0.0;
    for (std::size_t k = 1; k + 1 < values.size(); ++k)
        sum += values[k];
    return sum * 0.125;
}
