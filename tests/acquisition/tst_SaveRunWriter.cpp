#include "acquisition/CsvRunSink.h"
#include "acquisition/CsvWriter.h"
#include "acquisition/PictureRunSink.h"
#include "acquisition/SaveRunWriter.h"
#include "acquisition/VideoRunSink.h"
#include "tests/support/SmallDisk.h"

#include <QtTest>

#include <opencv2/imgcodecs.hpp>

#include <atomic>
#include <numeric>
#include <random>
#include <thread>

namespace {

constexpr int kPixels = 16384;

std::shared_ptr<RecordedFrame> recordedFrame(int index, QImage::Format format)
{
    std::mt19937 random(unsigned(index) * 7919u);
    auto frame = std::make_shared<RecordedFrame>();
    frame->index = index;
    frame->timestamp = QStringLiteral("2024/05/06 07:08:%1.%2").arg(index % 60, 2, 10, QLatin1Char('0')).arg(index % 1000, 3, 10, QLatin1Char('0'));
    frame->currents.resize(kPixels);
    frame->gray.resize(kPixels);
    for (int i = 0; i < kPixels; ++i) {
        const double current = double(random() % 8000000) * 0.0001; // 0..800 nA, seven digits
        frame->currents[std::size_t(i)] = current;
        frame->gray[std::size_t(i)] = std::uint8_t(current * 255.0 / 800.0);
    }
    frame->currents[0] = -0.0; // values whose text is easy to get wrong
    frame->currents[1] = 1.5e-7;
    frame->currents[2] = 999999.5;
    frame->picture = QImage(128, 128, format);
    for (int y = 0; y < 128; ++y) // noise: realistic sizes at worst, and every byte counts
        for (int x = 0; x < frame->picture.bytesPerLine(); ++x)
            frame->picture.scanLine(y)[x] = uchar(random());
    return frame;
}

RunReferences references()
{
    return {recordedFrame(9001, QImage::Format_Grayscale8)->currents,
            recordedFrame(9002, QImage::Format_Grayscale8)->currents, {}, {}};
}

std::vector<std::unique_ptr<RunSink>> sinksFor(const SaveRunPlan &plan)
{
    std::vector<std::unique_ptr<RunSink>> sinks;
    if (plan.video) // handed out of order: the writer puts them in kind order
        sinks.push_back(std::make_unique<VideoRunSink>());
    if (plan.data)
        sinks.push_back(std::make_unique<CsvRunSink>());
    if (plan.pictures)
        sinks.push_back(std::make_unique<PictureRunSink>());
    return sinks;
}

// Appends frames 1..count while the run goes, ends it and returns the outcomes
// delivered (read after waitUntilIdle, which returns once the callback has).
std::vector<SaveOutcome> record(const SaveRunPlan &run, int count, QImage::Format format,
                                const QString &interruption = QString(), int *appended = nullptr)
{
    std::vector<SaveOutcome> outcomes;
    SaveRunWriter writer(4);
    const auto id = writer.begin(run, sinksFor(run), [&](const SaveOutcome &outcome) { outcomes.push_back(outcome); });
    writer.waitUntilIdle(); // the sinks are open, or the run has ended at once
    int k = 0;
    while (k < count && writer.isRunning())
        writer.append(id, recordedFrame(++k, format));
    if (appended)
        *appended = k;
    writer.end(references(), interruption);
    writer.waitUntilIdle();
    return outcomes;
}

QByteArray readAll(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<missing>");
}

// Today's writer given the first `count` frames of a run: the bytes each CSV
// file must hold, keyed "current", "gray", "fulloff", "fullon".
QMap<QString, QByteArray> todaysCsv(const QString &folder, int count)
{
    std::vector<std::vector<double>> currents;
    std::vector<std::vector<std::uint8_t>> grays;
    QStringList timestamps;
    for (int k = 1; k <= count; ++k) {
        const auto frame = recordedFrame(k, QImage::Format_Grayscale8);
        currents.push_back(frame->currents);
        grays.push_back(frame->gray);
        timestamps << frame->timestamp;
    }
    writeFramesCsv(folder + "/current", currents, timestamps);
    writeFramesCsv(folder + "/gray", grays, timestamps);
    writeMatrixCsv(folder + "/fulloff", references().fullOff);
    writeMatrixCsv(folder + "/fullon", references().fullOn);
    QMap<QString, QByteArray> files;
    for (const QString &file : {"current", "gray", "fulloff", "fullon"})
        files[file] = readAll(folder + "/" + file);
    return files;
}

// The PNG decodes to the picture of frame k, every pixel of it.
bool samePicture(const QString &path, int k, QImage::Format format)
{
    const QImage png(path);
    return !png.isNull()
           && png.convertToFormat(QImage::Format_RGB888) == recordedFrame(k, format)->picture.convertToFormat(QImage::Format_RGB888);
}

// Frames ffprobe decodes from the file; -1 when it cannot read it.
int probedFrames(const QString &path)
{
    QProcess ffprobe;
    ffprobe.start(QStandardPaths::findExecutable("ffprobe"), {"-v", "error", "-count_frames", "-select_streams", "v:0",
                                                              "-show_entries", "stream=nb_read_frames", "-of", "csv=p=0", path});
    if (!ffprobe.waitForFinished(60000) || ffprobe.exitCode() != 0)
        return -1;
    bool ok = false;
    const int frames = ffprobe.readAllStandardOutput().trimmed().toInt(&ok);
    return ok ? frames : -1;
}

QStringList filesUnder(const QString &folder)
{
    QStringList files;
    QDirIterator it(folder, QDir::Files | QDir::Hidden, QDirIterator::Subdirectories);
    while (it.hasNext())
        files << QDir(folder).relativeFilePath(it.next());
    files.sort();
    return files;
}


// A sink for the writer's own rules: it fails the write of frame failAt,
// logs the frames it wrote and runs onWrite first.
struct ProbeSink : RunSink
{
    ProbeSink(QString kind, int failAt, std::vector<int> *indices = nullptr, std::function<void(int)> onWrite = {})
        : m_kind(std::move(kind)), m_failAt(failAt), m_indices(indices), m_onWrite(std::move(onWrite)) {}
    QString kind() const override { return m_kind; }
    bool open(const SaveRunPlan &, QString *) override { return true; }
    bool write(const RecordedFrame &frame, QString *error) override
    {
        if (m_onWrite)
            m_onWrite(frame.index);
        *error = QStringLiteral("probe failure");
        if (frame.index == m_failAt)
            return false;
        if (m_indices)
            m_indices->push_back(frame.index);
        ++m_written;
        return true;
    }
    bool finish(const RunReferences &, bool, QString *) override { return true; }
    int framesWritten() const override { return m_written; }

