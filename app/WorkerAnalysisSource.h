#pragma once

#include "LiveAnalysisSource.h"

#include <functional>

class ReceiverThread;
struct BiasVoltages;
struct ConsoleState;

// The live analysis window's view of the running console: the worker's
// newest frame, frame health, references and display levels, and the
// voltages the device acknowledged last.
//
// Thread contract: GUI thread only; the worker's own locks guard what it shares.
class WorkerAnalysisSource : public LiveAnalysisSource
{
public:
    using Voltages = std::function<const BiasVoltages &()>;

    WorkerAnalysisSource(ReceiverThread &worker, const ConsoleState &state, Voltages sentVoltages);

    bool newestFrame(std::uint64_t after, LiveFrame &frame) override;
    FrameHealth frameHealth() const override;
    bool isCapturing() const override;
    double currentRangeNa() const override;
    ReferenceSet references() const override;
    // A reference without a time (never measured) leaves the console's own.
    void applyReferences(const ReferenceSet &references) override;
    void setDisplayLevels(const DisplayLevels &levels) override;

private:
    ReceiverThread &m_worker;
    const ConsoleState &m_state;
    Voltages m_sentVoltages;
};
