#include "acquisition/FramePacer.h"

#include <algorithm>

namespace {
// Weight of the newest frame in the running estimate: quick enough to follow a
// new integration time within a few frames, steady against a single late one.
constexpr double kNewestWeight = 0.25;
} // namespace

void FramePacer::frameCompleted(Clock::time_point at)
{
    const double seconds = std::chrono::duration<double>(at - m_requestedAt).count();
    if (seconds <= 0.0)
        return;
    m_expectedSeconds = m_expectedSeconds == 0.0 ? seconds
                                                 : (1.0 - kNewestWeight) * m_expectedSeconds + kNewestWeight * seconds;
}

FramePacer::Clock::duration FramePacer::expectedFrameTime() const
{
    return std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(m_expectedSeconds));
}

FramePacer::Clock::duration FramePacer::pause(Clock::time_point now) const
{
    if (m_expectedSeconds == 0.0)
        return kPollInterval;
    const Clock::duration expected = expectedFrameTime();
    const auto shareSlept = std::chrono::duration_cast<Clock::duration>(kSleepShare * expected);
    const Clock::time_point eagerFrom = m_requestedAt + std::max<Clock::duration>(shareSlept, expected - kEagerLead);
    if (now < eagerFrom)
        return std::min<Clock::duration>(eagerFrom - now, kLongestSleep);
    if (now <= m_requestedAt + expected + kEagerTail)
        return Clock::duration::zero();
    return kPollInterval;
}
