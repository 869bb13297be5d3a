#include "app/PlaybackBar.h"

#include "app/RecordingPlayback.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDateTime>
#include <QHBoxLayout>
#include <QKeySequence>
#include <QLabel>
#include <QPushButton>
#include <QShortcut>
#include <QSlider>

#include <algorithm>
#include <cmath>

namespace {

constexpr int kFallbackIntervalMs = 100; // the recorded pace of frames without times
constexpr int kLongestIntervalMs = 5000; // a pause in the run is not waited out in full

} // namespace

PlaybackBar::PlaybackBar(RecordingPlayback &playback, QWidget *window, QWidget *parent)
    : QWidget(parent)
    , m_playback(playback)
{
    setObjectName(QStringLiteral("playbackBar"));
    auto *layout = new QHBoxLayout(this);
    layout->setContentsMargins(0, 2, 0, 2);
    m_play = new QPushButton(QStringLiteral("Play"), this);
    m_play->setObjectName(QStringLiteral("playbackPlayButton"));
    m_slider = new QSlider(Qt::Horizontal, this);
    m_slider->setObjectName(QStringLiteral("playbackSlider"));
    m_slider->setAccessibleName(QStringLiteral("Frame"));
    m_slider->setPageStep(10);
    m_position = new QLabel(this);
    m_position->setObjectName(QStringLiteral("playbackPosition"));
    m_speed = new QComboBox(this);
    m_speed->setObjectName(QStringLiteral("playbackSpeed"));
    m_speed->setAccessibleName(QStringLiteral("Playback speed"));
    m_speed->addItem(QStringLiteral("Recorded pace"), 0.0);
    for (double rate : kChosenRates)
        m_speed->addItem(QStringLiteral("%1 frames/s").arg(rate), rate);
    m_follow = new QCheckBox(QStringLiteral("Follow"), this);
    m_follow->setObjectName(QStringLiteral("playbackFollow"));
    m_follow->setToolTip(QStringLiteral("Show new frames as the file grows"));
    m_close = new QPushButton(QStringLiteral("Close Recording"), this);
    m_close->setObjectName(QStringLiteral("closeRecordingButton"));
    layout->addWidget(m_play);
    layout->addWidget(m_slider, 1);
    layout->addWidget(m_position);
    layout->addWidget(m_speed);
    layout->addWidget(m_follow);
    layout->addWidget(m_close);
    hide();

    m_playTimer.setSingleShot(true);
    m_followTimer.setInterval(kFollowIntervalMs);
    connect(&m_playTimer, &QTimer::timeout, this, &PlaybackBar::playNext);
    connect(&m_followTimer, &QTimer::timeout, this, &PlaybackBar::follow);
    connect(m_play, &QPushButton::clicked, this, &PlaybackBar::togglePlay);
    connect(m_slider, &QSlider::valueChanged, this, &PlaybackBar::showFrame);
    connect(m_close, &QPushButton::clicked, &m_playback, &RecordingPlayback::close);
    connect(m_follow, &QCheckBox::toggled, this, [this](bool on) { on ? m_followTimer.start() : m_followTimer.stop(); });
    connect(&m_playback, &RecordingPlayback::recordingOpened, this, &PlaybackBar::recordingOpened);
    connect(&m_playback, &RecordingPlayback::recordingClosed, this, &PlaybackBar::recordingClosed);
    connect(&m_playback, &RecordingPlayback::frameShown, this, &PlaybackBar::frameShown);
    buildKeys(window);
}

void PlaybackBar::buildKeys(QWidget *window)
{
    const auto key = [this, window](QKeySequence sequence, auto action) {
        auto *shortcut = new QShortcut(sequence, window);
        shortcut->setEnabled(false);
        connect(shortcut, &QShortcut::activated, this, action);
        m_keys.push_back(shortcut);
    };
    key(QKeySequence(Qt::Key_Left), [this] { step(-1); });
    key(QKeySequence(Qt::Key_Right), [this] { step(1); });
    key(QKeySequence(Qt::Key_Space), [this] { togglePlay(); });
    key(QKeySequence(Qt::Key_Home), [this] { showFrame(0); });
    key(QKeySequence(Qt::Key_End), [this] { showFrame(m_playback.frameCount() - 1); });
}

