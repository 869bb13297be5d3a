#include "CsvRunSink.h"
#include "CsvWriter.h"
#include "PictureRunSink.h"
#include "SaveRunWriter.h"
#include "VideoRunSink.h"

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
    RunReferences refs;
    refs.fullOff = recordedFrame(9001, QImage::Format_Grayscale8)->currents;
    refs.fullOn = recordedFrame(9002, QImage::Format_Grayscale8)->currents;
    return refs;
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

// The outcomes a writer delivered. Read after waitUntilIdle, which returns
// only once the callback has returned.
struct Outcomes
{
    std::vector<SaveOutcome> list;
    SaveRunWriter::Finished callback()
    {
        return [this](const SaveOutcome &outcome) { list.push_back(outcome); };
    }
};

QByteArray readAll(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<missing>");
}

// Frames of a frames file read back as CSV; -1 when any frame is not whole.
int wholeFrames(const QString &path)
{
    const QList<QByteArray> lines = readAll(path).split('\n');
    if (lines.size() % 130 != 1 || !lines.last().isEmpty())
        return -1;
    for (int line = 0; line + 1 < lines.size(); ++line) {
        const int row = line % 130;
        if (row == 0 && !lines[line].startsWith("Time: "))
            return -1;
        if (row == 129 && !lines[line].isEmpty())
            return -1;
        if (row > 0 && row < 129) {
            const QList<QByteArray> cells = lines[line].split(',');
            if (cells.size() != 128)
                return -1;
            for (const QByteArray &cell : cells) {
                bool number = false;
                cell.toDouble(&number);
                if (!number)
                    return -1;
            }
        }
    }
    return int(lines.size() / 130);
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

// A small file system of its own, so that a run can fill it.
struct SmallDisk
{
    QString path;
    bool mounted = false;
    explicit SmallDisk(const QString &where) : path(where)
    {
        QDir().mkpath(path);
        mounted = QProcess::execute("mount", {"-t", "tmpfs", "-o", "size=2m", "tmpfs", path}) == 0;
    }
    ~SmallDisk()
    {
        if (mounted)
            QProcess::execute("umount", {path});
    }
};

// A sink for the writer's own rules: it logs what it is handed and can fail
// or hold its first write until released.
struct ProbeSink : RunSink
{
    QString m_kind;
    int m_failAt = 0;                       // the frame index whose write fails; 0: none
    std::vector<int> *m_indices = nullptr;  // the frames written, in order
    std::function<void(int)> m_onWrite;
    int m_written = 0;

    QString kind() const override { return m_kind; }
    bool open(const SaveRunPlan &, QString *) override { return true; }
    bool write(const RecordedFrame &frame, QString *error) override
    {
        if (m_onWrite)
            m_onWrite(frame.index);
        if (frame.index == m_failAt) {
            *error = QStringLiteral("probe failure");
            return false;
        }
        if (m_indices)
            m_indices->push_back(frame.index);
        ++m_written;
        return true;
    }
    bool finish(const RunReferences &, bool, QString *) override { return true; }
    int framesWritten() const override { return m_written; }
};

} // namespace

class TestSaveRunWriter : public QObject
{
    Q_OBJECT
    QTemporaryDir m_dir;

