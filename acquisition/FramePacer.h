#pragma once

#include <chrono>

// Decides how long the acquisition loop sleeps before it asks the device for
// bytes again, so that waiting for a frame costs no core. It learns how long
// the device takes from a frame request to a complete frame (integration plus
// transfer) and sleeps through most of that time. Around the moment the frame
// is due it asks again at once (a pause of zero): a sleep there, woken late by
// the system's timer, would cost a short frame a good part of its time. Past
// that window it polls briefly. Until it has seen a frame it only polls.
//
// Thread contract: owned and used by the acquisition thread only.
class FramePacer
{
public:
    using Clock = std::chrono::steady_clock;

    static constexpr std::chrono::microseconds kPollInterval{50};
    // Sleeps are cut into pieces of at most this, so a shutdown is seen soon.
    static constexpr std::chrono::milliseconds kLongestSleep{20};
    // The share of the learned frame time slept through at least.
    static constexpr double kSleepShare = 0.85;
    // The window around the expected frame in which the loop asks without
    // sleeping: from this long before it ...
    static constexpr std::chrono::microseconds kEagerLead{600};
    // ... to this long after it.
    static constexpr std::chrono::microseconds kEagerTail{1000};

    void frameRequested(Clock::time_point at) { m_requestedAt = at; }
    // A frame completed: its request-to-completion time refines the estimate.
    void frameCompleted(Clock::time_point at);
    // Forget the estimate (a new integration time, a new capture).
    void reset() { m_expectedSeconds = 0.0; }

    // How long to sleep at `now` when the device has nothing new; zero means
    // ask again at once.
    Clock::duration pause(Clock::time_point now) const;
    // The learned request-to-frame time; zero while unknown.
    Clock::duration expectedFrameTime() const;

private:
    Clock::time_point m_requestedAt{};
    double m_expectedSeconds = 0.0; // 0: nothing learned yet
};
