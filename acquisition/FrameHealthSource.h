#pragma once

#include "acquisition/FrameHealth.h"

// The frame health counts of the capture in progress (or the last one): the
// capture loop writes them as frames arrive, any thread reads them.
class FrameHealthSource
{
public:
    virtual FrameHealth frameHealth() const = 0;

protected:
    ~FrameHealthSource() = default;
};
