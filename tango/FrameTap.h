#pragma once

#include "acquisition/FrameConsumer.h"

#include <cstdint>
#include <functional>
#include <mutex>
#include <vector>

class FrameRendering;

// Hands every frame's currents (nA) and the gray levels a save run would
// record to the Tango device, on the capture thread. The observer must be
// quick: it holds the loop (the device only copies the frame into a slot).
//
// Thread contract: consume runs on the capture thread; clear may be called
// from any thread and returns once no call of the observer is running.
// m_mutex guards m_observer; m_gray is the capture thread's own scratch.
class FrameTap : public FrameConsumer
{
public:
    using Observer = std::function<void(const CurrentFrame &currents, const std::vector<std::uint8_t> &gray)>;

    FrameTap(const FrameRendering &rendering, Observer observer);

    void consume(const FramePtr &frame) override;
    // No further calls of the observer.
    void clear();

private:
    const FrameRendering &m_rendering;
    std::mutex m_mutex;
    Observer m_observer;
    std::vector<std::uint8_t> m_gray;
};
