#pragma once

#include <chrono>

// Decides how long the acquisition loop sleeps before it asks the device for
// bytes again, so that waiting for a frame costs no core. It learns how long
// the device takes from a frame request to a complete frame (integration plus
// transfer) and sleeps through most of that time; past it, it polls briefly.
// Until it has seen a frame it only polls.
//
// Thread contract: owned and used by the acquisition thread only.
class FramePacer
{
public:
    using Clock = std::chrono::steady_clock;

    static constexpr std::chrono::microseconds kPollInterval{50};
    // Sleeps are cut into pieces of at most this, so a shutdown is seen soon.
    static constexpr std::chrono::milliseconds kLongestSleep{20};
    // The share of the learned frame time slept through before polling starts.
    static constexpr double kSleepShare = 0.85;

    void frameRequested(Clock::time_point at) { m_requestedAt = at; }
    // A frame completed: its request-to-completion time refines the estimate.
    void frameCompleted(Clock::time_point at);
    // Forget the estimate (a new integration time, a new capture).
    void reset() { m_expectedSeconds = 0.0; }

    // How long to sleep at `now` when the device has nothing new.
    Clock::duration pause(Clock::time_point now) const;
    // The learned request-to-frame time; zero while unknown.
    Clock::duration expectedFrameTime() const;

private:
    Clock::time_point m_requestedAt{};
    double m_expectedSeconds = 0.0; // 0: nothing learned yet
};
