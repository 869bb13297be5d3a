#include "device/AbsentBackend.h"

namespace {

void zero(DWORD *value)
{
    if (value)
        *value = 0;
}

} // namespace

FT_STATUS AbsentBackend::createDeviceInfoList(DWORD *count)
{
    zero(count);
    return FT_OK;
}

FT_STATUS AbsentBackend::getDeviceInfoList(FT_DEVICE_LIST_INFO_NODE *, DWORD *count)
{
    zero(count);
    return FT_OK;
}

FT_STATUS AbsentBackend::openEx(const void *, DWORD, FT_HANDLE *handle)
{
    if (handle)
        *handle = nullptr;
    return FT_DEVICE_NOT_FOUND;
}

FT_STATUS AbsentBackend::write(FT_HANDLE, const void *, DWORD, DWORD *written)
{
    zero(written);
    return FT_INVALID_HANDLE;
}

FT_STATUS AbsentBackend::getStatus(FT_HANDLE, DWORD *rx, DWORD *tx, DWORD *events)
{
    zero(rx);
    zero(tx);
    zero(events);
    return FT_INVALID_HANDLE;
}

FT_STATUS AbsentBackend::read(FT_HANDLE, void *, DWORD, DWORD *returned)
{
    zero(returned);
    return FT_INVALID_HANDLE;
}
