// A stand-in for the vendor's D2XX library whose behaviour the loader tests
// steer: its device list can grow between the two list calls, its reads can
// report more bytes than were asked for, and it can hold calls inside itself
// as a read blocks until its time-out. It counts every call that reaches it
// with a handle, and every misuse: a call on a closed or foreign handle, or a
// close while another call on that handle is inside. Built a second time
// without FT_Close to stand for an incomplete library.
#include "device/D2xxTypes.h"

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <mutex>

#define FAKE_EXPORT extern "C" __attribute__((visibility("default")))

namespace {

constexpr int kHandles = 4;

// Every call and control holds guard, except while a held call waits.
std::mutex guard;
std::condition_variable changed; // a call was held, or the held calls were let go
DWORD attached = 1;   // devices on the bus
DWORD growth = 0;     // devices that arrive after each list is built
DWORD listed = 0;     // records in the list built last
DWORD overreport = 0; // bytes a read claims beyond what it was asked for
int handleCalls = 0;
int misuses = 0;
int toHold = 0;       // calls still to be held when they arrive
int held = 0;         // calls being held now
int releases = 0;     // how often the held calls were let go
int handles[kHandles];
bool closed[kHandles] = {};
int inside[kHandles] = {}; // calls inside on each handle
int nextHandle = 0;

int slotOf(FT_HANDLE handle)
{
    const int *address = static_cast<int *>(handle);
    return address >= handles && address < handles + kHandles ? int(address - handles) : -1;
}

// Lasts as long as one call on a handle, its body included.
class HandleCall
{
public:
    explicit HandleCall(FT_HANDLE handle) : m_lock(guard), m_slot(slotOf(handle))
    {
        ++handleCalls;
        if (m_slot < 0 || closed[m_slot]) {
            ++misuses;
            m_slot = -1;
            return;
        }
        ++inside[m_slot];
        if (toHold > 0) {
            --toHold;
            ++held;
            changed.notify_all();
            const int release = releases;
            changed.wait(m_lock, [release] { return releases != release; });
            --held;
        }
    }
    ~HandleCall()
    {
        if (m_slot >= 0)
            --inside[m_slot];
    }

private:
    std::unique_lock<std::mutex> m_lock;
    int m_slot;
};

} // namespace

FAKE_EXPORT void fakeD2xxReset(DWORD devices, DWORD grow, DWORD extraReported)
{
    std::lock_guard<std::mutex> lock(guard);
    attached = devices;
    growth = grow;
    overreport = extraReported;
    listed = 0;
    handleCalls = 0;
    misuses = 0;
    toHold = 0;
}

FAKE_EXPORT int fakeD2xxHandleCalls()
{
    std::lock_guard<std::mutex> lock(guard);
    return handleCalls;
}

FAKE_EXPORT int fakeD2xxMisuses()
{
    std::lock_guard<std::mutex> lock(guard);
    return misuses;
}

// The next so many calls on a handle (FT_Close excepted) stay inside until
// fakeD2xxRelease.
FAKE_EXPORT void fakeD2xxHold(int calls)
{
    std::lock_guard<std::mutex> lock(guard);
    toHold = calls;
}

// True once calls calls are held, false when timeoutMs passes first.
FAKE_EXPORT bool fakeD2xxAwaitHeld(int calls, int timeoutMs)
{
    std::unique_lock<std::mutex> lock(guard);
    return changed.wait_for(lock, std::chrono::milliseconds(timeoutMs), [calls] { return held >= calls; });
}

FAKE_EXPORT void fakeD2xxRelease()
{
    std::lock_guard<std::mutex> lock(guard);
    toHold = 0;
    ++releases;
    changed.notify_all();
}

FAKE_EXPORT FT_STATUS FT_CreateDeviceInfoList(DWORD *count)
{
    std::lock_guard<std::mutex> lock(guard);
    listed = attached;
    attached += growth;
    *count = listed;
    return FT_OK;
}

// Like the vendor's, it fills as many records as its list holds, whatever the
// caller allocated.
FAKE_EXPORT FT_STATUS FT_GetDeviceInfoList(FT_DEVICE_LIST_INFO_NODE *records, DWORD *count)
{
    std::lock_guard<std::mutex> lock(guard);
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
    std::lock_guard<std::mutex> lock(guard);
    const int slot = nextHandle++ % kHandles;
    closed[slot] = false;
    *handle = &handles[slot];
    return FT_OK;
}

FAKE_EXPORT FT_STATUS FT_ResetDevice(FT_HANDLE handle)
{
    HandleCall call(handle);
    return FT_OK;
}

FAKE_EXPORT FT_STATUS FT_Purge(FT_HANDLE handle, ULONG)
{
    HandleCall call(handle);
    return FT_OK;
}

FAKE_EXPORT FT_STATUS FT_SetBitMode(FT_HANDLE handle, UCHAR, UCHAR)
{
    HandleCall call(handle);
    return FT_OK;
}

FAKE_EXPORT FT_STATUS FT_SetUSBParameters(FT_HANDLE handle, ULONG, ULONG)
{
    HandleCall call(handle);
    return FT_OK;
}

FAKE_EXPORT FT_STATUS FT_SetFlowControl(FT_HANDLE handle, USHORT, UCHAR, UCHAR)
{
    HandleCall call(handle);
    return FT_OK;
}

FAKE_EXPORT FT_STATUS FT_SetTimeouts(FT_HANDLE handle, ULONG, ULONG)
{
    HandleCall call(handle);
    return FT_OK;
}

FAKE_EXPORT FT_STATUS FT_Write(FT_HANDLE handle, void *, DWORD length, DWORD *written)
{
    HandleCall call(handle);
    *written = length;
    return FT_OK;
}

FAKE_EXPORT FT_STATUS FT_GetStatus(FT_HANDLE handle, DWORD *rx, DWORD *tx, DWORD *events)
{
    HandleCall call(handle);
    *rx = 64;
    *tx = 0;
    *events = 0;
    return FT_OK;
}

FAKE_EXPORT FT_STATUS FT_Read(FT_HANDLE handle, void *buffer, DWORD length, DWORD *returned)
{
    HandleCall call(handle);
    std::memset(buffer, 0x5A, length);
    *returned = length + overreport;
    return FT_OK;
}

#ifndef FAKE_D2XX_WITHOUT_CLOSE
FAKE_EXPORT FT_STATUS FT_Close(FT_HANDLE handle)
{
    std::lock_guard<std::mutex> lock(guard);
    ++handleCalls;
    const int slot = slotOf(handle);
    if (slot < 0 || closed[slot] || inside[slot] > 0)
        ++misuses;
    if (slot >= 0)
        closed[slot] = true;
    return FT_OK;
}
#endif
