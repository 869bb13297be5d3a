#include "app/WindowForm.h"

#include "ui/ComboBoxDelegate.h"
#include "ui_MainWindow.h"

#include <QFont>
#include <QIcon>
#include <QListWidgetItem>
#include <QRegularExpression>
#include <QRegularExpressionValidator>

namespace {

// Whole numbers 1 to 800.
const char *const GearPattern = "^(?:[1-9]|[1-9]\\d|[1-7]\\d{2}|800)$";
// -15 to 15: the ends with optional zero decimals, 1..14 either sign with any
// decimals, and 0 with any decimals (the validator matches the whole text).
const char *const VoltagePattern =
    "^-15(\\.0+)?|15(\\.0+)?|-?1[0-4](\\.\\d+)?|-?[1-9](\\.\\d+)?|0(\\.\\d+)?$";
const char *const FrameCountPattern = "^[0-9]+$";

struct NavigationRow {
    const char *text;
    const char *icon;
    const char *selectedIcon;
};

const NavigationRow NavigationRows[] = {
    {"System", ":/image/image_resource/control_1.png", ":/image/image_resource/control_2.png"},
    {"Settings", ":/image/image_resource/current_1.png", ":/image/image_resource/current_2.png"},
    {"Display", ":/image/image_resource/calibration_1.png", ":/image/image_resource/calibration_2.png"},
    {"Save", ":/image/image_resource/save_table.png", ":/image/image_resource/save_table_1.png"},
    {"About", ":/image/image_resource/about_1.png", ":/image/image_resource/about_2.png"},
};

void updateNavigationIcons(Ui::MainWindow &form)
{
    for (int i = 0; i < form.listWidget->count(); ++i) {
        QListWidgetItem *item = form.listWidget->item(i);
        const NavigationRow &row = NavigationRows[i];
        item->setIcon(QIcon(QString::fromLatin1(item->isSelected() ? row.selectedIcon : row.icon)));
    }
}

} // namespace

namespace WindowForm {

void buildNavigation(Ui::MainWindow &form)
{
    for (const NavigationRow &row : NavigationRows) {
        auto *item = new QListWidgetItem(QIcon(QString::fromLatin1(row.icon)), QString::fromLatin1(row.text));
        QFont font = item->font();
        font.setWeight(QFont::Bold);
        item->setFont(font);
        form.listWidget->addItem(item);
    }
    form.listWidget->setFocusPolicy(Qt::NoFocus);
    form.listWidget->setCurrentRow(0);
    form.stackedWidget->setCurrentIndex(0);
    form.listWidget->item(0)->setIcon(QIcon(QString::fromLatin1(NavigationRows[0].selectedIcon)));

    QObject::connect(form.listWidget, &QListWidget::currentRowChanged, form.stackedWidget,
                     &QStackedWidget::setCurrentIndex);
    QObject::connect(form.listWidget, &QListWidget::itemSelectionChanged, form.listWidget,
                     [&form] { updateNavigationIcons(form); });
}

void applyInputConstraints(Ui::MainWindow &form)
{
    form.lineEdit_gear->setValidator(
        new QRegularExpressionValidator(QRegularExpression(QString::fromLatin1(GearPattern)), form.lineEdit_gear));
    for (QLineEdit *edit : {form.lineEdit_vc, form.lineEdit_vd, form.lineEdit_von, form.lineEdit_voff}) {
        edit->setValidator(
            new QRegularExpressionValidator(QRegularExpression(QString::fromLatin1(VoltagePattern)), edit));
    }

    QComboBox *frames = form.comboBox_saveframes;
    frames->addItems({QStringLiteral("1"), QStringLiteral("5"), QStringLiteral("30"), QStringLiteral("50"),
                      QStringLiteral("100"), QStringLiteral("500"), QStringLiteral("1000")});
    frames->setValidator(
        new QRegularExpressionValidator(QRegularExpression(QString::fromLatin1(FrameCountPattern)), frames));
    frames->setFocusPolicy(Qt::StrongFocus);
    frames->setCompleter(nullptr);
    frames->setItemDelegate(new ComboBoxDelegate(frames));
    form.comboBox->setItemDelegate(new ComboBoxDelegate(form.comboBox));
}

void setIconToolTips(Ui::MainWindow &form)
{
    // The play button's tip follows the capture (CaptureControl); the
    // battery's carries its voltage (DeviceConnection).
    form.pushButton_rotate->setToolTip(QStringLiteral("Rotate the picture by 90 degrees"));
    form.pushButton_mirrorHorizontal->setToolTip(QStringLiteral("Mirror the picture left to right"));
    form.pushButton_mirrorVertical->setToolTip(QStringLiteral("Mirror the picture top to bottom"));
    form.pushButton_voltage_about->setToolTip(QStringLiteral("What the bias voltages do"));
    form.pushButton_minimize->setToolTip(QStringLiteral("Minimise"));
    form.pushButton_maxsize->setToolTip(QStringLiteral("Maximise"));
    form.pushButton_close->setToolTip(QStringLiteral("Close"));
    form.widget_bat->setToolTip(QStringLiteral("Battery: unknown"));
}

} // namespace WindowForm
