#pragma once

#include "acquisition/FrameTypes.h"

#include <sys/time.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

// Carries the worker's frames to the event system on a thread of its own, so
// the capture loop never waits for a client: the worker hands over each frame
// (offer), the pump publishes the newest one as soon as it may, at most
// maxRate() times a second (0: every frame), and calls `tick` every kTickMs for
// the slower readings. A frame that arrives while the previous one is still
// being published replaces it.
//
// Thread contract: offer() on the worker thread; latest(), setMaxRate(),
// restart() from any thread; `publish` and `tick` run on the pump's thread,
// which is an omniORB thread (Tango's event calls need one) and holds no lock
// of the pump while it calls them. `m_mutex` guards the frame slot.
class FrameEventPump
{
public:
    static constexpr int kTickMs = 100;

    struct Frame {
        CurrentFrame currents;            // nA, row = y
        std::vector<std::uint8_t> gray;   // the recorded gray levels
        std::uint64_t number = 0;         // 1 for the first frame of a capture
        timeval arrived{};                // when the worker handed it over
    };
    using Publish = std::function<void(const Frame &frame)>;
    using Tick = std::function<void()>;

    FrameEventPump(Publish publish, Tick tick);
    ~FrameEventPump();
    FrameEventPump(const FrameEventPump &) = delete;
    FrameEventPump &operator=(const FrameEventPump &) = delete;

    void offer(const CurrentFrame &currents, const std::vector<std::uint8_t> &gray);
    // The newest frame; false before the first.
    bool latest(Frame &frame) const;
    // Frames handed over since the last restart.
    std::uint64_t frames() const { return m_offered.load(); }
    // Numbers the frames from 1 again (a new capture).
    void restart();
    void setMaxRate(double perSecond) { m_maxRate.store(perSecond); }
    double maxRate() const { return m_maxRate.load(); }
    // Ends the pump's thread, waiting at most `patience`; publish and tick are
    // not called afterwards. False when the thread is stuck in a publish (a
    // client that stopped reading holds Tango's image events): the thread is
    // then left to the process's end and the pump must not be destroyed.
    bool finish(std::chrono::milliseconds patience = std::chrono::milliseconds(5000));

private:
    using Clock = std::chrono::steady_clock;

    void run();
    void publishUntilQuit();
    bool due(Clock::time_point now);

    const Publish m_publish;
    const Tick m_tick;
    std::atomic<double> m_maxRate{0.0};
    std::atomic<std::uint64_t> m_offered{0};

    mutable std::mutex m_mutex;  // guards the slot below
    std::condition_variable m_arrived;
    Frame m_newest;              // the newest frame
    bool m_fresh = false;        // m_newest not yet published
    bool m_quit = false;
    bool m_ended = false;        // the thread has left run()
    std::condition_variable m_endedCondition;

    // The pump's thread only.
    Frame m_sending;
    Clock::time_point m_nextDue{};
    std::thread m_thread;        // started last, in the constructor
};
