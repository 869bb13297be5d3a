#include "WindowChrome.h"

#include "FramelessHelper.h"

#include <QApplication>
#include <QMainWindow>

const char *const WindowChrome::ApplicationStyleSheet =
    "\n        QMainWindow#MainWindow {\n            background: transparent;\n        }\n    ";

FramelessHelper *WindowChrome::install(QApplication &app, QMainWindow &window)
{
    auto *helper = new FramelessHelper(&window);
    app.setStyleSheet(QString::fromLatin1(ApplicationStyleSheet));
    helper->attach(&window);
    helper->setDragBandHeight(40);
    helper->setEdgeGripWidth(3);
    helper->setMoveEnabled(true);
    helper->setResizeEnabled(true);
    helper->setMoveRubberBand(false);
    helper->setResizeRubberBand(false);
    window.setAttribute(Qt::WA_TranslucentBackground);
    window.setWindowFlags(window.windowFlags() | Qt::FramelessWindowHint);
    return helper;
}
