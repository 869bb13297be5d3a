// What assistive technology reads from the real main window and the Live
// Analysis window (through Qt's accessibility interface), the tab order of
// the pages and the keyboard shortcuts.
#include "tests/flows/WindowRig.h"

#include "analysis/CurrentDialog.h"
#include "analysis/LiveAnalysisWindow.h"
#include "app/ItCurvePage.h"
#include "app/LiveAnalysisPage.h"

#include <QAbstractItemView>
#include <QAbstractSpinBox>
#include <QAccessible>
#include <QCheckBox>
#include <QLineEdit>
#include <QListWidget>
#include <QProgressBar>
#include <QScrollBar>
#include <QStackedWidget>

namespace {

QAccessibleInterface *accessible(QObject *object)
{
    QAccessibleInterface *face = QAccessible::queryAccessibleInterface(object);
    if (!face)
        qFatal("no accessible interface");
    return face;
}

QString nameOf(QObject *object)
{
    return accessible(object)->text(QAccessible::Name);
}

bool insideCompositeControl(QWidget *widget, QWidget *root)
{
    for (QWidget *up = widget->parentWidget(); up && up != root; up = up->parentWidget()) {
        if (qobject_cast<QComboBox *>(up) || qobject_cast<QAbstractSpinBox *>(up))
            return true;
    }
    return false;
}

// Every control under root that a screen reader would announce without a name.
QStringList unnamedControls(QWidget *root)
{
    QStringList unnamed;
    for (QWidget *w : root->findChildren<QWidget *>()) {
        const bool control = qobject_cast<QAbstractButton *>(w) || qobject_cast<QLineEdit *>(w)
                             || qobject_cast<QComboBox *>(w) || qobject_cast<QAbstractSpinBox *>(w)
                             || qobject_cast<QAbstractItemView *>(w) || qobject_cast<QProgressBar *>(w)
                             || (qobject_cast<QAbstractSlider *>(w) && !qobject_cast<QScrollBar *>(w));
        // A combo box's edit and popup list, or a spin box's edit, speak through their owner.
        if (control && !insideCompositeControl(w, root) && nameOf(w).trimmed().isEmpty())
            unnamed << QString::fromLatin1(w->metaObject()->className()) + QLatin1Char(' ') + w->objectName();
    }
    return unnamed;
}

} // namespace

class TestFlowsAccessibility : public QObject
{
    Q_OBJECT

private slots:
    void namesOfWindowAndControls();
    void captureNameAndShortcuts();
    void tabOrder_data();
    void tabOrder();
    void ownWindowsAreTitledWindows_data();
    void ownWindowsAreTitledWindows();
};

void TestFlowsAccessibility::namesOfWindowAndControls()
{
    WindowRig rig;
    QCOMPARE(rig.window->windowTitle(), QStringLiteral("Tessivo 128"));
    QCOMPARE(nameOf(rig.window.get()), QStringLiteral("Tessivo 128"));
    QCOMPARE(accessible(rig.window.get())->role(), QAccessible::Window);
    QCOMPARE(rig.find<QLabel>("label_8")->text(), QStringLiteral("ZK128")); // the title bar's own label

    const std::pair<const char *, const char *> iconButtons[] = {
        {"pushButton_play", "Start capture"}, {"pushButton_minimize", "Minimise"},
        {"pushButton_maxsize", "Maximise"},   {"pushButton_close", "Close"},
        {"pushButton_voltage_about", "Voltage help"},
    };
    for (const auto &[object, name] : iconButtons) {
        QAccessibleInterface *button = accessible(rig.find<QPushButton>(object));
        QCOMPARE(button->role(), QAccessible::Button);
        QCOMPARE(button->text(QAccessible::Name), QString::fromLatin1(name));
    }
    const QStringList unnamed = unnamedControls(rig.window.get());
    QVERIFY2(unnamed.isEmpty(), qPrintable(unnamed.join(QStringLiteral(", "))));
}

