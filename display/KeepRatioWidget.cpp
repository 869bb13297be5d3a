#include "KeepRatioWidget.h"

#include <QEvent>
#include <QHBoxLayout>
#include <QLabel>
#include <QMouseEvent>
#include <QPixmap>
#include <QResizeEvent>

#include <cmath>

namespace {
constexpr int Cells = 128;
constexpr int LabelMargin = 2;
} // namespace

KeepRatioWidget::KeepRatioWidget(QWidget *parent)
    : QFrame(parent)
{
    container = new QWidget(this);
    containerLayout = new QHBoxLayout(container);
    label = new QLabel(container);
    containerLayout->addWidget(label);
    containerLayout->setContentsMargins(LabelMargin, LabelMargin, LabelMargin, LabelMargin);
    label->installEventFilter(this);
}

KeepRatioWidget::~KeepRatioWidget() = default;

void KeepRatioWidget::setImage(const QImage &picture)
{
    image = picture; // implicitly shared: no pixel copy
    showScaled();
}

void KeepRatioWidget::rescale()
{
    if (!image.isNull())
        showScaled();
}

void KeepRatioWidget::showScaled()
{
    const QImage scaled = image.scaled(label->size(), Qt::KeepAspectRatio, Qt::SmoothTransformation);
    label->setPixmap(QPixmap::fromImage(scaled));
}

QRect KeepRatioWidget::innerGeometry(QSize frameSize, int ratioWidth, int ratioHeight)
{
    const int w = frameSize.width();
    const int h = frameSize.height();
    const int widthNeeded = h * ratioWidth / ratioHeight;
    if (w < widthNeeded) {
        // The width is the limit.
        const int innerHeight = w * ratioHeight / ratioWidth;
        return QRect(0, (h - innerHeight) / 2, w, innerHeight);
    }
    const int innerWidth = h * ratioWidth / ratioHeight;
    return QRect((w - innerWidth) / 2, 0, innerWidth, h);
}

void KeepRatioWidget::resizeEvent(QResizeEvent *event)
{
    // The picture is not rescaled here: the window asks for that (rescale()).
    container->setGeometry(innerGeometry(event->size(), ratioWidth, ratioHeight));
}

QPoint KeepRatioWidget::cellAt(QPoint labelPosition, QSize labelSize)
{
    const double column = std::floor(double(labelPosition.x()) / labelSize.width() * double(Cells));
    const double row = std::floor(double(labelPosition.y()) / labelSize.height() * double(Cells));
    return QPoint(int(column), int(row));
}

bool KeepRatioWidget::eventFilter(QObject *obj, QEvent *event)
{
    if (obj == label
        && (event->type() == QEvent::MouseButtonPress || event->type() == QEvent::MouseButtonDblClick)) {
        auto *mouse = static_cast<QMouseEvent *>(event);
        if (mouse->button() == Qt::LeftButton) {
            const QPoint cell = cellAt(mouse->position().toPoint(), label->size());
            if (event->type() == QEvent::MouseButtonPress)
                emit click_coor(cell.x(), cell.y());
            else
                emit dblClick_coor(cell.x(), cell.y());
        }
    }
    // The label still receives every event.
    return QObject::eventFilter(obj, event);
}
