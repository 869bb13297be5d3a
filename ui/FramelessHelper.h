#pragma once

#include <QObject>
#include <memory>

class FramelessTarget;
class QRubberBand;
class QWidget;

// Gives a frameless top-level window back what the window manager's frame
// did: dragging by a band along its top, maximise/restore by double-clicking
// that band, and resizing at its edges and corners with the matching cursor.
// Optionally an outline rubber band follows the mouse instead of the window,
// which jumps to it when the button is released. GUI thread only.
class FramelessHelper : public QObject
{
    Q_OBJECT

public:
    explicit FramelessHelper(QObject *parent = nullptr);
    ~FramelessHelper() override;

    // Registers a widget (again: no effect). Does not change its window
    // flags: the caller makes it frameless.
    void attach(QWidget *widget);

    // The band height and grip width are shared by every helper of the
    // process; 0 keeps the value in force.
    void setDragBandHeight(int height);
    void setEdgeGripWidth(int width);
    static int dragBandHeight();
    static int edgeGripWidth();

    void setMoveEnabled(bool enabled);
    void setResizeEnabled(bool enabled);
    void setMoveRubberBand(bool enabled);
    void setResizeRubberBand(bool enabled);

    bool isAttached(QWidget *widget) const;
    QRubberBand *rubberBandOf(QWidget *widget) const;

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void updateRubberBands();
    void forget(QObject *widget);

    struct Private;
    std::unique_ptr<Private> d;
};
