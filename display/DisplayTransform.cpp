#include "display/DisplayTransform.h"

#include "acquisition/FrameTypes.h"

#include <QTransform>

namespace {

constexpr int kLastCell = Zk128::Side - 1;

// A quarter turn clockwise on screen, as QTransform::rotate(90) turns the picture.
QPoint quarterTurn(QPoint cell)
{
    return QPoint(kLastCell - cell.y(), cell.x());
}

QPoint mirrored(QPoint cell, bool horizontal, bool vertical)
{
    return QPoint(horizontal ? kLastCell - cell.x() : cell.x(), vertical ? kLastCell - cell.y() : cell.y());
}

// The rectangle with these two cells at opposite corners.
QRect spanning(QPoint a, QPoint b)
{
    return QRect(QPoint(qMin(a.x(), b.x()), qMin(a.y(), b.y())), QPoint(qMax(a.x(), b.x()), qMax(a.y(), b.y())));
}

QPoint quarterTurns(QPoint cell, int turns)
{
    for (int i = 0; i < turns; ++i)
        cell = quarterTurn(cell);
    return cell;
}

} // namespace

void DisplayTransform::rotate()
{
    rotationAngle += 90;
    if (rotationAngle >= 360)
        rotationAngle = 0;
}

QImage DisplayTransform::apply(const QImage &frame) const
{
    QTransform transform;
    transform.rotate(rotationAngle, Qt::ZAxis);
    return frame.transformed(transform, Qt::SmoothTransformation).mirrored(mirrorHorizontal, mirrorVertical);
}

QPoint DisplayTransform::displayedCell(QPoint sensor) const
{
    return mirrored(quarterTurns(sensor, rotationAngle / 90), mirrorHorizontal, mirrorVertical);
}

QPoint DisplayTransform::sensorCell(QPoint displayed) const
{
    // A mirror undoes itself; three more quarter turns undo the rotation.
    return quarterTurns(mirrored(displayed, mirrorHorizontal, mirrorVertical), (4 - rotationAngle / 90) % 4);
}

QRect DisplayTransform::displayedRect(const QRect &sensor) const
{
    if (sensor.isNull())
        return QRect();
    return spanning(displayedCell(sensor.topLeft()), displayedCell(sensor.bottomRight()));
}

QRect DisplayTransform::sensorRect(const QRect &displayed) const
{
    if (displayed.isNull())
        return QRect();
    return spanning(sensorCell(displayed.topLeft()), sensorCell(displayed.bottomRight()));
}
