// The live display: the aspect-keeping frame, and the pipeline from a worker
// frame to the picture on screen.
#include "tests/flows/FlowsTestSupport.h"

#include "acquisition/FramePool.h"
#include "display/DisplayPipeline.h"
#include "display/DisplayTransform.h"
#include "display/FrameRateMeter.h"
#include "display/KeepRatioWidget.h"
#include "display/TestPictureWriter.h"

#include <QLabel>
#include <QMouseEvent>
#include <QRadioButton>
#include <QSignalSpy>
#include <QTemporaryDir>

#include <opencv2/imgcodecs.hpp>

namespace {

// A 128 x 128 gray picture whose every pixel is different enough to tell
// rotations and mirrors apart.
QImage gradientPicture(QImage::Format format = QImage::Format_Grayscale8)
{
    QImage image(128, 128, QImage::Format_Grayscale8);
    for (int y = 0; y < 128; ++y)
        for (int x = 0; x < 128; ++x)
            image.scanLine(y)[x] = uchar((x + 2 * y) % 256);
    return format == QImage::Format_Grayscale8 ? image : image.convertToFormat(format);
}

// A picture in which every pixel names its cell: red = 2 x column, green =
// 2 x row, blue = 100 (so no pixel is pure black or white).
QImage cellPicture()
{
    QImage image(128, 128, QImage::Format_RGB888);
    for (int y = 0; y < 128; ++y)
        for (int x = 0; x < 128; ++x)
            image.setPixelColor(x, y, QColor(2 * x, 2 * y, 100));
    return image;
}

// The sensor cell a pixel of a turned or mirrored cellPicture() comes from.
QPoint cellShownAt(const QImage &shown, QPoint displayed)
{
    const QColor colour = shown.pixelColor(displayed);
    return QPoint(colour.red() / 2, colour.green() / 2);
}

QRect cellsSpanning(QPoint a, QPoint b)
{
    return QRect(QPoint(qMin(a.x(), b.x()), qMin(a.y(), b.y())), QPoint(qMax(a.x(), b.x()), qMax(a.y(), b.y())));
}

DisplayTransform makeTransform(int quarterTurns, bool horizontal, bool vertical)
{
    DisplayTransform transform;
    for (int i = 0; i < quarterTurns; ++i)
        transform.rotate();
    if (horizontal)
        transform.toggleHorizontal();
    if (vertical)
        transform.toggleVertical();
    return transform;
}

// Rows of every rotation with every combination of the two mirrors.
void addTransformRows()
{
    QTest::addColumn<int>("quarterTurns");
    QTest::addColumn<bool>("horizontal");
    QTest::addColumn<bool>("vertical");
    for (int turns = 0; turns < 4; ++turns)
        for (const bool horizontal : {false, true})
            for (const bool vertical : {false, true})
                QTest::addRow("%d deg%s%s", turns * 90, horizontal ? " mirror H" : "", vertical ? " mirror V" : "")
                    << turns << horizontal << vertical;
}

void press(QWidget *target, QPoint position, Qt::MouseButton button, QEvent::Type type = QEvent::MouseButtonPress)
{
    QMouseEvent event(type, QPointF(position), target->mapToGlobal(QPointF(position)), button, button,
                      Qt::NoModifier);
    QApplication::sendEvent(target, &event);
}

// A right-button drag on the target from one position to another.
void rightDrag(QWidget *target, QPoint from, QPoint to)
{
    press(target, from, Qt::RightButton);
    QMouseEvent move(QEvent::MouseMove, QPointF(to), target->mapToGlobal(QPointF(to)), Qt::NoButton,
                     Qt::RightButton, Qt::NoModifier);
    QApplication::sendEvent(target, &move);
    QMouseEvent release(QEvent::MouseButtonRelease, QPointF(to), target->mapToGlobal(QPointF(to)), Qt::RightButton,
                        Qt::NoButton, Qt::NoModifier);
    QApplication::sendEvent(target, &release);
}

struct PipelineRig
{
    PipelineRig()
        : worker(test.context)
        , pipeline(widgets(), &view, worker.rendering(), worker.readout(), test.scratchFolder())
    {
        view.resize(300, 300);
        view.show();
    }
    DisplayWidgets widgets()
    {
        return DisplayWidgets{&fps, &locate, &current, &gray, &rgb, &heat};
    }
    // Each picture as the window's refresh would take it: one new frame each.
    void feed(const QImage &image, int count = 1)
    {
        for (int i = 0; i < count; ++i)
            pipeline.showPicture(FrameRendering::Picture{image, ++index, std::chrono::steady_clock::now()});
    }
    // A frame as the capture loop publishes it, every pixel at `raw`.
    void publish(std::uint32_t raw)
    {
        std::shared_ptr<Frame> frame = pool.acquire();
        for (int i = 0; i < Zk128::PixelCount; ++i) {
            frame->raw[std::size_t(3 * i)] = std::uint8_t(raw >> 16);
            frame->raw[std::size_t(3 * i + 1)] = std::uint8_t(raw >> 8);
            frame->raw[std::size_t(3 * i + 2)] = std::uint8_t(raw);
        }
        frame->range = 100;
        frame->index = ++index;
        frame->arrivedSteady = std::chrono::steady_clock::now();
        decodeCurrents(*frame);
        worker.rendering().consume(frame);
        worker.readout().consume(frame);
    }

