#pragma once

class FramelessHelper;
class QApplication;
class QMainWindow;

// The frameless look of the main window: a FramelessHelper (child of the
// window) with a 40 px drag band and 3 px edge grips and no system frame.
// Where a compositor runs, the window is translucent (its rounded corners
// show the desktop) under the application sheet that keeps its own
// background transparent; without one (a plain X11 desktop shows translucent
// pixels black) it is opaque under a sheet that paints its background. The
// window is not shown.
namespace WindowChrome {

// The application style sheets, as the entry point sets them.
extern const char *const ApplicationStyleSheet;
extern const char *const OpaqueStyleSheet;

// Translucent exactly when a compositor runs (CompositorProbe).
FramelessHelper *install(QApplication &app, QMainWindow &window);
FramelessHelper *install(QApplication &app, QMainWindow &window, bool translucent);

} // namespace WindowChrome
