#include "app/RecordingExport.h"

#include "acquisition/SaveRunFeeder.h"
#include "app/PlayedFrame.h"
#include "app/RecordingPlayback.h"
#include "services/EventLog.h"

RecordingExport::RecordingExport(std::shared_ptr<SharedRecording> recording, int first, int count,
                                 SaveRunFeeder &saveRuns, EventLog &log)
    : m_recording(std::move(recording))
    , m_saveRuns(saveRuns)
    , m_log(log)
    , m_thread([this, first, count] { run(first, count); })
{
}

RecordingExport::~RecordingExport()
{
    stop(QStringLiteral("the recording was closed"));
}

void RecordingExport::stop(const QString &reason)
{
    m_stop.store(true);
    if (!m_done.load())
        m_saveRuns.end(reason); // also wakes a frame waiting for room in the writer
    if (m_thread.joinable())
        m_thread.join();
}

void RecordingExport::run(int first, int count)
{
    // The run may also end without the export (the console closing ends it).
    for (int k = first; k < first + count && !m_stop.load() && m_saveRuns.isArmed(); ++k) {
        QString error;
        const FramePtr frame = m_recording->readFrame(k, &error);
        if (!frame) {
            const QString reason = QStringLiteral("frame %1 of the recording could not be read").arg(k + 1);
            m_log.line(QStringLiteral("Export: %1: %2").arg(reason, error).toUtf8());
            m_saveRuns.end(reason);
            break;
        }
        m_saveRuns.consume(PlayedFrame::renumbered(*frame, std::uint64_t(k) + 1));
    }
    m_done.store(true);
}
