// The Live Analysis window offscreen on a fake console: frames drawn only
// when new, health figures and the red of lost frames, Copy, the levels that
// reach the console (typed, dragged, Auto), and saved references.
#include "FakeLiveSource.h"
#include "LiveAnalysisWindow.h"
#include "SavedReferences.h"
#include "SettingsIdentity.h"

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
    void typedLevelsReachSource_data();
    void typedLevelsReachSource();
    void markerDragReachesSource_data();
    void markerDragReachesSource();
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
    const auto value = [&](const char *name) { return values.value(names.indexOf(QLatin1String(name))).toDouble(); };
    QCOMPARE(value("Column"), 10.0);
    QCOMPARE(value("Row"), 5.0);
    QCOMPARE(value("Width"), 10.0);
    QCOMPARE(value("Height"), 4.0);
    QCOMPARE(value("Pixels"), 40.0);
    QCOMPARE(value("NaN pixels"), 0.0);
    QCOMPARE(value("Mean (nA)"), 14.5 + 128 * 6.5);
    QCOMPARE(value("Min (nA)"), 650.0);
    QCOMPARE(value("Max (nA)"), 1043.0);
}

void TestLiveAnalysisWindow::typedLevelsReachSource_data()
{
    QTest::addColumn<double>("typedLow"); // typed first
    QTest::addColumn<double>("typedHigh");
    QTest::addColumn<double>("low");
    QTest::addColumn<double>("high");
    QTest::newRow("inside the range") << 10.0 << 500.0 << 10.0 << 500.0;
    QTest::newRow("negative low") << -5.0 << 20.0 << -5.0 << 20.0;
    QTest::newRow("low equal to high") << 300.0 << 300.0 << 300.0 << 300.0;
    QTest::newRow("low above high stops at high") << 900.0 << 850.0 << 800.0 << 850.0;
    QTest::newRow("high below low stops at low") << 100.0 << 50.0 << 100.0 << 100.0;
}

void TestLiveAnalysisWindow::typedLevelsReachSource()
{
    QFETCH(double, typedLow);
    QFETCH(double, typedHigh);
    QFETCH(double, low);
    QFETCH(double, high);
    WindowRig rig;
    QVERIFY(rig.source.levelsSet.isEmpty()); // off until the operator turns them on
    rig.enableLevels();
    QCOMPARE(rig.lastLevels(), levels(false, 0.0, 800.0)); // from the current range
    auto *lowBox = part<QDoubleSpinBox>(rig.window, "levelLow");
    auto *highBox = part<QDoubleSpinBox>(rig.window, "levelHigh");
    lowBox->setValue(typedLow);
    highBox->setValue(typedHigh);
    QCOMPARE(rig.lastLevels(), levels(false, low, high));
    QCOMPARE(lowBox->value(), low);
    QCOMPARE(highBox->value(), high);

    part<QCheckBox>(rig.window, "levelsEnabled")->setChecked(false);
    QCOMPARE(rig.lastLevels(), (DisplayLevels{false, false, low, high}));
}

void TestLiveAnalysisWindow::markerDragReachesSource_data()
{
    QTest::addColumn<double>("from"); // nA
    QTest::addColumn<double>("to");
    QTest::addColumn<double>("low");
    QTest::addColumn<double>("high");
    QTest::newRow("high marker down") << 800.0 << 300.0 << 0.0 << 300.0;
    QTest::newRow("low marker up") << 0.0 << 100.0 << 100.0 << 800.0;
    QTest::newRow("low marker past high stops at high") << 0.0 << 815.0 << 800.0 << 800.0;
    QTest::newRow("away from the markers") << 400.0 << 500.0 << 0.0 << 800.0;
}

void TestLiveAnalysisWindow::markerDragReachesSource()
{
    QFETCH(double, from);
    QFETCH(double, to);
    QFETCH(double, low);
    QFETCH(double, high);
    WindowRig rig;
    rig.enableLevels();
    rig.window.show();
    rig.source.offer(gradientFrame(800.0 / 16383));
    QTRY_COMPARE(rig.window.redrawCount(), 1);
    auto *plot = part<QCustomPlot>(rig.window, "histogramPlot");
    plot->replot(); // lays the axes out now
    const double y = plot->yAxis->axisRect()->center().y();
    const double fromX = plot->xAxis->coordToPixel(from), toX = plot->xAxis->coordToPixel(to);
    const double onePixel = plot->xAxis->range().size() / plot->xAxis->axisRect()->width();

    mouse(plot, QEvent::MouseButtonPress, QPointF(fromX, y), Qt::LeftButton, Qt::LeftButton);
    mouse(plot, QEvent::MouseMove, QPointF((fromX + toX) / 2, y), Qt::NoButton, Qt::LeftButton);
    mouse(plot, QEvent::MouseMove, QPointF(toX, y), Qt::NoButton, Qt::LeftButton);
    mouse(plot, QEvent::MouseButtonRelease, QPointF(toX, y), Qt::LeftButton, Qt::NoButton);
    const DisplayLevels sent = rig.lastLevels();
    QVERIFY(sent.enabled && !sent.automatic);
    QVERIFY2(std::abs(sent.low - low) <= onePixel, qPrintable(QString::number(sent.low)));
    QVERIFY2(std::abs(sent.high - high) <= onePixel, qPrintable(QString::number(sent.high)));
    QVERIFY(sent.low <= sent.high);
    QCOMPARE(part<QDoubleSpinBox>(rig.window, "levelHigh")->value(), QString::number(sent.high, 'f', 4).toDouble());
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

    QVERIFY(!SavedReferences::loadAtStart(SettingsIdentity()));
    part<QCheckBox>(rig.window, "loadReferencesAtStart")->click();
    QVERIFY(SavedReferences::loadAtStart(SettingsIdentity()));
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
