// The It-curve window: its axes, pens and interactions, how series reach the
// graphs, the scrolling time window, and what happens after it was closed.
#include "analysis/CurrentDialog.h"

#include <QPointer>
#include <QSignalSpy>
#include <QTest>
#include <QWheelEvent>

namespace {
std::shared_ptr<std::vector<std::vector<double>>> series(std::vector<std::vector<double>> values)
{
    return std::make_shared<std::vector<std::vector<double>>>(std::move(values));
}
} // namespace

class TestCurrentDialog : public QObject
{
    Q_OBJECT

private slots:
    void construction_data()
    {
        QTest::addColumn<int>("rangeMax");
        QTest::newRow("range 200 nA") << 200;
        QTest::newRow("range 1 nA") << 1;
        QTest::newRow("range 800 nA") << 800;
    }

    void construction()
    {
        QFETCH(int, rangeMax);
        CurrentDialog plot(nullptr, rangeMax);
        QCOMPARE(plot.minimumSize(), QSize(800, 600));
        QCOMPARE(plot.maximumSize(), QSize(800, 600));
        QCOMPARE(plot.xAxis->range(), QCPRange(0, 10));
        QCOMPARE(plot.yAxis->range(), QCPRange(0, rangeMax));
        QCOMPARE(plot.xAxis->label(), QString("Time(s)"));
        QCOMPARE(plot.yAxis->label(), QString("Current(na)"));
        QCOMPARE(plot.xAxis->labelFont().pointSize(), 8);
        QCOMPARE(plot.yAxis->labelFont().family(), plot.font().family());
        QCOMPARE(plot.notAntialiasedElements(), QCP::AntialiasedElements(QCP::aeAll));
        QVERIFY(plot.interactions().testFlag(QCP::iRangeZoom));
        QVERIFY(plot.interactions().testFlag(QCP::iRangeDrag));

        const QColor colours[] = {QColor(0, 0, 255), QColor(255, 0, 0), QColor(0, 255, 0)};
        QCOMPARE(plot.graphCount(), 3);
        for (int i = 0; i < 3; ++i) {
            QCOMPARE(plot.graph(i)->pen().color(), colours[i]);
            QCOMPARE(plot.graph(i)->pen().widthF(), 2.0);
            QCOMPARE(plot.graph(i)->lineStyle(), QCPGraph::lsLine);
            QCOMPARE(plot.graph(i)->dataCount(), 0);
        }
    }

    void timeWindow_data()
    {
        QTest::addColumn<QList<double>>("times");
        QTest::addColumn<double>("lower");
        QTest::addColumn<double>("upper");
        QTest::newRow("3.0 stays at the start") << QList<double>{3.0} << 0.0 << 10.0;
        QTest::newRow("3.0 then 12.5 scrolls") << QList<double>{3.0, 12.5} << 2.5 << 12.5;
        QTest::newRow("exactly 10 does not scroll") << QList<double>{10.0} << 0.0 << 10.0;
        QTest::newRow("scrolled keeps following") << QList<double>{11.0, 20.25} << 10.25 << 20.25;
    }

    void timeWindow()
    {
        QFETCH(QList<double>, times);
        QFETCH(double, lower);
        QFETCH(double, upper);
        CurrentDialog plot(nullptr, 100);
        for (double t : times)
            plot.appendSeries(series({{5000.0}}), t); // far above the y range
        QCOMPARE(plot.xAxis->range(), QCPRange(lower, upper));
        // The window never rescales the current axis itself.
        QCOMPARE(plot.yAxis->range(), QCPRange(0, 100));
        // Points are kept after they scroll out of view (within the history bound).
        QCOMPARE(plot.graph(0)->dataCount(), int(times.size()));
    }

    void historyIsBounded_data()
    {
        QTest::addColumn<int>("batches");
        QTest::addColumn<int>("perBatch");
        QTest::addColumn<double>("secondsapart");
        QTest::newRow("ten minutes kept") << 2000 << 1 << 1.0;
        QTest::newRow("points capped at the top rate") << 300 << 1000 << 1.25;
    }

