// A stand-in for the vendor's D2XX library whose behaviour the loader tests
// steer: its device list can grow between the two list calls, its reads can
// report more bytes than were asked for, and it counts every call that
// reaches it with a handle. Built a second time without FT_Close to stand for
// an incomplete library.
#include "D2xxTypes.h"

#include <cstdio>
#include <cstring>

#define FAKE_EXPORT extern "C" __attribute__((visibility("default")))

namespace {

DWORD attached = 1;   // devices on the bus
DWORD growth = 0;     // devices that arrive after each list is built
DWORD listed = 0;     // records in the list built last
DWORD overreport = 0; // bytes a read claims beyond what it was asked for
int handleCalls = 0;
int handles[4];
int nextHandle = 0;

} // namespace

FAKE_EXPORT void fakeD2xxReset(DWORD devices, DWORD grow, DWORD extraReported)
{
    attached = devices;
    growth = grow;
    overreport = extraReported;
    listed = 0;
    handleCalls = 0;
}

FAKE_EXPORT int fakeD2xxHandleCalls()
{
    return handleCalls;
}

FAKE_EXPORT FT_STATUS FT_CreateDeviceInfoList(DWORD *count)
{
    listed = attached;
    attached += growth;
    *count = listed;
    return FT_OK;
}

// Like the vendor's, it fills as many records as its list holds, whatever the
// caller allocated.
FAKE_EXPORT FT_STATUS FT_GetDeviceInfoList(FT_DEVICE_LIST_INFO_NODE *records, DWORD *count)
{
    for (DWORD i = 0; i < listed; ++i) {
        std::memset(&records[i], 0, sizeof records[i]);
        std::snprintf(records[i].SerialNumber, sizeof records[i].SerialNumber, "FAKE%u", unsigned(i));
        std::snprintf(records[i].Description, sizeof records[i].Description, "Fake D2XX device");
    }
    *count = listed;
    return FT_OK;
}

FAKE_EXPORT FT_STATUS FT_OpenEx(void *, DWORD, FT_HANDLE *handle)
{
    *handle = &handles[nextHandle++ % 4];
    return FT_OK;
}

FAKE_EXPORT FT_STATUS FT_ResetDevice(FT_HANDLE)
{
    ++handleCalls;
    return FT_OK;
}

FAKE_EXPORT FT_STATUS FT_Purge(FT_HANDLE, ULONG)
{
    ++handleCalls;
    return FT_OK;
}

FAKE_EXPORT FT_STATUS FT_SetBitMode(FT_HANDLE, UCHAR, UCHAR)
{
    ++handleCalls;
    return FT_OK;
}

FAKE_EXPORT FT_STATUS FT_SetUSBParameters(FT_HANDLE, ULONG, ULONG)
{
    ++handleCalls;
    return FT_OK;
}

FAKE_EXPORT FT_STATUS FT_SetFlowControl(FT_HANDLE, USHORT, UCHAR, UCHAR)
{
    ++handleCalls;
    return FT_OK;
}

FAKE_EXPORT FT_STATUS FT_SetTimeouts(FT_HANDLE, ULONG, ULONG)
{
    ++handleCalls;
    return FT_OK;
}

FAKE_EXPORT FT_STATUS FT_Write(FT_HANDLE, void *, DWORD length, DWORD *written)
{
    ++handleCalls;
    *written = length;
    return FT_OK;
}

FAKE_EXPORT FT_STATUS FT_GetStatus(FT_HANDLE, DWORD *rx, DWORD *tx, DWORD *events)
{
    ++handleCalls;
    *rx = 64;
    *tx = 0;
    *events = 0;
    return FT_OK;
}

FAKE_EXPORT FT_STATUS FT_Read(FT_HANDLE, void *buffer, DWORD length, DWORD *returned)
{
    ++handleCalls;
    std::memset(buffer, 0x5A, length);
    *returned = length + overreport;
    return FT_OK;
}

#ifndef FAKE_D2XX_WITHOUT_CLOSE
FAKE_EXPORT FT_STATUS FT_Close(FT_HANDLE)
{
    ++handleCalls;
    return FT_OK;
}
#endif
