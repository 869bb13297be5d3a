#pragma once

#include "device/D2xxBackend.h"
#include "device/DeviceProtocol.h"

#include <chrono>
#include <cstddef>
#include <functional>

// Sends a command that the device acknowledges (the handshake, the parameter
// command) and waits for the acknowledgement by polling, in the calling thread:
// the command is written once and never re-sent; then up to ten checks, each
// reading what the receive queue holds into the start of a zeroed reply
// buffer. The acknowledgement counts only when it is the first thing that one
// read returned; between failed checks the thread sleeps.
//
// A read never asks for more than the reply buffer holds. When the queue holds
// more, the rest stays queued and the next check reads it: nothing the device
// sent is thrown away, and an acknowledgement behind a long run of other bytes
// is still found if a read happens to begin with it.
//
// Thread contract: one wait runs in one thread; the backend is thread-safe.
// The caller makes sure no other thread reads the same handle meanwhile.
class AcknowledgementWait
{
public:
    using Sleeper = std::function<void(std::chrono::milliseconds)>;

    struct Rule {
        std::size_t bufferSize;
        std::chrono::milliseconds interval;
        int maxChecks;
    };
    // 10-byte buffer, checks 100 ms apart.
    static Rule handshakeRule();
    // 256-byte buffer, checks 50 ms apart.
    static Rule parameterRule();

    struct Result {
        bool acknowledged = false;
        // The status of the last D2XX call made (write, queue status or read);
        // failing calls do not end the wait, the next check simply follows.
        FT_STATUS lastStatus = FT_OK;
        // The first five bytes of the last read that returned anything (zero
        // where it returned fewer, all zero when nothing ever came): the
        // acknowledgement itself on success. Callers log them.
        DeviceProtocol::Acknowledgement reply{};
        int checks = 0; // checks made, 1..maxChecks
        // A read began with the expected AE CC code but the checksum or the
        // terminator was wrong: the device answered, but garbled.
        bool corrupt = false;
    };

    // sleeper defaults to a real sleep of the calling thread.
    AcknowledgementWait(D2xxBackend &backend, FT_HANDLE handle, Sleeper sleeper = {});

    Result exchange(const DeviceProtocol::Frame &command, DeviceProtocol::Code expected,
                    const Rule &rule);
    Result handshake();
    // frame is the 18-byte parameter command (the caller logs it before sending).
    Result sendParameterCommand(const DeviceProtocol::Frame &frame);

private:
    D2xxBackend &m_backend;
    FT_HANDLE m_handle;
    Sleeper m_sleep;
};
