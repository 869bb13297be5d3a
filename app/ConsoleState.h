#pragma once

#include "D2xxTypes.h"

// What the window's flows share about the device and the capture. One object,
// a member of the main window, handed by reference to each flow.
//
// Thread contract: GUI thread only (the worker gets its own copies of the
// handle and status when the device is connected).
struct ConsoleState
{
    bool running = false;         // a capture is running
    bool connected = false;       // the device is open and answered the handshake
    bool calibrationOpen = false; // the calibration controls are open
    FT_STATUS deviceStatus = FT_OK;   // result of the window's last D2XX call
    FT_HANDLE deviceHandle = nullptr; // handle of the window's own D2XX calls
};