    QString m_kind;
    int m_failAt;
    std::vector<int> *m_indices;
    std::function<void(int)> m_onWrite;
    int m_written = 0;
};

} // namespace

class TestSaveRunWriter : public QObject
{
    Q_OBJECT
    QTemporaryDir m_dir;

    SaveRunPlan plan(const QString &folder, int frames, bool data, bool pictures, bool video)
    {
        SaveRunPlan p;
        p.folder = folder.startsWith('/') ? folder : m_dir.filePath(folder);
        QDir().mkpath(p.folder);
        p.name = QFileInfo(p.folder).fileName();
        p.frames = frames;
        p.data = data;
        p.pictures = pictures;
        p.video = video;
        return p;
    }

private slots:
    // Complete and interrupted runs: the CSV files hold exactly what today's
    // writer writes for the frames gathered, every picture and video frame is there.
    void run_data()
    {
        QTest::addColumn<int>("requested");
        QTest::addColumn<int>("gathered");
        QTest::addColumn<QString>("interruption");
        QTest::addColumn<int>("format");
        QTest::addColumn<int>("channels");
        QTest::newRow("complete run, gray pictures") << 6 << 6 << QString() << int(QImage::Format_Grayscale8) << 1;
        QTest::newRow("interrupted run, colour pictures")
            << 8 << 3 << QStringLiteral("the device was disconnected") << int(QImage::Format_RGB888) << 3;
    }
    void run()
    {
        QFETCH(int, requested);
        QFETCH(int, gathered);
        QFETCH(QString, interruption);
        QFETCH(int, format);
        QFETCH(int, channels);
        if (QStandardPaths::findExecutable("ffprobe").isEmpty())
            QSKIP("ffprobe is not installed");
        const QString tag = QTest::currentDataTag();
        const SaveRunPlan run = plan(tag + "/run", requested, true, true, true);
        const std::vector<SaveOutcome> outcomes = record(run, gathered, QImage::Format(format), interruption);
        QCOMPARE(outcomes.size(), std::size_t(1));
        QCOMPARE(outcomes[0].success(), interruption.isEmpty());
        QVERIFY(outcomes[0].failures.isEmpty());
        QCOMPARE(outcomes[0].written, gathered);
        QCOMPARE(outcomes[0].kinds, (QStringList{"data", "pictures", "video"}));

        const QMap<QString, QByteArray> today = todaysCsv(m_dir.filePath(tag), gathered);
        for (const QString &file : today.keys())
            QVERIFY2(readAll(run.folder + "/run_" + file + ".csv") == today[file], qPrintable(file));
        QCOMPARE(probedFrames(run.folder + "/run_output_video.mp4"), gathered);
        QStringList expected{"run_current.csv", "run_fulloff.csv", "run_fullon.csv", "run_gray.csv", "run_output_video.mp4"};
        for (int k = 1; k <= gathered; ++k) {
            expected << QStringLiteral("pic/run_%1.png").arg(k);
            const QString path = run.folder + "/" + expected.last();
            QCOMPARE(cv::imread(path.toStdString(), cv::IMREAD_UNCHANGED).channels(), channels);
            QVERIFY(samePicture(path, k, QImage::Format(format)));
        }
        expected.sort();
        QCOMPARE(filesUnder(run.folder), expected); // no temporary file left
    }

