// The It-curve page through the real main window on the simulated ZK128:
// channel rows and double-clicks, the plot window, start and stop of the
// series with the held clock, and the window closed and reopened.
#include "tests/pages/PageWindowRig.h"

#include "analysis/CurrentDialog.h"
#include "app/ItCurvePage.h"

#include <QCheckBox>
#include <QLineEdit>
#include <QRadioButton>
#include <QSignalSpy>

namespace {

// The rows of the page, found in the order the page builds them.
struct CurveRows
{
    explicit CurveRows(PageWindowRig &rig)
    {
        QWidget *page = rig.find<QWidget>("widget_9");
        checks = page->findChildren<QCheckBox *>();
        radios = page->findChildren<QRadioButton *>();
        const QList<QLineEdit *> edits = page->findChildren<QLineEdit *>();
        for (int k = 0; k < edits.size(); k += 2) {
            x << edits[k];
            y << edits[k + 1];
        }
        open = rig.buttonNamed("widget_9", QStringLiteral("Open It-Curve"));
        start = rig.buttonNamed("widget_9", QStringLiteral("Start Capture"));
        stop = rig.buttonNamed("widget_9", QStringLiteral("Stop Capture"));
    }
    QStringList fields() const
    {
        QStringList out;
        for (int k = 0; k < x.size(); ++k)
            out << x[k]->text() + QLatin1Char(',') + y[k]->text();
        return out;
    }
    void check(const QList<bool> &on)
    {
        for (int k = 0; k < checks.size(); ++k)
            checks[k]->setChecked(on.value(k));
    }

    QList<QCheckBox *> checks;
    QList<QRadioButton *> radios;
    QList<QLineEdit *> x, y;
    QPushButton *open, *start, *stop;
};

QList<CurrentDialog *> openPlots()
{
    QList<CurrentDialog *> plots;
    for (QWidget *widget : QApplication::topLevelWidgets())
        if (auto *plot = qobject_cast<CurrentDialog *>(widget))
            plots << plot;
    return plots;
}

PixelCurrentSeries seriesOf(std::vector<std::vector<double>> lists)
{
    return std::make_shared<std::vector<std::vector<double>>>(std::move(lists));
}

} // namespace

Q_DECLARE_METATYPE(QList<bool>)

class TestPagesItCurve : public QObject
{
    Q_OBJECT

private slots:
    void coordinates_data();
    void coordinates();
    void startCollect_data();
    void startCollect();
    void onlySecondChannelPlotsOnFirstGraph();
    void timeAxis_data();
    void timeAxis();
    void openRaisesInsteadOfDuplicating();
    void closeWhileCollecting();
    void stopHoldsTheClock();
    void mainWindowTakesThePlotWithIt();
};

void TestPagesItCurve::coordinates_data()
{
    QTest::addColumn<int>("pickBefore");     // channel picked before the double-click, 0 none
    QTest::addColumn<QPoint>("doubleClick"); // (column, row); (-1, -1) none
    QTest::addColumn<int>("pickAfter");      // channel picked after it, 0 none
    QTest::addColumn<QStringList>("fields"); // "x,y" of CH1..CH3
    QTest::newRow("channel 2 picked before any double-click")
        << 2 << QPoint(-1, -1) << 0 << QStringList{"0,0", "0,0", ","};
    QTest::newRow("column 5 row 7 into channel 3")
        << 3 << QPoint(5, 7) << 0 << QStringList{"0,0", ",", "7,5"};
    QTest::newRow("double-click first, then pick channel 2")
        << 0 << QPoint(100, 3) << 2 << QStringList{"0,0", "3,100", ","};
    QTest::newRow("no channel picked leaves the rows alone")
        << 0 << QPoint(9, 11) << 0 << QStringList{"0,0", ",", ","};
    QTest::newRow("bottom-right cell into channel 1")
        << 1 << QPoint(127, 127) << 0 << QStringList{"127,127", ",", ","};
}

void TestPagesItCurve::coordinates()
{
    QFETCH(int, pickBefore);
    QFETCH(QPoint, doubleClick);
    QFETCH(int, pickAfter);
    QFETCH(QStringList, fields);

    PageWindowRig rig;
    CurveRows rows(rig);
    QCOMPARE(rows.radios.size(), 3);
    if (pickBefore)
        rows.radios[pickBefore - 1]->click();
    if (doubleClick.x() >= 0)
        rig.doubleClickCell(doubleClick.x(), doubleClick.y());
    if (pickAfter)
        rig.window->itCurve().pickChannel(pickAfter);
    QCOMPARE(rows.fields(), fields);
    QVERIFY(rig.boxes.texts.isEmpty());
}

