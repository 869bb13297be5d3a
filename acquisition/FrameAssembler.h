#pragma once

#include "acquisition/FrameTypes.h"

#include <cstddef>
#include <vector>

// Cuts device frames out of the bytes the reads deliver. The device answers a
// frame request with AE CC 05, 49152 pixel bytes and two further bytes; bytes in
// front of the marker (a late answer to an earlier command) are skipped. A frame
// is only ever taken from bytes that really arrived, and the accumulation is
// bounded whatever the stream: when it can no longer yield a frame it is
// emptied and reported as Discarded, so the caller can request a new frame.
//
// Thread contract: owned and used by one thread (the acquisition loop).
class FrameAssembler
{
public:
    enum class Outcome { NeedMore, FrameTaken, Discarded };

    static constexpr std::size_t MarkerLength = 3;
    // The most bytes kept while waiting for a frame; an accumulation that would
    // need more can never hold a frame the device sent for one request.
    static constexpr std::size_t Limit = 2 * std::size_t(Zk128::FrameLength);
    // Room reserved once: the limit plus one read.
    static constexpr std::size_t Capacity = Limit + std::size_t(Zk128::FrameLength);

    FrameAssembler(); // reserves capacity once; steady state never allocates

    // Appends the bytes of one read; at most Zk128::FrameLength of them are taken.
    void append(const unsigned char *data, std::size_t count);

    // NeedMore while fewer than FrameLength bytes have arrived, or while the
    // first marker's pixel bytes are still on their way. FrameTaken: the 49152
    // bytes after the first marker are in the first 49152 bytes of `raw` (which
    // is resized to FrameLength if needed; its last 5 bytes are zeroed) and the
    // accumulator is empty. Discarded: the accumulation could not yield a frame
    // within the limit and has been emptied.
    Outcome takeFrame(RawFrame &raw);

    void clear(); // drop everything accumulated

    std::size_t receivedBytes() const { return m_bytes.size(); }

private:
    // Position of the first marker, or npos; resumes where the previous search
    // stopped, since bytes are only ever appended.
    std::size_t findMarker();

    static constexpr std::size_t npos = std::size_t(-1);

    std::vector<unsigned char> m_bytes; // bytes received since the last frame, clear or discard
    std::size_t m_searchedUpTo = 0;     // no marker starts before this position
    std::size_t m_markerAt = npos;      // first marker found so far
    bool m_overflowed = false;          // appends without takeFrame went past Capacity
};
