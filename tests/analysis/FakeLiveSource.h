#pragma once

#include "analysis/LiveAnalysisSource.h"

#include <QList>

// A console as the live analysis window sees it, driven by the test: frames
// are offered with offer(), and what the window sets is recorded.
class FakeLiveSource : public LiveAnalysisSource
{
public:
    // Offers a frame newer than any before.
    void offer(std::vector<double> currents, qint64 timeMs = 1765000000000)
    {
        m_frame.currents = std::move(currents);
        m_frame.timeMs = timeMs;
        ++m_frame.sequence;
    }

    bool newestFrame(std::uint64_t after, LiveFrame &frame) override
    {
        if (m_frame.sequence <= after)
            return false;
        frame = m_frame;
        return true;
    }
    FrameHealth frameHealth() const override { return health; }
    bool isCapturing() const override { return capturing; }
    double currentRangeNa() const override { return rangeNa; }
    ReferenceSet references() const override { return held; }
    void applyReferences(const ReferenceSet &references) override { applied.append(references); }
    void setDisplayLevels(const DisplayLevels &levels) override { levelsSet.append(levels); }

    FrameHealth health;
    bool capturing = true;
    double rangeNa = 800.0;
    ReferenceSet held;
    QList<ReferenceSet> applied;
    QList<DisplayLevels> levelsSet;

private:
    LiveFrame m_frame;
};
