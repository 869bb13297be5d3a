#include "DisplayTransform.h"

#include <QTransform>

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
