#pragma once

#include "acquisition/FrameConsumer.h"

class SharedFrameView;

// Publishes every frame's currents in the shared-memory block, on the
// capture thread (one pwrite of 128 KiB, well inside a frame's time).
//
// Thread contract: consume only; the block serialises nothing itself and
// needs none (one publishing thread).
class SharedFramePublisher : public FrameConsumer
{
public:
    explicit SharedFramePublisher(SharedFrameView &view)
        : m_view(view)
    {
    }

    void consume(const FramePtr &frame) override;

private:
    SharedFrameView &m_view;
};
