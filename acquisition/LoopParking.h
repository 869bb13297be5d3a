#pragma once

// Whether the capture loop is at rest, so that another party may talk to the
// device: the loop parks after a stop and reports it with its loopParked
// signal. Implemented by the capture loop; called on the GUI thread.
class LoopParking
{
public:
    // True when the loop sits on its wait condition.
    virtual bool isParked() const = 0;
    // Blocks the calling thread until the loop is parked, at most timeoutMs;
    // true when it is parked.
    virtual bool waitUntilParked(int timeoutMs) = 0;

protected:
    ~LoopParking() = default;
};
