// The Live Analysis window offscreen on a fake console: frames drawn only
// when new, health figures and the red of lost frames, Copy, the levels that
// reach the console (typed, dragged, Auto), and saved references.
#include "analysis/LiveAnalysisWindow.h"
#include "analysis/SavedReferences.h"
#include "context/SettingsIdentity.h"
#include "tests/analysis/FakeLiveSource.h"

#include <qcustomplot.h>

#include <QApplication>
#include <QCheckBox>
#include <QClipboard>
#include <QDateTime>
#include <QDoubleSpinBox>
#include <QFile>
#include <QLabel>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>

namespace {

// Pixel i holds scale * i: a spread of currents with known figures.
std::vector<double> gradientFrame(double scale = 1.0)
{
    std::vector<double> frame(16384);
    for (std::size_t i = 0; i < frame.size(); ++i)
        frame[i] = scale * double(i);
    return frame;
}

template <typename T>
T *part(const QWidget &window, const char *name)
{
    T *widget = window.findChild<T *>(QLatin1String(name));
    if (!widget)
        qFatal("no %s in the window", name);
    return widget;
}

bool showsRed(QWidget *label)
{
    const QImage image = label->grab().toImage();
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x) {
            const QColor c = image.pixelColor(x, y);
            if (c.red() > 150 && c.green() < 80 && c.blue() < 80)
                return true;
        }
    return false;
}

void mouse(QWidget *target, QEvent::Type type, QPointF at, Qt::MouseButton button, Qt::MouseButtons held)
{
    QMouseEvent event(type, at, target->mapToGlobal(at), button, held, Qt::NoModifier);
    QApplication::sendEvent(target, &event);
}

struct WindowRig
{
    explicit WindowRig(LiveAnalysisDialogs dialogs = {})
        : window(source, SettingsIdentity(), std::move(dialogs))
    {
    }
    DisplayLevels lastLevels() const { return source.levelsSet.isEmpty() ? DisplayLevels() : source.levelsSet.last(); }
    void enableLevels() { part<QCheckBox>(window, "levelsEnabled")->setChecked(true); }

    FakeLiveSource source;
    LiveAnalysisWindow window;
};

DisplayLevels levels(bool automatic, double low, double high)
{
    return DisplayLevels{true, automatic, low, high};
}

} // namespace

class TestLiveAnalysisWindow : public QObject
{
    Q_OBJECT

private slots:
    void drawsOnlyNewFrames();
    void meanPlotKeepsTheLastMinute();
    void healthFigures_data();
    void healthFigures();
    void copyGivesFigures();
    void levelsReachSource_data();
    void levelsReachSource();
    void autoFollowsFrames();
    void referencesSaveAndLoad();
};

void TestLiveAnalysisWindow::drawsOnlyNewFrames()
{
    WindowRig rig;
    QCOMPARE(rig.window.windowTitle(), QStringLiteral("Live Analysis"));
    QVERIFY(!rig.window.parent());
    QVERIFY(!rig.window.testAttribute(Qt::WA_QuitOnClose));

    QVERIFY(!rig.window.refresh());
    rig.source.offer(gradientFrame());
    QVERIFY(rig.window.refresh());
    QVERIFY(!rig.window.refresh()); // nothing new: nothing drawn
    QCOMPARE(part<QLabel>(rig.window, "regionPixels")->text(), QStringLiteral("16384"));
    for (double value : {1.0, 2.0, 7.0})
        rig.source.offer(std::vector<double>(16384, value));
    QVERIFY(rig.window.refresh());
    QCOMPARE(rig.window.redrawCount(), 2); // only the newest of three was drawn
    QCOMPARE(part<QLabel>(rig.window, "regionMean")->text(), QStringLiteral("7.0000 nA"));

    // Shown, the window pulls frames itself.
    rig.window.show();
    rig.source.offer(gradientFrame());
    QTRY_COMPARE(rig.window.redrawCount(), 3);
    QCOMPARE(part<QLabel>(rig.window, "regionMean")->text(), QStringLiteral("8191.5000 nA"));
}

