#include "acquisition/FrameAssembler.h"

#include <algorithm>
#include <cstring>

namespace {
constexpr unsigned char Marker[FrameAssembler::MarkerLength] = {0xAE, 0xCC, 0x05};
constexpr std::size_t FrameLength = std::size_t(Zk128::FrameLength);
constexpr std::size_t PixelBytes = std::size_t(Zk128::PixelBytes);
} // namespace

FrameAssembler::FrameAssembler()
{
    m_bytes.reserve(Capacity);
}

void FrameAssembler::append(const unsigned char *data, std::size_t count)
{
    count = std::min(count, FrameLength);
    if (count == 0 || data == nullptr)
        return;
    if (m_overflowed)
        return; // the accumulation is already lost; takeFrame reports it
    if (m_bytes.size() + count > Capacity) {
        // Only reachable when reads are appended without takeFrame in between.
        // Nothing of this accumulation can be trusted to be one frame any more.
        clear();
        m_overflowed = true;
        return;
    }
    m_bytes.insert(m_bytes.end(), data, data + count);
}

std::size_t FrameAssembler::findMarker()
{
    if (m_markerAt != npos)
        return m_markerAt;
    const std::size_t size = m_bytes.size();
    const unsigned char *bytes = m_bytes.data();
    std::size_t pos = m_searchedUpTo;
    while (pos + MarkerLength <= size) {
        const void *hit = std::memchr(bytes + pos, Marker[0], size - MarkerLength + 1 - pos);
        if (!hit)
            break;
        pos = std::size_t(static_cast<const unsigned char *>(hit) - bytes);
        if (bytes[pos + 1] == Marker[1] && bytes[pos + 2] == Marker[2]) {
            m_markerAt = pos;
            return pos;
        }
        ++pos;
    }
    // Every start up to size - MarkerLength has been checked; a marker may
    // still begin in the last two bytes.
    m_searchedUpTo = size >= MarkerLength - 1 ? size - (MarkerLength - 1) : 0;
    return npos;
}

FrameAssembler::Outcome FrameAssembler::takeFrame(RawFrame &raw)
{
    if (m_overflowed) {
        clear();
        return Outcome::Discarded;
    }
    const std::size_t size = m_bytes.size();
    if (size < FrameLength)
        return Outcome::NeedMore;

    const std::size_t marker = findMarker();
    if (marker != npos && size >= marker + MarkerLength + PixelBytes) {
        if (raw.size() != FrameLength)
            raw.assign(FrameLength, 0);
        std::memcpy(raw.data(), m_bytes.data() + marker + MarkerLength, PixelBytes);
        std::memset(raw.data() + PixelBytes, 0, FrameLength - PixelBytes);
        clear(); // bytes after the frame belong to no request of ours
        return Outcome::FrameTaken;
    }

    // The earliest place a marker can still start; when even a frame starting
    // there would not fit within the limit, no frame can come of these bytes.
    const std::size_t earliest = marker != npos ? marker : m_searchedUpTo;
    if (earliest + MarkerLength + PixelBytes > Limit) {
        clear();
        return Outcome::Discarded;
    }
    return Outcome::NeedMore;
}

void FrameAssembler::clear()
{
    m_bytes.clear(); // keeps the capacity
    m_searchedUpTo = 0;
    m_markerAt = npos;
    m_overflowed = false;
}
