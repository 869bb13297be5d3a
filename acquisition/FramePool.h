#pragma once

#include "acquisition/Frame.h"

#include <cstddef>
#include <memory>
#include <mutex>
#include <vector>

// Recycles frame buffers: a frame handed out by acquire returns to the pool
// when its last pointer goes, so a steady capture allocates no frame memory.
// At most `keep` idle frames are held; frames that outlive the pool are freed.
//
// Thread contract: acquire and the returning of frames may happen on any
// thread; the shelf's mutex guards the idle frames.
class FramePool
{
public:
    explicit FramePool(std::size_t keep = 16);

    // A frame with buffers of a full frame's size (contents unspecified).
    std::shared_ptr<Frame> acquire();
    // Idle frames on the shelf now.
    std::size_t idle() const;

private:
    struct Shelf
    {
        mutable std::mutex mutex;
        std::vector<std::unique_ptr<Frame>> frames;
        std::size_t keep = 0;
    };
    std::shared_ptr<Shelf> m_shelf; // shared with every frame out, so it outlives them
};
