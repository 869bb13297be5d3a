#pragma once

// Play and Stop of the capture loop, as one operation each and without
// waiting on the device: Play lets the loop go and the loop writes the start
// sequence; Stop requests the stop and pauses (the loop finishes the frame in
// flight, sends the stop command, consumes its answer and parks). GUI thread.
class CaptureSwitch
{
public:
    virtual void startCapture() = 0;
    virtual void stopCapture() = 0;

protected:
    ~CaptureSwitch() = default;
};
