// The capture loop's consumers, each handed frames directly: no thread, no
// window. The frames are built from known raw values, so every current,
// reference and level that comes out is known.

#include "acquisition/FramePool.h"
#include "acquisition/FrameRendering.h"
#include "acquisition/LiveFrameCopy.h"
#include "acquisition/PixelReadout.h"
#include "acquisition/ReferenceCalibration.h"
#include "acquisition/SaveRunFeeder.h"
#include "acquisition/SharedFramePublisher.h"
#include "acquisition/TemplatePicture.h"
#include "tests/services/SharedFrameReader.h"
#include "tests/support/RunFileReaders.h"
#include "tests/support/SavePlans.h"
#include "tests/support/TestContext.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QtTest>

#include <cmath>
#include <functional>

namespace {

constexpr int kRange = 100;

// Pixel i's gain: the matrix is not uniform, so calibration has something to flatten.
double gain(int i)
{
    return 0.8 + 0.4 * double((i * 7919) % 100) / 100.0;
}

// Builds frames as the capture loop does: raw bytes, then the currents.
class Frames
{
public:
    FramePtr make(const std::function<double(int)> &currentOf, int range = kRange)
    {
        std::shared_ptr<Frame> frame = m_pool.acquire();
        frame->raw.assign(std::size_t(Zk128::FrameLength), 0);
        for (int i = 0; i < Zk128::PixelCount; ++i) {
            const auto raw = std::uint32_t(std::lround(currentOf(i) / range * 1e6));
            frame->raw[std::size_t(3 * i)] = std::uint8_t(raw >> 16);
            frame->raw[std::size_t(3 * i + 1)] = std::uint8_t(raw >> 8);
            frame->raw[std::size_t(3 * i + 2)] = std::uint8_t(raw);
        }
        frame->range = range;
        frame->index = ++m_index;
        frame->arrived = std::chrono::system_clock::now() + std::chrono::milliseconds(m_index);
        frame->arrivedSteady = std::chrono::steady_clock::now();
        decodeCurrents(*frame);
        return frame;
    }
    FramePtr lit(double lampNa) { return make([lampNa](int i) { return gain(i) * lampNa; }); }
    FramePool &pool() { return m_pool; }

private:
    FramePool m_pool;
    std::uint64_t m_index = 0;
};

void feed(FrameConsumer &consumer, const FramePtr &frame, int times = 1)
{
    for (int k = 0; k < times; ++k)
        consumer.consume(frame);
}

QImage picture(FrameRendering &rendering)
{
    FrameRendering::Picture shown;
    return rendering.newestPicture(0, shown) ? shown.image : QImage();
}

std::pair<int, int> grayRange(const QImage &image)
{
    int low = 255, high = 0;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x) {
            const int v = qGray(image.pixel(x, y));
            low = std::min(low, v);
            high = std::max(high, v);
        }
    return {low, high};
}

} // namespace

class TestFrameConsumers : public QObject
{
    Q_OBJECT

private slots:
    void poolRecyclesFrames();
    void referencesFollowTheRange_data();
    void referencesFollowTheRange();
    void calibrationsKeptApart();
    void calibrationFlattensThePicture();
    void displayModeReachesThePicture_data();
    void displayModeReachesThePicture();
    void selectedPixelReadout_data();
    void selectedPixelReadout();
    void itCurveSeriesAndClockHold();
    void saveRunGathersItsFrames_data();
    void saveRunGathersItsFrames();
    void saveRunRefusedOrLost();
    void outputsForOtherPrograms();

private:
    Frames m_frames;
    ReferenceCalibration m_references{kRange};
};

