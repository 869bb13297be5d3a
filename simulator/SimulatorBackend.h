#pragma once

#include "device/D2xxBackend.h"
#include "simulator/ZK128Device.h"

#include <QStringList>

#include <memory>
#include <mutex>
#include <map>

// The thirteen D2XX calls answered by one simulated ZK128 (ZK128Device). It is
// the backend a new user gets when no vendor library is installed, and the one
// the tests install.
//
// Handles are opaque values naming per-open session objects. They are drawn
// from a process-wide counter and never reused, so a closed handle cannot
// alias a later open, nor a handle of another backend instance one of ours;
// every call looks the handle up among the live sessions first, so a null,
// closed or foreign handle is answered with a non-zero status and never
// dereferenced.
//
// Statuses: FT_INVALID_HANDLE for a null, closed or foreign handle;
// FT_INVALID_PARAMETER for a null pointer the call needs; after an unplug the
// handles opened before it answer FT_DEVICE_NOT_FOUND (configuration calls)
// or FT_IO_ERROR (write, status, read) until closed; FT_DEVICE_NOT_OPENED when
// opening a device that is already open.
//
// getDeviceInfoList takes *deviceCount as the number of records the caller
// sized (the count from createDeviceInfoList), writes at most that many and
// sets it to the number of devices present. Records: serial "ZK128" (empty
// while unreadable), description "ZK128 USB", Flags bit 0 while open (bit 1:
// high speed), the open handle. Opening by serial number "ZK128" is the only
// way in; the serial must be readable.
//
// Thread contract: every member may be called from any thread. m_mutex guards
// the session set and the session settings; it is released before a read waits
// for bytes, so the GUI thread is never blocked behind the acquisition thread.
class SimulatorTap;

class SimulatorBackend : public D2xxBackend
{
public:
    explicit SimulatorBackend(std::shared_ptr<ZK128Device> device);
    ~SimulatorBackend() override;

    // Builds the simulated device from the TESSIVO_SIM_* environment variables
    // (listed in simulator/README.md). Unknown or malformed values are ignored
    // and the default kept; the reasons are in lastEnvironmentWarnings().
    static std::shared_ptr<SimulatorBackend> fromEnvironment();

    std::shared_ptr<ZK128Device> device() const;
    // Warnings collected by fromEnvironment() (empty for other constructions).
    QStringList environmentWarnings() const;

    QString name() const override;
    bool isSimulator() const override;
    // The simulated device's plug events.
    bool setHotplugCallback(HotplugCallback callback) override;

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

    // The settings an open session was given (for tests); false for a dead handle.
    struct SessionSettings {
        UCHAR bitMask = 0;
        UCHAR bitMode = 0;
        ULONG inTransferSize = 4096;
        ULONG outTransferSize = 4096;
        USHORT flowControl = 0;
        ULONG readTimeoutMs = 0;  // 0: the D2XX default, wait for the full count
        ULONG writeTimeoutMs = 0;
    };
    bool sessionSettings(FT_HANDLE handle, SessionSettings *settings) const;

private:
    struct Session {
        std::uint64_t plugGeneration = 0; // the device's generation when opened
        SessionSettings settings;
    };
    enum class CallKind { Configuration, Data };
    // The live session for handle, or null; caller holds m_mutex.
    Session *liveSession(FT_HANDLE handle);
    const Session *liveSession(FT_HANDLE handle) const;
    // FT_OK when handle names a live session on a device still present; caller holds m_mutex.
    FT_STATUS usable(FT_HANDLE handle, CallKind kind) const;
    // Runs change on the session's settings if the handle is usable; takes m_mutex.
    template <typename Change>
    FT_STATUS configure(FT_HANDLE handle, Change change);
    bool deviceIsOpen() const; // caller holds m_mutex

    const std::shared_ptr<ZK128Device> m_device;  // set once, itself thread-safe
    mutable std::mutex m_mutex;                   // guards m_sessions and their settings
    std::map<FT_HANDLE, Session> m_sessions;      // live sessions by handle
    QStringList m_environmentWarnings;            // written once, before the backend is shared
    std::unique_ptr<SimulatorTap> m_tap;          // set once, by fromEnvironment; destroyed first
};
