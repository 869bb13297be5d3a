#include "tests/worker/ProbeBackend.h"

#include <cstring>

ProbeBackend::ProbeBackend(std::shared_ptr<D2xxBackend> inner)
    : m_inner(std::move(inner))
{
}

QString ProbeBackend::name() const { return m_inner->name(); }
bool ProbeBackend::isSimulator() const { return m_inner->isSimulator(); }
FT_STATUS ProbeBackend::createDeviceInfoList(DWORD *count) { return m_inner->createDeviceInfoList(count); }
FT_STATUS ProbeBackend::getDeviceInfoList(FT_DEVICE_LIST_INFO_NODE *records, DWORD *count)
{
    return m_inner->getDeviceInfoList(records, count);
}
FT_STATUS ProbeBackend::openEx(const void *arg, DWORD flags, FT_HANDLE *handle) { return m_inner->openEx(arg, flags, handle); }
FT_STATUS ProbeBackend::resetDevice(FT_HANDLE handle) { return m_inner->resetDevice(handle); }
FT_STATUS ProbeBackend::purge(FT_HANDLE handle, ULONG mask)
{
    if (mask & FT_PURGE_RX) {
        std::lock_guard<std::mutex> lock(m_plantMutex);
        m_streamOffset = 0;
    }
    return m_inner->purge(handle, mask);
}

void ProbeBackend::plantInFrames(std::map<std::size_t, std::uint8_t> bytes)
{
    std::lock_guard<std::mutex> lock(m_plantMutex);
    m_planted = std::move(bytes);
}
FT_STATUS ProbeBackend::setBitMode(FT_HANDLE handle, UCHAR mask, UCHAR mode) { return m_inner->setBitMode(handle, mask, mode); }
FT_STATUS ProbeBackend::setUsbParameters(FT_HANDLE handle, ULONG in, ULONG out)
{
    return m_inner->setUsbParameters(handle, in, out);
}
FT_STATUS ProbeBackend::setFlowControl(FT_HANDLE handle, USHORT flow, UCHAR xon, UCHAR xoff)
{
    return m_inner->setFlowControl(handle, flow, xon, xoff);
}
FT_STATUS ProbeBackend::setTimeouts(FT_HANDLE handle, ULONG readMs, ULONG writeMs)
{
    return m_inner->setTimeouts(handle, readMs, writeMs);
}

FT_STATUS ProbeBackend::write(FT_HANDLE handle, const void *buffer, DWORD length, DWORD *written)
{
    static const unsigned char frameRequest[5] = {0xAE, 0xAA, 0x05, 0x5D, 0x0A};
    if (m_failFrameRequests.load() && length == 5 && std::memcmp(buffer, frameRequest, 5) == 0) {
        if (written)
            *written = 0;
        return FT_IO_ERROR;
    }
    return m_inner->write(handle, buffer, length, written);
}

FT_STATUS ProbeBackend::getStatus(FT_HANDLE handle, DWORD *rx, DWORD *tx, DWORD *events)
{
    ++m_statusCalls;
    return m_inner->getStatus(handle, rx, tx, events);
}

FT_STATUS ProbeBackend::read(FT_HANDLE handle, void *buffer, DWORD length, DWORD *returned)
{
    ++m_readCalls;
    const FT_STATUS status = m_inner->read(handle, buffer, length, returned);
    if (status != FT_OK || !returned)
        return status;
    std::lock_guard<std::mutex> lock(m_plantMutex);
    auto *bytes = static_cast<std::uint8_t *>(buffer);
    constexpr std::uint64_t frameLength = 49157;
    for (DWORD i = 0; i < *returned; ++i, ++m_streamOffset) {
        const auto planted = m_planted.find(std::size_t(m_streamOffset % frameLength));
        if (planted != m_planted.end())
            bytes[i] = planted->second;
    }
    return status;
}

FT_STATUS ProbeBackend::close(FT_HANDLE handle) { return m_inner->close(handle); }