    QLabel fps, locate, current;
    QRadioButton gray, rgb, heat;
    KeepRatioWidget view;
    TestContext test;
    ReceiverThread worker;
    DisplayPipeline pipeline;
    FramePool pool;
    std::uint64_t index = 0;
};

} // namespace

class TestFlowsDisplay : public QObject
{
    Q_OBJECT

private slots:
    void innerAreaKeepsSquare_data();
    void innerAreaKeepsSquare();
    void pressGivesCell_data();
    void pressGivesCell();
    void otherButtonsEmitNothing_data();
    void otherButtonsEmitNothing();
    void doubleClickGivesPressThenDoubleClick();
    void rescaleBeforeAnyPicture();
    void pictureOfOtherRatioFits();
    void scaledPictureKeepsItsColours_data();
    void scaledPictureKeepsItsColours();

    void firstFrameOnlyStartsTheClock();
    void rotationCycles();
    void bothMirrorsEqualHalfTurn();
    void transformOrderIsRotateThenMirror();
    void frameRateReading_data();
    void frameRateReading();
    void clickedCellText_data();
    void clickedCellText();
    void currentReadout_data();
    void currentReadout();
    void displayModeFollowsButtons_data();
    void displayModeFollowsButtons();
    void burstOfFramesDrawsNewestOnce();
    void testPictureWaitsForNextFrame();
    void testPictureIsTheShownPicture_data();
    void testPictureIsTheShownPicture();
    void testPictureFolderMissingIsToldOnce();
    void cellMapsMatchDrawnPicture_data() { addTransformRows(); }
    void cellMapsMatchDrawnPicture();
    void clickAndRegionNameCellsUnderPointer_data() { addTransformRows(); }
    void clickAndRegionNameCellsUnderPointer();
};

void TestFlowsDisplay::innerAreaKeepsSquare_data()
{
    QTest::addColumn<QSize>("frame");
    QTest::addColumn<QRect>("inner");
    QTest::newRow("wide") << QSize(300, 200) << QRect(50, 0, 200, 200);
    QTest::newRow("tall") << QSize(200, 300) << QRect(0, 50, 200, 200);
    QTest::newRow("odd width") << QSize(301, 200) << QRect(50, 0, 200, 200);
    QTest::newRow("square") << QSize(128, 128) << QRect(0, 0, 128, 128);
}

void TestFlowsDisplay::innerAreaKeepsSquare()
{
    QFETCH(QSize, frame);
    QFETCH(QRect, inner);
    KeepRatioWidget view;
    view.resize(frame);
    view.show();
    QTRY_COMPARE(view.innerArea()->geometry(), inner);
}

void TestFlowsDisplay::pressGivesCell_data()
{
    QTest::addColumn<QPoint>("position");
    QTest::addColumn<QPoint>("cell");
    QTest::newRow("top left") << QPoint(0, 0) << QPoint(0, 0);
    QTest::newRow("bottom right") << QPoint(195, 195) << QPoint(127, 127);
    QTest::newRow("middle") << QPoint(98, 49) << QPoint(64, 32);
}