void TestLiveAnalysisWindow::meanPlotKeepsTheLastMinute()
{
    WindowRig rig;
    const qint64 start = 1765000000000;
    for (const auto &[offsetMs, current] : {std::pair{0, 1.0}, std::pair{30000, 2.0}, std::pair{70000, 3.0}}) {
        rig.source.offer(std::vector<double>(16384, current), start + offsetMs);
        QVERIFY(rig.window.refresh());
    }
    // Seconds before the newest frame: the first point is more than 60 s old.
    QCPGraphDataContainer &points = *part<QCustomPlot>(rig.window, "regionMeanPlot")->graph(0)->data();
    QCOMPARE(points.size(), 2);
    QCOMPARE(points.at(0)->key, -40.0);
    QCOMPARE(points.at(0)->value, 2.0);
    QCOMPARE(points.at(1)->key, 0.0);
    QCOMPARE(points.at(1)->value, 3.0);
    // Another region starts its own curve.
    rig.window.setRegion(QRect(0, 0, 4, 4));
    QCOMPARE(points.size(), 1);
}

void TestLiveAnalysisWindow::healthFigures_data()
{
    QTest::addColumn<bool>("capturing");
    QTest::addColumn<int>("timedOut");
    QTest::addColumn<int>("discarded");
    QTest::newRow("no loss") << true << 0 << 0;
    QTest::newRow("timed out") << true << 2 << 0;
    QTest::newRow("discarded") << true << 0 << 3;
    QTest::newRow("stopped") << false << 1 << 1;
}

void TestLiveAnalysisWindow::healthFigures()
{
    QFETCH(bool, capturing);
    QFETCH(int, timedOut);
    QFETCH(int, discarded);
    WindowRig rig;
    rig.source.capturing = capturing;
    rig.source.health.received = 120;
    rig.source.health.timedOut = std::uint64_t(timedOut);
    rig.source.health.discarded = std::uint64_t(discarded);
    rig.source.health.captureStartedMs = QDateTime::currentMSecsSinceEpoch() - 65000;
    rig.window.show();
    rig.source.offer(gradientFrame());
    QTRY_COMPARE(rig.window.redrawCount(), 1);

    QCOMPARE(part<QLabel>(rig.window, "healthReceived")->text(), QStringLiteral("120"));
    QLabel *timedOutLabel = part<QLabel>(rig.window, "healthTimedOut");
    QLabel *discardedLabel = part<QLabel>(rig.window, "healthDiscarded");
    QCOMPARE(timedOutLabel->text(), QString::number(timedOut));
    QCOMPARE(discardedLabel->text(), QString::number(discarded));
    QCOMPARE(showsRed(timedOutLabel), timedOut > 0);
    QCOMPARE(showsRed(discardedLabel), discarded > 0);
    const QString elapsed = part<QLabel>(rig.window, "healthElapsed")->text();
    if (capturing)
        QVERIFY2(elapsed.startsWith(QStringLiteral("0:01:0")), qPrintable(elapsed));
    else
        QCOMPARE(elapsed, QStringLiteral("not capturing"));
}

void TestLiveAnalysisWindow::copyGivesFigures()
{
    WindowRig rig;
    rig.window.setRegion(QRect(10, 5, 10, 4));
    rig.source.offer(gradientFrame());
    QVERIFY(rig.window.refresh());
    QCOMPARE(part<QLabel>(rig.window, "regionText")->text(), QStringLiteral("Columns 10 to 19, rows 5 to 8"));
    part<QPushButton>(rig.window, "regionCopy")->click();

    const QStringList lines = QGuiApplication::clipboard()->text().split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    QCOMPARE(lines.size(), 2);
    const QStringList names = lines[0].split(QLatin1Char('\t'));
    const QStringList values = lines[1].split(QLatin1Char('\t'));
    QCOMPARE(values.size(), names.size());
    const QList<std::pair<const char *, double>> expected{
        {"Column", 10},  {"Row", 5},      {"Width", 10},          {"Height", 4},       {"Pixels", 40},
        {"NaN pixels", 0}, {"Mean (nA)", 14.5 + 128 * 6.5}, {"Min (nA)", 650}, {"Max (nA)", 1043}};
    for (const auto &[name, value] : expected)
        QCOMPARE(values.value(names.indexOf(QLatin1String(name))).toDouble(), value);
}

