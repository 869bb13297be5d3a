#pragma once

#include "acquisition/DisplayLevels.h"
#include "acquisition/FrameHealth.h"
#include "analysis/ReferenceSet.h"

#include <QRect>
#include <QtGlobal>

#include <cstdint>
#include <optional>
#include <vector>

// The newest frame as the live analysis sees it.
struct LiveFrame
{
    std::vector<double> currents; // 16384 currents in nA, row-major (x + 128 y)
    std::uint64_t sequence = 0;   // grows with every frame the console received
    qint64 timeMs = 0;            // when it arrived, ms since the Unix epoch
};

// The time a played recording spans: its first and last frames' times, s
// since the Unix epoch.
struct RunSpan
{
    double first = 0.0;
    double last = 0.0;
};

// The mean of a region in every frame of a played recording.
struct RunMeans
{
    std::uint64_t version = 0;   // grows with every computation the source finished
    QRect region;                // the sensor cells measured; null for the whole matrix
    std::vector<double> seconds; // each frame's time, s after the run's first frame
    std::vector<double> means;   // each frame's region mean in nA; NaN when it holds no number
};

// What the live analysis window reads from the running console, at its own
// pace (it pulls; nothing is pushed to it), and the few things it sets.
// The console implements it over the acquisition worker.
//
// Thread contract: called on the GUI thread only; implementations take care
// of reaching the worker safely.
class LiveAnalysisSource
{
public:
    virtual ~LiveAnalysisSource() = default;

    // The newest frame when it is newer than `after` (a sequence number);
    // false, and `frame` untouched, otherwise.
    virtual bool newestFrame(std::uint64_t after, LiveFrame &frame) = 0;
    // Counts of the capture in progress (or the last one).
    virtual FrameHealth frameHealth() const = 0;
    virtual bool isCapturing() const = 0;
    // The range the device runs at now (nA).
    virtual double currentRangeNa() const = 0;

    virtual ReferenceSet references() const = 0;
    virtual void applyReferences(const ReferenceSet &references) = 0;

    // The live picture's levels (rendering only; saved data never depends on them).
    virtual void setDisplayLevels(const DisplayLevels &levels) = 0;

    // While a recording is played: the time it spans, the axis the region
    // mean is plotted on; nothing while the frames are live.
    virtual std::optional<RunSpan> runSpan() const { return std::nullopt; }
    // While a recording is played: the mean of `region` in every frame of it
    // when a result newer than version `after` is ready; false otherwise.
    // Asking starts the computation (in the background) when the region or
    // the run's length changed.
    virtual bool runMeans(const QRect &region, std::uint64_t after, RunMeans &means)
    {
        Q_UNUSED(region);
        Q_UNUSED(after);
        Q_UNUSED(means);
        return false;
    }
};
