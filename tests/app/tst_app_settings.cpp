#include "tests/app/AppTestSupport.h"

#include "app/MainWindow.h"
#include "app/ParameterPanel.h"
#include "tests/support/TestContext.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QRadioButton>

#include <memory>

namespace {

QSettings openStore()
{
    return QSettings(QStringLiteral("Velmoray"), QStringLiteral("Tessivo_128"));
}

void writeStore(const QVariantMap &values)
{
    QSettings store(QStringLiteral("Velmoray"), QStringLiteral("Tessivo_128"));
    store.clear();
    store.beginGroup(QStringLiteral("ReceiverSettings"));
    for (auto it = values.cbegin(); it != values.cend(); ++it)
        store.setValue(it.key(), it.value());
    store.endGroup();
    store.sync();
}

const char *const RangeButtons[] = {"radioButton_800", "radioButton_100", "radioButton_10", "radioButton_1",
                                    "radioButton_optional_gear"};

} // namespace

class TestSettings : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void load_data();
    void load();
    void loadRestoresTextsIntoTheSummary();
    void save_data();
    void save();
    void roundTrip();

private:
    template <typename T>
    T *find(const char *name) const
    {
        T *w = window->findChild<T *>(QString::fromLatin1(name));
        if (!w)
            qFatal("no widget %s", name);
        return w;
    }

    TestContext m_context;
    std::unique_ptr<MainWindow> window;
};

void TestSettings::init()
{
    writeStore({});
}

void TestSettings::cleanup()
{
    window.reset();
}

void TestSettings::load_data()
{
    QTest::addColumn<QVariantMap>("stored");
    QTest::addColumn<QString>("checkedRange");
    QTest::addColumn<double>("range");
    QTest::addColumn<bool>("rangeFieldShown");
    QTest::addColumn<QString>("frames");
    QTest::addColumn<QList<bool>>("saveKinds"); // Data, Picture, Video

    QTest::newRow("first run") << QVariantMap{} << "radioButton_800" << 800.0 << false << "0"
                               << QList<bool>{true, false, false};
    QTest::newRow("stored false keeps Data checked")
        << QVariantMap{{"checkBox_data", false}, {"checkBox_picture", "false"}}
        << "radioButton_800" << 800.0 << false << "0" << QList<bool>{true, false, false};
    QTest::newRow("stored true checks Picture and Video")
        << QVariantMap{{"checkBox_picture", true}, {"checkBox_video", "true"}}
        << "radioButton_800" << 800.0 << false << "0" << QList<bool>{true, true, true};
    QTest::newRow("only the exact text true acts")
        << QVariantMap{{"checkBox_video", "TRUE"}, {"radioButton_10", "1"}, {"checkBox_picture", "yes"}}
        << "radioButton_800" << 800.0 << false << "0" << QList<bool>{true, false, false};
    QTest::newRow("optional gear 250")
        << QVariantMap{{"radioButton_optional_gear", true}, {"lineEdit_gear", "250"}}
        << "radioButton_optional_gear" << 250.0 << true << "0" << QList<bool>{true, false, false};
    QTest::newRow("optional gear with a non-number range")
        << QVariantMap{{"radioButton_optional_gear", "true"}, {"lineEdit_gear", "abc"}}
        << "radioButton_optional_gear" << 0.0 << true << "0" << QList<bool>{true, false, false};
    QTest::newRow("several true ranges: the last fixed one wins")
        << QVariantMap{{"radioButton_800", "true"}, {"radioButton_100", "true"}, {"radioButton_1", "true"}}
        << "radioButton_1" << 1.0 << false << "0" << QList<bool>{true, false, false};
    QTest::newRow("several true ranges: optional gear is applied last")
        << QVariantMap{{"radioButton_100", "true"}, {"radioButton_10", "true"},
                       {"radioButton_optional_gear", "true"}, {"lineEdit_gear", "37"}}
        << "radioButton_optional_gear" << 37.0 << true << "0" << QList<bool>{true, false, false};
    QTest::newRow("fixed range 10 hides the range field")
        << QVariantMap{{"radioButton_10", true}} << "radioButton_10" << 10.0 << false << "0"
        << QList<bool>{true, false, false};
    QTest::newRow("saveFrames 5000 is shown unlimited")
        << QVariantMap{{"saveFrames", 5000}} << "radioButton_800" << 800.0 << false << "5000"
        << QList<bool>{true, false, false};
    QTest::newRow("saveFrames that is not a number shows 0")
        << QVariantMap{{"saveFrames", "many"}} << "radioButton_800" << 800.0 << false << "0"
        << QList<bool>{true, false, false};
}

