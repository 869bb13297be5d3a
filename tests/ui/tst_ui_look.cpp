#include "ui/ComboBoxDelegate.h"
#include "ui/ResourceBundle.h"
#include "ui/VoltageDetails.h"

#include <QComboBox>
#include <QGridLayout>
#include <QLabel>
#include <QListView>
#include <QStandardItemModel>
#include <QtTest>

class TestLook : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();

    void resourceImage_data();
    void resourceImage();
    void voltageHelpCell_data();
    void voltageHelpCell();
    void voltageHelpFrame();
    void voltageHelpDiagramsShowTheirImages();
    void comboRowsAreTwentyPixels_data();
    void comboRowsAreTwentyPixels();
};

void TestLook::initTestCase()
{
    ResourceBundle::ensureRegistered();
}

void TestLook::resourceImage_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QSize>("size");

    // Each image is drawn at the size it is shown at: the widget's fixed size
    // less its style-sheet margin (icons of the navigation list at 32 px).
    const QList<QPair<const char *, QSize>> images = {
        {"logo.png", {24, 24}},           {"Velmoray.png", {101, 25}},
        {"play.png", {22, 22}},           {"stop.png", {22, 22}},
        {"Minimize-1.png", {16, 16}},     {"Maximize-1.png", {16, 16}},
        {"Maximize-3.png", {16, 16}},     {"Shut down-1.png", {14, 14}},
        {"control_1.png", {32, 32}},      {"control_2.png", {32, 32}},
        {"current_1.png", {32, 32}},      {"current_2.png", {32, 32}},
        {"calibration_1.png", {32, 32}},  {"calibration_2.png", {32, 32}},
        {"save_table.png", {32, 32}},     {"save_table_1.png", {32, 32}},
        {"about_1.png", {32, 32}},        {"about_2.png", {32, 32}},
        {"down_arrow.png", {12, 12}},     {"up_arrow.png", {12, 12}},
        {"checkbox.png", {14, 14}},       {"checkbox-checked.png", {14, 14}},
        {"wenhao.png", {15, 15}},         {"wenhao_press.png", {15, 15}},
        {"rotate.png", {20, 20}},         {"mirror.png", {20, 20}},
        {"mirror_top.png", {20, 20}},     {"file.png", {16, 16}},
        {"v1.png", {278, 210}},           {"v2.png", {278, 170}},
    };
    for (const auto &image : images)
        QTest::newRow(image.first) << QString::fromLatin1(image.first) << image.second;
}

void TestLook::resourceImage()
{
    QFETCH(QString, name);
    QFETCH(QSize, size);
    const QImage image(QStringLiteral(":/image/image_resource/") + name);
    QVERIFY2(!image.isNull(), qPrintable(name + " is missing from the bundle"));
    QCOMPARE(image.size(), size);
    // Not an empty canvas: something was drawn.
    QImage alpha = image.convertToFormat(QImage::Format_ARGB32);
    int opaque = 0;
    for (int y = 0; y < alpha.height(); ++y)
        for (int x = 0; x < alpha.width(); ++x)
            opaque += qAlpha(alpha.pixel(x, y)) > 128;
    QVERIFY(opaque > image.width() * image.height() / 50);
}

void TestLook::voltageHelpCell_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<int>("row");
    QTest::addColumn<int>("column");
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("shaded");

    QTest::newRow("header voltage") << "label" << 0 << 0 << "  Voltage    " << true;
    QTest::newRow("header function") << "label_2" << 0 << 1 << "Function" << true;
    QTest::newRow("header suggest") << "label_3" << 0 << 2 << "Suggest" << true;
    QTest::newRow("Vbias1 name") << "label_4" << 1 << 0 << "  Vbias1" << false;
    QTest::newRow("Vbias1 function") << "label_5" << 1 << 1 << "Bias voltage applied on the \ncathode node of PD" << false;
    QTest::newRow("Vbias1 suggest") << "label_6" << 1 << 2
                                    << "<html><head/><body><p>1T0C: Vbias1 must be postive value, PD current is "
                                       "related to Vbias1</p></body></html>"
                                    << false;
    QTest::newRow("Vbias2 name") << "label_7" << 2 << 0 << "  Vbias2" << true;
    QTest::newRow("Vbias2 function") << "label_8" << 2 << 1 << "Reserved bias voltage" << true;
    QTest::newRow("Vbias2 suggest") << "label_13" << 2 << 2 << "Recommended value = Vbias1" << true;
    QTest::newRow("Von name") << "label_9" << 3 << 0 << "  Von" << false;
    QTest::newRow("Von function") << "label_14" << 3 << 1 << "Select  voltage of TFT" << false;
    QTest::newRow("Von suggest") << "label_15" << 3 << 2
                                 << "<html><head/><body><p>1T0C: Range is from 0V to 15V and 15V is recommended for "
                                    "initial setting</p></body></html>"
                                 << false;
    QTest::newRow("Voff name") << "label_10" << 4 << 0 << "  Voff" << true;
    QTest::newRow("Voff function") << "label_16" << 4 << 1 << "Non-select voltage of TFT" << true;
    QTest::newRow("Voff suggest") << "label_17" << 4 << 2
                                  << "<html><head/><body><p>1T0C: Range is from 0V to -15V and -15V is recommended "
                                     "for initial setting</p></body></html>"
                                  << true;
}

