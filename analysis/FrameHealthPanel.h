#pragma once

#include "acquisition/FrameHealth.h"

#include <QGroupBox>

class QLabel;

// How the capture is going: frames received, frames timed out and discarded
// (red once above zero: frames were lost), the rate frames arrive at, and the
// time since the capture started.
//
// Thread contract: GUI thread only.
class FrameHealthPanel : public QGroupBox
{
    Q_OBJECT

public:
    explicit FrameHealthPanel(QWidget *parent = nullptr);

    // nowMs: ms since the Unix epoch; framesPerSecond: the receiving rate.
    void showHealth(const FrameHealth &health, bool capturing, qint64 nowMs, double framesPerSecond);

private:
    // GUI thread only.
    QLabel *m_received = nullptr;
    QLabel *m_timedOut = nullptr;
    QLabel *m_discarded = nullptr;
    QLabel *m_rate = nullptr;
    QLabel *m_elapsed = nullptr;
};
