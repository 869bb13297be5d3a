#pragma once

#include "analysis/LiveAnalysisSource.h"

#include <functional>

class AcquisitionSettings;
class FrameHealthSource;
class FrameRendering;
class LiveFrameCopy;
class ReferenceCalibration;
struct BiasVoltages;
struct ConsoleState;

// The parts of the capture loop the live analysis reads and sets.
struct AnalysisFeeds {
    LiveFrameCopy &liveFrames;
    const FrameHealthSource &health;
    const AcquisitionSettings &settings; // the current range
    ReferenceCalibration &references;
    FrameRendering &rendering;           // display levels
};

// The live analysis window's view of the running console: the worker's
// newest frame, frame health, references and display levels, and the
// voltages the device acknowledged last.
//
// Thread contract: GUI thread only; each consumer's own lock guards what it shares.
class WorkerAnalysisSource : public LiveAnalysisSource
{
public:
    using Voltages = std::function<const BiasVoltages &()>;

    WorkerAnalysisSource(const AnalysisFeeds &feeds, const ConsoleState &state, Voltages sentVoltages);

    bool newestFrame(std::uint64_t after, LiveFrame &frame) override;
    FrameHealth frameHealth() const override;
    bool isCapturing() const override;
    double currentRangeNa() const override;
    ReferenceSet references() const override;
    // A reference without a time (never measured) leaves the console's own.
    void applyReferences(const ReferenceSet &references) override;
    void setDisplayLevels(const DisplayLevels &levels) override;
    std::optional<RunSpan> runSpan() const override { return m_runSpan ? m_runSpan() : std::nullopt; }
    // Where the span of a played recording comes from.
    void setRunSpan(std::function<std::optional<RunSpan>()> span) { m_runSpan = std::move(span); }
    using RunMeansFeed = std::function<bool(const QRect &, std::uint64_t, RunMeans &)>;
    bool runMeans(const QRect &region, std::uint64_t after, RunMeans &means) override
    {
        return m_runMeans && m_runMeans(region, after, means);
    }
    // Where the region means over a played recording come from.
    void setRunMeans(RunMeansFeed means) { m_runMeans = std::move(means); }

private:
    AnalysisFeeds m_feeds;
    const ConsoleState &m_state;
    Voltages m_sentVoltages;
    std::function<std::optional<RunSpan>()> m_runSpan;
    RunMeansFeed m_runMeans;
};
