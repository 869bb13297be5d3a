#pragma once

#include "device/D2xxTypes.h"

#include <QString>

#include <functional>

// The thirteen D2XX calls the console makes, behind one interface. The vendor
// library (VendorLibraryBackend) and the built-in ZK128 simulator
// (SimulatorBackend) both implement it; the console holds the one in use in its
// context (ConsoleContext) and talks to the device only through it.
//
// Contract shared by every implementation: a call on a null, closed or foreign
// handle returns a non-zero status and touches nothing; read never writes more
// than the requested length into the caller's buffer. Implementations must be
// callable from the GUI thread and the acquisition thread.
class D2xxBackend
{
public:
    virtual ~D2xxBackend() = default;

    // Short human name for the log ("D2XX library /usr/lib/libftd2xx.so", "ZK128 simulator").
    virtual QString name() const = 0;
    // True for the built-in simulator, which has no kernel device behind it.
    virtual bool isSimulator() const = 0;

    // Devices arriving (true) and leaving (false). A backend that can tell
    // installs the callback and returns true; it may call it from any thread,
    // and a null callback uninstalls it. One that cannot (the vendor library:
    // the USB bus must be watched instead) returns false.
    using HotplugCallback = std::function<void(bool arrived)>;
    virtual bool setHotplugCallback(HotplugCallback callback)
    {
        (void)callback;
        return false;
    }

    virtual FT_STATUS createDeviceInfoList(DWORD *deviceCount) = 0;
    // On entry *deviceCount is the number of records the caller allocated (the
    // count createDeviceInfoList gave); on return the number filled, never more.
    virtual FT_STATUS getDeviceInfoList(FT_DEVICE_LIST_INFO_NODE *records, DWORD *deviceCount) = 0;
    virtual FT_STATUS openEx(const void *arg, DWORD flags, FT_HANDLE *handle) = 0;
    virtual FT_STATUS resetDevice(FT_HANDLE handle) = 0;
    virtual FT_STATUS purge(FT_HANDLE handle, ULONG mask) = 0;
    virtual FT_STATUS setBitMode(FT_HANDLE handle, UCHAR mask, UCHAR mode) = 0;
    virtual FT_STATUS setUsbParameters(FT_HANDLE handle, ULONG inTransferSize, ULONG outTransferSize) = 0;
    virtual FT_STATUS setFlowControl(FT_HANDLE handle, USHORT flowControl, UCHAR xon, UCHAR xoff) = 0;
    virtual FT_STATUS setTimeouts(FT_HANDLE handle, ULONG readTimeoutMs, ULONG writeTimeoutMs) = 0;
    virtual FT_STATUS write(FT_HANDLE handle, const void *buffer, DWORD length, DWORD *written) = 0;
    virtual FT_STATUS getStatus(FT_HANDLE handle, DWORD *rxBytes, DWORD *txBytes, DWORD *eventStatus) = 0;
    virtual FT_STATUS read(FT_HANDLE handle, void *buffer, DWORD length, DWORD *returned) = 0;
    virtual FT_STATUS close(FT_HANDLE handle) = 0;
};
