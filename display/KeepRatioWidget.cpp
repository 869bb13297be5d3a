#include "display/KeepRatioWidget.h"

#include "acquisition/FrameTypes.h"

#include <QEvent>
#include <QHBoxLayout>
#include <QLabel>
#include <QMouseEvent>
#include <QPainter>
#include <QPixmap>
#include <QResizeEvent>
#include <QRubberBand>

#include <opencv2/imgproc.hpp>

#include <cmath>

namespace {
constexpr int Cells = Zk128::Side;
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
    m_rubberBand = new QRubberBand(QRubberBand::Rectangle, label);
}

KeepRatioWidget::~KeepRatioWidget() = default;

void KeepRatioWidget::setImage(const QImage &picture)
{
    image = picture; // implicitly shared: no pixel copy
    if (image.isNull())
        label->clear(); // no picture: an empty view
    else
        showScaled();
}

void KeepRatioWidget::rescale()
{
    if (!image.isNull())
        showScaled();
}

QImage KeepRatioWidget::smoothlyScaled(const QImage &picture, QSize bounds)
{
    // Bilinear, as Qt's smooth scale, but OpenCV's vectorised resize: a live
    // view filling a large screen is redrawn up to 60 times a second. The
    // 32-bit result is what a pixmap holds, so taking it copies nothing more.
    const QSize size = picture.size().scaled(bounds, Qt::KeepAspectRatio);
    if (picture.isNull() || size.isEmpty())
        return QImage();
    const QImage source = picture.convertToFormat(QImage::Format_RGB32);
    QImage scaled(size, QImage::Format_RGB32);
    const cv::Mat from(source.height(), source.width(), CV_8UC4, const_cast<uchar *>(source.constBits()),
                       std::size_t(source.bytesPerLine()));
    cv::Mat to(scaled.height(), scaled.width(), CV_8UC4, scaled.bits(), std::size_t(scaled.bytesPerLine()));
    cv::resize(from, to, to.size(), 0, 0, cv::INTER_LINEAR);
    return scaled;
}

void KeepRatioWidget::showScaled()
{
    QPixmap pixmap = QPixmap::fromImage(smoothlyScaled(image, label->size()));
    if (!m_overlay.isNull()) {
        // White under black dashes: visible on every colour map.
        QPainter painter(&pixmap);
        const QRect outline = cellPixels(m_overlay, pixmap.size());
        painter.setPen(QPen(Qt::white, 1));
        painter.drawRect(outline);
        painter.setPen(QPen(Qt::black, 1, Qt::DashLine));
        painter.drawRect(outline);
    }
    label->setPixmap(pixmap);
}

QRect KeepRatioWidget::cellPixels(const QRect &cells, QSize pictureSize)
{
    const auto edge = [](int cell, int pixels) { return cell * pixels / Cells; };
    return QRect(QPoint(edge(cells.left(), pictureSize.width()), edge(cells.top(), pictureSize.height())),
                 QPoint(edge(cells.right() + 1, pictureSize.width()) - 1,
                        edge(cells.bottom() + 1, pictureSize.height()) - 1));
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
    const QRect inner = innerGeometry(event->size(), ratioWidth, ratioHeight);
    // A label of fixed size keeps each new picture from asking the whole
    // window to lay itself out again.
    label->setFixedSize((inner.size() - QSize(2 * LabelMargin, 2 * LabelMargin)).expandedTo(QSize(0, 0)));
    container->setGeometry(inner);
}

QPoint KeepRatioWidget::cellAt(QPoint labelPosition, QSize labelSize)
{
    const double column = std::floor(double(labelPosition.x()) / labelSize.width() * double(Cells));
    const double row = std::floor(double(labelPosition.y()) / labelSize.height() * double(Cells));
    return QPoint(int(column), int(row));
}

QPoint KeepRatioWidget::clampedCellAt(const QMouseEvent *mouse) const
{
    // A drag may end outside the picture: it then stops at the border cells.
    const QPoint cell = cellAt(mouse->position().toPoint(), label->size());
    return QPoint(qBound(0, cell.x(), Cells - 1), qBound(0, cell.y(), Cells - 1));
}

bool KeepRatioWidget::eventFilter(QObject *obj, QEvent *event)
{
    const QEvent::Type type = event->type();
    if (obj == label
        && (type == QEvent::MouseButtonPress || type == QEvent::MouseButtonDblClick || type == QEvent::MouseMove
            || type == QEvent::MouseButtonRelease)) {
        auto *mouse = static_cast<QMouseEvent *>(event);
        if (mouse->button() == Qt::LeftButton)
            leftButton(type, clampedCellAt(mouse));
        else if (mouse->button() == Qt::RightButton || (type == QEvent::MouseMove && m_dragStart))
            rightButton(type, clampedCellAt(mouse));
    }
    // The label still receives every event.
    return QObject::eventFilter(obj, event);
}

void KeepRatioWidget::leftButton(QEvent::Type type, QPoint cell)
{
    if (type == QEvent::MouseButtonPress)
        emit cellClicked(cell.x(), cell.y());
    else if (type == QEvent::MouseButtonDblClick)
        emit cellDoubleClicked(cell.x(), cell.y());
}

void KeepRatioWidget::rightButton(QEvent::Type type, QPoint cell)
{
    if (type == QEvent::MouseButtonPress) {
        m_dragStart = cell;
    } else if (!m_dragStart) {
        return; // a double-click's second press, or a release whose press went elsewhere
    }
    const QRect spanned(QPoint(qMin(m_dragStart->x(), cell.x()), qMin(m_dragStart->y(), cell.y())),
                        QPoint(qMax(m_dragStart->x(), cell.x()), qMax(m_dragStart->y(), cell.y())));
    if (type != QEvent::MouseButtonRelease) {
        m_rubberBand->setGeometry(cellPixels(spanned, label->size()));
        m_rubberBand->show();
        return;
    }
    const bool stayed = cell == *m_dragStart;
    m_dragStart.reset();
    m_rubberBand->hide();
    if (stayed)
        emit regionCleared();
    else
        emit regionDragged(spanned);
}
