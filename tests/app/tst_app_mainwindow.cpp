#include "tests/app/AppTestSupport.h"

#include "app/MainWindow.h"
#include "app/WindowChrome.h"
#include "simulator/SimulatorBackend.h"
#include "simulator/ZK128Device.h"
#include "tests/support/TestContext.h"
#include "ui/ComboBoxDelegate.h"
#include "ui/FramelessHelper.h"
#include "ui/VoltageDetails.h"

#include <QCheckBox>
#include <QComboBox>
#include <QGlyphRun>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMouseEvent>
#include <QPushButton>
#include <QRadioButton>
#include <QStackedWidget>
#include <QTextLayout>

#include <memory>

namespace {

const char *const SelectedIcons[] = {"control_2", "current_2", "calibration_2", "save_table_1", "about_2"};
const char *const RestIcons[] = {"control_1", "current_1", "calibration_1", "save_table", "about_1"};
const char *const Pages[] = {"page", "page_3", "page_2", "page_5", "page_6"};

bool showsIcon(QListWidgetItem *item, const char *name)
{
    const QImage expected = QImage(QStringLiteral(":/image/image_resource/%1.png").arg(QLatin1String(name)))
                                .convertToFormat(QImage::Format_ARGB32_Premultiplied);
    const QImage shown = item->icon().pixmap(expected.size()).toImage().convertToFormat(
        QImage::Format_ARGB32_Premultiplied);
    return !expected.isNull() && shown == expected;
}

bool near(const QColor &a, const QColor &b, int tolerance)
{
    return qAbs(a.red() - b.red()) <= tolerance && qAbs(a.green() - b.green()) <= tolerance
        && qAbs(a.blue() - b.blue()) <= tolerance;
}

} // namespace

class TestMainWindow : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void startsOnTheSystemPage();
    void navigation_data();
    void navigation();
    void exitConfirmation_data();
    void exitConfirmation();
    void maximiseButtonImage();
    void iconButtonToolTips();
    void entryChrome();
    void validators_data();
    void validators();
    void frameCountCombo();
    void voltageHelpOpensModalDialogs();
    void buttonLook_data();
    void buttonLook();
    void selectedNavigationRowLook();
    void runTimeControls();
    void teardownWithRunningWorker();

private:
    template <typename T>
    T *find(const char *name) const
    {
        T *w = window->findChild<T *>(QString::fromLatin1(name));
        if (!w)
            qFatal("no widget %s", name);
        return w;
    }
    void startWorkerLoop();

    std::shared_ptr<ZK128Device> m_device = std::make_shared<ZK128Device>();
    TestContext m_context{std::make_shared<SimulatorBackend>(m_device), m_device};
    FT_HANDLE m_handle = nullptr;
    std::unique_ptr<MainWindow> window;
};

void TestMainWindow::init()
{
    QSettings store(QStringLiteral("Velmoray"), QStringLiteral("Tessivo_128"));
    store.clear();
    store.sync();
    window = std::make_unique<MainWindow>(m_context.context);
    window->show();
    QVERIFY(QTest::qWaitForWindowExposed(window.get()));
}

void TestMainWindow::cleanup()
{
    window.reset();
    if (m_handle)
        m_context.context.backend().close(m_handle);
    m_handle = nullptr;
}

void TestMainWindow::startWorkerLoop()
{
    // The loop reads a device that answers; it is opened behind the window's back.
    QCOMPARE(m_context.context.backend().openEx("ZK128", FT_OPEN_BY_SERIAL_NUMBER, &m_handle), FT_STATUS(FT_OK));
    window->receiver().useDevice(m_handle);
    window->receiver().resume();
    window->receiver().startAcquisition();
    QTRY_VERIFY(!window->receiver().isParked());
}

void TestMainWindow::startsOnTheSystemPage()
{
    auto *list = find<QListWidget>("listWidget");
    QCOMPARE(list->count(), 5);
    QCOMPARE(list->currentRow(), 0);
    QCOMPARE(find<QStackedWidget>("stackedWidget")->currentWidget()->objectName(), QStringLiteral("page"));
    QCOMPARE(list->focusPolicy(), Qt::TabFocus); // reachable by Tab, not by click
    const QStringList texts = {"System", "Settings", "Display", "Save", "About"};
    for (int row = 0; row < 5; ++row) {
        QCOMPARE(list->item(row)->text(), texts[row]);
        QCOMPARE(list->item(row)->font().weight(), QFont::Bold);
        QVERIFY2(showsIcon(list->item(row), row == 0 ? SelectedIcons[row] : RestIcons[row]), qPrintable(texts[row]));
    }
    for (const char *hidden : {"widget_play", "widget_bat", "widget_range"})
        QVERIFY2(find<QWidget>(hidden)->isHidden(), hidden);
}