    void fullDisk_data()
    {
        QTest::addColumn<bool>("data");
        QTest::addColumn<bool>("pictures");
        QTest::addColumn<bool>("video");
        QTest::newRow("data") << true << false << false;
        QTest::newRow("pictures") << false << true << false;
        QTest::newRow("video") << false << false << true;
    }
    void fullDisk()
    {
        QFETCH(bool, data);
        QFETCH(bool, pictures);
        QFETCH(bool, video);
        if (video && QStandardPaths::findExecutable("ffprobe").isEmpty())
            QSKIP("ffprobe is not installed");
        const QString kind = QTest::currentDataTag();
        SmallDisk disk(m_dir.filePath("disk " + kind));
        if (!disk.mounted)
            QSKIP("a 2 MB tmpfs could not be mounted (needs root)");
        const SaveRunPlan run = plan(disk.path + "/full", 1000, data, pictures, video);
        int appended = 0;
        const std::vector<SaveOutcome> outcomes = record(run, run.frames, QImage::Format_RGB888, QString(), &appended);
        QCOMPARE(outcomes.size(), std::size_t(1));
        const SaveOutcome &outcome = outcomes[0];
        QVERIFY(!outcome.success());
        QCOMPARE(outcome.failures.size(), 1);
        QVERIFY2(outcome.failures[0].startsWith("the " + kind + " could not be written: "), qPrintable(outcome.message()));
        QVERIFY2(outcome.message().contains("No space left on device"), qPrintable(outcome.message()));
        QVERIFY(outcome.written < outcome.gathered);
        if (!video)
            QVERIFY2(appended < run.frames, "the run went on after its only sink had failed");

        const QString prefix = run.folder + "/full";
        const QStringList files = filesUnder(run.folder);
        if (data) { // whole frames only; a reference whole or absent
            const QMap<QString, QByteArray> today = todaysCsv(m_dir.filePath("today full"), outcome.written);
            for (const QString &file : today.keys())
                QVERIFY2(readAll(prefix + "_" + file + ".csv") == today[file]
                             || (file.startsWith("full") && !QFileInfo::exists(prefix + "_" + file + ".csv")),
                         qPrintable(file));
        }
        if (pictures) {
            QCOMPARE(int(files.size()), outcome.written);
            for (const QString &file : files) // each one decodes to its frame's picture, whole
                QVERIFY2(samePicture(run.folder + "/" + file, file.section('_', -1).section('.', 0, 0).toInt(),
                                     QImage::Format_RGB888), qPrintable(file));
        }
        if (video)
            QCOMPARE(QFileInfo::exists(prefix + "_output_video.mp4") ? probedFrames(prefix + "_output_video.mp4") : 0,
                     outcome.written);
        QVERIFY2(!files.join(' ').contains(".part"), qPrintable(files.join(' ')));
    }

