#pragma once

#include "acquisition/FrameConsumer.h"

#include <QtGlobal>

#include <atomic>
#include <cstdint>
#include <mutex>
#include <vector>

// The newest frame for the live analysis. While publishing is on, each frame
// replaces the one held (a pointer, no copy); the reader copies the currents
// out when it asks, at most 30 times a second.
//
// Thread contract: consume runs on the capture thread; newestFrame on any
// other. m_mutex guards the frame held and its sequence number.
class LiveFrameCopy : public FrameConsumer
{
public:
    void setPublishing(bool on) { m_publishing.store(on); }
    void consume(const FramePtr &frame) override;

    // The newest frame when it is newer than `after` (a sequence number).
    bool newestFrame(std::uint64_t after, std::vector<double> &currents, std::uint64_t &sequence,
                     qint64 &timeMs) const;

private:
    std::atomic<bool> m_publishing{false};
    mutable std::mutex m_mutex;
    FramePtr m_frame;
    std::uint64_t m_sequence = 0;
};