QString PlaybackBar::positionText(int k, int count, double unixSeconds, double sinceFirst)
{
    const QString frame = QStringLiteral("Frame %1 of %2").arg(k + 1).arg(count);
    if (!std::isfinite(unixSeconds))
        return frame;
    const QString time = QDateTime::fromMSecsSinceEpoch(qint64(std::llround(unixSeconds * 1000.0)))
                             .toString(QStringLiteral("yyyy-MM-dd HH:mm:ss.zzz"));
    return QStringLiteral("%1, %2 (%3 s)").arg(frame, time, QString::number(sinceFirst, 'f', 3));
}

void PlaybackBar::recordingOpened()
{
    m_slider->blockSignals(true);
    m_slider->setRange(0, std::max(0, m_playback.frameCount() - 1));
    m_slider->setValue(m_playback.currentFrame());
    m_slider->blockSignals(false);
    m_follow->setChecked(false);
    m_follow->setEnabled(m_playback.canFollow());
    for (QShortcut *shortcut : m_keys)
        shortcut->setEnabled(true);
    frameShown(m_playback.currentFrame());
    show();
}

void PlaybackBar::recordingClosed()
{
    setPlaying(false);
    m_follow->setChecked(false);
    for (QShortcut *shortcut : m_keys)
        shortcut->setEnabled(false);
    hide();
}

void PlaybackBar::frameShown(int k)
{
    m_slider->blockSignals(true);
    m_slider->setMaximum(std::max(0, m_playback.frameCount() - 1));
    m_slider->setValue(k);
    m_slider->blockSignals(false);
    const double time = m_playback.frameTime(k);
    m_position->setText(positionText(k, m_playback.frameCount(), time, time - m_playback.frameTime(0)));
}

void PlaybackBar::showFrame(int k)
{
    k = std::clamp(k, 0, std::max(0, m_playback.frameCount() - 1));
    if (k != m_playback.currentFrame())
        m_playback.showFrame(k);
    else
        frameShown(k); // the slider goes back where the shown frame is
}

void PlaybackBar::step(int frames)
{
    setPlaying(false);
    showFrame(m_playback.currentFrame() + frames);
}

void PlaybackBar::togglePlay()
{
    if (!m_playback.isOpen())
        return;
    if (!m_playing && m_playback.currentFrame() >= m_playback.frameCount() - 1 && !m_follow->isChecked())
        m_playback.showFrame(0); // played to the end: from the start again
    setPlaying(!m_playing);
}

void PlaybackBar::setPlaying(bool playing)
{
    m_playing = playing;
    m_play->setText(playing ? QStringLiteral("Pause") : QStringLiteral("Play"));
    if (playing)
        scheduleNext();
    else
        m_playTimer.stop();
}

void PlaybackBar::scheduleNext()
{
    m_playTimer.start(nextIntervalMs());
}

int PlaybackBar::nextIntervalMs() const
{
    const double rate = m_speed->currentData().toDouble();
    if (rate > 0.0)
        return std::max(1, int(std::lround(1000.0 / rate)));
    const int k = m_playback.currentFrame();
    const double gap = m_playback.frameTime(k + 1) - m_playback.frameTime(k);
    if (!std::isfinite(gap) || gap < 0.0)
        return kFallbackIntervalMs;
    return std::clamp(int(std::lround(gap * 1000.0)), 1, kLongestIntervalMs);
}

void PlaybackBar::playNext()
{
    if (!m_playing)
        return;
    const int next = m_playback.currentFrame() + 1;
    if (next >= m_playback.frameCount()) {
        // At the end: a followed file waits for its next frame, otherwise playing ends.
        if (m_follow->isChecked())
            scheduleNext();
        else
            setPlaying(false);
        return;
    }
    m_playback.showFrame(next);
    scheduleNext();
}

void PlaybackBar::follow()
{
    const int before = m_playback.frameCount();
    const int now = m_playback.refresh();
    if (now > before)
        m_playback.showFrame(now - 1);
}
