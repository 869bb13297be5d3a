#include "tests/device/FakeD2xxBackend.h"

#include <algorithm>
#include <cstring>

FT_STATUS FakeD2xxBackend::createDeviceInfoList(DWORD *count)
{
    *count = 1;
    return FT_OK;
}

FT_STATUS FakeD2xxBackend::getDeviceInfoList(FT_DEVICE_LIST_INFO_NODE *, DWORD *count)
{
    *count = 0;
    return FT_OK;
}

FT_STATUS FakeD2xxBackend::openEx(const void *, DWORD, FT_HANDLE *handle)
{
    *handle = this->handle();
    return FT_OK;
}

FT_STATUS FakeD2xxBackend::write(FT_HANDLE, const void *buffer, DWORD length, DWORD *written)
{
    writes.emplace_back(static_cast<const char *>(buffer), int(length));
    *written = writeAnswer == FT_OK ? length : 0;
    return writeAnswer;
}

FT_STATUS FakeD2xxBackend::getStatus(FT_HANDLE, DWORD *rx, DWORD *tx, DWORD *events)
{
    if (statusCalls < arrivals.size())
        queue += arrivals.at(statusCalls);
    ++statusCalls;
    *rx = statusAnswer == FT_OK ? DWORD(queue.size()) : 0;
    *tx = 0;
    *events = 0;
    return statusAnswer;
}

FT_STATUS FakeD2xxBackend::read(FT_HANDLE, void *buffer, DWORD length, DWORD *returned)
{
    readLengths.push_back(length);
    *returned = 0;
    if (readAnswer != FT_OK)
        return readAnswer;
    const DWORD count = std::min<DWORD>(length, DWORD(queue.size()));
    std::memcpy(buffer, queue.constData(), count);
    queue.remove(0, int(count));
    *returned = count;
    return FT_OK;
}