void TestLook::voltageHelpCell()
{
    QFETCH(QString, name);
    QFETCH(int, row);
    QFETCH(int, column);
    QFETCH(QString, text);
    QFETCH(bool, shaded);

    QWidget owner;
    VoltageDetails dialog(&owner);
    auto *grid = dialog.findChild<QGridLayout *>(QStringLiteral("gridLayout"));
    QVERIFY(grid);
    auto *cell = qobject_cast<QLabel *>(grid->itemAtPosition(row, column)->widget());
    QVERIFY(cell);
    QCOMPARE(cell->objectName(), name);
    QCOMPARE(cell->text(), text);
    QCOMPARE(cell->styleSheet().contains(QLatin1String("background:#DDDDDD")), shaded);
    QCOMPARE(cell->font().bold(), row == 0);
}

void TestLook::voltageHelpFrame()
{
    QWidget owner;
    VoltageDetails first(&owner);
    VoltageDetails second(&owner);
    QCOMPARE(first.windowTitle(), QStringLiteral("VoltageDetails"));
    QCOMPARE(first.size(), QSize(1082, 584));
    QCOMPARE(first.parentWidget(), &owner);
    const QStringList titles = {QStringLiteral("label_24"), QStringLiteral("label_25")};
    const QStringList texts = {QStringLiteral("Description:"), QStringLiteral("Diagram:")};
    for (int i = 0; i < 2; ++i) {
        auto *title = first.findChild<QLabel *>(titles[i]);
        QVERIFY(title);
        QCOMPARE(title->text(), texts[i]);
        QVERIFY(title->font().bold());
        // Every dialog builds its own form.
        QVERIFY(second.findChild<QLabel *>(titles[i]) != title);
        QCOMPARE(second.findChild<QLabel *>(titles[i])->text(), texts[i]);
    }
}

void TestLook::voltageHelpDiagramsShowTheirImages()
{
    QWidget owner;
    VoltageDetails dialog(&owner);
    dialog.show();
    QVERIFY(QTest::qWaitForWindowExposed(&dialog));
    const QImage shot = dialog.grab().toImage();
    for (const char *name : {"label_22", "label_23"}) {
        auto *diagram = dialog.findChild<QLabel *>(QString::fromLatin1(name));
        QVERIFY(diagram);
        QVERIFY(diagram->text().isEmpty());
        QVERIFY(diagram->width() > 100 && diagram->height() > 100);
        // The diagram card is white with dark strokes; the dialog around it is
        // the window grey, so a drawn diagram shows both extremes.
        const QRect area(diagram->mapTo(&dialog, QPoint(0, 0)), diagram->size());
        int white = 0, dark = 0;
        for (int y = area.top(); y <= area.bottom(); y += 2) {
            for (int x = area.left(); x <= area.right(); x += 2) {
                const QColor c = shot.pixelColor(x, y);
                white += c.lightness() > 250;
                dark += c.lightness() < 110;
            }
        }
        QVERIFY2(white > 1000, name);
        QVERIFY2(dark > 50, name);
    }
}

void TestLook::comboRowsAreTwentyPixels_data()
{
    QTest::addColumn<int>("pointSize");
    QTest::newRow("small font") << 6;
    QTest::newRow("ordinary font") << 10;
    QTest::newRow("large font") << 28;
}

void TestLook::comboRowsAreTwentyPixels()
{
    QFETCH(int, pointSize);
    QComboBox combo;
    QFont font = combo.font();
    font.setPointSize(pointSize);
    combo.setFont(font);
    combo.view()->setFont(font);
    combo.addItems({QStringLiteral("1"), QStringLiteral("500"), QStringLiteral("ZK128 serial 0001")});
    combo.setItemDelegate(new ComboBoxDelegate(&combo));

    // The base delegate would follow the font; ours keeps its width.
    QItemDelegate plain;
    QStyleOptionViewItem option;
    option.initFrom(combo.view());
    option.font = font;
    const QModelIndex index = combo.model()->index(2, 0);
    const QSize base = plain.sizeHint(option, index);
    const QSize ours = combo.itemDelegate()->sizeHint(option, index);
    QCOMPARE(ours.width(), base.width());
    QCOMPARE(ours.height(), 20);

    combo.show();
    combo.showPopup();
    QTRY_VERIFY(combo.view()->isVisible());
    for (int row = 0; row < combo.count(); ++row)
        QCOMPARE(combo.view()->visualRect(combo.model()->index(row, 0)).height(), 20);
    combo.hidePopup();
}

QTEST_MAIN(TestLook)
#include "tst_ui_look.moc"