void TestSettings::load()
{
    QFETCH(QVariantMap, stored);
    QFETCH(QString, checkedRange);
    QFETCH(double, range);
    QFETCH(bool, rangeFieldShown);
    QFETCH(QString, frames);
    QFETCH(QList<bool>, saveKinds);

    writeStore(stored);
    window = std::make_unique<MainWindow>(m_context.context);

    for (const char *name : RangeButtons)
        QCOMPARE(find<QRadioButton>(name)->isChecked(), checkedRange == QLatin1String(name));
    QCOMPARE(window->parameters().chosenRange(), range);
    QCOMPARE(!find<QWidget>("widget_range")->isHidden(), rangeFieldShown);
    QCOMPARE(find<QComboBox>("comboBox_saveframes")->currentText(), frames);
    QCOMPARE(find<QCheckBox>("checkBox_data")->isChecked(), saveKinds[0]);
    QCOMPARE(find<QCheckBox>("checkBox_picture")->isChecked(), saveKinds[1]);
    QCOMPARE(find<QCheckBox>("checkBox_video")->isChecked(), saveKinds[2]);
    QCOMPARE(window->parameterSummaryText().section('\n', 0, 0),
             QStringLiteral("Current:") + QString::number(range, 'g', 6));
}

void TestSettings::loadRestoresTextsIntoTheSummary()
{
    writeStore({{"saveDirectory", "/data/runs/a very long folder name/zk128"},
                {"saveNames", "lamp test"},
                {"lineEdit_vc", "3.5"},
                {"lineEdit_vd", "3.5"},
                {"lineEdit_von", "15"},
                {"lineEdit_voff", "-15"},
                {"radioButton_100", "true"}});
    window = std::make_unique<MainWindow>(m_context.context);
    QCOMPARE(window->parameterSummaryText(), QStringLiteral("Current:100\nVbias1:3.5\nVbias2:3.5\nVon:15\nVoff:-15\n"));
    auto *path = find<QLineEdit>("lineEdit_savepath");
    QCOMPARE(path->text(), QStringLiteral("/data/runs/a very long folder name/zk128"));
    QCOMPARE(path->cursorPosition(), 0);
    QVERIFY(!path->hasSelectedText());
    QCOMPARE(find<QLineEdit>("lineEdit_savename")->text(), QStringLiteral("lamp test"));
    QCOMPARE(find<QLineEdit>("lineEdit_savename")->cursorPosition(), 0);
    window.reset();

    // First run: exactly the five bare lines, with the range the form shows checked.
    writeStore({});
    window = std::make_unique<MainWindow>(m_context.context);
    QCOMPARE(window->parameterSummaryText(), QStringLiteral("Current:800\nVbias1:\nVbias2:\nVon:\nVoff:\n"));
    for (const char *edit : {"lineEdit_vc", "lineEdit_vd", "lineEdit_von", "lineEdit_voff", "lineEdit_gear",
                             "lineEdit_savepath", "lineEdit_savename"})
        QVERIFY2(find<QLineEdit>(edit)->text().isEmpty(), edit);
}

