#pragma once

// Every key the console keeps in its settings store (SettingsIdentity), in
// one place. The form's fields and buttons are stored under their object
// names, listed here too.
namespace SettingsKeys {

// The acquisition worker's last acknowledged parameters.
inline constexpr char kIntegralTime[] = "Integraltime";
inline constexpr char kIntegralCurrent[] = "Integralcurrent";
inline constexpr char kCurrentRange[] = "currentRange";

// The save page.
inline constexpr char kSaveFrames[] = "saveFrames";
inline constexpr char kSaveDirectory[] = "saveDirectory";
inline constexpr char kSaveNames[] = "saveNames";

// The settings page's voltage and range fields and range buttons, and the
// save page's kind boxes: their object names.
inline constexpr char kVbias1[] = "lineEdit_vc";
inline constexpr char kVbias2[] = "lineEdit_vd";
inline constexpr char kVon[] = "lineEdit_von";
inline constexpr char kVoff[] = "lineEdit_voff";
inline constexpr char kTypedRange[] = "lineEdit_gear";
inline constexpr char kTypedRangeChosen[] = "radioButton_optional_gear";

// The Live Analysis window's saved calibration references.
inline constexpr char kLoadReferencesAtStart[] = "loadReferencesAtStart";
inline constexpr char kLastReferencesFile[] = "lastReferencesFile";

} // namespace SettingsKeys