    // A kind that fails leaves the data beside it written.
    void failingOutput_data()
    {
        QTest::addColumn<bool>("video");
        QTest::addColumn<QString>("blocker"); // in the run folder: a folder if it ends in "/", else a file
        QTest::addColumn<QString>("failure");
        QTest::addColumn<int>("gathered");
        QTest::newRow("pic is a file") << false << "pic" << "the pictures could not be written: the folder " << 3;
        QTest::newRow("video folder missing") << true << "" << "the video could not be written: the MP4 encoder could not open " << 0;
        QTest::newRow("video name taken") << true << "run_output_video.mp4/"
                                          << "the video could not be written: run_output_video.mp4 could not be put in place" << 3;
        // The frames stay under the temporary name: none of them counts as written.
        QTest::newRow("csv name taken") << false << "run_current.csv/"
                                        << "the data could not be written: run_current.csv could not be put in place" << 3;
    }
    void failingOutput()
    {
        QFETCH(bool, video);
        QFETCH(QString, blocker);
        QFETCH(QString, failure);
        QFETCH(int, gathered);
        SaveRunPlan run = plan("failing " + QString(QTest::currentDataTag()) + "/run", 3, !video, !video, video);
        QFile file(run.folder + "/" + blocker);
        if (blocker.isEmpty())
            run.folder += "/missing";
        else
            QVERIFY(blocker.endsWith('/') ? QDir().mkpath(file.fileName()) : file.open(QIODevice::WriteOnly));
        const std::vector<SaveOutcome> outcomes = record(run, 3, QImage::Format_Grayscale8);
        QCOMPARE(outcomes.size(), std::size_t(1));
        QCOMPARE(outcomes[0].failures.size(), 1);
        QVERIFY2(outcomes[0].failures[0].startsWith(failure), qPrintable(outcomes[0].failures[0]));
        QCOMPARE(outcomes[0].gathered, gathered); // 0: every sink failed at open, the run ended at once
        QCOMPARE(outcomes[0].written, 0);
        if (!video && blocker != "run_current.csv/")
            QVERIFY(readAll(run.folder + "/run_current.csv") == todaysCsv(m_dir.filePath("today failing"), 3)["current"]);
    }

