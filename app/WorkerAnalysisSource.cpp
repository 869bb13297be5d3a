#include "WorkerAnalysisSource.h"

#include "BiasVoltages.h"
#include "ConsoleState.h"
#include "ReceiverThread.h"
#include "SavedReferences.h"

WorkerAnalysisSource::WorkerAnalysisSource(ReceiverThread &worker, const ConsoleState &state, Voltages sentVoltages)
    : m_worker(worker)
    , m_state(state)
    , m_sentVoltages(std::move(sentVoltages))
{
}

bool WorkerAnalysisSource::newestFrame(std::uint64_t after, LiveFrame &frame)
{
    return m_worker.liveFrames().newestFrame(after, frame.currents, frame.sequence, frame.timeMs);
}

FrameHealth WorkerAnalysisSource::frameHealth() const
{
    return m_worker.frameHealth();
}

bool WorkerAnalysisSource::isCapturing() const
{
    return m_state.running;
}

double WorkerAnalysisSource::currentRangeNa() const
{
    return m_worker.currentRangeValue();
}

ReferenceSet WorkerAnalysisSource::references() const
{
    const RunReferences held = m_worker.references().snapshot();
    const BiasVoltages &voltages = m_sentVoltages();
    ReferenceSet set;
    set.fullOff = held.fullOff;
    set.fullOn = held.fullOn;
    set.fullOffTaken = held.fullOffTaken;
    set.fullOnTaken = held.fullOnTaken;
    set.currentRangeNa = m_worker.currentRangeValue();
    set.vbias1Volts = voltages.vbias1;
    set.vbias2Volts = voltages.vbias2;
    set.vonVolts = voltages.von;
    set.voffVolts = voltages.voff;
    return set;
}

void WorkerAnalysisSource::applyReferences(const ReferenceSet &references)
{
    m_worker.references().setReferences(SavedReferences::applied(m_worker.references().snapshot(), references));
}

void WorkerAnalysisSource::setDisplayLevels(const DisplayLevels &levels)
{
    m_worker.rendering().setDisplayLevels(levels);
}
