#pragma once

class ParameterPanel;
class QString;
struct SettingsIdentity;

namespace Ui {
class MainWindow;
}

// The window's fields, range buttons and save kinds in the console's
// settings store, under the keys the form's object names give. GUI thread only.
namespace WindowSettings {

// Restores the fields and buttons, tells the parameter panel the chosen
// range and appends the parameter summary of what was restored.
void load(Ui::MainWindow &form, ParameterPanel &parameters, const SettingsIdentity &identity, QString &summary);
void save(const Ui::MainWindow &form, const SettingsIdentity &identity);

} // namespace WindowSettings
