#pragma once

#include "device/D2xxBackend.h"

#include <QLibrary>
#include <QString>

#include <map>
#include <memory>
#include <mutex>

// The D2XX calls answered by FTDI's vendor library, loaded at run time:
// libftd2xx.so (resolved by the dynamic loader, then /usr/local/lib) on Linux,
// FTD2XX.dll with its functions imported by ordinal on Windows. The console
// never needs the library to build.
//
// The backend keeps the handles it opened. A call with a null or unknown
// handle answers FT_INVALID_HANDLE without reaching the library. read and
// getDeviceInfoList never let the library write past the caller's buffer.
//
// Thread contract: called from the GUI thread (open, battery poll, parameter
// command, close) and the acquisition thread (frame requests and reads). Each
// open handle has a gate, a reader-writer lock: every call on the handle holds
// it shared while it is inside the library, so calls on one handle run side by
// side (the status query while a read blocks up to its time-out) and calls on
// different handles never wait for each other's library calls. close first
// drops the handle from m_handles, so a call starting later is refused without
// reaching the library, then takes the gate exclusively: it waits until the
// calls already inside the library have returned, and only then lets the
// library close the handle. The library thus never sees a call on a closed
// handle; close on the GUI thread may wait up to the read time-out.
// m_handlesMutex guards m_handles and is never held during a library call;
// m_listMutex serialises the two device-list calls.
class VendorLibraryBackend final : public D2xxBackend
{
public:
    // Loads the library from path, or, when path is empty, from the platform's
    // usual places. Returns null when the library or one of its thirteen
    // functions cannot be found; *reason then says why in a clause that reads
    // after "could not be loaded: " (no final full stop), and *libraryLoaded
    // tells a missing library from an incomplete one.
    static std::shared_ptr<VendorLibraryBackend> load(const QString &path, QString *reason,
                                                      bool *libraryLoaded = nullptr);
    // The path from TESSIVO_D2XX_LIBRARY, or the usual places when it is unset.
    static std::shared_ptr<VendorLibraryBackend> fromEnvironment(QString *reason,
                                                                 bool *libraryLoaded = nullptr);

    // The file that was loaded (the full path where the loader tells it).
    QString libraryPath() const { return m_path; }

    QString name() const override;
    bool isSimulator() const override { return false; }

    FT_STATUS createDeviceInfoList(DWORD *deviceCount) override;
    // On entry *deviceCount is the number of records the caller allocated; on
    // return it is the number filled, never more than that.
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

    struct Functions; // the thirteen entry points, resolved at load

private:
    VendorLibraryBackend(std::unique_ptr<QLibrary> library, std::unique_ptr<Functions> functions);
    struct HandleGate; // one per open handle, defined with the calls
    std::shared_ptr<HandleGate> gateFor(FT_HANDLE handle) const;
    // Runs call inside the handle's gate; FT_INVALID_HANDLE without running it
    // when the handle is unknown or its close has begun.
    template <typename Call>
    FT_STATUS onHandle(FT_HANDLE handle, Call &&call) const;

    std::unique_ptr<QLibrary> m_library;     // loaded once, never unloaded
    std::unique_ptr<Functions> m_functions;  // written once at load, read-only after
    QString m_path;                          // idem

    mutable std::mutex m_handlesMutex;
    // Written by openEx and close (any thread), guarded by m_handlesMutex.
    std::map<FT_HANDLE, std::shared_ptr<HandleGate>> m_handles;
    std::mutex m_listMutex;                  // serialises the device-list calls
};
