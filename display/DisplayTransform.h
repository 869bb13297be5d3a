#pragma once

#include <QImage>
#include <QPoint>
#include <QRect>

// How the live picture is turned before it is shown: rotated by a multiple of
// 90 degrees first, mirrored second. Also maps cells of the 128 x 128 sensor
// between where they are on the sensor and where they are drawn, so that a
// click names the cell drawn under the pointer. Value type, GUI thread.
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

    // Where the sensor cell (column, row) is drawn, and the sensor cell drawn
    // at a displayed cell; both 0 to 127.
    QPoint displayedCell(QPoint sensor) const;
    QPoint sensorCell(QPoint displayed) const;
    // The same for rectangles of cells (turns and mirrors keep them rectangles).
    QRect displayedRect(const QRect &sensor) const;
    QRect sensorRect(const QRect &displayed) const;

private:
    int rotationAngle = 0; // 0, 90, 180 or 270
    bool mirrorHorizontal = false;
    bool mirrorVertical = false;
};
