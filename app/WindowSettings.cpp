#include "app/WindowSettings.h"

#include "app/ParameterPanel.h"
#include "context/SettingsIdentity.h"
#include "context/SettingsKeys.h"
#include "operation/ParameterSummary.h"
#include "ui_MainWindow.h"

#include <QSettings>

#include <memory>

namespace {

// Boolean keys act only when their text form is exactly "true"; a missing key
// reads as the empty string and so leaves the widget alone.
bool storedTrue(const QSettings &settings, const QString &key)
{
    return settings.value(key, QString()).toString() == QLatin1String("true");
}

} // namespace

namespace WindowSettings {

void load(Ui::MainWindow &form, ParameterPanel &parameters, const SettingsIdentity &identity, QString &summary)
{
    const std::unique_ptr<QSettings> stored = identity.open();
    QSettings &settings = *stored;

    form.comboBox_saveframes->setCurrentText(QString::number(settings.value(QLatin1String(SettingsKeys::kSaveFrames), 0).toInt()));

    const std::pair<const char *, QLineEdit *> texts[] = {
        {SettingsKeys::kSaveDirectory, form.lineEdit_savepath}, {SettingsKeys::kSaveNames, form.lineEdit_savename},
        {SettingsKeys::kVbias1, form.lineEdit_vc},                {SettingsKeys::kVbias2, form.lineEdit_vd},
        {SettingsKeys::kVon, form.lineEdit_von},                  {SettingsKeys::kVoff, form.lineEdit_voff},
        {SettingsKeys::kTypedRange, form.lineEdit_gear},
    };
    for (const auto &[key, edit] : texts)
        edit->setText(settings.value(QString::fromLatin1(key), QString()).toString());

    const std::vector<ParameterPanel::FixedRange> ranges = parameters.fixedRanges();
    bool rangeRestored = false;
    for (const auto &[button, range] : ranges) {
        if (storedTrue(settings, button->objectName())) {
            button->setChecked(true);
            parameters.chooseRange(range);
            rangeRestored = true;
        }
    }
    if (storedTrue(settings, QLatin1String(SettingsKeys::kTypedRangeChosen))) {
        form.radioButton_optional_gear->setChecked(true);
        parameters.chooseRange(form.lineEdit_gear->text().toInt());
        rangeRestored = true;
    }
    // With no stored range the form shows 800 nA checked; the range the first
    // Setting sends must be the one the operator sees, not the start value.
    if (!rangeRestored) {
        for (const auto &[button, range] : ranges) {
            if (button->isChecked())
                parameters.chooseRange(range);
        }
    }

    summary += ParameterSummary::compose(parameters.chosenRange(), form.lineEdit_vc->text(),
                                                  form.lineEdit_vd->text(), form.lineEdit_von->text(),
                                                  form.lineEdit_voff->text());

    for (QCheckBox *box : {form.checkBox_data, form.checkBox_picture, form.checkBox_video, form.checkBox_hdf5}) {
        if (storedTrue(settings, box->objectName()))
            box->setChecked(true);
    }

    // Show the beginning of a long path rather than its end.
    form.lineEdit_savepath->setCursorPosition(0);
    form.lineEdit_savename->setCursorPosition(0);
}

void save(const Ui::MainWindow &form, const SettingsIdentity &identity)
{
    const std::unique_ptr<QSettings> stored = identity.open();
    QSettings &settings = *stored;

    settings.setValue(QLatin1String(SettingsKeys::kSaveFrames), form.comboBox_saveframes->currentText().toInt());
    settings.setValue(QLatin1String(SettingsKeys::kSaveDirectory), form.lineEdit_savepath->text());
    settings.setValue(QLatin1String(SettingsKeys::kSaveNames), form.lineEdit_savename->text());
    for (QLineEdit *edit : {form.lineEdit_vc, form.lineEdit_vd, form.lineEdit_von, form.lineEdit_voff, form.lineEdit_gear})
        settings.setValue(edit->objectName(), edit->text());
    for (QAbstractButton *button :
         std::initializer_list<QAbstractButton *>{form.radioButton_800, form.radioButton_100, form.radioButton_10,
                                                  form.radioButton_1, form.radioButton_optional_gear, form.checkBox_data,
                                                  form.checkBox_picture, form.checkBox_video, form.checkBox_hdf5}) {
        settings.setValue(button->objectName(), button->isChecked());
    }
}

} // namespace WindowSettings
