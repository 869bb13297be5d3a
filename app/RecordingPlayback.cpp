#include "app/RecordingPlayback.h"

#include "acquisition/FrameRendering.h"
#include "acquisition/FrameTypes.h"
#include "acquisition/LiveFrameCopy.h"
#include "acquisition/LoopParking.h"
#include "acquisition/PixelReadout.h"
#include "acquisition/ReferenceCalibration.h"
#include "acquisition/SaveRunFeeder.h"
#include "app/PlayedFrame.h"
#include "app/RecordingExport.h"
#include "app/RunRegionMeans.h"
#include "display/DisplayPipeline.h"
#include "services/EventLog.h"

#include <QDropEvent>
#include <QEvent>
#include <QFileDialog>
#include <QLayout>
#include <QPushButton>
#include <QVBoxLayout>
#include <QMimeData>
#include <QProgressDialog>
#include <QUrl>
#include <QWidget>

#include <algorithm>
#include <cmath>
#include <limits>

namespace {

// A long CSV index shows its progress; a quick opening shows nothing.
constexpr int kProgressDelayMs = 400;
constexpr int kProgressSteps = 1000;
// How long the capture loop may take to come to rest after a stop.
constexpr int kParkingWaitMs = 2000;

// A reference the run does not hold (empty, or all NaN as an HDF5 run
// writes one never measured) is the console's default for the run's range.
std::vector<double> referenceOrDefault(const std::vector<double> &stored, double fallback)
{
    const bool usable = stored.size() == std::size_t(Zk128::PixelCount)
        && std::any_of(stored.begin(), stored.end(), [](double value) { return std::isfinite(value); });
    return usable ? stored : std::vector<double>(std::size_t(Zk128::PixelCount), fallback);
}

QString droppedPath(const QMimeData *mime)
{
    if (!mime || !mime->hasUrls() || mime->urls().size() != 1 || !mime->urls().constFirst().isLocalFile())
        return QString();
    return mime->urls().constFirst().toLocalFile();
}

} // namespace

RecordingPlayback::RecordingPlayback(const PlaybackTargets &targets, ConsoleState &state, DisplayPipeline &pipeline,
                                     CaptureLock lockCapture, EventLog &log, OperatorMessage::Sink message,
                                     QObject *parent)
    : QObject(parent)
    , m_targets(targets)
    , m_state(state)
    , m_pipeline(pipeline)
    , m_lockCapture(std::move(lockCapture))
    , m_log(log)
    , m_message(std::move(message))
    , m_opener([](const QString &path, QString *error, const RecordingOpener::Progress &progress) {
        return RecordingOpener::open(path, error, progress);
    })
    , m_chooseFile([] {
        return QFileDialog::getOpenFileName(nullptr, QStringLiteral("Open Recording"), QString(),
                                            QStringLiteral("Recordings (*.h5 *_current.csv)"));
    })
{
}

QPushButton *RecordingPlayback::buildOpenButton(QVBoxLayout *pageLayout, QWidget *above)
{
    auto *section = new QWidget(above->parentWidget());
    section->setStyleSheet(above->styleSheet());
    auto *layout = new QVBoxLayout(section);
    const QMargins margins = above->layout() ? above->layout()->contentsMargins() : QMargins();
    layout->setContentsMargins(margins.left(), 0, margins.right(), 0);
    auto *button = new QPushButton(QStringLiteral("Open Recording\u2026"), section);
    button->setObjectName(QStringLiteral("openRecordingButton"));
    layout->addWidget(button);
    pageLayout->insertWidget(pageLayout->indexOf(above) + 1, section);
    connect(button, &QPushButton::clicked, this, &RecordingPlayback::chooseAndOpen);
    return button;
}

void RecordingPlayback::chooseAndOpen()
{
    const QString chosen = m_chooseFile();
    if (!chosen.isEmpty())
        open(chosen);
}

RecordingPlayback::~RecordingPlayback()
{
    endOpeningThread();
    endExport();
    m_means.reset();
}

void RecordingPlayback::attachTo(QWidget *window)
{
    m_window = window;
    window->setAcceptDrops(true);
    window->installEventFilter(this);
}

bool RecordingPlayback::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == m_window && (event->type() == QEvent::DragEnter || event->type() == QEvent::Drop)) {
        auto *drop = static_cast<QDropEvent *>(event);
        const QString path = droppedPath(drop->mimeData());
        if (path.isEmpty())
            return false;
        drop->acceptProposedAction();
        if (event->type() == QEvent::Drop)
            open(path);
        return true;
    }
    return QObject::eventFilter(watched, event);
}

QString RecordingPlayback::path() const
{
    return isOpen() ? m_shared->recording->path() : QString();
}