void TestFlowsAccessibility::captureNameAndShortcuts()
{
    WindowRig rig;
    rig.window->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(rig.window.get()));
    const QDeadlineTimer listed(5000);
    while (rig.firstDeviceItem() != QLatin1String("ZK128") && !listed.hasExpired())
        QTest::qWait(10);

    // Ctrl+O connects from any page, not only from the System page.
    rig.find<QListWidget>("listWidget")->setCurrentRow(3);
    QTest::keyClick(rig.window.get(), Qt::Key_O, Qt::ControlModifier);
    QTRY_VERIFY_WITH_TIMEOUT(rig.window->isDeviceConnected(), 5000);

    QPushButton *play = rig.find<QPushButton>("pushButton_play");
    QTest::keyClick(rig.window.get(), Qt::Key_F5);
    QTRY_VERIFY_WITH_TIMEOUT(rig.window->isCaptureRunning(), 5000);
    QCOMPARE(nameOf(play), QStringLiteral("Stop capture"));
    QTest::keyClick(rig.window.get(), Qt::Key_F5);
    QTRY_VERIFY_WITH_TIMEOUT(!rig.window->isCaptureRunning(), 5000);
    QCOMPARE(nameOf(play), QStringLiteral("Start capture"));
}

void TestFlowsAccessibility::tabOrder_data()
{
    QTest::addColumn<int>("page");
    QTest::addColumn<QStringList>("order");
    // Each row starts at its first field and ends back in the title bar (the
    // play button shows only while connected).
    QTest::newRow("System") << 0 << QStringList{"comboBox", "pushButton_Connect", "pushButton_minimize"};
    QTest::newRow("Settings") << 1
                              << QStringList{"lineEdit_vc", "lineEdit_vd", "lineEdit_von", "lineEdit_voff",
                                             "pushButton_set", "pushButton_minimize"};
    QTest::newRow("Display") << 2 << QStringList{"pushButton_rotate", "pushButton_mirrorHorizontal",
                                                 "pushButton_mirrorVertical"};
    QTest::newRow("Save") << 3
                          << QStringList{"lineEdit_savename", "lineEdit_savepath", "pushButton_savepath",
                                         "checkBox_data", "checkBox_picture", "checkBox_video", "checkBox_hdf5",
                                         "pushButton_save", "pushButton_minimize", "pushButton_maxsize",
                                         "pushButton_close", "listWidget"};
}

void TestFlowsAccessibility::tabOrder()
{
    QFETCH(int, page);
    QFETCH(QStringList, order);
    WindowRig rig(false);
    rig.window->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(rig.window.get()));
    rig.find<QListWidget>("listWidget")->setCurrentRow(page);
    QCOMPARE(rig.find<QStackedWidget>("stackedWidget")->currentIndex(), page);

    rig.find<QWidget>(qPrintable(order.first()))->setFocus(Qt::TabFocusReason);
    QStringList visited{QApplication::focusWidget()->objectName()};
    for (int k = 1; k < order.size(); ++k) {
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        visited << QApplication::focusWidget()->objectName();
    }
    QCOMPARE(visited, order);
}

void TestFlowsAccessibility::ownWindowsAreTitledWindows_data()
{
    QTest::addColumn<QString>("title");
    QTest::newRow("Live Analysis") << QStringLiteral("Live Analysis");
    QTest::newRow("It-curve plot") << QStringLiteral("It");
}

void TestFlowsAccessibility::ownWindowsAreTitledWindows()
{
    QFETCH(QString, title);
    WindowRig rig;
    QWidget *opened = nullptr;
    if (title == QLatin1String("It")) {
        opened = rig.window->itCurve().openWindow();
    } else {
        rig.window->liveAnalysis().openWindow();
        opened = rig.window->liveAnalysis().window();
    }
    QVERIFY(opened && opened->isWindow());
    QAccessibleInterface *face = accessible(opened);
    QCOMPARE(face->role(), QAccessible::Window);
    QCOMPARE(face->text(QAccessible::Name), title);
    const QStringList unnamed = unnamedControls(opened);
    QVERIFY2(unnamed.isEmpty(), qPrintable(unnamed.join(QStringLiteral(", "))));
}

QTEST_MAIN(TestFlowsAccessibility)
#include "tst_flows_accessibility.moc"
