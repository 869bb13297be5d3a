#pragma once

class QMainWindow;

namespace Ui {
class MainWindow;
}

// What assistive technology and the keyboard need from the main window: the
// window's title and accessible name "Tessivo 128" (task bars and window lists
// show it; the title bar's own label keeps its text), an accessible name for
// every control of the form that shows no text of its own, a tab order that
// goes title bar, page list, then the current page top to bottom, and the
// shortcuts F5 (start or stop capture, as the play button) and Ctrl+O
// (Connect, from any page). The play button's name follows the capture state
// (CaptureControl). GUI thread.
namespace WindowAccessibility {

inline constexpr char kWindowTitle[] = "Tessivo 128";
inline constexpr char kCaptureShortcut[] = "F5";
inline constexpr char kConnectShortcut[] = "Ctrl+O";

void install(QMainWindow &window, Ui::MainWindow &ui);

// Gives the console's windows that are plain widgets (Live Analysis, the
// It-curve plot, the recognition answer, the simulator controls) the role of
// a window, so that they appear under their title rather than as unnamed
// fillers. Installed once per process.
void installWindowRoles();

} // namespace WindowAccessibility