void TestPagesItCurve::startCollect_data()
{
    QTest::addColumn<bool>("play");
    QTest::addColumn<QList<bool>>("checked");
    QTest::addColumn<QStringList>("fields"); // "x,y" typed into CH1..CH3
    QTest::addColumn<QVector<int>>("cells");
    QTest::addColumn<QStringList>("messages");
    QTest::newRow("capture stopped") << false << QList<bool>{true, false, false}
                                     << QStringList{"0,0", ",", ","} << QVector<int>{}
                                     << QStringList{"Please Start capture first!"};
    QTest::newRow("no channel checked") << true << QList<bool>{false, false, false}
                                        << QStringList{"0,0", "1,1", ","} << QVector<int>{}
                                        << QStringList{"NO channel selected."};
    QTest::newRow("row 7 column 5 is index 901") << true << QList<bool>{false, false, true}
                                                 << QStringList{"0,0", ",", "7,5"} << QVector<int>{901}
                                                 << QStringList{};
    QTest::newRow("checked channels close ranks") << true << QList<bool>{true, false, true}
                                                  << QStringList{"1,2", "3,4", "127,127"}
                                                  << QVector<int>{130, 16383} << QStringList{};
    QTest::newRow("non-numeric row refused") << true << QList<bool>{true, false, false}
                                             << QStringList{"abc,9", ",", ","} << QVector<int>{}
                                             << QStringList{"CH1: x and y must be whole numbers from 0 to 127."};
    QTest::newRow("column off the matrix refused") << true << QList<bool>{false, true, false}
                                                   << QStringList{",", "3,200", ","} << QVector<int>{}
                                                   << QStringList{"CH2: x and y must be whole numbers from 0 to 127."};
}

void TestPagesItCurve::startCollect()
{
    QFETCH(bool, play);
    QFETCH(QList<bool>, checked);
    QFETCH(QStringList, fields);
    QFETCH(QVector<int>, cells);
    QFETCH(QStringList, messages);

    PageWindowRig rig;
    CurveRows rows(rig);
    if (play)
        QVERIFY(rig.connectAndPlay());
    rows.open->click();
    rows.check(checked);
    for (int k = 0; k < fields.size(); ++k) {
        rows.x[k]->setText(fields[k].section(',', 0, 0));
        rows.y[k]->setText(fields[k].section(',', 1, 1));
    }
    rows.start->click();

    QCOMPARE(rig.boxes.texts, messages);
    const bool started = messages.isEmpty();
    QCOMPARE(rig.window->receiver().readout().seriesEnabled(), started);
    QCOMPARE(rows.start->isEnabled(), !started);
    QVERIFY(rows.stop->isEnabled());
    if (started)
        QCOMPARE(QVector<int>(rig.window->itCurve().cells().begin(), rig.window->itCurve().cells().end()), cells);
}

void TestPagesItCurve::onlySecondChannelPlotsOnFirstGraph()
{
    PageWindowRig rig;
    CurveRows rows(rig);
    QVERIFY(rig.connectAndPlay());
    rows.open->click();
    CurrentDialog *plot = rig.window->itCurve().window();
    QVERIFY(plot);
    rows.check({false, true, false});
    rows.x[1]->setText(QStringLiteral("64"));
    rows.y[1]->setText(QStringLiteral("64"));
    rows.start->click();
    QCOMPARE(rig.window->itCurve().cells(), std::vector<int>{64 + 128 * 64});

    // The worker's own series reach the plot through the window.
    QTRY_VERIFY_WITH_TIMEOUT(plot->graph(0)->dataCount() >= 3, 5000);
    QCOMPARE(plot->graph(1)->dataCount(), 0);
    QCOMPARE(plot->graph(2)->dataCount(), 0);
}

void TestPagesItCurve::timeAxis_data()
{
    QTest::addColumn<QVector<double>>("times");
    QTest::addColumn<double>("lower");
    QTest::addColumn<double>("upper");
    QTest::newRow("3.0 stays in the first window") << QVector<double>{3.0} << 0.0 << 10.0;
    QTest::newRow("3.0 then 12.5 scrolls") << QVector<double>{3.0, 12.5} << 2.5 << 12.5;
    QTest::newRow("exactly 10 does not scroll yet") << QVector<double>{10.0} << 0.0 << 10.0;
}

