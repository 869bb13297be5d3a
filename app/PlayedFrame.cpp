#include "app/PlayedFrame.h"

#include <memory>

FramePtr PlayedFrame::renumbered(const Frame &recorded, std::uint64_t index)
{
    auto frame = std::make_shared<Frame>(recorded);
    frame->index = index;
    frame->arrivedSteady = std::chrono::steady_clock::now();
    return frame;
}
