#pragma once

#include <QImage>

// How the live picture is turned before it is shown: rotated by a multiple of
// 90 degrees first, mirrored second. Value type, GUI thread.
class DisplayTransform
{
public:
    int angle() const { return rotationAngle; }
    bool horizontal() const { return mirrorHorizontal; }
    bool vertical() const { return mirrorVertical; }

    // +90 degrees; back to 0 once the sum reaches 360.
    void rotate();
    void toggleHorizontal() { mirrorHorizontal = !mirrorHorizontal; }
    void toggleVertical() { mirrorVertical = !mirrorVertical; }

    QImage apply(const QImage &frame) const;

private:
    int rotationAngle = 0; // 0, 90, 180 or 270
    bool mirrorHorizontal = false;
    bool mirrorVertical = false;
};
