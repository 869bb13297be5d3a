#pragma once

#include "device/D2xxBackend.h"

#include <mutex>
#include <vector>

// Passes every call on to another backend and remembers the length of each
// read, so a test can prove that no read asked for more than a buffer holds.
class RecordingBackend : public D2xxBackend
{
public:
    explicit RecordingBackend(D2xxBackend &inner) : m_inner(inner) {}

    std::vector<DWORD> readLengths() const
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_readLengths;
    }

    QString name() const override { return m_inner.name(); }
    bool isSimulator() const override { return m_inner.isSimulator(); }
    FT_STATUS createDeviceInfoList(DWORD *count) override { return m_inner.createDeviceInfoList(count); }
    FT_STATUS getDeviceInfoList(FT_DEVICE_LIST_INFO_NODE *records, DWORD *count) override
    {
        return m_inner.getDeviceInfoList(records, count);
    }
    FT_STATUS openEx(const void *arg, DWORD flags, FT_HANDLE *handle) override
    {
        return m_inner.openEx(arg, flags, handle);
    }
    FT_STATUS resetDevice(FT_HANDLE h) override { return m_inner.resetDevice(h); }
    FT_STATUS purge(FT_HANDLE h, ULONG mask) override { return m_inner.purge(h, mask); }
    FT_STATUS setBitMode(FT_HANDLE h, UCHAR mask, UCHAR mode) override
    {
        return m_inner.setBitMode(h, mask, mode);
    }
    FT_STATUS setUsbParameters(FT_HANDLE h, ULONG in, ULONG out) override
    {
        return m_inner.setUsbParameters(h, in, out);
    }
    FT_STATUS setFlowControl(FT_HANDLE h, USHORT flow, UCHAR xon, UCHAR xoff) override
    {
        return m_inner.setFlowControl(h, flow, xon, xoff);
    }
    FT_STATUS setTimeouts(FT_HANDLE h, ULONG readMs, ULONG writeMs) override
    {
        return m_inner.setTimeouts(h, readMs, writeMs);
    }
    FT_STATUS write(FT_HANDLE h, const void *buffer, DWORD length, DWORD *written) override
    {
        return m_inner.write(h, buffer, length, written);
    }
    FT_STATUS getStatus(FT_HANDLE h, DWORD *rx, DWORD *tx, DWORD *events) override
    {
        return m_inner.getStatus(h, rx, tx, events);
    }
    FT_STATUS read(FT_HANDLE h, void *buffer, DWORD length, DWORD *returned) override
    {
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            m_readLengths.push_back(length);
        }
        return m_inner.read(h, buffer, length, returned);
    }
    FT_STATUS close(FT_HANDLE h) override { return m_inner.close(h); }

private:
    D2xxBackend &m_inner;
    mutable std::mutex m_mutex;
    std::vector<DWORD> m_readLengths; // guarded by m_mutex
};
