#include "simulator/CommandParser.h"

std::size_t CommandParser::frameLength(std::uint8_t code)
{
    return code == 0x01 ? 18 : 5;
}

std::uint8_t CommandParser::checksum(const std::uint8_t *bytes, std::size_t length)
{
    unsigned sum = 0;
    for (std::size_t i = 0; i < length; ++i)
        sum += bytes[i];
    return std::uint8_t(sum & 0xFF);
}

bool CommandParser::isValidFrame(const std::uint8_t *frame, std::size_t length, std::uint8_t direction)
{
    return length >= 5 && frame[0] == Start && frame[1] == direction && frame[length - 1] == End
        && frame[length - 2] == checksum(frame, length - 2);
}

void CommandParser::clear()
{
    m_pending.clear();
}

std::size_t CommandParser::pendingBytes() const
{
    return m_pending.size();
}

// The first position at or after from that may begin a frame: AE followed by
// AA, or a lone AE at the very end whose next byte has not arrived yet.
std::size_t CommandParser::findStart(std::size_t from) const
{
    for (std::size_t i = from; i < m_pending.size(); ++i) {
        if (m_pending[i] != Start)
            continue;
        if (i + 1 == m_pending.size() || m_pending[i + 1] == FromHost)
            return i;
    }
    return m_pending.size();
}

bool CommandParser::validFrameAt(std::size_t position) const
{
    if (position + 3 > m_pending.size())
        return false;
    const std::size_t length = frameLength(m_pending[position + 2]);
    return position + length <= m_pending.size()
        && isValidFrame(m_pending.data() + position, length, FromHost);
}

CommandParser::Result CommandParser::feed(const std::uint8_t *data, std::size_t length)
{
    Result result;
    if (data && length)
        m_pending.insert(m_pending.end(), data, data + length);

    std::size_t position = 0;
    for (;;) {
        const std::size_t start = findStart(position);
        if (start > position)
            ++result.malformed; // bytes that cannot begin a command
        position = start;
        if (position + 3 > m_pending.size())
            break; // header still incomplete
        const std::size_t frame = frameLength(m_pending[position + 2]);
        if (position + frame > m_pending.size()) {
            // Incomplete: wait for the rest, unless a complete command already follows.
            std::size_t later = findStart(position + 1);
            while (later < m_pending.size() && !validFrameAt(later))
                later = findStart(later + 1);
            if (later == m_pending.size())
                break;
            ++result.malformed;
            position = later;
            continue;
        }
        if (isValidFrame(m_pending.data() + position, frame, FromHost)) {
            result.commands.emplace_back(m_pending.begin() + std::ptrdiff_t(position),
                                         m_pending.begin() + std::ptrdiff_t(position + frame));
            position += frame;
        } else {
            ++result.malformed;
            position = findStart(position + 1); // the skipped bytes belong to this bad frame
        }
    }
    m_pending.erase(m_pending.begin(), m_pending.begin() + std::ptrdiff_t(position));
    return result;
}
