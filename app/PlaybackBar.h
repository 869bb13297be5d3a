#pragma once

#include <QTimer>
#include <QWidget>

#include <vector>

class QCheckBox;
class QComboBox;
class QLabel;
class QPushButton;
class QShortcut;
class QSlider;
class RecordingPlayback;

// The playback bar under the live picture, shown while a recording is open:
// a slider over the frames (accessible name "Frame"), Play/Pause, the speed
// (the recorded pace or a chosen frames/s), "Frame k of N" with the frame's
// time, "Follow" for a file still being written, and "Close Recording". The
// window's keys step through the frames meanwhile: Left and Right, Space
// plays or pauses, Home and End.
//
// Thread contract: GUI thread only.
class PlaybackBar : public QWidget
{
    Q_OBJECT

public:
    static constexpr int kFollowIntervalMs = 500;
    // Chosen paces of the speed box after "Recorded pace".
    static constexpr double kChosenRates[] = {1.0, 5.0, 10.0, 25.0, 60.0};

    // The keys act on `window`.
    PlaybackBar(RecordingPlayback &playback, QWidget *window, QWidget *parent = nullptr);

    bool isPlaying() const { return m_playing; }
    // Play or pause (Space, the play button).
    void togglePlay();
    void step(int frames);
    void showFrame(int k);

    QSlider *slider() const { return m_slider; }
    QLabel *positionLabel() const { return m_position; }
    QComboBox *speedBox() const { return m_speed; }
    QCheckBox *followBox() const { return m_follow; }
    QPushButton *playButton() const { return m_play; }
    QPushButton *closeButton() const { return m_close; }
    // "Frame k of N" (k from 1) with the time of the frame.
    static QString positionText(int k, int count, double unixSeconds, double sinceFirst);

private:
    void recordingOpened();
    void recordingClosed();
    void frameShown(int k);
    void setPlaying(bool playing);
    void playNext();
    void scheduleNext();
    int nextIntervalMs() const;
    void follow();
    void buildKeys(QWidget *window);

    RecordingPlayback &m_playback;
    QSlider *m_slider = nullptr;
    QPushButton *m_play = nullptr;
    QComboBox *m_speed = nullptr;
    QLabel *m_position = nullptr;
    QCheckBox *m_follow = nullptr;
    QPushButton *m_close = nullptr;
    std::vector<QShortcut *> m_keys; // children of the window, enabled while a recording is open
    QTimer m_playTimer;              // single shot: the next frame at the chosen pace
    QTimer m_followTimer;            // looks for new frames while "Follow" is on
    bool m_playing = false;
};
