#include "device/AcknowledgementWait.h"

#include <algorithm>
#include <cstring>
#include <thread>
#include <vector>

AcknowledgementWait::Rule AcknowledgementWait::handshakeRule()
{
    return {10, std::chrono::milliseconds(100), 10};
}

AcknowledgementWait::Rule AcknowledgementWait::parameterRule()
{
    return {256, std::chrono::milliseconds(50), 10};
}

AcknowledgementWait::AcknowledgementWait(D2xxBackend &backend, FT_HANDLE handle, Sleeper sleeper)
    : m_backend(backend), m_handle(handle), m_sleep(std::move(sleeper))
{
    if (!m_sleep)
        m_sleep = [](std::chrono::milliseconds duration) { std::this_thread::sleep_for(duration); };
}

AcknowledgementWait::Result AcknowledgementWait::handshake()
{
    return exchange(DeviceProtocol::handshake(), DeviceProtocol::Code::Handshake, handshakeRule());
}

AcknowledgementWait::Result AcknowledgementWait::sendParameterCommand(const DeviceProtocol::Frame &frame)
{
    return exchange(frame, DeviceProtocol::Code::Parameters, parameterRule());
}

AcknowledgementWait::Result AcknowledgementWait::exchange(const DeviceProtocol::Frame &command,
                                                          DeviceProtocol::Code expected,
                                                          const Rule &rule)
{
    const DeviceProtocol::Acknowledgement wanted = DeviceProtocol::acknowledgement(expected);
    Result result;

    DWORD written = 0;
    result.lastStatus = m_backend.write(m_handle, command.data(), static_cast<DWORD>(command.size()),
                                        &written);

    std::vector<std::uint8_t> buffer(std::max<std::size_t>(rule.bufferSize, wanted.size()), 0);
    const int checks = std::max(rule.maxChecks, 1);
    for (int check = 1; check <= checks; ++check) {
        result.checks = check;
        DWORD queued = 0;
        DWORD txQueued = 0;
        DWORD events = 0;
        result.lastStatus = m_backend.getStatus(m_handle, &queued, &txQueued, &events);
        DWORD received = 0;
        if (result.lastStatus == FT_OK && queued > 0) {
            const DWORD length = static_cast<DWORD>(std::min<std::size_t>(queued, buffer.size()));
            result.lastStatus = m_backend.read(m_handle, buffer.data(), length, &received);
            received = std::min(received, length);
        }
        // Only what this read returned counts: bytes left in the buffer by an
        // earlier, longer read must not complete a short one into a false match.
        if (received > 0) {
            std::fill(buffer.begin() + received, buffer.end(), 0);
            std::copy_n(buffer.begin(), wanted.size(), result.reply.begin());
            if (received >= wanted.size() && result.reply == wanted) {
                result.acknowledged = true;
                return result;
            }
            if (received >= wanted.size() && std::equal(wanted.begin(), wanted.begin() + 3, result.reply.begin()))
                result.corrupt = true;
        }
        m_sleep(rule.interval);
    }
    return result;
}