void TestFrameConsumers::poolRecyclesFrames()
{
    FramePool pool(2);
    const Frame *first = nullptr;
    {
        std::shared_ptr<Frame> frame = pool.acquire();
        QCOMPARE(frame->raw.size(), std::size_t(Zk128::FrameLength));
        QCOMPARE(frame->currents.size(), std::size_t(Zk128::PixelCount));
        first = frame.get();
    }
    QCOMPARE(pool.idle(), std::size_t(1));
    QCOMPARE(pool.acquire().get(), first); // the same buffers again
    std::vector<std::shared_ptr<Frame>> held{pool.acquire(), pool.acquire(), pool.acquire()};
    held.clear();
    QCOMPARE(pool.idle(), std::size_t(2)); // no more than it keeps
}

void TestFrameConsumers::referencesFollowTheRange_data()
{
    QTest::addColumn<int>("range");
    QTest::newRow("zero") << 0;
    QTest::newRow("800") << 800;
    QTest::newRow("typed 37") << 37;
}

void TestFrameConsumers::referencesFollowTheRange()
{
    QFETCH(int, range);
    ReferenceCalibration references(150);
    QCOMPARE(references.snapshot().fullOn, std::vector<double>(16384, 150.0));
    references.setCurrentRange(range);
    const RunReferences now = references.snapshot();
    QCOMPARE(now.fullOn, std::vector<double>(16384, double(range)));
    QCOMPARE(now.fullOff, std::vector<double>(16384, 0.0));
    QVERIFY(!now.fullOnTaken && !now.fullOffTaken);
    references.setReferences(RunReferences{std::vector<double>(5, 1.0), std::vector<double>(5, 2.0), {}, {}});
    QCOMPARE(references.snapshot().fullOn, now.fullOn); // a wrong size is ignored
}

void TestFrameConsumers::calibrationsKeptApart()
{
    ReferenceCalibration references(kRange);
    QStringList order;
    references.onFullOnTaken([&order] { order << "on"; });
    references.onFullOffTaken([&order] { order << "off"; });
    references.requestFullOff();
    references.requestFullOn();
    // Full-on goes first; the frames after it belong to full-off only.
    feed(references, m_frames.lit(60.0), ReferenceCalibrator::FramesPerReference);
    QVERIFY(!references.fullOnPending());
    QVERIFY(references.fullOffPending());
    feed(references, m_frames.make([](int i) { return 0.5 + 0.1 * (i % 5); }), ReferenceCalibrator::FramesPerReference);
    QCOMPARE(order, QStringList({"on", "off"}));

    const RunReferences taken = references.snapshot();
    QVERIFY(taken.fullOnTaken && taken.fullOffTaken);
    for (int i = 0; i < 16384; i += 61) {
        QVERIFY(std::abs(taken.fullOn[std::size_t(i)] - gain(i) * 60.0) <= kRange * 1e-6);
        QVERIFY(std::abs(taken.fullOff[std::size_t(i)] - (0.5 + 0.1 * (i % 5))) <= kRange * 1e-6);
    }
}

void TestFrameConsumers::calibrationFlattensThePicture()
{
    ReferenceCalibration references(kRange);
    FrameRendering rendering(references);
    references.requestFullOn();
    feed(references, m_frames.lit(80.0), ReferenceCalibrator::FramesPerReference);
    references.requestFullOff();
    feed(references, m_frames.lit(20.0), ReferenceCalibrator::FramesPerReference);

    // Half-way between the references: uncalibrated the gains show,
    // calibrated every pixel sits at the middle of the scale.
    feed(rendering, m_frames.lit(50.0));
    const std::pair<int, int> raw = grayRange(picture(rendering));
    rendering.setCalibrationEnabled(true);
    const std::pair<int, int> flat = grayRange(picture(rendering));
    QVERIFY2(raw.second - raw.first > 40, qPrintable(QString("%1..%2").arg(raw.first).arg(raw.second)));
    QVERIFY2(flat.first >= 126 && flat.second <= 128, qPrintable(QString("%1..%2").arg(flat.first).arg(flat.second)));
    // Display levels shape the live picture only, never the saved one.
    rendering.setDisplayLevels(DisplayLevels{true, false, 0.0, 1.0});
    QCOMPARE(grayRange(picture(rendering)), std::make_pair(255, 255));
    QCOMPARE(grayRange(rendering.renderSaved(*rendering.newestFrame(), nullptr)), flat);
}