void TestMainWindow::navigation_data()
{
    QTest::addColumn<QList<int>>("clicks");
    QTest::newRow("Save row") << QList<int>{3};
    QTest::newRow("About row") << QList<int>{4};
    QTest::newRow("Settings then Display") << QList<int>{1, 2};
    QTest::newRow("away and back to System") << QList<int>{2, 0};
    QTest::newRow("same row twice") << QList<int>{3, 3};
}

void TestMainWindow::navigation()
{
    QFETCH(QList<int>, clicks);
    auto *list = find<QListWidget>("listWidget");
    for (int row : clicks) {
        const QRect rect = list->visualItemRect(list->item(row));
        QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, rect.center());
    }
    const int last = clicks.last();
    QCOMPARE(find<QStackedWidget>("stackedWidget")->currentIndex(), last);
    QCOMPARE(find<QStackedWidget>("stackedWidget")->currentWidget()->objectName(), QString::fromLatin1(Pages[last]));
    for (int row = 0; row < 5; ++row) {
        const char *icon = row == last ? SelectedIcons[row] : RestIcons[row];
        QVERIFY2(showsIcon(list->item(row), icon), icon);
    }
}

void TestMainWindow::exitConfirmation_data()
{
    QTest::addColumn<QMessageBox::StandardButton>("answer");
    QTest::addColumn<bool>("stillOpen");
    QTest::newRow("No leaves the window and the capture") << QMessageBox::No << true;
    QTest::newRow("Yes closes the window") << QMessageBox::Yes << false;
}

void TestMainWindow::exitConfirmation()
{
    QFETCH(QMessageBox::StandardButton, answer);
    QFETCH(bool, stillOpen);
    startWorkerLoop();

    QString text;
    QMessageBox::StandardButtons buttons;
    Qt::WindowFlags flags;
    QWidget *parent = window.get();
    QString sheet;
    QFont font;
    bool seen = false;
    handleNextModal<QMessageBox>(
        [&](QMessageBox *box) {
            text = box->text();
            buttons = box->standardButtons();
            flags = box->windowFlags();
            parent = box->parentWidget();
            sheet = box->styleSheet();
            font = box->font();
        },
        [&](QMessageBox *box) { box->button(answer)->click(); }, &seen);
    find<QPushButton>("pushButton_close")->click();

    QVERIFY(seen);
    QCOMPARE(text, QStringLiteral("Are you sure you want to exit\uFF1F"));
    // Some installed font draws the full-width question mark (glyph 0 is the missing-glyph box).
    QTextLayout layout(QStringLiteral("\uFF1F"), font);
    layout.beginLayout();
    layout.createLine();
    layout.endLayout();
    const QList<QGlyphRun> runs = layout.glyphRuns();
    QVERIFY(!runs.isEmpty());
    for (const QGlyphRun &run : runs)
        QVERIFY2(!run.glyphIndexes().contains(0u), qPrintable(run.rawFont().familyName()));
    QCOMPARE(buttons, QMessageBox::Yes | QMessageBox::No);
    QVERIFY(flags.testFlag(Qt::FramelessWindowHint));
    QVERIFY(parent == nullptr);
    QVERIFY(sheet.contains(QLatin1String("background-color: #F0F3F6;")));
    QCOMPARE(window->isVisible(), stillOpen);
    if (stillOpen) {
        // The capture loop was not disturbed.
        QVERIFY(window->receiver().isRunning());
        QVERIFY(!window->receiver().isParked());
    }
}

