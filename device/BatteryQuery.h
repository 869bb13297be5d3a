#pragma once

#include "device/D2xxBackend.h"

#include <chrono>
#include <cstdint>
#include <functional>

// Asks the device for its battery reading: the query is written, and 100 ms
// later whatever the receive queue holds (up to 10 bytes) is read. The reading
// comes from the battery answer (AE CC 04 hi lo ...) only: bytes 3 and 4 of
// it, those the device did not send counting as zero. No bytes at all, or
// bytes that are not a battery answer, give no reading.
//
// Thread contract: as AcknowledgementWait (calling thread only, no other
// reader on the handle meanwhile).
class BatteryQuery
{
public:
    using Sleeper = std::function<void(std::chrono::milliseconds)>;

    static constexpr std::size_t BufferSize = 10;
    static constexpr std::chrono::milliseconds AnswerDelay{100};

    struct Result {
        bool hasReading = false;   // false when no battery answer was read
        std::uint16_t reading = 0;
        DWORD received = 0;
        FT_STATUS lastStatus = FT_OK; // of the last call made (write, queue status, read)
    };

    BatteryQuery(D2xxBackend &backend, FT_HANDLE handle, Sleeper sleeper = {});
    Result run();

private:
    D2xxBackend &m_backend;
    FT_HANDLE m_handle;
    Sleeper m_sleep;
};
