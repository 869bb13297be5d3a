#pragma once

// Small helpers shared by the simulator tests: command frames as the host
// builds them, and bounded reads through the D2XX calls.

#include "simulator/SimulatorBackend.h"

#include <QByteArray>
#include <QDeadlineTimer>

#include <cstdint>
#include <vector>

namespace simtest {

inline QByteArray bytes(std::initializer_list<int> values)
{
    QByteArray out;
    for (int v : values)
        out.append(char(v));
    return out;
}

inline QByteArray withChecksum(QByteArray frame)
{
    unsigned sum = 0;
    for (char c : frame)
        sum += std::uint8_t(c);
    frame.append(char(sum & 0xFF));
    frame.append(char(0x0A));
    return frame;
}

inline QByteArray command(int code)
{
    return withChecksum(bytes({0xAE, 0xAA, code}));
}

// The 18-byte parameter command with all four voltages at 0 V (fields 80 00).
inline QByteArray parameterCommand(int candidate, int rangeByte, std::uint32_t count)
{
    QByteArray frame = bytes({0xAE, 0xAA, 0x01, 0x80, 0, 0x80, 0, 0x80, 0, 0x80, 0, candidate, rangeByte,
                              int(count >> 16) & 0xFF, int(count >> 8) & 0xFF, int(count) & 0xFF});
    return withChecksum(frame);
}

inline bool write(D2xxBackend &backend, FT_HANDLE handle, const QByteArray &data)
{
    DWORD written = 0;
    return backend.write(handle, data.constData(), DWORD(data.size()), &written) == FT_OK
        && written == DWORD(data.size());
}

// Reads until want bytes have arrived or the deadline passes; each read waits
// at most the session's read time-out (set to 20 ms by openConfigured).
inline QByteArray readUpTo(D2xxBackend &backend, FT_HANDLE handle, int want, int deadlineMs)
{
    QByteArray out;
    QDeadlineTimer deadline(deadlineMs);
    std::vector<char> buffer(std::size_t(want) + 1);
    while (out.size() < want && !deadline.hasExpired()) {
        DWORD got = 0;
        if (backend.read(handle, buffer.data(), DWORD(want - out.size()), &got) != FT_OK)
            break;
        out.append(buffer.data(), int(got));
    }
    return out;
}

inline FT_HANDLE openConfigured(SimulatorBackend &backend)
{
    FT_HANDLE handle = nullptr;
    if (backend.openEx("ZK128", FT_OPEN_BY_SERIAL_NUMBER, &handle) != FT_OK)
        return nullptr;
    backend.setTimeouts(handle, 20, 1000);
    return handle;
}

inline std::uint32_t rawAt(const QByteArray &frame, int offset, int pixel)
{
    const auto *p = reinterpret_cast<const std::uint8_t *>(frame.constData()) + offset + 3 * pixel;
    return (std::uint32_t(p[0]) << 16) | (std::uint32_t(p[1]) << 8) | p[2];
}

} // namespace simtest
