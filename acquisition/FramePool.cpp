#include "acquisition/FramePool.h"

FramePool::FramePool(std::size_t keep)
    : m_shelf(std::make_shared<Shelf>())
{
    m_shelf->keep = keep;
}

std::shared_ptr<Frame> FramePool::acquire()
{
    std::unique_ptr<Frame> frame;
    {
        std::lock_guard<std::mutex> lock(m_shelf->mutex);
        if (!m_shelf->frames.empty()) {
            frame = std::move(m_shelf->frames.back());
            m_shelf->frames.pop_back();
        }
    }
    if (!frame) {
        frame = std::make_unique<Frame>();
        frame->raw.assign(std::size_t(Zk128::FrameLength), 0);
        frame->currents.assign(std::size_t(Zk128::PixelCount), 0.0);
    }
    return std::shared_ptr<Frame>(frame.release(), [shelf = m_shelf](Frame *returned) {
        std::unique_ptr<Frame> owned(returned);
        std::lock_guard<std::mutex> lock(shelf->mutex);
        if (shelf->frames.size() < shelf->keep)
            shelf->frames.push_back(std::move(owned));
    });
}

std::size_t FramePool::idle() const
{
    std::lock_guard<std::mutex> lock(m_shelf->mutex);
    return m_shelf->frames.size();
}