void TestFlowsDisplay::pressGivesCell()
{
    QFETCH(QPoint, position);
    QFETCH(QPoint, cell);
    KeepRatioWidget view;
    view.resize(200, 200);
    view.show();
    QTRY_COMPARE(view.pictureLabel()->size(), QSize(196, 196)); // 2-pixel margins
    QSignalSpy clicks(&view, &KeepRatioWidget::cellClicked);
    press(view.pictureLabel(), position, Qt::LeftButton);
    QCOMPARE(clicks.count(), 1);
    QCOMPARE(clicks.at(0).at(0).toInt(), cell.x());
    QCOMPARE(clicks.at(0).at(1).toInt(), cell.y());
}

void TestFlowsDisplay::otherButtonsEmitNothing_data()
{
    QTest::addColumn<int>("button");
    QTest::newRow("right") << int(Qt::RightButton);
    QTest::newRow("middle") << int(Qt::MiddleButton);
}

void TestFlowsDisplay::otherButtonsEmitNothing()
{
    QFETCH(int, button);
    KeepRatioWidget view;
    view.resize(200, 200);
    view.show();
    QSignalSpy clicks(&view, &KeepRatioWidget::cellClicked);
    QSignalSpy doubles(&view, &KeepRatioWidget::cellDoubleClicked);
    press(view.pictureLabel(), QPoint(10, 10), Qt::MouseButton(button));
    press(view.pictureLabel(), QPoint(10, 10), Qt::MouseButton(button), QEvent::MouseButtonDblClick);
    QCOMPARE(clicks.count(), 0);
    QCOMPARE(doubles.count(), 0);
}

void TestFlowsDisplay::doubleClickGivesPressThenDoubleClick()
{
    KeepRatioWidget view;
    view.resize(200, 200);
    view.show();
    QTRY_COMPARE(view.pictureLabel()->size(), QSize(196, 196));
    QSignalSpy clicks(&view, &KeepRatioWidget::cellClicked);
    QSignalSpy doubles(&view, &KeepRatioWidget::cellDoubleClicked);
    press(view.pictureLabel(), QPoint(98, 49), Qt::LeftButton);
    press(view.pictureLabel(), QPoint(98, 49), Qt::LeftButton, QEvent::MouseButtonDblClick);
    QCOMPARE(clicks.count(), 1);
    QCOMPARE(doubles.count(), 1);
    QCOMPARE(doubles.at(0).at(0).toInt(), 64);
    QCOMPARE(doubles.at(0).at(1).toInt(), 32);
}

void TestFlowsDisplay::rescaleBeforeAnyPicture()
{
    KeepRatioWidget view;
    view.resize(200, 200);
    view.show();
    view.rescale();
    QVERIFY(view.pictureLabel()->pixmap().isNull());
}

void TestFlowsDisplay::pictureOfOtherRatioFits()
{
    KeepRatioWidget view;
    view.resize(200, 200);
    view.show();
    QTRY_COMPARE(view.pictureLabel()->size(), QSize(196, 196));
    view.setImage(QImage(256, 128, QImage::Format_RGB888));
    QCOMPARE(view.pictureLabel()->pixmap().size(), QSize(196, 98));
    view.resize(300, 300);
    QTRY_COMPARE(view.pictureLabel()->size(), QSize(296, 296));
    view.rescale();
    QCOMPARE(view.pictureLabel()->pixmap().size(), QSize(296, 148));
}

void TestFlowsDisplay::scaledPictureKeepsItsColours_data()
{
    QTest::addColumn<int>("format");
    QTest::newRow("gray") << int(QImage::Format_Grayscale8);
    QTest::newRow("rgb") << int(QImage::Format_RGB888);
}

