#include "analysis/ReceivedRate.h"

void ReceivedRate::add(qint64 ms, std::uint64_t received)
{
    if (!m_readings.empty() && received < m_readings.back().second)
        m_readings.clear();
    m_readings.emplace_back(ms, received);
    while (m_readings.front().first < ms - kWindowMs)
        m_readings.pop_front();
}

double ReceivedRate::framesPerSecond() const
{
    if (m_readings.size() < 2)
        return 0.0;
    const auto &[firstMs, firstCount] = m_readings.front();
    const auto &[lastMs, lastCount] = m_readings.back();
    if (lastMs <= firstMs)
        return 0.0;
    return double(lastCount - firstCount) * 1000.0 / double(lastMs - firstMs);
}