    SaveRunPlan plan(const QString &folder, int frames, bool data, bool pictures, bool video)
    {
        QDir().mkpath(folder);
        SaveRunPlan p;
        p.folder = folder;
        p.name = QFileInfo(folder).fileName();
        p.frames = frames;
        p.data = data;
        p.pictures = pictures;
        p.video = video;
        return p;
    }

private slots:
    void csvMatchesTodaysWriter_data()
    {
        QTest::addColumn<int>("requested");
        QTest::addColumn<int>("gathered");
        QTest::addColumn<QString>("interruption");
        QTest::newRow("complete run") << 5 << 5 << QString();
        QTest::newRow("interrupted run") << 8 << 3 << QStringLiteral("the device was disconnected");
    }
    void csvMatchesTodaysWriter()
    {
        QFETCH(int, requested);
        QFETCH(int, gathered);
        QFETCH(QString, interruption);
        const QString tag = QTest::currentDataTag();
        const SaveRunPlan run = plan(m_dir.filePath("csv " + tag), requested, true, false, false);
        std::vector<std::vector<double>> currents;
        std::vector<std::vector<std::uint8_t>> grays;
        QStringList timestamps;
        Outcomes outcomes;
        {
            SaveRunWriter writer(2);
            writer.begin(run, sinksFor(run), outcomes.callback());
            for (int k = 1; k <= gathered; ++k) {
                const auto frame = recordedFrame(k, QImage::Format_Grayscale8);
                currents.push_back(frame->currents);
                grays.push_back(frame->gray);
                timestamps << frame->timestamp;
                writer.append(frame);
            }
            writer.end(references(), interruption);
            writer.waitUntilIdle();
        }
        QCOMPARE(outcomes.list.size(), std::size_t(1));
        const SaveOutcome &outcome = outcomes.list.front();
        QCOMPARE(outcome.written, gathered);
        QCOMPARE(outcome.success(), interruption.isEmpty());
        QVERIFY(outcome.failures.isEmpty());

        const QString today = m_dir.filePath("today " + tag + "/");
        QVERIFY(writeFramesCsv(today + "current.csv", currents, timestamps));
        QVERIFY(writeFramesCsv(today + "gray.csv", grays, timestamps));
        QVERIFY(writeMatrixCsv(today + "fulloff.csv", references().fullOff));
        QVERIFY(writeMatrixCsv(today + "fullon.csv", references().fullOn));
        for (const QString file : {"current", "gray", "fulloff", "fullon"}) {
            const QByteArray streamed = readAll(run.folder + "/" + run.name + "_" + file + ".csv");
            QVERIFY2(streamed == readAll(today + file + ".csv"), qPrintable(file));
        }
        QCOMPARE(filesUnder(run.folder).size(), 4); // no .part file left
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
        Outcomes outcomes;
        int appended = 0;
        {
            SaveRunWriter writer(4);
            writer.begin(run, sinksFor(run), outcomes.callback());
            while (appended < run.frames && writer.isRunning())
                writer.append(recordedFrame(++appended, QImage::Format_RGB888));
            writer.end(references(), QString());
            writer.waitUntilIdle();
        }
        QCOMPARE(outcomes.list.size(), std::size_t(1));
        const SaveOutcome &outcome = outcomes.list.front();
        QVERIFY(!outcome.success());
        QCOMPARE(outcome.failures.size(), 1);
        QVERIFY2(outcome.failures.front().startsWith("the " + kind + " could not be written: "), qPrintable(outcome.message()));
        QVERIFY2(outcome.message().contains("No space left on device"), qPrintable(outcome.message()));
        QVERIFY(outcome.written < outcome.gathered);
        if (!video)
            QVERIFY2(appended < run.frames, "the run went on after its only sink had failed");

        const QString prefix = run.folder + "/full";
        const QStringList files = filesUnder(run.folder);
        if (data) {
            QCOMPARE(wholeFrames(prefix + "_current.csv"), outcome.written);
            QCOMPARE(wholeFrames(prefix + "_gray.csv"), outcome.written);
            for (const QString reference : {"_fulloff.csv", "_fullon.csv"})
                if (QFileInfo::exists(prefix + reference))
                    QCOMPARE(int(readAll(prefix + reference).count('\n')), 129);
        }
        if (pictures) {
            QCOMPARE(int(files.size()), outcome.written);
            for (const QString &file : files)
                QCOMPARE(cv::imread((run.folder + "/" + file).toStdString(), cv::IMREAD_UNCHANGED).channels(), 3);
        }
        if (video)
            QCOMPARE(QFileInfo::exists(prefix + "_output_video.mp4") ? probedFrames(prefix + "_output_video.mp4") : 0,
                     outcome.written);
        QVERIFY2(!files.join(' ').contains(".part"), qPrintable(files.join(' ')));
    }

