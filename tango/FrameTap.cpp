#include "tango/FrameTap.h"

#include "acquisition/FrameRendering.h"

FrameTap::FrameTap(const FrameRendering &rendering, Observer observer)
    : m_rendering(rendering)
    , m_observer(std::move(observer))
{
}

void FrameTap::consume(const FramePtr &frame)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    if (!m_observer)
        return;
    m_rendering.renderSaved(*frame, &m_gray);
    m_observer(frame->currents, m_gray);
}

void FrameTap::clear()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_observer = nullptr;
}