void TestLiveAnalysisWindow::levelsReachSource_data()
{
    // Typed: low `first`, then high `second`. Dragged: the marker at `first` nA to `second` nA.
    QTest::addColumn<bool>("dragged");
    QTest::addColumn<double>("first");
    QTest::addColumn<double>("second");
    QTest::addColumn<double>("low");
    QTest::addColumn<double>("high");
    QTest::newRow("typed inside the range") << false << 10.0 << 500.0 << 10.0 << 500.0;
    QTest::newRow("typed negative low") << false << -5.0 << 20.0 << -5.0 << 20.0;
    QTest::newRow("typed low equal to high") << false << 300.0 << 300.0 << 300.0 << 300.0;
    QTest::newRow("typed low above high stops at high") << false << 900.0 << 850.0 << 800.0 << 850.0;
    QTest::newRow("typed high below low stops at low") << false << 100.0 << 50.0 << 100.0 << 100.0;
    QTest::newRow("high marker dragged down") << true << 800.0 << 300.0 << 0.0 << 300.0;
    QTest::newRow("low marker dragged up") << true << 0.0 << 100.0 << 100.0 << 800.0;
    QTest::newRow("low marker past high stops at high") << true << 0.0 << 815.0 << 800.0 << 800.0;
    QTest::newRow("drag away from the markers") << true << 400.0 << 500.0 << 0.0 << 800.0;
}

void TestLiveAnalysisWindow::levelsReachSource()
{
    QFETCH(bool, dragged);
    QFETCH(double, first);
    QFETCH(double, second);
    QFETCH(double, low);
    QFETCH(double, high);
    WindowRig rig;
    QVERIFY(rig.source.levelsSet.isEmpty()); // off until the operator turns them on
    rig.enableLevels();
    QCOMPARE(rig.lastLevels(), levels(false, 0.0, 800.0)); // from the current range
    double tolerance = 0.0;
    if (dragged) {
        rig.window.show();
        rig.source.offer(gradientFrame(800.0 / 16383));
        QTRY_COMPARE(rig.window.redrawCount(), 1);
        auto *plot = part<QCustomPlot>(rig.window, "histogramPlot");
        plot->replot(); // lays the axes out now
        const double y = plot->yAxis->axisRect()->center().y();
        const double fromX = plot->xAxis->coordToPixel(first), toX = plot->xAxis->coordToPixel(second);
        tolerance = plot->xAxis->range().size() / plot->xAxis->axisRect()->width(); // one pixel
        mouse(plot, QEvent::MouseButtonPress, QPointF(fromX, y), Qt::LeftButton, Qt::LeftButton);
        mouse(plot, QEvent::MouseMove, QPointF((fromX + toX) / 2, y), Qt::NoButton, Qt::LeftButton);
        mouse(plot, QEvent::MouseMove, QPointF(toX, y), Qt::NoButton, Qt::LeftButton);
        mouse(plot, QEvent::MouseButtonRelease, QPointF(toX, y), Qt::LeftButton, Qt::NoButton);
    } else {
        part<QDoubleSpinBox>(rig.window, "levelLow")->setValue(first);
        part<QDoubleSpinBox>(rig.window, "levelHigh")->setValue(second);
    }
    const DisplayLevels sent = rig.lastLevels();
    QVERIFY(sent.enabled && !sent.automatic && sent.low <= sent.high);
    QVERIFY2(std::abs(sent.low - low) <= tolerance, qPrintable(QString::number(sent.low)));
    QVERIFY2(std::abs(sent.high - high) <= tolerance, qPrintable(QString::number(sent.high)));
    // The boxes show what the console got (to their four decimals).
    QCOMPARE(part<QDoubleSpinBox>(rig.window, "levelLow")->value(), QString::number(sent.low, 'f', 4).toDouble());
    QCOMPARE(part<QDoubleSpinBox>(rig.window, "levelHigh")->value(), QString::number(sent.high, 'f', 4).toDouble());

    part<QCheckBox>(rig.window, "levelsEnabled")->setChecked(false);
    QCOMPARE(rig.lastLevels(), (DisplayLevels{false, false, sent.low, sent.high}));
}

