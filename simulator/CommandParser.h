#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

// Cuts the host's byte stream into command frames: AE AA code [payload]
// checksum 0A, the checksum being the low 8 bits of the sum of every byte
// before it. The parameter command (code 01) is 18 bytes long, every other
// command 5. Writes may split a command or carry several: bytes wait here
// until a frame is complete.
//
// A frame with a wrong checksum or terminator is counted as malformed and
// dropped by one byte, so that a valid command right behind it is still
// found. A frame that cannot complete because a complete, valid command
// already follows it (a truncated parameter command, say) is dropped too,
// so a short command never holds the next one hostage.
//
// Not thread-safe: ZK128Device guards its parser with its own mutex.
class CommandParser
{
public:
    static constexpr std::uint8_t Start = 0xAE;
    static constexpr std::uint8_t FromHost = 0xAA;
    static constexpr std::uint8_t FromDevice = 0xCC;
    static constexpr std::uint8_t End = 0x0A;

    struct Result {
        std::vector<std::vector<std::uint8_t>> commands; // complete, valid frames in order
        std::size_t malformed = 0;                       // frames or byte runs thrown away
    };

    Result feed(const std::uint8_t *data, std::size_t length);
    void clear();
    std::size_t pendingBytes() const;

    static std::size_t frameLength(std::uint8_t code);
    static std::uint8_t checksum(const std::uint8_t *bytes, std::size_t length);
    // Header, terminator and checksum of a frame of exactly length bytes.
    static bool isValidFrame(const std::uint8_t *frame, std::size_t length, std::uint8_t direction);

private:
    std::size_t findStart(std::size_t from) const;
    bool validFrameAt(std::size_t position) const;

    std::vector<std::uint8_t> m_pending;
};