void TestSettings::save_data()
{
    QTest::addColumn<QString>("framesText");
    QTest::addColumn<int>("savedFrames");
    QTest::addColumn<QString>("rangeButton");
    QTest::addColumn<bool>("picture");

    QTest::newRow("typed count") << "250" << 250 << "radioButton_10" << true;
    QTest::newRow("empty count saves 0") << "" << 0 << "radioButton_optional_gear" << false;
    QTest::newRow("count above the save limit is kept") << "5000" << 5000 << "radioButton_1" << true;
}

void TestSettings::save()
{
    QFETCH(QString, framesText);
    QFETCH(int, savedFrames);
    QFETCH(QString, rangeButton);
    QFETCH(bool, picture);

    window = std::make_unique<MainWindow>(m_context.context);
    find<QComboBox>("comboBox_saveframes")->setCurrentText(framesText);
    find<QLineEdit>("lineEdit_vc")->setText(QStringLiteral(" 4.5"));
    find<QLineEdit>("lineEdit_voff")->setText(QStringLiteral("-15"));
    find<QLineEdit>("lineEdit_savepath")->setText(QStringLiteral("/tmp/run dir"));
    window->findChild<QRadioButton *>(rangeButton)->setChecked(true);
    find<QCheckBox>("checkBox_data")->setChecked(false);
    find<QCheckBox>("checkBox_picture")->setChecked(picture);
    window.reset(); // the destructor saves

    QSettings store = openStore();
    store.beginGroup(QStringLiteral("ReceiverSettings"));
    QCOMPARE(store.value("saveFrames").toInt(), savedFrames);
    QCOMPARE(store.value("lineEdit_vc").toString(), QStringLiteral(" 4.5")); // unchanged, not trimmed
    QCOMPARE(store.value("lineEdit_voff").toString(), QStringLiteral("-15"));
    QCOMPARE(store.value("lineEdit_vd").toString(), QString());
    QCOMPARE(store.value("saveDirectory").toString(), QStringLiteral("/tmp/run dir"));
    QVERIFY(store.contains("saveNames"));
    for (const char *name : RangeButtons)
        QCOMPARE(store.value(name).toString(), rangeButton == QLatin1String(name) ? "true" : "false");
    QCOMPARE(store.value("checkBox_data").toString(), QStringLiteral("false"));
    QCOMPARE(store.value("checkBox_picture").toString(), picture ? "true" : "false");
    QCOMPARE(store.value("checkBox_video").toString(), QStringLiteral("false"));
}

void TestSettings::roundTrip()
{
    window = std::make_unique<MainWindow>(m_context.context);
    find<QRadioButton>("radioButton_optional_gear")->setChecked(true);
    find<QLineEdit>("lineEdit_gear")->setText(QStringLiteral("640"));
    find<QLineEdit>("lineEdit_von")->setText(QStringLiteral("12"));
    find<QCheckBox>("checkBox_video")->setChecked(true);
    find<QComboBox>("comboBox_saveframes")->setCurrentText(QStringLiteral("100"));
    window.reset();

    window = std::make_unique<MainWindow>(m_context.context);
    QVERIFY(find<QRadioButton>("radioButton_optional_gear")->isChecked());
    QVERIFY(!find<QWidget>("widget_range")->isHidden());
    QCOMPARE(window->parameters().chosenRange(), 640.0);
    QCOMPARE(find<QLineEdit>("lineEdit_von")->text(), QStringLiteral("12"));
    QVERIFY(find<QCheckBox>("checkBox_video")->isChecked());
    QVERIFY(find<QCheckBox>("checkBox_data")->isChecked());
    QCOMPARE(find<QComboBox>("comboBox_saveframes")->currentText(), QStringLiteral("100"));
    QVERIFY(window->parameterSummaryText().startsWith(QLatin1String("Current:640\nVbias1:\nVbias2:\nVon:12\n")));
}

TESSIVO_WINDOW_TEST_MAIN(TestSettings)
#include "tst_app_settings.moc"
