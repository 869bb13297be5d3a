#pragma once

namespace Ui {
class MainWindow;
}

// The parts of the window's form that are set up once and then left to Qt:
// the navigation list with its icons, the input validators and item
// delegates, and the tool tips of the icon buttons. GUI thread only.
namespace WindowForm {

// Fills the navigation list and ties it to the pages; the selected row shows
// its selected icon. The form must outlive its widgets' connections (it does:
// the window owns both).
void buildNavigation(Ui::MainWindow &form);
// Validators for the range, voltage and frame-count fields; the frame
// choices and the combo boxes' item delegates.
void applyInputConstraints(Ui::MainWindow &form);
void setIconToolTips(Ui::MainWindow &form);

} // namespace WindowForm
