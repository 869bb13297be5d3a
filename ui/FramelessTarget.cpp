#include "ui/FramelessTarget.h"

#include "ui/FramelessHelper.h"

#include <QHoverEvent>
#include <QMouseEvent>
#include <QRubberBand>
#include <QWidget>

EdgeHits EdgeHits::test(const QPoint &global, const QRect &frame, int grip)
{
    const int x = global.x(), y = global.y();
    const int fx = frame.x(), fy = frame.y(), fw = frame.width(), fh = frame.height();
    EdgeHits hits;
    hits.left = fx <= x && x <= fx + grip;
    hits.right = fx + fw - grip <= x && x <= fx + fw;
    hits.top = fy <= y && y <= fy + grip;
    hits.bottom = fy + fh - grip <= y && y <= fy + fh;
    hits.topLeft = hits.top && hits.left;
    hits.bottomLeft = hits.bottom && hits.left;
    hits.topRight = hits.top && hits.right;
    hits.bottomRight = hits.bottom && hits.right;
    hits.any = hits.left || hits.right || hits.top || hits.bottom;
    return hits;
}

FramelessTarget::FramelessTarget(const FramelessOptions *options, QWidget *widget)
    : m_options(options)
    , m_widget(widget)
    , m_savedFlags(widget->windowFlags())
{
    updateRubberBand();
    // Moves must arrive without a pressed button so the cursor can follow
    // the edges.
    m_widget->setAttribute(Qt::WA_MouseTracking, true);
    m_widget->setAttribute(Qt::WA_Hover, true);
}

FramelessTarget::~FramelessTarget()
{
    delete m_rubberBand;
}

void FramelessTarget::restoreWidget()
{
    m_widget->setAttribute(Qt::WA_MouseTracking, false);
    m_widget->setWindowFlags(m_savedFlags);
    m_widget->setAttribute(Qt::WA_Hover, false);
}

void FramelessTarget::updateRubberBand()
{
    const bool wanted = m_options->moveRubberBand || m_options->resizeRubberBand;
    if (!wanted && m_rubberBand) {
        delete m_rubberBand;
        m_rubberBand = nullptr;
    } else if (wanted && !m_rubberBand) {
        m_rubberBand = new QRubberBand(QRubberBand::Rectangle);
    }
}

bool FramelessTarget::handleEvent(QEvent *event)
{
    switch (event->type()) {
    case QEvent::MouseButtonPress:
        onPress(event);
        return true;
    case QEvent::MouseButtonRelease:
        onRelease(event);
        return true;
    case QEvent::MouseButtonDblClick:
        onDoubleClick(event);
        return true;
    case QEvent::MouseMove:
        onMove(event);
        return true;
    case QEvent::Leave:
        if (!m_leftPressed)
            m_widget->unsetCursor();
        return true;
    case QEvent::HoverMove:
        if (m_options->resizeEnabled) {
            const auto *hover = static_cast<QHoverEvent *>(event);
            updateCursor(m_widget->mapToGlobal(hover->position().toPoint()));
        }
        return true;
    default:
        return false;
    }
}

void FramelessTarget::onPress(QEvent *event)
{
    const auto *mouse = static_cast<QMouseEvent *>(event);
    if (mouse->button() != Qt::LeftButton)
        return;
    const QPoint global = mouse->globalPosition().toPoint();
    const QRect frame = m_widget->frameGeometry();
    m_leftPressed = true;
    m_pressedOnBand = mouse->position().y() < FramelessHelper::dragBandHeight();
    m_pressedEdges = EdgeHits::test(global, frame, FramelessHelper::edgeGripWidth());
    m_dragOffset = global - frame.topLeft();
    const bool outlineResize = m_pressedEdges.any && m_options->resizeRubberBand;
    const bool outlineMove = !m_pressedEdges.any && m_options->moveRubberBand;
    if (m_rubberBand && (outlineResize || outlineMove)) {
        m_rubberBand->setGeometry(frame);
        m_rubberBand->show();
    }
}