    // A slow disk holds the producer back rather than queueing without bound,
    // and every frame still arrives, in order.
    void queueBlocksTheProducer()
    {
        constexpr int kLimit = 2;
        constexpr int kFrames = 12;
        std::atomic<int> returned{0};
        int mostAhead = 0;
        std::vector<int> indices;
        std::vector<std::unique_ptr<RunSink>> sinks;
        sinks.push_back(std::make_unique<ProbeSink>("data", 0, &indices, [&](int index) {
            QDeadlineTimer deadline(index == 1 ? 300 : 0); // an unbounded queue would take the whole run meanwhile
            while (returned < kFrames && !deadline.hasExpired())
                std::this_thread::yield();
            mostAhead = std::max(mostAhead, returned - index);
        }));
        std::vector<SaveOutcome> outcomes;
        SaveRunWriter writer(kLimit);
        const auto id = writer.begin(plan("queue", kFrames, true, false, false), std::move(sinks),
                                     [&](const SaveOutcome &outcome) { outcomes.push_back(outcome); });
        std::thread producer([&] {
            for (int k = 1; k <= kFrames; ++k, ++returned)
                writer.append(id, recordedFrame(k, QImage::Format_Grayscale8));
        });
        producer.join();
        writer.end({}, QString());
        writer.waitUntilIdle();
        QVERIFY2(mostAhead <= kLimit + 1, qPrintable(QString::number(mostAhead)));
        std::vector<int> all(kFrames);
        std::iota(all.begin(), all.end(), 1);
        QCOMPARE(indices, all);
        QCOMPARE(outcomes.size(), std::size_t(1));
        QVERIFY(outcomes[0].success());
    }

    void runEndings_data()
    {
        QTest::addColumn<QString>("ending");
        QTest::addColumn<QString>("interruption");
        QTest::addColumn<int>("gathered");
        QTest::addColumn<int>("written");
        QTest::newRow("every sink failed") << "fail" << QString() << 4 << 3;
        QTest::newRow("new run started") << "begin" << "a new save run was started" << 6 << 6;
        QTest::newRow("console closed") << "close" << "the console was closed" << 6 << 6;
    }
    void runEndings()
    {
        QFETCH(QString, ending);
        QFETCH(QString, interruption);
        QFETCH(int, gathered);
        QFETCH(int, written);
        auto sinksFailingAt = [](int failAt) {
            std::vector<std::unique_ptr<RunSink>> sinks;
            for (const char *kind : {"video", "data"})
                sinks.push_back(std::make_unique<ProbeSink>(kind, failAt));
            return sinks;
        };
        const SaveRunPlan run = plan("endings", 10, false, false, false);
        std::vector<SaveOutcome> outcomes;
        auto collect = [&](const SaveOutcome &outcome) { outcomes.push_back(outcome); };
        auto writer = std::make_unique<SaveRunWriter>(1);
        const auto id = writer->begin(run, sinksFailingAt(ending == "fail" ? 4 : 0), collect);
        for (int k = 1; k <= 6; ++k) {
            writer->append(id, recordedFrame(k, QImage::Format_Grayscale8));
            if (k == 4 && ending == "fail")
                writer->waitUntilIdle(); // frames 5 and 6 come after the run ended itself
        }
        if (ending == "begin")
            writer->begin(run, sinksFailingAt(0), collect);
        if (ending == "close")
            writer.reset();
        else
            writer->waitUntilIdle();

        QVERIFY(!outcomes.empty());
        QCOMPARE(outcomes[0].interruption, interruption);
        QCOMPARE(outcomes[0].gathered, gathered);
        QCOMPARE(outcomes[0].written, written);
        QCOMPARE(outcomes[0].kinds, (QStringList{"data", "video"}));
        if (ending == "begin")
            QVERIFY(writer->isRunning());
        if (ending == "fail") {
            QCOMPARE(outcomes[0].failures, (QStringList{"the data could not be written: probe failure",
                                                        "the video could not be written: probe failure"}));
            QVERIFY(!writer->isRunning());
            writer->end({}, QString()); // ignored: the run is over
            writer->waitUntilIdle();
            QCOMPARE(outcomes.size(), std::size_t(1));
        }
    }
};

QTEST_MAIN(TestSaveRunWriter)
#include "tst_SaveRunWriter.moc"