    void failingOutput_data()
    {
        QTest::addColumn<bool>("video");
        QTest::addColumn<QString>("blocker"); // a folder or file in the way, relative to the run folder
        QTest::addColumn<bool>("blockerIsFolder");
        QTest::addColumn<QString>("failure");
        QTest::addColumn<bool>("endsAtOnce");
        QTest::newRow("pic is a file") << false << "pic" << false << "the pictures could not be written: the folder " << false;
        QTest::newRow("video folder missing") << true << "" << false << "the video could not be written: the MP4 encoder could not open " << true;
        QTest::newRow("video name taken") << true << "run_output_video.mp4" << true << "the video could not be written: run_output_video.mp4 could not be put in place" << false;
    }
    // The data keeps being written beside a kind that failed.
    void failingOutput()
    {
        QFETCH(bool, video);
        QFETCH(QString, blocker);
        QFETCH(bool, blockerIsFolder);
        QFETCH(QString, failure);
        QFETCH(bool, endsAtOnce);
        const QString folder = m_dir.filePath("failing " + QString(QTest::currentDataTag()) + "/run");
        SaveRunPlan run = plan(folder, 3, !video, !video, video);
        if (endsAtOnce)
            run.folder += "/missing";
        if (!blocker.isEmpty()) {
            QFile file(folder + "/" + blocker);
            QVERIFY(blockerIsFolder ? QDir().mkpath(file.fileName()) : file.open(QIODevice::WriteOnly));
        }
        Outcomes outcomes;
        SaveRunWriter writer;
        writer.begin(run, sinksFor(run), outcomes.callback());
        writer.waitUntilIdle();
        QCOMPARE(writer.isRunning(), !endsAtOnce);
        for (int k = 1; k <= 3; ++k)
            writer.append(recordedFrame(k, QImage::Format_Grayscale8));
        writer.end(references(), QString());
        writer.waitUntilIdle();

        QCOMPARE(outcomes.list.size(), std::size_t(1));
        const SaveOutcome &outcome = outcomes.list.front();
        QCOMPARE(outcome.failures.size(), 1);
        QVERIFY2(outcome.failures.front().startsWith(failure), qPrintable(outcome.failures.front()));
        QCOMPARE(outcome.gathered, endsAtOnce ? 0 : 3);
        QCOMPARE(outcome.written, 0);
        if (!video)
            QCOMPARE(wholeFrames(folder + "/run_current.csv"), 3);
    }

    void normalRun_data()
    {
        QTest::addColumn<int>("format");
        QTest::addColumn<int>("channels");
        QTest::newRow("gray pictures") << int(QImage::Format_Grayscale8) << 1;
        QTest::newRow("colour pictures") << int(QImage::Format_RGB888) << 3;
    }
    void normalRun()
    {
        QFETCH(int, format);
        QFETCH(int, channels);
        if (QStandardPaths::findExecutable("ffprobe").isEmpty())
            QSKIP("ffprobe is not installed");
        const SaveRunPlan run = plan(m_dir.filePath("normal " + QString(QTest::currentDataTag()) + "/run"), 12, true, true, true);
        Outcomes outcomes;
        SaveRunWriter writer;
        writer.begin(run, sinksFor(run), outcomes.callback());
        for (int k = 1; k <= run.frames; ++k)
            writer.append(recordedFrame(k, QImage::Format(format)));
        writer.end(references(), QString());
        writer.waitUntilIdle();

        QCOMPARE(outcomes.list.size(), std::size_t(1));
        const SaveOutcome &outcome = outcomes.list.front();
        QVERIFY2(outcome.success(), qPrintable(outcome.message()));
        QCOMPARE(outcome.kinds, (QStringList{"data", "pictures", "video"}));
        QCOMPARE(outcome.written, 12);
        QCOMPARE(probedFrames(run.folder + "/run_output_video.mp4"), 12);
        QStringList expected{"run_current.csv", "run_fulloff.csv", "run_fullon.csv", "run_gray.csv", "run_output_video.mp4"};
        for (int k = 1; k <= 12; ++k) {
            expected << QStringLiteral("pic/run_%1.png").arg(k);
            const cv::Mat png = cv::imread((run.folder + "/" + expected.last()).toStdString(), cv::IMREAD_UNCHANGED);
            QCOMPARE(png.cols, 128);
            QCOMPARE(png.rows, 128);
            QCOMPARE(png.channels(), channels);
        }
        expected.sort();
        QCOMPARE(filesUnder(run.folder), expected);
        QVERIFY(QImage(run.folder + "/pic/run_5.png").convertToFormat(QImage::Format_RGB888)
                == recordedFrame(5, QImage::Format(format))->picture.convertToFormat(QImage::Format_RGB888));
    }