    void historyIsBounded()
    {
        QFETCH(int, batches);
        QFETCH(int, perBatch);
        QFETCH(double, secondsapart);
        CurrentDialog plot(nullptr, 100);
        const std::vector<double> values(std::size_t(perBatch), 1.0);
        for (int k = 1; k <= batches; ++k)
            plot.appendSeries(series({values}), k * secondsapart);
        const auto points = plot.graph(0)->data();
        const double last = batches * secondsapart;
        QCOMPARE((points->constEnd() - 1)->key, last);
        QVERIFY(points->constBegin()->key >= last - CurrentDialog::kHistorySeconds * 1.1);
        QVERIFY(points->size() <= CurrentDialog::kMaxPoints * 1.1);
        // What is dropped is only what lies past the bounds.
        QVERIFY(points->size() >= std::min(CurrentDialog::kMaxPoints,
                                           perBatch * int(CurrentDialog::kHistorySeconds / secondsapart)));
    }

    void seriesPositionsPickGraphs()
    {
        // A single chosen cell (say only CH2 checked) sits at series position 0
        // and is drawn by the first graph.
        CurrentDialog plot(nullptr, 100);
        plot.appendSeries(series({{1.5, 2.5}}), 0.5);
        QCOMPARE(plot.graph(0)->dataCount(), 2);
        QCOMPARE(plot.graph(1)->dataCount(), 0);
        QCOMPARE(plot.graph(2)->dataCount(), 0);
        auto point = plot.graph(0)->data()->constBegin();
        QCOMPARE(point->key, 0.5);
        QCOMPARE(point->value, 1.5);
        QCOMPARE((point + 1)->value, 2.5);

        plot.appendSeries(series({{1.0}, {2.0}, {3.0}}), 1.0);
        QCOMPARE(plot.graph(0)->dataCount(), 3);
        QCOMPARE(plot.graph(1)->data()->constBegin()->value, 2.0);
        QCOMPARE(plot.graph(2)->data()->constBegin()->value, 3.0);
    }

    void positionWithoutGraphIsSkipped()
    {
        CurrentDialog plot(nullptr, 100);
        QTest::ignoreMessage(QtWarningMsg, "Index out of range: 3");
        plot.appendSeries(series({{1.0}, {2.0}, {3.0}, {4.0}}), 2.0);
        for (int i = 0; i < 3; ++i)
            QCOMPARE(plot.graph(i)->dataCount(), 1);
    }

    void wheelZoomsTheTimeAxis()
    {
        CurrentDialog plot(nullptr, 100);
        plot.show();
        QVERIFY(QTest::qWaitForWindowExposed(&plot));
        const QPointF centre(plot.axisRect()->center());
        QWheelEvent wheel(centre, plot.mapToGlobal(centre), QPoint(), QPoint(0, 120), Qt::NoButton,
                          Qt::NoModifier, Qt::NoScrollPhase, false);
        QApplication::sendEvent(&plot, &wheel);
        QVERIFY(plot.xAxis->range().size() < 10.0);
    }

    void closingReportsAndDropsLateSeries()
    {
        QPointer<CurrentDialog> plot = new CurrentDialog(nullptr, 100);
        plot->show();
        QSignalSpy closed(plot.data(), &CurrentDialog::closed);
        plot->appendSeries(series({{1.0}}), 1.0);
        QVERIFY(plot->close());
        QCOMPARE(closed.count(), 1);

        // A series already queued when the window closed is dropped...
        plot->appendSeries(series({{2.0}}), 2.0);
        QCOMPARE(plot->graph(0)->dataCount(), 1);

        // ...and once its owner deleted it, nothing is left to draw on.
        plot->deleteLater();
        QTRY_VERIFY(plot.isNull());
    }
};

QTEST_MAIN(TestCurrentDialog)
#include "tst_currentdialog.moc"
