#pragma once

#include "acquisition/Frame.h"
#include "playback/PlaybackFrame.h"
#include "playback/Recording.h"

#include <QString>

#include <memory>
#include <vector>

// A recording held in memory, whose every value a test can tell in advance:
// pixel i of frame k reads the device value (k + 1) * 1000 + i on a 100 nA
// range; frame k was recorded at kStart + k / 10 s.
class MemoryRecording : public Recording
{
public:
    static constexpr int kRange = 100;
    static constexpr double kStart = 1.8e9;

    explicit MemoryRecording(int frames)
        : m_frames(frames)
    {
    }

    static double currentOf(int k, int pixel) { return double((k + 1) * 1000 + pixel) * kRange * 0.000001; }

    QString path() const override { return QStringLiteral("/memory/run_current.csv"); }
    RunMetadata metadata() const override
    {
        RunMetadata metadata;
        metadata.currentRangeNa = kRange;
        return metadata;
    }
    RunReferences references() const override { return RunReferences(); }
    int frameCount() const override { return m_frames; }
    FramePtr frame(int k) override
    {
        std::vector<double> currents(std::size_t(Zk128::PixelCount));
        for (int i = 0; i < Zk128::PixelCount; ++i)
            currents[std::size_t(i)] = currentOf(k, i);
        return PlaybackFrame::make(std::move(currents), kRange, k, frameTime(k));
    }
    double frameTime(int k) const override { return kStart + k / 10.0; }
    std::vector<double> pixelSeries(int x, int y) override
    {
        std::vector<double> series;
        for (int k = 0; k < m_frames; ++k)
            series.push_back(currentOf(k, x + 128 * y));
        return series;
    }
    QString notice() const override { return QString(); }
    QString lastError() const override { return QString(); }

private:
    int m_frames;
};