void TestFlowsDisplay::scaledPictureKeepsItsColours()
{
    // Blocks of 16 x 16 cells, each of its own colour: the middle of each
    // block, scaled up, shows that colour whatever the interpolation.
    QFETCH(int, format);
    QImage picture(128, 128, QImage::Format_RGB888);
    const auto colourOf = [](int bx, int by) { return QColor(bx * 32 + 7, by * 32 + 3, 255 - bx * by * 4); };
    for (int y = 0; y < 128; ++y)
        for (int x = 0; x < 128; ++x)
            picture.setPixelColor(x, y, colourOf(x / 16, y / 16));
    picture = picture.convertToFormat(QImage::Format(format));
    const QImage scaled = KeepRatioWidget::smoothlyScaled(picture, QSize(300, 296));
    QCOMPARE(scaled.size(), QSize(296, 296));
    for (int by = 0; by < 8; ++by)
        for (int bx = 0; bx < 8; ++bx) {
            const QColor want = picture.pixelColor(bx * 16 + 8, by * 16 + 8);
            const QColor got = scaled.pixelColor((bx * 16 + 8) * 296 / 128, (by * 16 + 8) * 296 / 128);
            QVERIFY2(std::abs(got.red() - want.red()) <= 1 && std::abs(got.green() - want.green()) <= 1
                         && std::abs(got.blue() - want.blue()) <= 1,
                     qPrintable(QStringLiteral("block %1,%2: %3 for %4").arg(bx).arg(by).arg(got.name(), want.name())));
        }
}

void TestFlowsDisplay::firstFrameOnlyStartsTheClock()
{
    PipelineRig rig;
    const QImage picture = gradientPicture();
    rig.feed(picture);
    QCOMPARE(rig.fps.text(), QStringLiteral("FPS : N/A"));
    QCoreApplication::processEvents();
    QVERIFY(rig.view.lastImage().isNull());
    QCOMPARE(rig.pipeline.framesCounted(), 0);

    rig.feed(picture);
    QTRY_COMPARE(rig.pipeline.framesDrawn(), 1);
    QCOMPARE(rig.view.lastImage(), picture);
    // Later frames do not bring the first-frame text back.
    rig.fps.clear();
    rig.feed(picture);
    QVERIFY(rig.fps.text().isEmpty());
}

void TestFlowsDisplay::rotationCycles()
{
    DisplayTransform transform;
    QList<int> visited;
    for (int i = 0; i < 4; ++i) {
        transform.rotate();
        visited << transform.angle();
    }
    QCOMPARE(visited, (QList<int>{90, 180, 270, 0}));
}

void TestFlowsDisplay::bothMirrorsEqualHalfTurn()
{
    const QImage picture = gradientPicture();
    DisplayTransform mirrored;
    mirrored.toggleHorizontal();
    mirrored.toggleVertical();
    DisplayTransform turned;
    turned.rotate();
    turned.rotate();
    QCOMPARE(mirrored.apply(picture), turned.apply(picture));
    QVERIFY(mirrored.apply(picture) != picture);
}

void TestFlowsDisplay::transformOrderIsRotateThenMirror()
{
    const QImage picture = gradientPicture();
    DisplayTransform transform;
    transform.rotate();
    transform.toggleHorizontal();
    const QImage shown = transform.apply(picture);
    // A quarter turn clockwise puts source (x, y) at (127 - y, x); the mirror
    // then puts it at (y, x): the picture is transposed.
    for (const QPoint p : {QPoint(0, 0), QPoint(5, 17), QPoint(127, 3), QPoint(64, 100)})
        QCOMPARE(shown.pixelColor(p.y(), p.x()), picture.pixelColor(p.x(), p.y()));
}

void TestFlowsDisplay::frameRateReading_data()
{
    QTest::addColumn<QList<int>>("intervals");
    QTest::addColumn<QString>("text");
    QTest::newRow("no frames") << QList<int>{} << QStringLiteral("FPS: 0");
    QTest::newRow("100 ms apart") << QList<int>{100, 100, 100} << QStringLiteral("FPS: 10.0");
    QTest::newRow("uneven") << QList<int>{30, 40, 50} << QStringLiteral("FPS: 25.0");
    QTest::newRow("one decimal") << QList<int>{30} << QStringLiteral("FPS: 33.3");
    // Fractions of a millisecond are kept: 1.5 ms apart is 666.7, not 1000.
    QTest::newRow("sub-millisecond parts") << QList<int>{-1500000, -1500000} << QStringLiteral("FPS: 666.7");
}

