#pragma once

#include <QPoint>
#include <QPointer>
#include <QRect>
#include <Qt>

class QEvent;
class QRubberBand;
class QWidget;

// Which borders of a window a global point lies on. All comparisons include
// both ends, so the outermost pixel column and the one grip-width inside it
// both count.
struct EdgeHits {
    bool any = false;
    bool left = false;
    bool right = false;
    bool top = false;
    bool bottom = false;
    bool topLeft = false;
    bool bottomLeft = false;
    bool topRight = false;
    bool bottomRight = false;

    static EdgeHits test(const QPoint &global, const QRect &frame, int grip);
};

// The options a FramelessHelper applies to every widget it watches.
struct FramelessOptions {
    bool moveEnabled = true;
    bool resizeEnabled = true;
    bool resizeRubberBand = false;
    bool moveRubberBand = false;
};

// Press, drag and cursor state of one widget attached to a FramelessHelper.
// GUI thread only.
class FramelessTarget
{
public:
    FramelessTarget(const FramelessOptions *options, QWidget *widget);
    ~FramelessTarget();
    FramelessTarget(const FramelessTarget &) = delete;
    FramelessTarget &operator=(const FramelessTarget &) = delete;

    // Handles a mouse, leave or hover event of the widget; false for any
    // other event type (the caller passes those on).
    bool handleEvent(QEvent *event);

    // Creates or drops the rubber band after an option change.
    void updateRubberBand();

    // Gives the widget back what attaching took: mouse tracking, hover and
    // its window flags as they were.
    void restoreWidget();

    QWidget *widget() const { return m_widget; }
    QRubberBand *rubberBand() const { return m_rubberBand; }
    Qt::WindowFlags savedFlags() const { return m_savedFlags; }

private:
    void onPress(QEvent *event);
    void onRelease(QEvent *event);
    void onDoubleClick(QEvent *event);
    void onMove(QEvent *event);
    void updateCursor(const QPoint &global);
    void resizeToward(const QPoint &global);
    void moveTo(const QPoint &topLeft);

    const FramelessOptions *m_options;
    QRubberBand *m_rubberBand = nullptr; // no parent: a top-level outline
    QWidget *m_widget;
    QPoint m_dragOffset;
    bool m_leftPressed = false;
    bool m_cursorChanged = false;
    bool m_pressedOnBand = false;
    EdgeHits m_pressedEdges;
    EdgeHits m_hoverEdges;
    Qt::WindowFlags m_savedFlags;
};
