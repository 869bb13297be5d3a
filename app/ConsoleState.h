#pragma once

// What the window's flows share about the capture. One object, a member of
// the main window, handed by reference to each flow. (The device handle and
// the status of the window's last device call belong to its DeviceSession.)
//
// Thread contract: GUI thread only.
struct ConsoleState
{
    bool running = false;         // a capture is running
    bool connected = false;       // the device is open and answered the handshake
    // The device acknowledged a parameter set on this connection, so the
    // range the console computes currents with is the one the device runs.
    bool configured = false;
    bool calibrationOpen = false; // the calibration controls are open
    // A recording is open for playback: its frames, not the device's, are
    // shown, and the capture controls are locked.
    bool recordingOpen = false;
};
