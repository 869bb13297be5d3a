#include "acquisition/LiveFrameCopy.h"

void LiveFrameCopy::consume(const FramePtr &frame)
{
    if (!m_publishing.load())
        return;
    std::lock_guard<std::mutex> lock(m_mutex);
    m_frame = frame;
    ++m_sequence;
}

bool LiveFrameCopy::newestFrame(std::uint64_t after, std::vector<double> &currents, std::uint64_t &sequence,
                                qint64 &timeMs) const
{
    FramePtr frame;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (m_sequence <= after || !m_frame)
            return false;
        frame = m_frame;
        sequence = m_sequence;
    }
    currents = frame->currents;
    timeMs = std::chrono::duration_cast<std::chrono::milliseconds>(frame->arrived.time_since_epoch()).count();
    return true;
}
