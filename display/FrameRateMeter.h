#pragma once

#include <QtGlobal>
#include <QString>

// Counts live frames and turns the mean interval of one readout period into
// the frame-rate text. The caller hands it the frames with the time they
// took (from the frames' own arrival times). GUI thread only.
class FrameRateMeter
{
public:
    // Counts a frame that arrived elapsedMs after the previous one (for tests
    // and benchmarks that supply their own clock).
    void addInterval(qint64 elapsedMs) { addIntervalNs(elapsedMs * 1000000); }
    void addIntervalNs(qint64 elapsedNs);
    // Counts `frames` frames that together took spanNs after the last one counted.
    void addFrames(int frames, qint64 spanNs);

    // "FPS: 0" without frames, else "FPS: %1" with one decimal; starts a new period.
    QString takeReading();

    int count() const { return frameCount; }
    static QString firstFrameText() { return QStringLiteral("FPS : N/A"); }

private:
    int frameCount = 0;
    // Sum of the intervals counted this period, in nanoseconds: summing whole
    // milliseconds would drop the fraction of every interval and overstate
    // the rate once frames come faster than a few hundred a second.
    qint64 frameTimeSum = 0;
};
