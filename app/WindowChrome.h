#pragma once

class FramelessHelper;
class QApplication;
class QMainWindow;

// The frameless look of the main window: the application sheet that keeps
// the window's own background transparent, a FramelessHelper (child of the
// window) with a 40 px drag band and 3 px edge grips, a translucent
// background and no system frame. The window is not shown.
namespace WindowChrome {

// The application style sheet, as the entry point sets it.
extern const char *const ApplicationStyleSheet;

FramelessHelper *install(QApplication &app, QMainWindow &window);

} // namespace WindowChrome