void TestFrameConsumers::displayModeReachesThePicture_data()
{
    QTest::addColumn<int>("mode");
    QTest::addColumn<int>("format");
    QTest::newRow("gray") << 0 << int(QImage::Format_Grayscale8);
    QTest::newRow("rgb") << 1 << int(QImage::Format_RGB888);
    QTest::newRow("heat") << 2 << int(QImage::Format_RGB888);
}

void TestFrameConsumers::displayModeReachesThePicture()
{
    QFETCH(int, mode);
    QFETCH(int, format);
    FrameRendering rendering(m_references);
    rendering.setDisplayMode(mode);
    FrameRendering::Picture shown;
    QVERIFY(!rendering.newestPicture(0, shown)); // nothing before the first frame
    const FramePtr frame = m_frames.lit(40.0);
    feed(rendering, frame);
    QVERIFY(rendering.newestPicture(frame->index - 1, shown));
    QCOMPARE(shown.index, frame->index);
    QCOMPARE(int(shown.image.format()), format);
    QCOMPARE(shown.image.size(), QSize(128, 128));
    QVERIFY(!rendering.newestPicture(frame->index, shown)); // taken already
}

void TestFrameConsumers::selectedPixelReadout_data()
{
    QTest::addColumn<int>("pixel");
    QTest::addColumn<bool>("reported");
    QTest::newRow("pixel 0") << 0 << true;
    QTest::newRow("pixel 16383") << 16383 << true;
    QTest::newRow("pixel 129") << 129 << true;
    QTest::newRow("-1 reports nothing") << -1 << false;
    QTest::newRow("16384 reports nothing") << 16384 << false;
}

void TestFrameConsumers::selectedPixelReadout()
{
    QFETCH(int, pixel);
    QFETCH(bool, reported);
    PixelReadout readout;
    readout.setSelectedPixel(pixel);
    const FramePtr frame = m_frames.lit(60.0);
    feed(readout, frame);
    double current = -1.0;
    std::uint64_t index = 0;
    QCOMPARE(readout.selectedCurrent(0, current, index), reported);
    if (!reported)
        return;
    QCOMPARE(index, frame->index);
    QVERIFY(std::abs(current - gain(pixel) * 60.0) <= kRange * 1e-6);
    QVERIFY(!readout.selectedCurrent(index, current, index));
}

void TestFrameConsumers::itCurveSeriesAndClockHold()
{
    PixelReadout readout;
    std::vector<int> cells{0, 16383};
    readout.startSeries(std::move(cells));
    QVERIFY(cells.empty());
    feed(readout, m_frames.lit(60.0), 4);
    std::vector<PixelReadout::SeriesStep> steps = readout.takeSeries();
    QCOMPARE(steps.size(), std::size_t(4)); // every frame is sampled
    QVERIFY(readout.takeSeries().empty());
    for (const auto &list : *steps[0].samples)
        QVERIFY(list.empty()); // the first step hands out what came before it: nothing
    for (std::size_t n = 1; n < steps.size(); ++n) {
        const auto &lists = *steps[n].samples;
        QCOMPARE(lists.size(), std::size_t(3));
        QVERIFY(std::abs(lists[0].at(0) - gain(0) * 60.0) <= kRange * 1e-6);
        QVERIFY(std::abs(lists[1].at(0) - gain(16383) * 60.0) <= kRange * 1e-6);
        QVERIFY(lists[2].empty());
        QVERIFY(steps[n].elapsedSeconds >= steps[n - 1].elapsedSeconds);
    }

    // Stop, a pause, restart: the time axis goes on from where it was held.
    QTest::qWait(40);
    feed(readout, m_frames.lit(60.0));
    const double held = readout.takeSeries().back().elapsedSeconds;
    readout.stopSeries();
    feed(readout, m_frames.lit(60.0));
    QVERIFY(readout.takeSeries().empty());
    QTest::qWait(150);
    readout.startSeries({0});
    feed(readout, m_frames.lit(60.0), 2);
    steps = readout.takeSeries();
    QCOMPARE(steps.front().elapsedSeconds, held);
    QCOMPARE(steps.front().samples->at(0).size(), std::size_t(1)); // the last value before the stop
    QVERIFY(steps.back().elapsedSeconds < held + 0.1);
}

