#pragma once

#include "device/D2xxBackend.h"

#include <atomic>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>

// Sits between the worker and the simulator: counts the worker's polls and
// reads, and can refuse frame requests, which the simulator itself never does.
class ProbeBackend : public D2xxBackend
{
public:
    explicit ProbeBackend(std::shared_ptr<D2xxBackend> inner);

    int statusCalls() const { return m_statusCalls.load(); }
    int readCalls() const { return m_readCalls.load(); }
    // While set, every write of the frame request AE AA 05 5D 0A fails.
    void setFailFrameRequests(bool fail) { m_failFrameRequests.store(fail); }
    // Bytes the device seems to send at these offsets of every frame from
    // now on (the stream counted in 49157-byte frames from the last purge of
    // the receive queue).
    void plantInFrames(std::map<std::size_t, std::uint8_t> bytes);

    QString name() const override;
    bool isSimulator() const override;
    FT_STATUS createDeviceInfoList(DWORD *deviceCount) override;
    FT_STATUS getDeviceInfoList(FT_DEVICE_LIST_INFO_NODE *records, DWORD *deviceCount) override;
    FT_STATUS openEx(const void *arg, DWORD flags, FT_HANDLE *handle) override;
    FT_STATUS resetDevice(FT_HANDLE handle) override;
    FT_STATUS purge(FT_HANDLE handle, ULONG mask) override;
    FT_STATUS setBitMode(FT_HANDLE handle, UCHAR mask, UCHAR mode) override;
    FT_STATUS setUsbParameters(FT_HANDLE handle, ULONG inTransferSize, ULONG outTransferSize) override;
    FT_STATUS setFlowControl(FT_HANDLE handle, USHORT flowControl, UCHAR xon, UCHAR xoff) override;
    FT_STATUS setTimeouts(FT_HANDLE handle, ULONG readTimeoutMs, ULONG writeTimeoutMs) override;
    FT_STATUS write(FT_HANDLE handle, const void *buffer, DWORD length, DWORD *written) override;
    FT_STATUS getStatus(FT_HANDLE handle, DWORD *rxBytes, DWORD *txBytes, DWORD *eventStatus) override;
    FT_STATUS read(FT_HANDLE handle, void *buffer, DWORD length, DWORD *returned) override;
    FT_STATUS close(FT_HANDLE handle) override;

private:
    std::mutex m_plantMutex;                  // guards the two below
    std::map<std::size_t, std::uint8_t> m_planted;
    std::uint64_t m_streamOffset = 0;         // bytes read since the last receive purge

    const std::shared_ptr<D2xxBackend> m_inner;
    std::atomic<int> m_statusCalls{0};
    std::atomic<int> m_readCalls{0};
    std::atomic<bool> m_failFrameRequests{false};
};