void FramelessTarget::onRelease(QEvent *event)
{
    const auto *mouse = static_cast<QMouseEvent *>(event);
    if (mouse->button() != Qt::LeftButton)
        return;
    m_leftPressed = false;
    m_pressedOnBand = false;
    m_pressedEdges = EdgeHits();
    if (m_rubberBand && m_rubberBand->isVisible()) {
        m_rubberBand->hide();
        m_widget->setGeometry(m_rubberBand->geometry());
    }
}

void FramelessTarget::onDoubleClick(QEvent *event)
{
    const auto *mouse = static_cast<QMouseEvent *>(event);
    if (mouse->button() != Qt::LeftButton)
        return;
    m_pressedOnBand = mouse->position().y() < FramelessHelper::dragBandHeight();
    if (!m_pressedOnBand)
        return;
    if (m_widget->isMaximized())
        m_widget->showNormal();
    else
        m_widget->showMaximized();
}

void FramelessTarget::onMove(QEvent *event)
{
    const auto *mouse = static_cast<QMouseEvent *>(event);
    const QPoint global = mouse->globalPosition().toPoint();
    if (!m_leftPressed) {
        if (m_options->resizeEnabled)
            updateCursor(global);
        return;
    }
    if (m_options->resizeEnabled && m_pressedEdges.any)
        resizeToward(global);
    else if (m_options->moveEnabled && m_pressedOnBand)
        moveTo(global - m_dragOffset);
}

void FramelessTarget::moveTo(const QPoint &topLeft)
{
    if (m_options->moveRubberBand && m_rubberBand)
        m_rubberBand->move(topLeft);
    else
        m_widget->move(topLeft);
}

void FramelessTarget::updateCursor(const QPoint &global)
{
    if (m_widget->isFullScreen() || m_widget->isMaximized()) {
        if (m_cursorChanged)
            m_widget->unsetCursor();
        return;
    }
    m_hoverEdges = EdgeHits::test(global, m_widget->frameGeometry(), FramelessHelper::edgeGripWidth());
    const EdgeHits &h = m_hoverEdges;
    if (h.topLeft || h.bottomRight) {
        m_widget->setCursor(Qt::SizeFDiagCursor);
    } else if (h.topRight || h.bottomLeft) {
        m_widget->setCursor(Qt::SizeBDiagCursor);
    } else if (h.left || h.right) {
        m_widget->setCursor(Qt::SizeHorCursor);
    } else if (h.top || h.bottom) {
        m_widget->setCursor(Qt::SizeVerCursor);
    } else {
        if (m_cursorChanged) {
            m_widget->unsetCursor();
            m_cursorChanged = false;
        }
        return;
    }
    m_cursorChanged = true;
}

void FramelessTarget::resizeToward(const QPoint &global)
{
    const bool outline = m_options->resizeRubberBand && m_rubberBand;
    const QRect start = outline ? m_rubberBand->frameGeometry() : m_widget->frameGeometry();
    int left = start.left(), top = start.top(), right = start.right(), bottom = start.bottom();
    const int gx = global.x(), gy = global.y();
    const EdgeHits &e = m_pressedEdges;
    if (e.topLeft) {
        left = gx;
        top = gy;
    } else if (e.bottomLeft) {
        left = gx;
        bottom = gy;
    } else if (e.topRight) {
        top = gy;
        right = gx;
    } else if (e.bottomRight) {
        bottom = gy;
        right = gx;
    } else if (e.left) {
        left = gx;
    } else if (e.right) {
        right = gx;
    } else if (e.top) {
        top = gy;
    } else if (e.bottom) {
        bottom = gy;
    }

    QRect next(QPoint(left, top), QPoint(right, bottom));
    if (!next.isValid())
        return;
    // Below the minimum size the edge that moved goes back where it was, so
    // the window never walks away from its fixed side.
    if (next.width() < m_widget->minimumWidth()) {
        if (left == start.left())
            next.setRight(start.right());
        else
            next.setLeft(start.left());
    }
    if (next.height() < m_widget->minimumHeight()) {
        if (top == start.top())
            next.setBottom(start.bottom());
        else
            next.setTop(start.top());
    }
    if (outline)
        m_rubberBand->setGeometry(next);
    else
        m_widget->setGeometry(next);
}
