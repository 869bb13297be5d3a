#include "ui/FramelessHelper.h"

#include "ui/FramelessTarget.h"

#include <QHash>
#include <QWidget>

namespace {
// Shared by every helper of the process; written by the setters and read by
// the event handling, all on the GUI thread.
int g_dragBandHeight = 30;
int g_edgeGripWidth = 5;
} // namespace

struct FramelessHelper::Private {
    QHash<QWidget *, FramelessTarget *> registry; // owned records
    FramelessOptions options;
};

FramelessHelper::FramelessHelper(QObject *parent)
    : QObject(parent)
    , d(std::make_unique<Private>())
{
}

FramelessHelper::~FramelessHelper()
{
    const auto widgets = d->registry.keys();
    for (QWidget *widget : widgets) {
        FramelessTarget *target = d->registry.take(widget);
        target->restoreWidget();
        delete target;
    }
}

void FramelessHelper::attach(QWidget *widget)
{
    if (!widget || d->registry.contains(widget))
        return;
    d->registry.insert(widget, new FramelessTarget(&d->options, widget));
    widget->installEventFilter(this);
    // A widget destroyed before the helper drops out of the registry, so the
    // helper's own destruction never touches a dead widget. A widget emits
    // destroyed() before it deletes its children, so this also holds when the
    // helper is the widget's child.
    connect(widget, &QObject::destroyed, this, &FramelessHelper::forget);
}

void FramelessHelper::forget(QObject *widget)
{
    delete d->registry.take(static_cast<QWidget *>(widget));
}

void FramelessHelper::setDragBandHeight(int height)
{
    if (height != 0)
        g_dragBandHeight = height;
}

void FramelessHelper::setEdgeGripWidth(int width)
{
    if (width != 0)
        g_edgeGripWidth = width;
}

int FramelessHelper::dragBandHeight()
{
    return g_dragBandHeight;
}

int FramelessHelper::edgeGripWidth()
{
    return g_edgeGripWidth;
}

void FramelessHelper::setMoveEnabled(bool enabled)
{
    d->options.moveEnabled = enabled;
}

void FramelessHelper::setResizeEnabled(bool enabled)
{
    d->options.resizeEnabled = enabled;
}

void FramelessHelper::setMoveRubberBand(bool enabled)
{
    d->options.moveRubberBand = enabled;
    updateRubberBands();
}

void FramelessHelper::setResizeRubberBand(bool enabled)
{
    d->options.resizeRubberBand = enabled;
    updateRubberBands();
}

bool FramelessHelper::isAttached(QWidget *widget) const
{
    return d->registry.contains(widget);
}

QRubberBand *FramelessHelper::rubberBandOf(QWidget *widget) const
{
    FramelessTarget *target = d->registry.value(widget);
    return target ? target->rubberBand() : nullptr;
}

void FramelessHelper::updateRubberBands()
{
    for (FramelessTarget *target : std::as_const(d->registry))
        target->updateRubberBand();
}

bool FramelessHelper::eventFilter(QObject *watched, QEvent *event)
{
    if (watched->isWidgetType()) {
        FramelessTarget *target = d->registry.value(static_cast<QWidget *>(watched));
        if (target && target->handleEvent(event))
            return true;
    }
    return QObject::eventFilter(watched, event);
}
