#include "app/WindowChrome.h"

#include "ui/CompositorProbe.h"
#include "ui/FramelessHelper.h"

#include <QApplication>
#include <QMainWindow>

const char *const WindowChrome::ApplicationStyleSheet =
    "\n        QMainWindow#MainWindow {\n            background: transparent;\n        }\n    ";

// The pages' own background colour, so the corners the rounded frame leaves
// blend in.
const char *const WindowChrome::OpaqueStyleSheet = "QMainWindow#MainWindow { background: rgb(240, 243, 246); }";

FramelessHelper *WindowChrome::install(QApplication &app, QMainWindow &window)
{
    return install(app, window, CompositorProbe::isRunning());
}

FramelessHelper *WindowChrome::install(QApplication &app, QMainWindow &window, bool translucent)
{
    auto *helper = new FramelessHelper(&window);
    app.setStyleSheet(QString::fromLatin1(translucent ? ApplicationStyleSheet : OpaqueStyleSheet));
    helper->attach(&window);
    helper->setDragBandHeight(40);
    helper->setEdgeGripWidth(3);
    helper->setMoveEnabled(true);
    helper->setResizeEnabled(true);
    helper->setMoveRubberBand(false);
    helper->setResizeRubberBand(false);
    window.setAttribute(Qt::WA_TranslucentBackground, translucent);
    window.setWindowFlags(window.windowFlags() | Qt::FramelessWindowHint);
    return helper;
}
