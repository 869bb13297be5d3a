#pragma once

#include "device/D2xxBackend.h"

// The backend of a console that has none: every call answers "device not
// found" (or an empty device list) and touches nothing. It stands in when an
// explicit request for the vendor library cannot be met, so that the console
// still runs and says why.
class AbsentBackend final : public D2xxBackend
{
public:
    QString name() const override { return QStringLiteral("no D2XX backend"); }
    bool isSimulator() const override { return false; }
    FT_STATUS createDeviceInfoList(DWORD *count) override;
    FT_STATUS getDeviceInfoList(FT_DEVICE_LIST_INFO_NODE *records, DWORD *count) override;
    FT_STATUS openEx(const void *arg, DWORD flags, FT_HANDLE *handle) override;
    FT_STATUS resetDevice(FT_HANDLE) override { return FT_INVALID_HANDLE; }
    FT_STATUS purge(FT_HANDLE, ULONG) override { return FT_INVALID_HANDLE; }
    FT_STATUS setBitMode(FT_HANDLE, UCHAR, UCHAR) override { return FT_INVALID_HANDLE; }
    FT_STATUS setUsbParameters(FT_HANDLE, ULONG, ULONG) override { return FT_INVALID_HANDLE; }
    FT_STATUS setFlowControl(FT_HANDLE, USHORT, UCHAR, UCHAR) override { return FT_INVALID_HANDLE; }
    FT_STATUS setTimeouts(FT_HANDLE, ULONG, ULONG) override { return FT_INVALID_HANDLE; }
    FT_STATUS write(FT_HANDLE handle, const void *buffer, DWORD length, DWORD *written) override;
    FT_STATUS getStatus(FT_HANDLE handle, DWORD *rx, DWORD *tx, DWORD *events) override;
    FT_STATUS read(FT_HANDLE handle, void *buffer, DWORD length, DWORD *returned) override;
    FT_STATUS close(FT_HANDLE) override { return FT_INVALID_HANDLE; }
};
