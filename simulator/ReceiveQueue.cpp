#include "simulator/ReceiveQueue.h"

#include <algorithm>
#include <cmath>
#include <cstring>

void ReceiveQueue::setBytesPerSecond(double rate)
{
    m_rate = rate;
}

double ReceiveQueue::bytesPerSecond() const
{
    return m_rate;
}

void ReceiveQueue::setChunkBytes(std::size_t bytes)
{
    m_chunk = std::max<std::size_t>(1, bytes);
}

std::size_t ReceiveQueue::chunkBytes() const
{
    return m_chunk;
}

ReceiveQueue::Clock::duration ReceiveQueue::transferTime(std::size_t bytes) const
{
    if (m_rate <= 0.0)
        return Clock::duration::zero();
    // Rounded up, so that at the returned moment the bytes have certainly passed.
    const double ns = std::ceil(double(bytes) / m_rate * 1e9);
    return std::chrono::duration_cast<Clock::duration>(std::chrono::nanoseconds(std::int64_t(ns)));
}

void ReceiveQueue::push(std::vector<std::uint8_t> bytes, Clock::time_point readyAt)
{
    if (bytes.empty())
        return;
    Segment segment;
    segment.start = readyAt;
    if (!m_segments.empty()) {
        const Segment &last = m_segments.back();
        segment.start = std::max(readyAt, last.start + transferTime(last.bytes.size()));
    }
    segment.bytes = std::move(bytes);
    m_segments.push_back(std::move(segment));
}

std::size_t ReceiveQueue::visibleBytes(const Segment &segment, Clock::time_point now) const
{
    if (now < segment.start)
        return 0;
    const std::size_t size = segment.bytes.size();
    if (now >= segment.start + transferTime(size))
        return size;
    const double elapsedNs = double(std::chrono::duration_cast<std::chrono::nanoseconds>(now - segment.start).count());
    // The small addition absorbs rounding at exact chunk boundaries.
    const auto passed = std::size_t(elapsedNs * 1e-9 * m_rate + 1e-6);
    return std::min(size, passed / m_chunk * m_chunk);
}

std::size_t ReceiveQueue::available(Clock::time_point now) const
{
    std::size_t total = 0;
    for (const Segment &segment : m_segments) {
        const std::size_t visible = visibleBytes(segment, now);
        total += visible - segment.taken;
        if (visible < segment.bytes.size())
            break; // later segments start after this one ends
    }
    return total;
}

std::size_t ReceiveQueue::take(std::uint8_t *destination, std::size_t max, Clock::time_point now)
{
    std::size_t copied = 0;
    while (copied < max && !m_segments.empty()) {
        Segment &segment = m_segments.front();
        const std::size_t visible = visibleBytes(segment, now);
        const std::size_t n = std::min(max - copied, visible - segment.taken);
        if (n > 0)
            std::memcpy(destination + copied, segment.bytes.data() + segment.taken, n);
        segment.taken += n;
        copied += n;
        if (segment.taken < segment.bytes.size())
            break; // the rest of this segment is still on its way, or the caller is full
        m_segments.pop_front();
    }
    return copied;
}

std::optional<ReceiveQueue::Clock::time_point> ReceiveQueue::nextArrival(Clock::time_point now) const
{
    for (const Segment &segment : m_segments) {
        const std::size_t size = segment.bytes.size();
        const std::size_t visible = visibleBytes(segment, now);
        if (visible == size)
            continue;
        const std::size_t next = std::min(size, (visible / m_chunk + 1) * m_chunk);
        const std::size_t reached = next == size ? size : next;
        return segment.start + transferTime(reached);
    }
    return std::nullopt;
}

std::size_t ReceiveQueue::pendingBytes() const
{
    std::size_t total = 0;
    for (const Segment &segment : m_segments)
        total += segment.bytes.size() - segment.taken;
    return total;
}

void ReceiveQueue::clear()
{
    m_segments.clear();
}
