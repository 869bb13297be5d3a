#include "display/FrameRateMeter.h"

void FrameRateMeter::addIntervalNs(qint64 elapsedNs)
{
    frameTimeSum += elapsedNs;
    ++frameCount;
}

void FrameRateMeter::addFrames(int frames, qint64 spanNs)
{
    frameTimeSum += spanNs;
    frameCount += frames;
}

QString FrameRateMeter::takeReading()
{
    QString text;
    if (frameCount < 1) {
        text = QStringLiteral("FPS: 0");
    } else if (frameTimeSum <= 0) {
        // Only a clock that did not move can give this; there is no rate to show.
        text = QStringLiteral("FPS: 0");
    } else {
        const double fps = 1e9 / (double(frameTimeSum) / frameCount);
        text = QStringLiteral("FPS: %1").arg(fps, 0, 'f', 1);
    }
    frameCount = 0;
    frameTimeSum = 0;
    return text;
}
