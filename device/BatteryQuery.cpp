#include "device/BatteryQuery.h"

#include "device/DeviceProtocol.h"

#include <algorithm>
#include <array>
#include <thread>

BatteryQuery::BatteryQuery(D2xxBackend &backend, FT_HANDLE handle, Sleeper sleeper)
    : m_backend(backend), m_handle(handle), m_sleep(std::move(sleeper))
{
    if (!m_sleep)
        m_sleep = [](std::chrono::milliseconds duration) { std::this_thread::sleep_for(duration); };
}

BatteryQuery::Result BatteryQuery::run()
{
    Result result;
    const DeviceProtocol::Frame query = DeviceProtocol::batteryQuery();
    DWORD written = 0;
    result.lastStatus = m_backend.write(m_handle, query.data(), static_cast<DWORD>(query.size()),
                                        &written);

    std::array<std::uint8_t, BufferSize> answer{};
    m_sleep(AnswerDelay);

    DWORD queued = 0;
    DWORD txQueued = 0;
    DWORD events = 0;
    result.lastStatus = m_backend.getStatus(m_handle, &queued, &txQueued, &events);
    if (result.lastStatus != FT_OK || queued == 0)
        return result;
    // Anything beyond the buffer stays queued; the next exchange drops it first.
    const DWORD length = static_cast<DWORD>(std::min<std::size_t>(queued, answer.size()));
    DWORD received = 0;
    result.lastStatus = m_backend.read(m_handle, answer.data(), length, &received);
    result.received = std::min(received, length);
    const std::optional<std::uint16_t> reading = DeviceProtocol::batteryReading(answer.data(), result.received);
    result.hasReading = reading.has_value();
    result.reading = reading.value_or(0);
    return result;
}
