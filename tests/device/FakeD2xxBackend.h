#pragma once

#include "device/D2xxBackend.h"

#include <QByteArray>
#include <QList>

#include <vector>

// A D2XX backend whose receive queue the test scripts exactly: the bytes in
// arrivals[n] join the queue when the n-th queue-status call is made (counted
// from 0), and a read takes at most what it asks for from the queue's front.
// It records what the code under test did.
class FakeD2xxBackend : public D2xxBackend
{
public:
    QList<QByteArray> arrivals;
    QByteArray queue;
    FT_STATUS writeAnswer = FT_OK;
    FT_STATUS statusAnswer = FT_OK;
    FT_STATUS readAnswer = FT_OK;

    std::vector<QByteArray> writes;
    std::vector<DWORD> readLengths;
    int statusCalls = 0;

    FT_HANDLE handle() const { return const_cast<int *>(&m_token); }

    QString name() const override { return QStringLiteral("scripted D2XX backend"); }
    bool isSimulator() const override { return false; }
    FT_STATUS createDeviceInfoList(DWORD *count) override;
    FT_STATUS getDeviceInfoList(FT_DEVICE_LIST_INFO_NODE *, DWORD *count) override;
    FT_STATUS openEx(const void *, DWORD, FT_HANDLE *handle) override;
    FT_STATUS resetDevice(FT_HANDLE) override { return FT_OK; }
    FT_STATUS purge(FT_HANDLE, ULONG) override { return FT_OK; }
    FT_STATUS setBitMode(FT_HANDLE, UCHAR, UCHAR) override { return FT_OK; }
    FT_STATUS setUsbParameters(FT_HANDLE, ULONG, ULONG) override { return FT_OK; }
    FT_STATUS setFlowControl(FT_HANDLE, USHORT, UCHAR, UCHAR) override { return FT_OK; }
    FT_STATUS setTimeouts(FT_HANDLE, ULONG, ULONG) override { return FT_OK; }
    FT_STATUS write(FT_HANDLE, const void *buffer, DWORD length, DWORD *written) override;
    FT_STATUS getStatus(FT_HANDLE, DWORD *rx, DWORD *tx, DWORD *events) override;
    FT_STATUS read(FT_HANDLE, void *buffer, DWORD length, DWORD *returned) override;
    FT_STATUS close(FT_HANDLE) override { return FT_OK; }

private:
    int m_token = 0;
};
