#pragma once

// The acquisition values a parameter set changes once the device has
// acknowledged it: the current range (which frames are converted with, and
// which the full-on reference follows), the integral current and time.
// Implemented by the capture loop; called on the controlling thread.
class AcquisitionSettings
{
public:
    virtual void setCurrentRange(int range) = 0;
    virtual int currentRangeValue() const = 0;
    virtual void setIntegralCurrent(double value) = 0;
    virtual void setIntegralTime(double value) = 0;

protected:
    ~AcquisitionSettings() = default;
};