void TestFlowsDisplay::frameRateReading()
{
    QFETCH(QList<int>, intervals);
    QFETCH(QString, text);
    FrameRateMeter meter;
    for (int interval : intervals) {
        // Negative rows give nanoseconds, the others milliseconds.
        if (interval < 0)
            meter.addIntervalNs(-qint64(interval));
        else
            meter.addInterval(interval);
    }
    QCOMPARE(meter.takeReading(), text);
    // Each reading starts a new period.
    QCOMPARE(meter.takeReading(), QStringLiteral("FPS: 0"));
}

void TestFlowsDisplay::clickedCellText_data()
{
    QTest::addColumn<int>("x");
    QTest::addColumn<int>("y");
    QTest::addColumn<QString>("text");
    QTest::newRow("top left") << 0 << 0 << QStringLiteral("Coordinate: ( 0 , 0 ) ");
    QTest::newRow("bottom right") << 127 << 127 << QStringLiteral("Coordinate: ( 127 , 127 ) ");
    QTest::newRow("column 5 row 70") << 5 << 70 << QStringLiteral("Coordinate: ( 5 , 70 ) ");
}

void TestFlowsDisplay::clickedCellText()
{
    QFETCH(int, x);
    QFETCH(int, y);
    QFETCH(QString, text);
    PipelineRig rig;
    rig.pipeline.selectCell(x, y);
    QCOMPARE(rig.locate.text(), text);
}

void TestFlowsDisplay::currentReadout_data()
{
    QTest::addColumn<double>("current");
    QTest::addColumn<QString>("text");
    QTest::newRow("1.5") << 1.5 << QStringLiteral(" Current: 1.5000 nA ");
    QTest::newRow("rounded") << 123.456789 << QStringLiteral(" Current: 123.4568 nA ");
    QTest::newRow("zero") << 0.0 << QStringLiteral(" Current: 0.0000 nA ");
}

void TestFlowsDisplay::currentReadout()
{
    QFETCH(double, current);
    QFETCH(QString, text);
    PipelineRig rig;
    rig.pipeline.showCellCurrent(current);
    QCOMPARE(rig.current.text(), text);
}

void TestFlowsDisplay::displayModeFollowsButtons_data()
{
    QTest::addColumn<int>("button");
    QTest::addColumn<int>("mode");
    QTest::newRow("rgb") << 1 << 1;
    QTest::newRow("heat") << 2 << 2;
    QTest::newRow("back to gray") << 0 << 0;
}

void TestFlowsDisplay::displayModeFollowsButtons()
{
    QFETCH(int, button);
    QFETCH(int, mode);
    PipelineRig rig;
    QRadioButton *buttons[] = {&rig.gray, &rig.rgb, &rig.heat};
    for (QRadioButton *b : buttons)
        QObject::connect(b, &QRadioButton::toggled, &rig.pipeline,
                         [&rig, b](bool checked) { rig.pipeline.showMode(b, checked); });
    // Start from another mode, so every row is a change.
    buttons[(button + 1) % 3]->setChecked(true);
    buttons[button]->setChecked(true);
    QCOMPARE(rig.pipeline.displayMode(), mode);
    QCOMPARE(rig.worker.rendering().displayMode(), mode); // the last write carries the new mode
}

void TestFlowsDisplay::burstOfFramesDrawsNewestOnce()
{
    PipelineRig rig;
    rig.publish(0);
    rig.pipeline.refresh(); // starts the clock
    rig.pipeline.selectCell(3, 4);
    for (int i = 0; i < 49; ++i)
        rig.publish(100000);
    rig.publish(800000); // 80 % of the range: level 204
    rig.pipeline.refresh();
    QCOMPARE(rig.pipeline.framesCounted(), 50); // every frame counts for the rate
    QCOMPARE(rig.pipeline.framesDrawn(), 1);    // and only the newest was drawn
    rig.pipeline.refresh();
    QCOMPARE(rig.pipeline.framesDrawn(), 1);
    QCOMPARE(rig.view.lastImage().pixelColor(0, 0), QColor(204, 204, 204));
    QCOMPARE(rig.current.text(), QStringLiteral(" Current: 80.0000 nA "));
}

