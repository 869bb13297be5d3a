#include "app/RunRegionMeans.h"

#include "analysis/RegionStatistics.h"
#include "app/RecordingPlayback.h"

#include <limits>

RunRegionMeans::RunRegionMeans(std::shared_ptr<SharedRecording> recording, const QRect &region, int frames,
                               std::uint64_t version)
    : m_recording(std::move(recording))
    , m_region(region)
    , m_frames(frames)
    , m_means{version, region, {}, {}}
    , m_thread([this] { run(); })
{
}

RunRegionMeans::~RunRegionMeans()
{
    m_stop.store(true);
    if (m_thread.joinable())
        m_thread.join();
}

void RunRegionMeans::run()
{
    m_means.seconds.reserve(std::size_t(m_frames));
    m_means.means.reserve(std::size_t(m_frames));
    double first = 0.0;
    for (int k = 0; k < m_frames && !m_stop.load(); ++k) {
        FramePtr frame;
        double time = 0.0;
        {
            std::lock_guard<std::mutex> lock(m_recording->mutex);
            frame = m_recording->recording->frame(k);
            time = m_recording->recording->frameTime(k);
        }
        if (k == 0)
            first = time;
        // A frame that cannot be read has no mean; the others still count.
        m_means.seconds.push_back(time - first);
        m_means.means.push_back(frame ? RegionStatistics::measure(frame->currents, m_region).mean
                                      : std::numeric_limits<double>::quiet_NaN());
    }
    m_done.store(true, std::memory_order_release);
}