void RecordingPlayback::open(const QString &path)
{
    if (isOpening())
        return;
    m_log.line(QStringLiteral("Opening the recording %1.").arg(path).toUtf8());
    m_cancelOpening.store(false);
    m_progress = new QProgressDialog(QStringLiteral("Reading the recording..."), QStringLiteral("Cancel"), 0,
                                     kProgressSteps, m_window);
    m_progress->setWindowTitle(QStringLiteral("Open Recording"));
    m_progress->setMinimumDuration(kProgressDelayMs);
    m_progress->setAutoClose(false);
    m_progress->setAutoReset(false);
    m_progress->setWindowModality(Qt::WindowModal);
    connect(m_progress.data(), &QProgressDialog::canceled, this, [this] { m_cancelOpening.store(true); });
    const Opener opener = m_opener;
    m_opening = std::thread([this, opener, path] {
        QString error;
        // One posted step per visible step, however often the opener reports.
        const auto progress = [this, shown = -1](double fraction) mutable {
            const int step = int(std::clamp(fraction, 0.0, 1.0) * kProgressSteps);
            if (step != shown) {
                shown = step;
                QMetaObject::invokeMethod(this, [this, step] { showProgress(step); }, Qt::QueuedConnection);
            }
            return !m_cancelOpening.load();
        };
        auto opened = std::make_shared<SharedRecording>();
        opened->recording = opener(path, &error, progress);
        if (!opened->recording)
            opened.reset();
        QMetaObject::invokeMethod(
            this, [this, opened, error, path] { finishOpening(opened, error, path); }, Qt::QueuedConnection);
    });
}

void RecordingPlayback::showProgress(int step)
{
    if (m_progress)
        m_progress->setValue(step);
}

void RecordingPlayback::endOpeningThread()
{
    m_cancelOpening.store(true);
    if (m_opening.joinable())
        m_opening.join();
    // The opening may end inside the dialog's own setValue (a modal progress
    // dialog runs the event loop there): it goes once that call has returned.
    if (m_progress) {
        m_progress->hide();
        m_progress->deleteLater();
        m_progress = nullptr;
    }
}

void RecordingPlayback::finishOpening(std::shared_ptr<SharedRecording> opened, const QString &error,
                                      const QString &path)
{
    const bool cancelled = m_cancelOpening.load();
    endOpeningThread();
    if (!opened || opened->recording->frameCount() < 1) {
        if (cancelled && !opened)
            return; // the operator called it off
        const QString sentence = !opened ? error
                                         : QStringLiteral("The recording %1 holds no whole frame.").arg(path);
        m_log.line(QStringLiteral("The recording could not be opened: %1").arg(sentence).toUtf8());
        emit openFailed(sentence);
        m_message(sentence);
        return;
    }
    takeOver(std::move(opened));
    const QString notice = m_shared->recording->notice();
    if (!notice.isEmpty()) {
        m_log.line(notice.toUtf8());
        m_message(notice);
    }
}

void RecordingPlayback::takeOver(std::shared_ptr<SharedRecording> opened)
{
    if (isOpen())
        close();
    // The capture ends first and the loop comes to rest: from now on only
    // the playback feeds the consumers, and nothing talks to the device.
    m_state.recordingOpen = true;
    if (m_lockCapture)
        m_lockCapture(true);
    m_targets.loop.waitUntilParked(kParkingWaitMs);
    m_liveFrame = m_targets.rendering.newestFrame();
    m_liveReferences = m_targets.references.snapshot();
    m_shared = std::move(opened);
    m_frameCount = m_shared->recording->frameCount();
    m_current = 0;
    m_sequence = m_liveFrame ? m_liveFrame->index : 0;
    m_pipeline.restartFrom(m_sequence);
    applyRunReferences();
    m_log.line(QStringLiteral("Recording opened: %1, %2 frames.").arg(path()).arg(m_frameCount).toUtf8());
    showFrame(0);
    emit recordingOpened();
}

void RecordingPlayback::applyRunReferences()
{
    const RunReferences stored = m_shared->recording->references();
    const double range = m_shared->recording->metadata().currentRangeNa;
    RunReferences run;
    run.fullOff = referenceOrDefault(stored.fullOff, 0.0);
    run.fullOn = referenceOrDefault(stored.fullOn, range);
    run.fullOffTaken = stored.fullOffTaken;
    run.fullOnTaken = stored.fullOnTaken;
    m_targets.references.setReferences(run);
}

void RecordingPlayback::close()
{
    if (!isOpen())
        return;
    endExport();
    m_means.reset();
    m_log.line(QStringLiteral("Recording closed: %1.").arg(path()).toUtf8());
    m_shared.reset();
    m_frameCount = 0;
    m_current = 0;
    giveBack();
    m_state.recordingOpen = false;
    if (m_lockCapture)
        m_lockCapture(false);
    emit recordingClosed();
}

