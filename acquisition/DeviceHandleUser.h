#pragma once

#include "device/D2xxTypes.h"

// Whoever reads the device once it is open: the capture loop. The connect
// flow hands it the handle (null: none) while the loop is parked.
class DeviceHandleUser
{
public:
    virtual void useDevice(FT_HANDLE handle, FT_STATUS status = FT_OK) = 0;

protected:
    ~DeviceHandleUser() = default;
};
