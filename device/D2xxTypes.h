#pragma once

// The D2XX C types as the vendor's ftd2xx.h declares them for 64-bit Linux and
// Windows: ULONG and DWORD are 32 bits wide, handles are opaque pointers. The
// device-info record must match the library's layout byte for byte, because
// FT_GetDeviceInfoList fills an array of them.

#include <cstddef>
#include <cstdint>

using DWORD = std::uint32_t;
using ULONG = std::uint32_t;
using UCHAR = unsigned char;
using USHORT = unsigned short;
using FT_STATUS = ULONG;
using FT_HANDLE = void *;

enum : FT_STATUS {
    FT_OK = 0,
    FT_INVALID_HANDLE = 1,
    FT_DEVICE_NOT_FOUND = 2,
    FT_DEVICE_NOT_OPENED = 3,
    FT_IO_ERROR = 4,
    FT_INSUFFICIENT_RESOURCES = 5,
    FT_INVALID_PARAMETER = 6,
    FT_OTHER_ERROR = 18,
};

constexpr DWORD FT_OPEN_BY_SERIAL_NUMBER = 1;
constexpr DWORD FT_OPEN_BY_DESCRIPTION = 2;
constexpr ULONG FT_PURGE_RX = 1;
constexpr ULONG FT_PURGE_TX = 2;
constexpr USHORT FT_FLOW_RTS_CTS = 0x0100;
constexpr UCHAR FT_BITMODE_SYNC_FIFO = 0x40;

struct FT_DEVICE_LIST_INFO_NODE {
    ULONG Flags;
    ULONG Type;
    ULONG ID;
    DWORD LocId;
    char SerialNumber[16];
    char Description[64];
    FT_HANDLE ftHandle;
};

#if UINTPTR_MAX == 0xFFFFFFFFFFFFFFFFu
static_assert(sizeof(FT_DEVICE_LIST_INFO_NODE) == 104, "D2XX device record must be 104 bytes");
static_assert(offsetof(FT_DEVICE_LIST_INFO_NODE, SerialNumber) == 16, "serial number at byte 16");
static_assert(offsetof(FT_DEVICE_LIST_INFO_NODE, Description) == 32, "description at byte 32");
static_assert(offsetof(FT_DEVICE_LIST_INFO_NODE, ftHandle) == 96, "handle at byte 96");
#endif