void TestFrameConsumers::saveRunGathersItsFrames_data()
{
    QTest::addColumn<int>("frames");
    QTest::addColumn<QString>("interruption");
    QTest::newRow("one frame, every output") << 1 << QString();
    QTest::newRow("three frames") << 3 << QString();
    QTest::newRow("ended early") << 50 << "capture was stopped";
    QTest::newRow("a second run") << 50 << "a new save run was started";
}

void TestFrameConsumers::saveRunGathersItsFrames()
{
    QFETCH(int, frames);
    QFETCH(QString, interruption);
    QTemporaryDir dir;
    QList<int> progress;
    QList<SaveOutcome> outcomes; // before the feeder, whose end may still report
    FrameRendering rendering(m_references);
    TestContext context;
    SaveRunFeeder feeder(rendering, m_references, context.context.log());
    feeder.onProgress([&progress](int gathered) { progress << gathered; });
    feeder.onFinished([&outcomes](const SaveOutcome &outcome) { outcomes << outcome; });
    QString refusal;
    QVERIFY(feeder.arm(makeSavePlan(dir.path(), "run", frames, true, true, true), &refusal));
    QVERIFY(feeder.isArmed());
    QVERIFY(feeder.armedPlan().video);

    std::vector<FramePtr> fed;
    const int fedCount = interruption.isEmpty() ? frames + 2 : 12; // frames after the run's end are not saved
    for (int k = 0; k < fedCount; ++k) {
        fed.push_back(m_frames.lit(10.0 + k));
        feed(feeder, fed.back());
    }
    if (interruption == "capture was stopped")
        feeder.end(interruption);
    else if (!interruption.isEmpty())
        QVERIFY(feeder.arm(makeSavePlan(dir.path(), "next", 1, true, false, false), &refusal));
    feeder.waitUntilIdle();

    const int written = interruption.isEmpty() ? frames : 12;
    QList<int> expected;
    for (int i = 1; i <= written; ++i)
        expected << i;
    if (interruption.isEmpty())
        expected << frames; // the last frame is told twice
    QCOMPARE(progress, expected);
    QCOMPARE(feeder.gathered(), interruption == "a new save run was started" ? 0 : written);
    QCOMPARE(outcomes.size(), 1);
    const QString message = outcomes.first().message();
    if (interruption.isEmpty())
        QVERIFY2(outcomes.first().success(), qPrintable(message));
    else
        QCOMPARE(message, QStringLiteral("Saved 12 of %1 frames: %2.").arg(frames).arg(interruption));
    QVERIFY(interruption == "a new save run was started" || !feeder.isArmed());

    // The files hold the frames handed in, with their own arrival times.
    const QString prefix = dir.path() + "/run/run";
    const std::vector<RunFileReaders::CsvFrame> csv = RunFileReaders::csvFrames(prefix + "_current.csv");
    QCOMPARE(int(csv.size()), written);
    for (int k = 0; k < written; ++k) {
        const QDateTime arrived = QDateTime::fromMSecsSinceEpoch(
            std::chrono::duration_cast<std::chrono::milliseconds>(fed[std::size_t(k)]->arrived.time_since_epoch())
                .count());
        QCOMPARE(csv[std::size_t(k)].time, arrived.toString("yyyy/MM/dd HH:mm:ss.zzz"));
        QVERIFY(std::abs(csv[std::size_t(k)].values[5] - fed[std::size_t(k)]->currents[5]) < 1e-3);
    }
    QCOMPARE(QDir(dir.path() + "/run/pic").entryList({"*.png"}, QDir::Files).size(), written);
    QCOMPARE(QImage(dir.path() + QStringLiteral("/run/pic/run_%1.png").arg(written)).size(), QSize(128, 128));
    if (!QStandardPaths::findExecutable("ffprobe").isEmpty())
        QCOMPARE(RunFileReaders::videoFrames(prefix + "_output_video.mp4"), written);
}

