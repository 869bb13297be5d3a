#include "acquisition/ReferenceCalibration.h"

namespace {

ReferenceCalibration::Vector filled(double value)
{
    return std::make_shared<const std::vector<double>>(std::size_t(Zk128::PixelCount), value);
}

} // namespace

ReferenceCalibration::ReferenceCalibration(int currentRange)
    : m_fullOff(filled(0.0))
    , m_fullOn(filled(double(currentRange)))
    , m_scratch(std::size_t(Zk128::PixelCount), 0.0)
{
}

void ReferenceCalibration::consume(const FramePtr &frame)
{
    if (m_fullOnPending.load())
        gather(m_fullOnCalibrator, *frame, true);
    else if (m_fullOffPending.load())
        gather(m_fullOffCalibrator, *frame, false);
}

void ReferenceCalibration::gather(ReferenceCalibrator &calibrator, const Frame &frame, bool fullOn)
{
    if (!calibrator.addFrame(frame.raw, frame.range, m_scratch))
        return;
    auto reference = std::make_shared<const std::vector<double>>(m_scratch);
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        (fullOn ? m_fullOn : m_fullOff) = std::move(reference);
        (fullOn ? m_fullOnTaken : m_fullOffTaken) = std::chrono::system_clock::now();
    }
    (fullOn ? m_fullOnPending : m_fullOffPending).store(false);
    const std::function<void()> &done = fullOn ? m_fullOnDone : m_fullOffDone;
    if (done)
        done();
}

void ReferenceCalibration::setCurrentRange(int range)
{
    Vector fullOn = filled(double(range));
    std::lock_guard<std::mutex> lock(m_mutex);
    m_fullOn = std::move(fullOn);
    m_fullOnTaken.reset();
}

void ReferenceCalibration::setReferences(const RunReferences &references)
{
    const auto count = std::size_t(Zk128::PixelCount);
    if (references.fullOff.size() != count || references.fullOn.size() != count)
        return;
    auto fullOff = std::make_shared<const std::vector<double>>(references.fullOff);
    auto fullOn = std::make_shared<const std::vector<double>>(references.fullOn);
    std::lock_guard<std::mutex> lock(m_mutex);
    m_fullOff = std::move(fullOff);
    m_fullOn = std::move(fullOn);
    m_fullOffTaken = references.fullOffTaken;
    m_fullOnTaken = references.fullOnTaken;
}

RunReferences ReferenceCalibration::snapshot() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return RunReferences{*m_fullOff, *m_fullOn, m_fullOffTaken, m_fullOnTaken};
}

ReferenceCalibration::Pair ReferenceCalibration::pair() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return Pair{m_fullOff, m_fullOn};
}