void TestMainWindow::iconButtonToolTips()
{
    const std::pair<const char *, const char *> tips[] = {
        {"pushButton_play", "Start capture"},
        {"pushButton_rotate", "Rotate the picture by 90 degrees"},
        {"pushButton_mirrorHorizontal", "Mirror the picture left to right"},
        {"pushButton_mirrorVertical", "Mirror the picture top to bottom"},
        {"pushButton_voltage_about", "What the bias voltages do"},
        {"pushButton_minimize", "Minimise"},
        {"pushButton_maxsize", "Maximise"},
        {"pushButton_close", "Close"},
        {"widget_bat", "Battery: unknown"}, // its voltage once a battery answer came
    };
    for (const auto &[name, tip] : tips)
        QCOMPARE(find<QWidget>(name)->toolTip(), QString::fromLatin1(tip));
}

void TestMainWindow::maximiseButtonImage()
{
    auto *button = find<QPushButton>("pushButton_maxsize");
    QVERIFY(button->styleSheet().contains(QLatin1String("Maximize-1.png")));
    button->click();
    QTRY_VERIFY(window->isMaximized());
    QCOMPARE(button->styleSheet(),
             QStringLiteral("QPushButton { border-image: url(:/image/image_resource/Maximize-3.png);\nmargin:7px;}"));
    button->click();
    QTRY_VERIFY(!window->isMaximized());
    QCOMPARE(button->styleSheet(),
             QStringLiteral("QPushButton { border-image: url(:/image/image_resource/Maximize-1.png);\nmargin:7px;}"));

    // Maximising through the title band leaves the button's image alone.
    WindowChrome::install(*qApp, *window);
    window->show();
    QMouseEvent dbl(QEvent::MouseButtonDblClick, QPointF(300, 20), QPointF(window->mapToGlobal(QPoint(300, 20))),
                    Qt::LeftButton, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(window.get(), &dbl);
    QTRY_VERIFY(window->isMaximized());
    QVERIFY(button->styleSheet().contains(QLatin1String("Maximize-1.png")));
}

void TestMainWindow::entryChrome()
{
    FramelessHelper *helper = WindowChrome::install(*qApp, *window);
    QCOMPARE(helper->parent(), window.get());
    QVERIFY(helper->isAttached(window.get()));
    QCOMPARE(FramelessHelper::dragBandHeight(), 40);
    QCOMPARE(FramelessHelper::edgeGripWidth(), 3);
    QVERIFY(helper->rubberBandOf(window.get()) == nullptr);
    QVERIFY(window->windowFlags().testFlag(Qt::FramelessWindowHint));
    QVERIFY(window->testAttribute(Qt::WA_TranslucentBackground));
    QCOMPARE(qApp->styleSheet(),
             QStringLiteral("\n        QMainWindow#MainWindow {\n            background: transparent;\n        }\n    "));
    qApp->setStyleSheet(QString());
}

void TestMainWindow::validators_data()
{
    QTest::addColumn<QString>("field");
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("accepted");

    QTest::newRow("gear refuses 0") << "gear" << "0" << false;
    QTest::newRow("gear refuses 801") << "gear" << "801" << false;
    QTest::newRow("gear refuses 1000") << "gear" << "1000" << false;
    QTest::newRow("gear refuses 12.5") << "gear" << "12.5" << false;
    QTest::newRow("gear accepts 1") << "gear" << "1" << true;
    QTest::newRow("gear accepts 99") << "gear" << "99" << true;
    QTest::newRow("gear accepts 799") << "gear" << "799" << true;
    QTest::newRow("gear accepts 800") << "gear" << "800" << true;

    QTest::newRow("voltage accepts -15") << "voltage" << "-15" << true;
    QTest::newRow("voltage accepts 15.0") << "voltage" << "15.0" << true;
    QTest::newRow("voltage accepts -3.25") << "voltage" << "-3.25" << true;
    QTest::newRow("voltage accepts 0.5") << "voltage" << "0.5" << true;
    QTest::newRow("voltage accepts 14.99") << "voltage" << "14.99" << true;
    QTest::newRow("voltage refuses 16") << "voltage" << "16" << false;
    QTest::newRow("voltage refuses -0.5") << "voltage" << "-0.5" << false;
    QTest::newRow("voltage refuses 15.5") << "voltage" << "15.5" << false;
    QTest::newRow("voltage refuses -15.01") << "voltage" << "-15.01" << false;
    QTest::newRow("voltage refuses letters") << "voltage" << "5v" << false;
}

void TestMainWindow::validators()
{
    QFETCH(QString, field);
    QFETCH(QString, text);
    QFETCH(bool, accepted);
    const QList<const char *> names = field == QLatin1String("gear")
        ? QList<const char *>{"lineEdit_gear"}
        : QList<const char *>{"lineEdit_vc", "lineEdit_vd", "lineEdit_von", "lineEdit_voff"};
    for (const char *name : names) {
        auto *edit = find<QLineEdit>(name);
        int pos = 0;
        QString probe = text;
        QCOMPARE(edit->validator()->validate(probe, pos) == QValidator::Acceptable, accepted);
        // Typed by hand: a refused value never ends up in the field whole.
        edit->clear();
        edit->show();
        edit->setFocus();
        QTest::keyClicks(edit, text);
        QCOMPARE(edit->text() == text, accepted);
        QCOMPARE(edit->hasAcceptableInput() && edit->text() == text, accepted);
    }
}

void TestMainWindow::frameCountCombo()
{
    auto *frames = find<QComboBox>("comboBox_saveframes");
    QStringList items;
    for (int i = 0; i < frames->count(); ++i)
        items << frames->itemText(i);
    QCOMPARE(items, QStringList({"1", "5", "30", "50", "100", "500", "1000"}));
    QVERIFY(frames->isEditable());
    QCOMPARE(frames->focusPolicy(), Qt::StrongFocus);
    QVERIFY(frames->completer() == nullptr);
    QVERIFY(qobject_cast<ComboBoxDelegate *>(frames->itemDelegate()));
    QVERIFY(qobject_cast<ComboBoxDelegate *>(find<QComboBox>("comboBox")->itemDelegate()));

    find<QListWidget>("listWidget")->setCurrentRow(3);
    frames->lineEdit()->clear();
    frames->setFocus();
    QTest::keyClicks(frames->lineEdit(), QStringLiteral("12a-5"));
    QCOMPARE(frames->currentText(), QStringLiteral("125"));
}

void TestMainWindow::voltageHelpOpensModalDialogs()
{
    QList<VoltageDetails *> dialogs;
    for (int i = 0; i < 2; ++i) {
        bool seen = false;
        bool blocked = false;
        handleNextModal<VoltageDetails>(
            [&](VoltageDetails *d) {
                dialogs << d;
                blocked = d->isModal() && QApplication::activeModalWidget() == d;
            },
            [](VoltageDetails *d) { d->reject(); }, &seen);
        find<QPushButton>("pushButton_voltage_about")->click();
        QVERIFY(seen);
        QVERIFY(blocked);
    }
    QCOMPARE(dialogs.size(), 2);
    QVERIFY(dialogs[0] != dialogs[1]);
    for (VoltageDetails *d : dialogs) {
        QCOMPARE(d->parentWidget(), window.get());
        QCOMPARE(d->findChild<QLabel *>(QStringLiteral("label_8"))->text(), QStringLiteral("Reserved bias voltage"));
    }
    QCOMPARE(window->findChildren<VoltageDetails *>().size(), 2);
}

void TestMainWindow::buttonLook_data()
{
    QTest::addColumn<QString>("page");
    QTest::addColumn<QString>("buttonText");
    QTest::addColumn<bool>("enabled");
    QTest::addColumn<QColor>("background");

    QTest::newRow("disabled Full-On is grey") << "Display" << "Full-On" << false << QColor("#cdcdcd");
    QTest::newRow("disabled Start Capture is grey") << "Display" << "Start Capture" << false << QColor("#cdcdcd");
    QTest::newRow("disabled Offset Enable is grey") << "Display" << "Offset Enable" << false << QColor("#cdcdcd");
    QTest::newRow("disabled Setting is grey") << "Settings" << "Setting" << false << QColor("#cdcdcd");
    // The Connect button has no disabled rule: it keeps the accent.
    QTest::newRow("disabled Connect keeps the accent") << "System" << "Connect" << false << QColor("#896827");
}

void TestMainWindow::buttonLook()
{
    QFETCH(QString, page);
    QFETCH(QString, buttonText);
    QFETCH(bool, enabled);
    QFETCH(QColor, background);
    auto *list = find<QListWidget>("listWidget");
    list->setCurrentItem(list->findItems(page, Qt::MatchExactly).first());
    QPushButton *button = nullptr;
    for (QPushButton *b : window->findChildren<QPushButton *>())
        if (b->text() == buttonText)
            button = b;
    QVERIFY(button);
    button->setEnabled(enabled);
    QApplication::processEvents();
    const QImage shot = button->grab().toImage();
    // Sample just inside the left end at mid height: on the face, off the text.
    const QColor sampled = shot.pixelColor(5, shot.height() / 2);
    QVERIFY2(near(sampled, background, 3), qPrintable(sampled.name() + " vs " + background.name()));
}

void TestMainWindow::selectedNavigationRowLook()
{
    auto *list = find<QListWidget>("listWidget");
    const QImage shot = list->viewport()->grab().toImage();
    const QRect selected = list->visualItemRect(list->item(0));
    const QRect other = list->visualItemRect(list->item(1));
    // 80 % accent over the list's rgb(240, 243, 246).
    const QColor accentOverList(qRound(0.8 * 0x89 + 0.2 * 240), qRound(0.8 * 0x68 + 0.2 * 243),
                                qRound(0.8 * 0x27 + 0.2 * 246));
    const QPoint probe(selected.right() - 8, selected.center().y());
    QVERIFY2(near(shot.pixelColor(probe), accentOverList, 4), qPrintable(shot.pixelColor(probe).name()));
    QVERIFY(near(shot.pixelColor(other.right() - 8, other.center().y()), QColor(Qt::white), 2));
}

void TestMainWindow::runTimeControls()
{
    auto buttonsIn = [&](const char *container) {
        QStringList states;
        for (QPushButton *b : find<QWidget>(container)->findChildren<QPushButton *>())
            states << b->text() + (b->isEnabled() ? "" : " (off)");
        return states;
    };
    QCOMPARE(buttonsIn("widget_7"), QStringList({"Open Calibration", "Full-On (off)", "Full-Off (off)"}));
    QCOMPARE(buttonsIn("widget_9"), QStringList({"Open It-Curve", "Start Capture (off)", "Stop Capture (off)"}));
    QCOMPARE(buttonsIn("widget_24"), QStringList({"Collect Template", "Offset Enable (off)", "Offset Disable (off)"}));

    const auto checks = find<QWidget>("widget_9")->findChildren<QCheckBox *>();
    QCOMPARE(checks.size(), 3);
    const QStringList colours = {"blue", "red", "green"};
    for (int k = 0; k < 3; ++k) {
        QCOMPARE(checks[k]->text(), QStringLiteral("CH%1").arg(k + 1));
        QCOMPARE(checks[k]->isChecked(), k == 0);
        QCOMPARE(checks[k]->styleSheet(), QStringLiteral("QCheckBox { color: %1; }").arg(colours[k]));
    }
    const auto edits = find<QWidget>("widget_9")->findChildren<QLineEdit *>();
    QCOMPARE(edits.size(), 6);
    QCOMPARE(edits[0]->text(), QStringLiteral("0"));
    QCOMPARE(edits[1]->text(), QStringLiteral("0"));
    QVERIFY(edits[2]->text().isEmpty());
    QCOMPARE(edits[0]->size(), QSize(50, 20));
    QStringList labels;
    for (QLabel *l : find<QWidget>("widget_24")->findChildren<QLabel *>())
        labels << l->text();
    QCOMPARE(labels, QStringList({"Result: ", "Confidence: "}));
}

void TestMainWindow::teardownWithRunningWorker()
{
    startWorkerLoop();
    QThread *thread = &window->receiverThread();
    QVERIFY(thread->isRunning());
    find<QComboBox>("comboBox_saveframes")->setCurrentText(QStringLiteral("30"));

    bool loopLeft = false;
    bool threadEndedFirst = false;
    bool settingsSavedFirst = false;
    connect(&window->receiver(), &ReceiverThread::finished, this, [&] { loopLeft = true; }, Qt::DirectConnection);
    connect(&window->receiver(), &QObject::destroyed, this, [&] {
        threadEndedFirst = thread->isFinished();
        QSettings store(QStringLiteral("Velmoray"), QStringLiteral("Tessivo_128"));
        settingsSavedFirst = store.value(QStringLiteral("ReceiverSettings/saveFrames")).toInt() == 30;
    }, Qt::DirectConnection);

    window.reset();
    QVERIFY(loopLeft);
    QVERIFY(threadEndedFirst);
    QVERIFY(settingsSavedFirst);
}

TESSIVO_WINDOW_TEST_MAIN(TestMainWindow)
#include "tst_app_mainwindow.moc"