void TestLiveAnalysisWindow::autoFollowsFrames()
{
    WindowRig rig;
    rig.enableLevels();
    part<QCheckBox>(rig.window, "levelsAuto")->setChecked(true);
    QCOMPARE(rig.lastLevels(), levels(true, 0.0, 800.0));
    const int announced = int(rig.source.levelsSet.size());
    rig.source.offer(gradientFrame());
    QVERIFY(rig.window.refresh());
    // Nearest ranks 0.005 x 16383 and 0.995 x 16383 of the values 0 .. 16383.
    auto *lowBox = part<QDoubleSpinBox>(rig.window, "levelLow");
    QCOMPARE(lowBox->value(), 82.0);
    QCOMPARE(part<QDoubleSpinBox>(rig.window, "levelHigh")->value(), 16301.0);
    QVERIFY(!lowBox->isEnabled());
    QCOMPARE(int(rig.source.levelsSet.size()), announced); // the renderer follows the frames itself
    // Auto off: the levels stay where Auto left them.
    part<QCheckBox>(rig.window, "levelsAuto")->setChecked(false);
    QCOMPARE(rig.lastLevels(), levels(false, 82.0, 16301.0));
}

void TestLiveAnalysisWindow::referencesSaveAndLoad()
{
    QTemporaryDir dir;
    QString chosen;
    QStringList warnings;
    LiveAnalysisDialogs dialogs;
    dialogs.chooseSaveFile = [&](QWidget *, const QString &) { return chosen; };
    dialogs.chooseOpenFile = [&](QWidget *, const QString &) { return chosen; };
    dialogs.warn = [&](QWidget *, const QString &sentence) { warnings << sentence; };
    WindowRig rig(dialogs);
    rig.source.held.fullOff = gradientFrame(0.5);
    rig.source.held.fullOn = gradientFrame(2.0);
    rig.source.held.fullOnTaken = std::chrono::system_clock::time_point(std::chrono::seconds(1765000000));
    rig.source.held.currentRangeNa = 100.0;

    chosen = dir.filePath(QStringLiteral("refs.h5"));
    part<QPushButton>(rig.window, "saveReferences")->click();
    QVERIFY2(warnings.isEmpty(), qPrintable(warnings.join(' ')));
    QVERIFY(QFile::exists(chosen));
    QCOMPARE(SavedReferences::lastFile(SettingsIdentity()), chosen);

    part<QPushButton>(rig.window, "loadReferences")->click();
    QCOMPARE(rig.source.applied.size(), 1);
    QCOMPARE(rig.source.applied[0].fullOn, rig.source.held.fullOn);
    QVERIFY(rig.source.applied[0].fullOnTaken == rig.source.held.fullOnTaken);
    QCOMPARE(warnings, QStringList{"These references were taken at 100 nA; the current range is 800 nA."});

    chosen = dir.filePath(QStringLiteral("missing.h5"));
    part<QPushButton>(rig.window, "loadReferences")->click();
    QCOMPARE(rig.source.applied.size(), 1); // nothing applied
    QCOMPARE(warnings.size(), 2);
    QVERIFY(warnings.last().startsWith(QStringLiteral("The references could not be loaded from")));

    chosen.clear(); // cancelled: nothing happens
    part<QPushButton>(rig.window, "saveReferences")->click();
    part<QPushButton>(rig.window, "loadReferences")->click();
    QCOMPARE(warnings.size(), 2);

    // The console start loads the last file only with "Load at start" on.
    QVERIFY(!SavedReferences::loadAtConsoleStart(SettingsIdentity()).references);
    part<QCheckBox>(rig.window, "loadReferencesAtStart")->click();
    QCOMPARE(SavedReferences::lastFile(SettingsIdentity()), dir.filePath(QStringLiteral("refs.h5")));
    const SavedReferences::StartLoad start = SavedReferences::loadAtConsoleStart(SettingsIdentity());
    QVERIFY2(start.references && start.sentence.isEmpty(), qPrintable(start.sentence));
    QCOMPARE(start.references->fullOff, rig.source.held.fullOff);
    QVERIFY(QFile::remove(dir.filePath(QStringLiteral("refs.h5"))));
    const SavedReferences::StartLoad missing = SavedReferences::loadAtConsoleStart(SettingsIdentity());
    QVERIFY(!missing.references);
    QVERIFY(missing.sentence.startsWith(QStringLiteral("The references could not be loaded from")));
}

int main(int argc, char **argv)
{
    // The console's settings store goes to a folder of its own.
    QTemporaryDir settings;
    qputenv("XDG_CONFIG_HOME", settings.path().toUtf8());
    QApplication app(argc, argv);
    TestLiveAnalysisWindow test;
    return QTest::qExec(&test, argc, argv);
}
#include "tst_liveanalysiswindow.moc"