void TestFlowsDisplay::testPictureWaitsForNextFrame()
{
    QTemporaryDir dir;
    PipelineRig rig;
    rig.pipeline.setTestPictureWriter(TestPictureWriter(dir.path() + "/detect"));
    rig.pipeline.requestTestPicture();
    QCoreApplication::processEvents();
    QVERIFY(rig.pipeline.testPicturePending());
    QVERIFY(!QFile::exists(dir.path() + "/detect/test.png"));
    rig.feed(gradientPicture()); // the first frame is not shown, so not written either
    QCoreApplication::processEvents();
    QVERIFY(rig.pipeline.testPicturePending());
    rig.feed(gradientPicture());
    QTRY_VERIFY(!rig.pipeline.testPicturePending());
    QVERIFY(QFile::exists(dir.path() + "/detect/test.png"));
}

void TestFlowsDisplay::testPictureIsTheShownPicture_data()
{
    QTest::addColumn<int>("format");
    QTest::newRow("gray") << int(QImage::Format_Grayscale8);
    QTest::newRow("colour") << int(QImage::Format_RGB888);
}

void TestFlowsDisplay::testPictureIsTheShownPicture()
{
    QFETCH(int, format);
    QTemporaryDir dir;
    PipelineRig rig;
    rig.pipeline.setTestPictureWriter(TestPictureWriter(dir.path()));
    rig.pipeline.rotate();
    // A colour frame whose channels differ, so a third of a row would not match.
    QImage frame = gradientPicture(QImage::Format(format));
    if (frame.format() == QImage::Format_RGB888)
        for (int y = 0; y < 128; ++y)
            for (int x = 0; x < 128; ++x)
                frame.setPixelColor(x, y, QColor(x * 2, y * 2, 255 - x));
    rig.feed(frame);
    rig.pipeline.requestTestPicture();
    rig.feed(frame);
    QTRY_VERIFY(!rig.pipeline.testPicturePending());

    const cv::Mat written = cv::imread((dir.path() + "/test.png").toStdString(), cv::IMREAD_UNCHANGED);
    QCOMPARE(written.cols, 128);
    QCOMPARE(written.rows, 128);
    const QImage shown = rig.view.lastImage();
    for (const QPoint p : {QPoint(0, 0), QPoint(10, 100), QPoint(127, 5), QPoint(64, 64)}) {
        const QColor expected = shown.pixelColor(p);
        if (format == QImage::Format_Grayscale8) {
            QCOMPARE(written.channels(), 1);
            QCOMPARE(int(written.at<uchar>(p.y(), p.x())), expected.red());
        } else {
            QCOMPARE(written.channels(), 3);
            const cv::Vec3b bgr = written.at<cv::Vec3b>(p.y(), p.x());
            QCOMPARE(QColor(bgr[2], bgr[1], bgr[0]), expected);
        }
    }
}

void TestFlowsDisplay::testPictureFolderMissingIsToldOnce()
{
    QTemporaryDir dir;
    QFile blocker(dir.path() + "/file");
    QVERIFY(blocker.open(QIODevice::WriteOnly));
    blocker.close();
    PipelineRig rig;
    rig.pipeline.setTestPictureWriter(TestPictureWriter(dir.path() + "/file/detect"));
    QSignalSpy failures(&rig.pipeline, &DisplayPipeline::testPictureFailed);
    rig.feed(gradientPicture());
    for (int request = 0; request < 3; ++request) {
        rig.pipeline.requestTestPicture();
        rig.feed(gradientPicture());
        QTRY_VERIFY(!rig.pipeline.testPicturePending()); // one attempt per request
    }
    QCOMPARE(rig.pipeline.framesDrawn(), 3); // the live view keeps drawing
    QCOMPARE(failures.count(), 1);
    QVERIFY(failures.first().at(0).toString().contains(QStringLiteral("file")));
}

