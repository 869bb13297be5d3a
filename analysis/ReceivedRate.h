#pragma once

#include <QtGlobal>

#include <cstdint>
#include <deque>
#include <utility>

// The rate at which the console receives frames, from readings of its
// received count: the frames counted over the last two seconds of readings,
// divided by the time they span. A count that goes down (a new capture)
// starts over.
//
// Thread contract: one thread (the GUI thread) only.
class ReceivedRate
{
public:
    static constexpr qint64 kWindowMs = 2000;

    // The received count as read at `ms` (any steady clock in milliseconds).
    void add(qint64 ms, std::uint64_t received);
    // Frames per second; 0 until two readings span some time.
    double framesPerSecond() const;

private:
    std::deque<std::pair<qint64, std::uint64_t>> m_readings; // oldest first, within kWindowMs of the newest
};
