// The thirteen D2XX functions under their vendor names, so that a program
// which loads libftd2xx.so at run time can load this library instead and talk
// to a simulated ZK128. All calls go to one simulator for the whole process,
// built on first use from the TESSIVO_SIM_* environment variables.

#include "simulator/SimulatorBackend.h"

#include <cstdio>

#define TESSIVO_D2XX_EXPORT extern "C" __attribute__((visibility("default")))

using PVOID = void *;
using LPVOID = void *;
using LPDWORD = DWORD *;

namespace {

SimulatorBackend &simulator()
{
    static const std::shared_ptr<SimulatorBackend> backend = [] {
        auto made = SimulatorBackend::fromEnvironment();
        for (const QString &warning : made->environmentWarnings())
            std::fprintf(stderr, "%s\n", qPrintable(warning));
        return made;
    }();
    return *backend;
}

} // namespace

TESSIVO_D2XX_EXPORT FT_STATUS FT_CreateDeviceInfoList(LPDWORD lpdwNumDevs)
{
    return simulator().createDeviceInfoList(lpdwNumDevs);
}

TESSIVO_D2XX_EXPORT FT_STATUS FT_GetDeviceInfoList(FT_DEVICE_LIST_INFO_NODE *pDest, LPDWORD lpdwNumDevs)
{
    return simulator().getDeviceInfoList(pDest, lpdwNumDevs);
}

TESSIVO_D2XX_EXPORT FT_STATUS FT_OpenEx(PVOID pArg1, DWORD Flags, FT_HANDLE *pHandle)
{
    return simulator().openEx(pArg1, Flags, pHandle);
}

TESSIVO_D2XX_EXPORT FT_STATUS FT_ResetDevice(FT_HANDLE ftHandle)
{
    return simulator().resetDevice(ftHandle);
}

TESSIVO_D2XX_EXPORT FT_STATUS FT_Purge(FT_HANDLE ftHandle, ULONG Mask)
{
    return simulator().purge(ftHandle, Mask);
}

TESSIVO_D2XX_EXPORT FT_STATUS FT_SetBitMode(FT_HANDLE ftHandle, UCHAR ucMask, UCHAR ucEnable)
{
    return simulator().setBitMode(ftHandle, ucMask, ucEnable);
}

TESSIVO_D2XX_EXPORT FT_STATUS FT_SetUSBParameters(FT_HANDLE ftHandle, ULONG ulInTransferSize, ULONG ulOutTransferSize)
{
    return simulator().setUsbParameters(ftHandle, ulInTransferSize, ulOutTransferSize);
}

TESSIVO_D2XX_EXPORT FT_STATUS FT_SetFlowControl(FT_HANDLE ftHandle, USHORT FlowControl, UCHAR XonChar, UCHAR XoffChar)
{
    return simulator().setFlowControl(ftHandle, FlowControl, XonChar, XoffChar);
}

TESSIVO_D2XX_EXPORT FT_STATUS FT_SetTimeouts(FT_HANDLE ftHandle, ULONG ReadTimeout, ULONG WriteTimeout)
{
    return simulator().setTimeouts(ftHandle, ReadTimeout, WriteTimeout);
}

TESSIVO_D2XX_EXPORT FT_STATUS FT_Write(FT_HANDLE ftHandle, LPVOID lpBuffer, DWORD dwBytesToWrite, LPDWORD lpdwBytesWritten)
{
    return simulator().write(ftHandle, lpBuffer, dwBytesToWrite, lpdwBytesWritten);
}

TESSIVO_D2XX_EXPORT FT_STATUS FT_GetStatus(FT_HANDLE ftHandle, DWORD *dwRxBytes, DWORD *dwTxBytes, DWORD *dwEventDWord)
{
    return simulator().getStatus(ftHandle, dwRxBytes, dwTxBytes, dwEventDWord);
}

TESSIVO_D2XX_EXPORT FT_STATUS FT_Read(FT_HANDLE ftHandle, LPVOID lpBuffer, DWORD dwBytesToRead, LPDWORD lpdwBytesReturned)
{
    return simulator().read(ftHandle, lpBuffer, dwBytesToRead, lpdwBytesReturned);
}

TESSIVO_D2XX_EXPORT FT_STATUS FT_Close(FT_HANDLE ftHandle)
{
    return simulator().close(ftHandle);
}
