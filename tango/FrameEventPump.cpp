#include "tango/FrameEventPump.h"

#include <omnithread.h>

FrameEventPump::FrameEventPump(Publish publish, Tick tick)
    : m_publish(std::move(publish))
    , m_tick(std::move(tick))
{
    m_thread = std::thread([this] { run(); });
}

FrameEventPump::~FrameEventPump()
{
    if (m_thread.joinable())
        m_thread.join();
}

bool FrameEventPump::finish(std::chrono::milliseconds patience)
{
    if (!m_thread.joinable())
        return true;
    std::unique_lock<std::mutex> lock(m_mutex);
    m_quit = true;
    m_arrived.notify_all();
    if (!m_endedCondition.wait_for(lock, patience, [this] { return m_ended; })) {
        m_thread.detach();
        return false;
    }
    lock.unlock();
    m_thread.join();
    return true;
}

void FrameEventPump::offer(const CurrentFrame &currents, const std::vector<std::uint8_t> &gray)
{
    timeval now{};
    gettimeofday(&now, nullptr);
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_newest.currents.assign(currents.begin(), currents.end());
        m_newest.gray.assign(gray.begin(), gray.end());
        m_newest.number = m_offered.fetch_add(1) + 1;
        m_newest.arrived = now;
        m_fresh = true;
    }
    m_arrived.notify_one();
}

bool FrameEventPump::latest(Frame &frame) const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    if (m_newest.number == 0)
        return false;
    frame = m_newest;
    return true;
}

void FrameEventPump::restart()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_offered.store(0);
    m_fresh = false;
}

bool FrameEventPump::due(Clock::time_point now)
{
    const double rate = m_maxRate.load();
    if (rate <= 0.0)
        return true;
    if (now < m_nextDue)
        return false;
    const auto period = std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(1.0 / rate));
    // Keeps the average at the rate while frames come faster; after a pause
    // the schedule starts again from now.
    m_nextDue = (m_nextDue + period < now) ? now + period : m_nextDue + period;
    return true;
}

void FrameEventPump::run()
{
    omni_thread::ensure_self omniThread; // Tango's event calls expect an omniORB thread
    publishUntilQuit();
    std::lock_guard<std::mutex> lock(m_mutex);
    m_ended = true;
    m_endedCondition.notify_all();
}

void FrameEventPump::publishUntilQuit()
{
    auto nextTick = Clock::now() + std::chrono::milliseconds(kTickMs);
    for (;;) {
        bool publishNow = false;
        {
            std::unique_lock<std::mutex> lock(m_mutex);
            m_arrived.wait_until(lock, nextTick, [this] { return m_quit || m_fresh; });
            if (m_quit)
                return;
            if (m_fresh && due(Clock::now())) {
                m_sending = m_newest; // latest() keeps the newest frame
                m_fresh = false;
                publishNow = true;
            } else if (m_fresh) {
                m_fresh = false; // too early for the rate: the next frame will do
            }
        }
        if (publishNow)
            m_publish(m_sending);
        if (Clock::now() >= nextTick) {
            m_tick();
            nextTick = Clock::now() + std::chrono::milliseconds(kTickMs);
        }
    }
}
