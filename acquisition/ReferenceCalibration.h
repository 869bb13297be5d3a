#pragma once

#include "acquisition/FrameConsumer.h"
#include "acquisition/ReferenceCalibrator.h"
#include "acquisition/SaveRunPlan.h"

#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <vector>

// The calibration references: the full-off and full-on currents of every
// pixel, with the times they were measured (or loaded with). A request makes
// the next ten frames one reference; full-on goes first, a full-off request
// waits until it is done. Until measured, full-off is 0 and full-on the
// current range.
//
// Thread contract: consume runs on the capture thread (the calibrators are
// its own). The references and their times are guarded by m_mutex and held
// as shared read-only vectors, so a renderer takes both in one short lock and
// reads them without it. The pending flags are atomics (any thread requests,
// the capture thread clears). The callbacks run on the capture thread.
class ReferenceCalibration : public FrameConsumer
{
public:
    using Vector = std::shared_ptr<const std::vector<double>>;
    struct Pair
    {
        Vector fullOff;
        Vector fullOn;
    };

    explicit ReferenceCalibration(int currentRange);

    void consume(const FramePtr &frame) override;

    void requestFullOn() { m_fullOnPending.store(true); }
    void requestFullOff() { m_fullOffPending.store(true); }
    bool fullOnPending() const { return m_fullOnPending.load(); }
    bool fullOffPending() const { return m_fullOffPending.load(); }
    // Called on the capture thread when a requested reference is complete.
    void onFullOnTaken(std::function<void()> done) { m_fullOnDone = std::move(done); }
    void onFullOffTaken(std::function<void()> done) { m_fullOffDone = std::move(done); }

    // A new range: the full-on reference becomes that range everywhere (no
    // longer a measured one).
    void setCurrentRange(int range);
    // Replaces both (16384 values each), as loaded from a file; other sizes are ignored.
    void setReferences(const RunReferences &references);
    RunReferences snapshot() const;
    Pair pair() const;

private:
    void gather(ReferenceCalibrator &calibrator, const Frame &frame, bool fullOn);

    mutable std::mutex m_mutex;
    Vector m_fullOff;
    Vector m_fullOn;
    std::optional<std::chrono::system_clock::time_point> m_fullOffTaken;
    std::optional<std::chrono::system_clock::time_point> m_fullOnTaken;

    std::atomic<bool> m_fullOnPending{false};
    std::atomic<bool> m_fullOffPending{false};
    std::function<void()> m_fullOnDone;  // set before the capture starts
    std::function<void()> m_fullOffDone;

    // Capture thread only: one gatherer per kind, so the two never share frames.
    ReferenceCalibrator m_fullOnCalibrator;
    ReferenceCalibrator m_fullOffCalibrator;
    std::vector<double> m_scratch;
};