void TestFlowsDisplay::cellMapsMatchDrawnPicture()
{
    QFETCH(int, quarterTurns);
    QFETCH(bool, horizontal);
    QFETCH(bool, vertical);
    const DisplayTransform transform = makeTransform(quarterTurns, horizontal, vertical);
    const QImage shown = transform.apply(cellPicture());
    for (int y = 0; y < 128; ++y) {
        for (int x = 0; x < 128; ++x) {
            const QPoint displayed(x, y);
            const QPoint sensor = transform.sensorCell(displayed);
            if (sensor != cellShownAt(shown, displayed) || transform.displayedCell(sensor) != displayed)
                QFAIL(qPrintable(QStringLiteral("displayed cell (%1, %2) maps to (%3, %4)")
                                     .arg(x).arg(y).arg(sensor.x()).arg(sensor.y())));
        }
    }
    // A rectangle keeps its cells (the pipeline's region rests on this).
    const QRect displayed(3, 100, 7, 2);
    const QRect sensor = cellsSpanning(cellShownAt(shown, displayed.topLeft()), cellShownAt(shown, displayed.bottomRight()));
    QCOMPARE(transform.sensorRect(displayed), sensor);
    QCOMPARE(transform.displayedRect(sensor), displayed);
}

void TestFlowsDisplay::clickAndRegionNameCellsUnderPointer()
{
    QFETCH(int, quarterTurns);
    QFETCH(bool, horizontal);
    QFETCH(bool, vertical);
    PipelineRig rig;
    QLabel *label = rig.view.pictureLabel();
    QTRY_COMPARE(label->size(), QSize(296, 296));
    const auto pixelOf = [](QPoint cell) { return QPoint((2 * cell.x() + 1) * 296 / 256, (2 * cell.y() + 1) * 296 / 256); };
    for (int i = 0; i < quarterTurns; ++i)
        rig.pipeline.rotate();
    if (horizontal)
        rig.pipeline.mirrorHorizontal();
    if (vertical)
        rig.pipeline.mirrorVertical();
    rig.feed(cellPicture(), 2); // the first frame only starts the clock
    QTRY_COMPARE(rig.pipeline.framesDrawn(), 1);
    const QImage shown = rig.view.lastImage();

    // A click names the sensor cell drawn under the pointer.
    const QPoint clicked(5, 90);
    const QPoint underPointer = cellShownAt(shown, clicked);
    rig.pipeline.selectCell(clicked.x(), clicked.y());
    QCOMPARE(rig.locate.text(),
             QStringLiteral("Coordinate: ( %1 , %2 ) ").arg(underPointer.x()).arg(underPointer.y()));
    QCOMPARE(rig.pipeline.sensorCell(clicked.x(), clicked.y()), underPointer);

    // A right-button drag gives the sensor cells drawn inside it.
    QSignalSpy regions(&rig.pipeline, &DisplayPipeline::regionSelected);
    const QPoint from(100, 12), to(20, 40);
    rightDrag(label, pixelOf(from), pixelOf(to));
    QCOMPARE(regions.count(), 1);
    const QRect region = regions.at(0).at(0).toRect();
    QCOMPARE(region, cellsSpanning(cellShownAt(shown, from), cellShownAt(shown, to)));
    QCOMPARE(rig.pipeline.region(), region);
    // It is drawn over the picture at once, on the same cells.
    QCOMPARE(rig.view.regionOverlay(), cellsSpanning(from, to));
    const QImage drawn = label->pixmap().toImage();
    const QColor corner = drawn.pixelColor(KeepRatioWidget::cellPixels(rig.view.regionOverlay(), drawn.size()).topLeft());
    QVERIFY2(corner == QColor(Qt::black) || corner == QColor(Qt::white), qPrintable(corner.name()));

    // Turned and mirrored once more, the next picture shows it on the same sensor cells.
    rig.pipeline.rotate();
    rig.pipeline.mirrorHorizontal();
    rig.feed(cellPicture());
    QTRY_COMPARE(rig.pipeline.framesDrawn(), 2);
    const QImage turned = rig.view.lastImage();
    const QRect overlay = rig.view.regionOverlay();
    QCOMPARE(cellsSpanning(cellShownAt(turned, overlay.topLeft()), cellShownAt(turned, overlay.bottomRight())), region);

    // A right click that stays on its cell goes back to the whole matrix.
    rightDrag(label, pixelOf(QPoint(64, 64)), pixelOf(QPoint(64, 64)));
    QCOMPARE(regions.count(), 2);
    QVERIFY(regions.at(1).at(0).toRect().isNull());
    QVERIFY(rig.view.regionOverlay().isNull());
}

FLOWS_TEST_MAIN(TestFlowsDisplay)
#include "tst_flows_display.moc"