void RecordingPlayback::giveBack()
{
    m_targets.references.setReferences(m_liveReferences);
    m_targets.liveFrames.consume(m_liveFrame);
    m_targets.rendering.consume(m_liveFrame);
    if (m_liveFrame) {
        m_targets.readout.consume(m_liveFrame);
        m_pipeline.restartFrom(m_liveFrame->index - 1); // the live picture is drawn again
    } else {
        m_pipeline.restartFrom(0);
        m_pipeline.clearPicture();
    }
    m_liveFrame.reset();
}

void RecordingPlayback::endExport()
{
    if (m_export)
        m_export->stop(QStringLiteral("the recording was closed"));
    m_export.reset();
}

double RecordingPlayback::frameTime(int k) const
{
    if (!isOpen() || k < 0 || k >= m_frameCount)
        return std::numeric_limits<double>::quiet_NaN();
    std::lock_guard<std::mutex> lock(m_shared->mutex);
    return m_shared->recording->frameTime(k);
}

std::optional<RunSpan> RecordingPlayback::runSpan() const
{
    if (!isOpen())
        return std::nullopt;
    return RunSpan{frameTime(0), frameTime(m_frameCount - 1)};
}

bool RecordingPlayback::canFollow() const
{
    if (!isOpen())
        return false;
    std::lock_guard<std::mutex> lock(m_shared->mutex);
    return m_shared->recording->canFollow();
}

int RecordingPlayback::refresh()
{
    if (!isOpen())
        return 0;
    std::lock_guard<std::mutex> lock(m_shared->mutex);
    m_frameCount = std::max(m_frameCount, m_shared->recording->refresh());
    return m_frameCount;
}

bool RecordingPlayback::showFrame(int k)
{
    if (!isOpen() || k < 0 || k >= m_frameCount)
        return false;
    QString error;
    const FramePtr frame = m_shared->readFrame(k, &error);
    if (!frame) {
        m_log.line(QStringLiteral("Frame %1 of the recording could not be read: %2").arg(k + 1).arg(error).toUtf8());
        return false;
    }
    m_current = k;
    const FramePtr played = PlayedFrame::renumbered(*frame, ++m_sequence);
    // The consumers the capture loop feeds, but for the save runs (an export
    // feeds those) and the references (the run brought its own).
    m_targets.readout.consume(played);
    m_targets.rendering.consume(played);
    m_targets.liveFrames.consume(played);
    // Drawn now rather than at the screen's next refresh: a slider or key
    // shows its frame at once.
    m_pipeline.refresh();
    emit frameShown(k);
    return true;
}

void RecordingPlayback::replayFrame()
{
    if (isOpen())
        showFrame(m_current);
}

RunMetadata RecordingPlayback::metadata() const
{
    return isOpen() ? m_shared->recording->metadata() : RunMetadata();
}

void RecordingPlayback::exportFrames(int count)
{
    if (!isOpen())
        return;
    endExport();
    m_log.line(QStringLiteral("Export of frames %1 to %2 of %3.")
                   .arg(m_current + 1)
                   .arg(m_current + count)
                   .arg(path())
                   .toUtf8());
    m_export = std::make_unique<RecordingExport>(m_shared, m_current, count, m_targets.saveRuns, m_log);
}

void RecordingPlayback::wholeSeries(const std::vector<int> &cells, std::vector<double> &seconds,
                                    std::vector<std::vector<double>> &currents)
{
    seconds.clear();
    currents.clear();
    if (!isOpen())
        return;
    std::lock_guard<std::mutex> lock(m_shared->mutex);
    Recording &recording = *m_shared->recording;
    const double start = recording.frameTime(0);
    for (int k = 0; k < m_frameCount; ++k)
        seconds.push_back(recording.frameTime(k) - start);
    for (int cell : cells)
        currents.push_back(recording.pixelSeries(cell % Zk128::Side, cell / Zk128::Side));
}

bool RecordingPlayback::runMeans(const QRect &region, std::uint64_t after, RunMeans &means)
{
    if (!isOpen())
        return false;
    const bool sameRegion = m_means && m_means->region() == region;
    if (!sameRegion || (m_means->isDone() && m_means->frames() != m_frameCount)) {
        m_means.reset(); // a measure of another region is not waited for
        m_means = std::make_unique<RunRegionMeans>(m_shared, region, m_frameCount, ++m_meansVersion);
        return false;
    }
    if (!m_means->isDone() || m_means->means().version <= after)
        return false;
    means = m_means->means();
    return true;
}