    // A slow disk holds the producer back rather than queueing without bound,
    // and every frame still arrives, in order.
    void queueBlocksTheProducer()
    {
        constexpr int kLimit = 2;
        constexpr int kFrames = 12;
        std::atomic<int> returned{0};
        std::vector<int> indices;
        int mostAhead = 0;
        auto sink = std::make_unique<ProbeSink>();
        sink->m_kind = "data";
        sink->m_indices = &indices;
        sink->m_onWrite = [&](int index) {
            if (index == 1) { // give an unbounded queue every chance to take the whole run
                QDeadlineTimer deadline(300);
                while (returned < kFrames && !deadline.hasExpired())
                    std::this_thread::yield();
            }
            mostAhead = std::max(mostAhead, returned - index);
        };
        Outcomes outcomes;
        SaveRunWriter writer(kLimit);
        std::vector<std::unique_ptr<RunSink>> sinks;
        sinks.push_back(std::move(sink));
        SaveRunPlan run = plan(m_dir.filePath("queue"), kFrames, true, false, false);
        writer.begin(run, std::move(sinks), outcomes.callback());
        std::thread producer([&] {
            for (int k = 1; k <= kFrames; ++k) {
                writer.append(recordedFrame(k, QImage::Format_Grayscale8));
                ++returned;
            }
        });
        producer.join();
        writer.end({}, QString());
        writer.waitUntilIdle();
        QVERIFY2(mostAhead <= kLimit + 1, qPrintable(QString::number(mostAhead)));
        std::vector<int> all(kFrames);
        std::iota(all.begin(), all.end(), 1);
        QCOMPARE(indices, all);
        QCOMPARE(outcomes.list.size(), std::size_t(1));
        QVERIFY(outcomes.list.front().success());
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
        const SaveRunPlan run = plan(m_dir.filePath("endings"), 10, false, false, false);
        auto sinksFailingAt = [](int failAt) {
            std::vector<std::unique_ptr<RunSink>> sinks;
            for (const char *kind : {"video", "data"}) {
                auto sink = std::make_unique<ProbeSink>();
                sink->m_kind = kind;
                sink->m_failAt = failAt;
                sinks.push_back(std::move(sink));
            }
            return sinks;
        };
        Outcomes outcomes;
        auto writer = std::make_unique<SaveRunWriter>(1);
        writer->begin(run, sinksFailingAt(ending == "fail" ? 4 : 0), outcomes.callback());
        for (int k = 1; k <= 6; ++k) {
            writer->append(recordedFrame(k, QImage::Format_Grayscale8));
            if (k == 4 && ending == "fail")
                writer->waitUntilIdle();
        }
        if (ending == "begin")
            writer->begin(run, sinksFailingAt(0), outcomes.callback());
        if (ending == "close")
            writer.reset();
        else
            writer->waitUntilIdle();

        QVERIFY(!outcomes.list.empty());
        const SaveOutcome &outcome = outcomes.list.front();
        QCOMPARE(outcome.interruption, interruption);
        QCOMPARE(outcome.gathered, gathered);
        QCOMPARE(outcome.written, written);
        QCOMPARE(outcome.kinds, (QStringList{"data", "video"}));
        if (ending == "fail") {
            QCOMPARE(outcome.failures, (QStringList{"the data could not be written: probe failure",
                                                    "the video could not be written: probe failure"}));
            QVERIFY(!writer->isRunning());
            writer->end({}, QString()); // ignored: the run is over
            writer->waitUntilIdle();
            QCOMPARE(outcomes.list.size(), std::size_t(1));
        }
        if (ending == "begin")
            QVERIFY(writer->isRunning());
    }
};

QTEST_MAIN(TestSaveRunWriter)
#include "tst_SaveRunWriter.moc"
