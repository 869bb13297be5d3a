#include "ProbeBackend.h"

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
FT_STATUS ProbeBackend::purge(FT_HANDLE handle, ULONG mask) { return m_inner->purge(handle, mask); }
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
    return m_inner->read(handle, buffer, length, returned);
}

FT_STATUS ProbeBackend::close(FT_HANDLE handle) { return m_inner->close(handle); }
