#include "app/WorkerAnalysisSource.h"

#include "acquisition/AcquisitionSettings.h"
#include "acquisition/FrameHealthSource.h"
#include "acquisition/FrameRendering.h"
#include "acquisition/LiveFrameCopy.h"
#include "acquisition/ReferenceCalibration.h"
#include "analysis/SavedReferences.h"
#include "app/ConsoleState.h"
#include "operation/BiasVoltages.h"

WorkerAnalysisSource::WorkerAnalysisSource(const AnalysisFeeds &feeds, const ConsoleState &state, Voltages sentVoltages)
    : m_feeds(feeds)
    , m_state(state)
    , m_sentVoltages(std::move(sentVoltages))
{
}

bool WorkerAnalysisSource::newestFrame(std::uint64_t after, LiveFrame &frame)
{
    return m_feeds.liveFrames.newestFrame(after, frame.currents, frame.sequence, frame.timeMs);
}

FrameHealth WorkerAnalysisSource::frameHealth() const
{
    return m_feeds.health.frameHealth();
}

bool WorkerAnalysisSource::isCapturing() const
{
    return m_state.running;
}

double WorkerAnalysisSource::currentRangeNa() const
{
    return m_feeds.settings.currentRangeValue();
}

ReferenceSet WorkerAnalysisSource::references() const
{
    const RunReferences held = m_feeds.references.snapshot();
    const BiasVoltages &voltages = m_sentVoltages();
    ReferenceSet set;
    set.fullOff = held.fullOff;
    set.fullOn = held.fullOn;
    set.fullOffTaken = held.fullOffTaken;
    set.fullOnTaken = held.fullOnTaken;
    set.currentRangeNa = m_feeds.settings.currentRangeValue();
    set.vbias1Volts = voltages.vbias1;
    set.vbias2Volts = voltages.vbias2;
    set.vonVolts = voltages.von;
    set.voffVolts = voltages.voff;
    return set;
}

void WorkerAnalysisSource::applyReferences(const ReferenceSet &references)
{
    m_feeds.references.setReferences(SavedReferences::applied(m_feeds.references.snapshot(), references));
}

void WorkerAnalysisSource::setDisplayLevels(const DisplayLevels &levels)
{
    m_feeds.rendering.setDisplayLevels(levels);
}
