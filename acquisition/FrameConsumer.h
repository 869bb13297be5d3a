#pragma once

#include "acquisition/Frame.h"

// Something the capture loop hands every frame to, once, in the order the
// frames arrived. consume runs on the capture thread: it takes at most a short
// lock of its own and returns within a few tens of microseconds, so that the
// loop keeps pace with the device (the save-run feeder is the one exception:
// it waits while the save-run writer's queue is full, which slows the capture
// rather than losing frames). Heavier work keeps the frame pointer and happens
// on the thread that asks for the result.
class FrameConsumer
{
public:
    virtual ~FrameConsumer() = default;
    virtual void consume(const FramePtr &frame) = 0;
};