void TestPagesItCurve::timeAxis()
{
    QFETCH(QVector<double>, times);
    QFETCH(double, lower);
    QFETCH(double, upper);

    PageWindowRig rig;
    rig.window->itCurve().openWindow();
    CurrentDialog *plot = rig.window->itCurve().window();
    QVERIFY(plot);
    for (double t : times)
        rig.window->itCurve().addSeriesStep(seriesOf({{1.0}, {2.0, 3.0}}), t);
    QCOMPARE(plot->xAxis->range().lower, lower);
    QCOMPARE(plot->xAxis->range().upper, upper);
    QCOMPARE(plot->graph(0)->dataCount(), times.size());
    QCOMPARE(plot->graph(1)->dataCount(), 2 * times.size());
}

void TestPagesItCurve::openRaisesInsteadOfDuplicating()
{
    PageWindowRig rig;
    CurveRows rows(rig);
    QVERIFY(!rows.start->isEnabled());
    QVERIFY(!rows.stop->isEnabled());
    rows.open->click();
    CurrentDialog *first = rig.window->itCurve().window();
    QVERIFY(first);
    QCOMPARE(first->windowTitle(), QStringLiteral("It"));
    QVERIFY(first->isVisible());
    QCOMPARE(rows.open->text(), QStringLiteral("It-Curve"));
    QVERIFY(rows.start->isEnabled());
    QVERIFY(rows.stop->isEnabled());

    rows.open->click();
    QCOMPARE(rig.window->itCurve().window(), first);
    QCOMPARE(openPlots().size(), 1);
}

void TestPagesItCurve::closeWhileCollecting()
{
    PageWindowRig rig;
    CurveRows rows(rig);
    QVERIFY(rig.connectAndPlay());
    rows.open->click();
    QPointer<CurrentDialog> first = rig.window->itCurve().window();
    rows.start->click();
    QVERIFY(rig.window->receiver().readout().seriesEnabled());
    QTRY_VERIFY_WITH_TIMEOUT(first && first->graph(0)->dataCount() > 0, 5000);

    first->close();
    QVERIFY(!rig.window->receiver().readout().seriesEnabled());
    QVERIFY(!rows.start->isEnabled());
    QVERIFY(!rows.stop->isEnabled());
    QCOMPARE(rows.open->text(), QStringLiteral("Open It-Curve"));
    QVERIFY(!rig.window->itCurve().window());
    QTRY_VERIFY(first.isNull()); // deleted, not leaked

    // A series still on its way is dropped, and opens nothing.
    rig.window->itCurve().addSeriesStep(seriesOf({{5.0}}), 1.0);
    QVERIFY(openPlots().isEmpty());

    rows.open->click();
    CurrentDialog *second = rig.window->itCurve().window();
    QVERIFY(second);
    for (int g = 0; g < 3; ++g)
        QCOMPARE(second->graph(g)->dataCount(), 0);
    QCOMPARE(second->xAxis->range().lower, 0.0);
}

void TestPagesItCurve::stopHoldsTheClock()
{
    PageWindowRig rig;
    CurveRows rows(rig);
    QVERIFY(rig.connectAndPlay());
    rows.open->click();
    QCPGraph *samples = rig.window->itCurve().window()->graph(0);
    rows.start->click();
    QTRY_VERIFY_WITH_TIMEOUT(samples->dataCount() >= 5, 5000);

    rows.stop->click();
    QVERIFY(!rig.window->receiver().readout().seriesEnabled());
    QVERIFY(rows.start->isEnabled());
    QVERIFY(rows.stop->isEnabled());

    // The pause is wall time that must not show on the time axis. The window
    // draws the steps sampled before the stop meanwhile; the last is where
    // the clock stood.
    QTest::qWait(700);
    const int restartedAt = samples->dataCount();
    const double heldTime = (samples->data()->constEnd() - 1)->key;
    rows.start->click();
    QTRY_VERIFY_WITH_TIMEOUT(samples->dataCount() >= restartedAt + 2, 5000);
    const double resumedTime = samples->data()->at(restartedAt)->key;
    const QString times = QStringLiteral("%1 after %2").arg(resumedTime).arg(heldTime);
    QVERIFY2(resumedTime >= heldTime - 0.05, qPrintable(times));
    QVERIFY2(resumedTime < heldTime + 0.5, qPrintable(times));
}

void TestPagesItCurve::mainWindowTakesThePlotWithIt()
{
    PageWindowRig rig;
    rig.window->itCurve().openWindow();
    QPointer<CurrentDialog> plot = rig.window->itCurve().window();
    QVERIFY(plot);
    // Closing the main window must end the application with the plot open.
    QVERIFY(!plot->testAttribute(Qt::WA_QuitOnClose));
    rig.window.reset();
    QVERIFY(plot.isNull());
}

FLOWS_TEST_MAIN(TestPagesItCurve)
#include "tst_pages_itcurve.moc"
