#include "app/WindowAccessibility.h"

#include "ui_MainWindow.h"

#include <QAccessible>
#include <QAccessibleWidget>
#include <QShortcut>

namespace {

void nameIconButtons(Ui::MainWindow &ui)
{
    ui.pushButton_minimize->setAccessibleName(QStringLiteral("Minimise"));
    ui.pushButton_maxsize->setAccessibleName(QStringLiteral("Maximise"));
    ui.pushButton_close->setAccessibleName(QStringLiteral("Close"));
    ui.pushButton_voltage_about->setAccessibleName(QStringLiteral("Voltage help"));
    ui.pushButton_rotate->setAccessibleName(QStringLiteral("Rotate"));
    ui.pushButton_mirrorHorizontal->setAccessibleName(QStringLiteral("Mirror horizontally"));
    ui.pushButton_mirrorVertical->setAccessibleName(QStringLiteral("Mirror vertically"));
    ui.pushButton_savepath->setAccessibleName(QStringLiteral("Choose folder"));
}

// The fields and lists name what their neighbouring labels say.
void nameFields(Ui::MainWindow &ui)
{
    ui.listWidget->setAccessibleName(QStringLiteral("Pages"));
    ui.comboBox->setAccessibleName(QStringLiteral("Device"));
    ui.lineEdit_gear->setAccessibleName(QStringLiteral("Range (nA)"));
    ui.lineEdit_vc->setAccessibleName(QStringLiteral("Vbias1 (V)"));
    ui.lineEdit_vd->setAccessibleName(QStringLiteral("Vbias2 (V)"));
    ui.lineEdit_von->setAccessibleName(QStringLiteral("Von (V)"));
    ui.lineEdit_voff->setAccessibleName(QStringLiteral("Voff (V)"));
    ui.comboBox_saveframes->setAccessibleName(QStringLiteral("Number of frames"));
    ui.lineEdit_savename->setAccessibleName(QStringLiteral("Name"));
    ui.lineEdit_savepath->setAccessibleName(QStringLiteral("Path"));
    ui.progressBar->setAccessibleName(QStringLiteral("Save progress"));
    ui.widget_display->setAccessibleName(QStringLiteral("Live picture"));
}

void chain(std::initializer_list<QWidget *> widgets)
{
    QWidget *previous = nullptr;
    for (QWidget *widget : widgets) {
        if (previous)
            QWidget::setTabOrder(previous, widget);
        previous = widget;
    }
}

// Hidden pages drop out of the focus chain by themselves, so one chain
// serves every page.
void orderTabs(Ui::MainWindow &ui)
{
    // Reachable by Tab (arrows then switch pages), not by click: the mouse
    // look stays as it was.
    ui.listWidget->setFocusPolicy(Qt::TabFocus);
    chain({ui.pushButton_play, ui.pushButton_minimize, ui.pushButton_maxsize, ui.pushButton_close, ui.listWidget,
           // System
           ui.comboBox, ui.pushButton_Connect,
           // Settings
           ui.radioButton_800, ui.radioButton_100, ui.radioButton_10, ui.radioButton_1, ui.radioButton_optional_gear,
           ui.lineEdit_gear, ui.pushButton_voltage_about, ui.lineEdit_vc, ui.lineEdit_vd, ui.lineEdit_von,
           ui.lineEdit_voff, ui.pushButton_set,
           // Display (its run-time buttons follow in the order they were made)
           ui.pushButton_rotate, ui.pushButton_mirrorHorizontal, ui.pushButton_mirrorVertical, ui.radioButton_gray,
           ui.radioButton_rgb, ui.radioButton_heat,
           // Save
           ui.comboBox_saveframes, ui.lineEdit_savename, ui.lineEdit_savepath, ui.pushButton_savepath,
           ui.checkBox_data, ui.checkBox_picture, ui.checkBox_video, ui.checkBox_hdf5, ui.pushButton_save});
}

void addShortcuts(QMainWindow &window, Ui::MainWindow &ui)
{
    // The play button shows only while a device is connected; its shortcut
    // works exactly then.
    ui.pushButton_play->setShortcut(QKeySequence(QString::fromLatin1(WindowAccessibility::kCaptureShortcut)));
    auto *connect = new QShortcut(QKeySequence(QString::fromLatin1(WindowAccessibility::kConnectShortcut)), &window);
    QPushButton *button = ui.pushButton_Connect;
    QObject::connect(connect, &QShortcut::activated, button, [button] {
        if (button->isEnabled())
            button->click();
    });
}

// Qt describes a plain QWidget as a client area ("filler" on the desktop's
// accessibility bus), even when it is a window of its own. Classes Qt knows
// better (main windows, dialogs, popups) are answered before this one is asked.
QAccessibleInterface *windowRole(const QString &className, QObject *object)
{
    if (className != QLatin1String("QWidget") || !object->isWidgetType())
        return nullptr;
    auto *widget = static_cast<QWidget *>(object);
    return widget->windowType() == Qt::Window ? new QAccessibleWidget(widget, QAccessible::Window) : nullptr;
}

} // namespace

void WindowAccessibility::install(QMainWindow &window, Ui::MainWindow &ui)
{
    window.setWindowTitle(QString::fromLatin1(kWindowTitle));
    window.setAccessibleName(QString::fromLatin1(kWindowTitle));
    nameIconButtons(ui);
    nameFields(ui);
    orderTabs(ui);
    addShortcuts(window, ui);
    installWindowRoles();
}

void WindowAccessibility::installWindowRoles()
{
    static const bool installed = [] {
        QAccessible::installFactory(windowRole);
        return true;
    }();
    (void)installed;
}