void TestFrameConsumers::saveRunRefusedOrLost()
{
    QTemporaryDir dir;
    QList<SaveOutcome> outcomes;
    FrameRendering rendering(m_references);
    TestContext context;
    SaveRunFeeder feeder(rendering, m_references, context.context.log());
    feeder.onFinished([&outcomes](const SaveOutcome &outcome) { outcomes << outcome; });
    QString refusal;
    QVERIFY(!feeder.arm(makeSavePlan(dir.path(), "none", 0, true, true, true), &refusal));
    QCOMPARE(refusal, QStringLiteral("The number of frames to save must be at least 1."));
    QVERIFY(!feeder.isArmed());
    QVERIFY(QDir(dir.path() + "/none").isEmpty());

    // A folder that vanished before the first frame: reported, and the run
    // ends by itself at the next frame.
    SaveRunPlan lost = makeSavePlan(dir.path(), "lost", 2, true, true, false);
    QDir(lost.folder).removeRecursively();
    QFile blocker(lost.folder);
    QVERIFY(blocker.open(QIODevice::WriteOnly));
    lost.folder += "/sub";
    QVERIFY(feeder.arm(lost, &refusal));
    QVERIFY(QTest::qWaitFor([&feeder, this] {
        feed(feeder, m_frames.lit(10.0));
        return !feeder.isArmed();
    }, 5000));
    feeder.waitUntilIdle();
    QCOMPARE(outcomes.size(), 1);
    QVERIFY2(outcomes.first().message().startsWith("Saved 0 of 2 frames; the "), qPrintable(outcomes.first().message()));
}

void TestFrameConsumers::outputsForOtherPrograms()
{
    TestContext context;
    FrameRendering rendering(m_references);
    SharedFramePublisher shared(context.context.frameView());
    LiveFrameCopy live;
    TemplatePicture templatePicture(rendering, context.context.paths().templatePicture());
    const FramePtr first = m_frames.lit(30.0);
    const FramePtr second = m_frames.lit(70.0);

    // The live analysis gets frames only while its window asks for them.
    std::vector<double> currents;
    std::uint64_t sequence = 0;
    qint64 timeMs = 0;
    feed(live, first);
    QVERIFY(!live.newestFrame(0, currents, sequence, timeMs));
    live.setPublishing(true);
    feed(live, second);
    QVERIFY(live.newestFrame(0, currents, sequence, timeMs));
    QCOMPARE(currents, second->currents);
    QVERIFY(!live.newestFrame(sequence, currents, sequence, timeMs));

    // The template is written once per request.
    feed(rendering, second);
    feed(templatePicture, second);
    QVERIFY(!QFile::exists(templatePicture.path()));
    templatePicture.request();
    feed(templatePicture, second);
    QVERIFY(!templatePicture.pending());
    QCOMPARE(QImage(templatePicture.path()).size(), QSize(128, 128));

    if (!context.context.frameView().isOpen())
        QSKIP("the shared memory block could not be opened on this machine");
    feed(shared, first);
    feed(shared, second);
    QCOMPARE(SharedFrameReader::read(TestContext::frameViewName()), second->currents);
}

QTEST_GUILESS_MAIN(TestFrameConsumers)
#include "tst_FrameConsumers.moc"
