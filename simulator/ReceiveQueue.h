#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <optional>
#include <vector>

// The bytes the device has sent towards the host, with the time each becomes
// visible to the host. Every answer is a segment whose transfer starts when
// the device has it ready (or when the previous segment has finished, the link
// carries one thing at a time) and then proceeds at the USB rate; the bridge
// hands bytes over in whole chunks, so a long answer becomes visible in steps
// and a partial last chunk only when the transfer is complete.
//
// Not thread-safe: ZK128Device guards its queue with its own mutex.
class ReceiveQueue
{
public:
    using Clock = std::chrono::steady_clock;

    // rate <= 0 means an infinitely fast link: a segment is visible whole at its start.
    void setBytesPerSecond(double rate);
    double bytesPerSecond() const;
    void setChunkBytes(std::size_t bytes); // at least 1
    std::size_t chunkBytes() const;

    void push(std::vector<std::uint8_t> bytes, Clock::time_point readyAt);
    // Bytes the host could read at time now.
    std::size_t available(Clock::time_point now) const;
    // Moves up to max visible bytes into destination; returns how many.
    std::size_t take(std::uint8_t *destination, std::size_t max, Clock::time_point now);
    // The next moment after now at which more bytes become visible; empty when nothing more is coming.
    std::optional<Clock::time_point> nextArrival(Clock::time_point now) const;
    // Everything not yet read, visible or still in transfer.
    std::size_t pendingBytes() const;
    void clear();

private:
    struct Segment {
        std::vector<std::uint8_t> bytes;
        std::size_t taken = 0;          // bytes the host has already read
        Clock::time_point start;        // transfer of the first byte begins
    };
    std::size_t visibleBytes(const Segment &segment, Clock::time_point now) const;
    Clock::duration transferTime(std::size_t bytes) const;

    std::deque<Segment> m_segments;
    double m_rate = 40e6;
    std::size_t m_chunk = 16384;
};
