#include "acquisition/CsvWriter.h"
#include "acquisition/Hdf5RunSink.h"
#include "acquisition/PixelDecoder.h"
#include "acquisition/RunSinks.h"
#include "acquisition/SaveRunWriter.h"
#include "analysis/ReferenceFile.h"
#include "operation/ParameterSummary.h"
#include "operation/SaveRequest.h"
#include "playback/RecordingOpener.h"

#include "tests/support/RunFileReaders.h"

#include <QtTest>

#include <cmath>
#include <random>

namespace {

constexpr int kPixels = 16384;
constexpr int kFrames = 12;
constexpr int kRange = 100;

double unixSeconds(std::chrono::system_clock::time_point time)
{
    return std::chrono::duration<double>(time.time_since_epoch()).count();
}

// Frame k as the device would give it: currents decoded from 24-bit values.
std::shared_ptr<RecordedFrame> deviceFrame(int k, std::chrono::system_clock::time_point start)
{
    std::mt19937 random(unsigned(k) * 7919u);
    auto frame = std::make_shared<RecordedFrame>();
    frame->index = k;
    frame->time = start + std::chrono::microseconds(33357 * k + 411);
    frame->timestamp = QDateTime::fromMSecsSinceEpoch(
                           std::chrono::duration_cast<std::chrono::milliseconds>(frame->time.time_since_epoch()).count())
                           .toString(QString::fromLatin1(CsvFormat::kTimestampFormat));
    frame->currents.resize(kPixels);
    frame->gray.resize(kPixels);
    for (int i = 0; i < kPixels; ++i) {
        frame->currents[std::size_t(i)] = PixelDecoder::current(std::uint32_t(random() % 1200000), kRange);
        frame->gray[std::size_t(i)] = std::uint8_t(i % 256);
    }
    return frame;
}

// Snapshot of a folder tree: every entry with its size and modification time.
QStringList folderState(const QString &path)
{
    QStringList state;
    QDirIterator it(path, QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QFileInfo info(it.next());
        state << QStringLiteral("%1 %2 %3").arg(info.filePath()).arg(info.size()).arg(info.lastModified().toMSecsSinceEpoch());
    }
    state.sort();
    return state;
}

// The value a number has after the CSV export printed it.
double printed(double value)
{
    char text[CsvFormat::MaxNumberLength];
    char *end = CsvFormat::formatNumber(value, text);
    return QByteArray(text, int(end - text)).toDouble();
}

bool waitFor(const std::function<bool()> &condition, int milliseconds)
{
    QDeadlineTimer deadline(milliseconds);
    while (!condition()) {
        if (deadline.hasExpired())
            return false;
        QThread::msleep(20);
    }
    return true;
}

} // namespace

class PlaybackRecordings : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void csvAndHdf5SourcesAgree();
    void valuesMatchIndependentReaders();
    void followsAGrowingRun();
    void badInput_data();
    void badInput();

private:
    // A run written by the console's save-run writer with the data and HDF5
    // kinds; the full-off reference was taken, the full-on never.
    void writeRun(const QString &name, int frames, bool complete);

    QTemporaryDir m_dir;
    QString m_run; // the run folder
    std::chrono::system_clock::time_point m_start = std::chrono::system_clock::now();
    std::vector<double> m_fullOff;
};

void PlaybackRecordings::writeRun(const QString &name, int frames, bool complete)
{
    SaveRequest request;
    request.directory = m_dir.path();
    request.name = name;
    request.frames = kFrames;
    request.data = request.hdf5 = true;
    RunMetadata metadata;
    metadata.currentRangeNa = kRange;
    metadata.vbias1Volts = -2.5, metadata.vbias2Volts = 1, metadata.vonVolts = 12, metadata.voffVolts = -7.25;
    metadata.integrationCount = 19148;
    metadata.deviceSerial = QStringLiteral("ZK128");
    metadata.startTime = m_start;
    QString refusal;
    const std::optional<SaveRunPlan> plan = SaveRunPreparation::prepare(
        request, ParameterSummary::compose(kRange, "-2.5", "1", "12", "-7.25"), metadata, &refusal);
    QVERIFY2(plan, qPrintable(refusal));
    SaveRunWriter writer;
    const auto run = writer.begin(*plan, makeRunSinks(*plan), [](const SaveOutcome &) {});
    for (int k = 1; k <= frames; ++k)
        writer.append(run, deviceFrame(k, m_start));
    m_fullOff = deviceFrame(1000, m_start)->currents;
    RunReferences references{m_fullOff, std::vector<double>(kPixels, double(kRange)), m_start, std::nullopt};
    writer.end(references, complete ? QString() : QStringLiteral("the run was stopped"));
    writer.waitUntilIdle();
    if (name == QLatin1String("run"))
        m_run = plan->folder;
}

void PlaybackRecordings::initTestCase()
{
    QVERIFY(m_dir.isValid());
    writeRun(QStringLiteral("run"), kFrames, true);
    QVERIFY(QFileInfo::exists(m_run + "/run.h5") && QFileInfo::exists(m_run + "/run_current.csv"));
}

// The same run read through its HDF5 file and through its CSV files.
void PlaybackRecordings::csvAndHdf5SourcesAgree()
{
    QString error;
    double lastProgress = -1;
    const auto h5 = RecordingOpener::open(m_run, &error); // a folder: its HDF5 file
    QVERIFY2(h5, qPrintable(error));
    const auto csv = RecordingOpener::open(m_run + "/run_current.csv", &error, [&](double fraction) {
        lastProgress = fraction;
        return true;
    });
    QVERIFY2(csv, qPrintable(error));
    QCOMPARE(h5->path(), m_run + "/run.h5");
    QCOMPARE(lastProgress, 1.0);
    QCOMPARE(h5->frameCount(), kFrames);
    QCOMPARE(csv->frameCount(), kFrames);
    QVERIFY(h5->notice().isEmpty() && csv->notice().isEmpty());
    QVERIFY(!h5->canFollow() && !csv->canFollow());

    for (int k : {0, 7, kFrames - 1, 3}) { // seeking back as well as forth
        const FramePtr a = h5->frame(k), b = csv->frame(k);
        QVERIFY2(a && b, qPrintable(h5->lastError() + csv->lastError()));
        const std::vector<double> written = deviceFrame(k + 1, m_start)->currents;
        QCOMPARE(a->index, std::uint64_t(k + 1));
        QCOMPARE(b->index, std::uint64_t(k + 1));
        QCOMPARE(a->range, kRange);
        QCOMPARE(b->range, kRange);
        QVERIFY(a->currents == written);
        for (int i = 0; i < kPixels; i += 97) {
            QCOMPARE(b->currents[std::size_t(i)], printed(written[std::size_t(i)]));
            // The raw values decode to the currents: exactly from HDF5; from CSV
            // within its 6 printed digits and half a device step.
            QCOMPARE(PixelDecoder::current(a->raw, i, kRange), written[std::size_t(i)]);
            const double w = written[std::size_t(i)];
            QVERIFY(std::fabs(PixelDecoder::current(b->raw, i, kRange) - w) <= 5e-6 * w + kRange * 0.5e-6);
        }
        // Times: microseconds in HDF5, the CSV's milliseconds below them.
        const double exact = unixSeconds(deviceFrame(k + 1, m_start)->time);
        QVERIFY(std::fabs(h5->frameTime(k) - exact) < 1e-6);
        QVERIFY(csv->frameTime(k) <= exact && exact - csv->frameTime(k) < 0.001);
        QCOMPARE(unixSeconds(a->arrived), h5->frameTime(k));
    }
    QVERIFY(!h5->frame(kFrames) && !csv->frame(-1));

    const std::vector<double> series = h5->pixelSeries(5, 70), csvSeries = csv->pixelSeries(5, 70);
    QCOMPARE(int(series.size()), kFrames);
    QCOMPARE(int(csvSeries.size()), kFrames);
    for (int k = 0; k < kFrames; ++k) {
        const double written = deviceFrame(k + 1, m_start)->currents[5 + 128 * 70];
        QCOMPARE(series[std::size_t(k)], written);
        QCOMPARE(csvSeries[std::size_t(k)], printed(written));
    }

    const RunMetadata hm = h5->metadata(), cm = csv->metadata();
    QCOMPARE(hm.currentRangeNa, double(kRange));
    QCOMPARE(cm.currentRangeNa, double(kRange));
    QCOMPARE(QList<double>({hm.vbias1Volts, hm.vbias2Volts, hm.vonVolts, hm.voffVolts}), QList<double>({-2.5, 1, 12, -7.25}));
    QCOMPARE(QList<double>({cm.vbias1Volts, cm.vbias2Volts, cm.vonVolts, cm.voffVolts}), QList<double>({-2.5, 1, 12, -7.25}));
    QCOMPARE(hm.integrationCount, 19148u);
    QCOMPARE(hm.deviceSerial, QStringLiteral("ZK128"));
    QCOMPARE(unixSeconds(cm.startTime), csv->frameTime(0));

    // The measured reference agrees; the one never measured is absent from
    // HDF5, while the CSV run holds the defaults the console had.
    const RunReferences hr = h5->references(), cr = csv->references();
    QVERIFY(hr.fullOff == m_fullOff);
    QVERIFY(hr.fullOffTaken.has_value());
    QVERIFY(hr.fullOn.empty() && !hr.fullOnTaken);
    QCOMPARE(int(cr.fullOff.size()), kPixels);
    for (int i = 0; i < kPixels; i += 101)
        QCOMPARE(cr.fullOff[std::size_t(i)], printed(m_fullOff[std::size_t(i)]));
    QVERIFY(cr.fullOn == std::vector<double>(kPixels, double(kRange)));
}

// h5py and a plain CSV parse read the same values as the recordings.
void PlaybackRecordings::valuesMatchIndependentReaders()
{
    QString error;
    const auto h5 = RecordingOpener::open(m_run + "/run.h5", &error);
    const auto csv = RecordingOpener::open(m_run + "/run_current.csv", &error);
    QVERIFY(h5 && csv);

    const std::vector<RunFileReaders::CsvFrame> parsed = RunFileReaders::csvFrames(m_run + "/run_current.csv");
    QCOMPARE(int(parsed.size()), kFrames);
    for (int k = 0; k < kFrames; ++k) {
        QVERIFY(csv->frame(k)->currents == parsed[std::size_t(k)].values);
        QCOMPARE(QDateTime::fromMSecsSinceEpoch(qint64(std::llround(csv->frameTime(k) * 1000)))
                     .toString(QString::fromLatin1(CsvFormat::kTimestampFormat)),
                 parsed[std::size_t(k)].time);
    }

    if (QByteArray(SYSTEM_PYTHON3).isEmpty())
        QSKIP("no python3 with h5py");
    QProcess python;
    python.start(QStringLiteral(SYSTEM_PYTHON3), {QStringLiteral("-c"), QStringLiteral(R"(
import json, sys, h5py
with h5py.File(sys.argv[1], "r", libver="latest", swmr=True) as f:
    c = f["frames/current"]
    print(json.dumps({"times": f["frames/timestamp"][:].tolist(), "sums": c[:].sum(axis=(1, 2)).tolist(),
                      "pixel": c[:, 70, 5].tolist(), "range": float(f.attrs["current_range_nA"])}))
)"), m_run + "/run.h5"});
    QVERIFY(python.waitForFinished(60000));
    if (python.exitCode() != 0 && python.readAllStandardError().contains("No module named 'h5py'"))
        QSKIP("python3 has no h5py (Debian: python3-h5py)");
    QCOMPARE(python.exitCode(), 0);
    const QJsonObject dump = QJsonDocument::fromJson(python.readAllStandardOutput()).object();
    QCOMPARE(dump["range"].toDouble(), h5->metadata().currentRangeNa);
    const std::vector<double> series = h5->pixelSeries(5, 70);
    for (int k = 0; k < kFrames; ++k) {
        QCOMPARE(dump["times"].toArray()[k].toDouble(), h5->frameTime(k));
        QCOMPARE(dump["pixel"].toArray()[k].toDouble(), series[std::size_t(k)]);
        const std::vector<double> &currents = h5->frame(k)->currents;
        const double sum = std::accumulate(currents.begin(), currents.end(), 0.0);
        QVERIFY2(std::fabs(dump["sums"].toArray()[k].toDouble() - sum) < 1e-9 * sum,
                 qPrintable(QStringLiteral("frame %1: h5py %2, recording %3").arg(k).arg(dump["sums"].toArray()[k].toDouble(), 0, 'g', 17).arg(sum, 0, 'g', 17)));
    }
}

// A run still being written by another process: opened, followed frame by
// frame, and complete with its references once the writer closes it.
void PlaybackRecordings::followsAGrowingRun()
{
    const QString folder = m_dir.filePath("live");
    QDir().mkpath(folder);
    const QString path = folder + "/live.h5";
    QProcess writer;
    writer.start(QStringLiteral(HDF5_RUN_WRITER), {folder, "live", "60", "100"});
    QVERIFY(writer.waitForStarted());
    std::unique_ptr<Recording> recording;
    QString error;
    QVERIFY2(waitFor([&] {
                 recording.reset();
                 return (recording = RecordingOpener::open(path, &error)) && recording->frameCount() > 0;
             }, 20000),
             qPrintable(error));
    QVERIFY(recording->canFollow());
    QVERIFY(recording->notice().isEmpty());
    const int first = recording->frameCount();
    QVERIFY(waitFor([&] { return recording->refresh() > first; }, 20000));
    QVERIFY(recording->frameCount() < 60);
    for (int k : {0, recording->frameCount() - 1}) {
        const FramePtr frame = recording->frame(k);
        QVERIFY2(frame, qPrintable(recording->lastError()));
        for (int i : {0, 777, kPixels - 1}) // hdf5_run_writer: frame k + 1 holds k + 1 + i / 16384
            QCOMPARE(frame->currents[std::size_t(i)], k + 1 + i / 16384.0);
        QVERIFY(std::isfinite(recording->frameTime(k)));
    }
    QVERIFY(writer.waitForFinished(30000));
    QCOMPARE(writer.exitCode(), 0);
    QCOMPARE(recording->refresh(), 60);
    QVERIFY(!recording->canFollow());
    QCOMPARE(recording->frame(59)->currents[5], 60 + 5 / 16384.0);
    QCOMPARE(int(recording->references().fullOff.size()), kPixels);
    QVERIFY(recording->references().fullOn.empty()); // never measured: not stored

    // A writer that died: the file stays marked as held; once it has been
    // quiet it reads as interrupted, and can still be followed.
    writer.start(QStringLiteral(HDF5_RUN_WRITER), {folder, "dead", "30", "200", "7"});
    QVERIFY(writer.waitForFinished(30000));
    QCOMPARE(writer.exitCode(), 3);
    QFile dead(folder + "/dead.h5");
    QVERIFY(dead.open(QIODevice::ReadWrite));
    QVERIFY(dead.setFileTime(QDateTime::currentDateTime().addSecs(-60), QFileDevice::FileModificationTime));
    dead.close();
    recording.reset();
    recording = RecordingOpener::open(dead.fileName(), &error);
    QVERIFY2(recording, qPrintable(error));
    QCOMPARE(recording->notice(), QStringLiteral("This run was interrupted after %1 frames.").arg(recording->frameCount()));
    QVERIFY(recording->frameCount() <= 7);
}

void PlaybackRecordings::badInput_data()
{
    QTest::addColumn<QString>("path");
    QTest::addColumn<QString>("error");  // empty: it opens
    QTest::addColumn<QString>("notice");
    QTest::addColumn<int>("frames");

    const QString bad = m_dir.filePath("bad");
    QDir().mkpath(bad);
    const auto write = [&](const QString &name, const QByteArray &bytes) {
        QFile file(bad + "/" + name);
        if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size())
            qFatal("the test file %s could not be written", qPrintable(file.fileName()));
        return file.fileName();
    };

    const QString text = write("notes_current.csv", "Frame,Value\n1,2\n");
    QTest::newRow("text file") << text
                               << QStringLiteral("The file %1 is not a recording: it is neither an HDF5 file nor a CSV frames file.").arg(text)
                               << QString() << 0;

    ReferenceSet references{std::vector<double>(kPixels, 1.0), std::vector<double>(kPixels, 2.0), {}, {}, 800, 0, 0, 0, 0};
    const QString other = bad + "/references.h5";
    QString error;
    QVERIFY(ReferenceFile::save(other, references, &error));
    QTest::newRow("HDF5 of another layout")
        << other << QStringLiteral("The file %1 is an HDF5 file of another layout: it holds no /frames/current.").arg(other)
        << QString() << 0;

    QFile whole(m_run + "/run_current.csv");
    QVERIFY(whole.open(QIODevice::ReadOnly));
    const QByteArray bytes = whole.readAll();
    QDir().mkpath(bad + "/cut");
    QFile cut(bad + "/cut/cut_current.csv");
    QVERIFY(cut.open(QIODevice::WriteOnly));
    cut.write(bytes.left(bytes.size() - 5000));
    cut.close();
    QTest::newRow("cut last CSV frame") << cut.fileName() << QString()
                                        << QStringLiteral("The last frame is incomplete; %1 frames are shown. "
                                                          "The run's parameter file cut_SetParameterData.txt is missing "
                                                          "or unreadable; its frames are shown on the 800 nA range.")
                                               .arg(kFrames - 1)
                                        << kFrames - 1;

    QTest::newRow("missing file") << bad + "/gone.h5" << QStringLiteral("There is no file or folder %1.").arg(bad + "/gone.h5")
                                  << QString() << 0;
    QDir().mkpath(bad + "/empty");
    QTest::newRow("folder without a recording")
        << bad + "/empty"
        << QStringLiteral("The folder %1 holds no recording (empty.h5 or empty_current.csv).").arg(bad + "/empty")
        << QString() << 0;

    writeRun(QStringLiteral("stopped"), 4, false);
    QTest::newRow("interrupted run") << m_dir.filePath("stopped") << QString()
                                     << QStringLiteral("This run was interrupted after 4 frames.") << 4;
}

void PlaybackRecordings::badInput()
{
    QFETCH(QString, path);
    QFETCH(QString, error);
    QFETCH(QString, notice);
    QFETCH(int, frames);
    const QStringList before = folderState(m_dir.path());
    QString reason;
    const std::unique_ptr<Recording> recording = RecordingOpener::open(path, &reason);
    QCOMPARE(reason, error);
    QCOMPARE(recording == nullptr, !error.isEmpty());
    if (recording) {
        QCOMPARE(recording->notice(), notice);
        QCOMPARE(recording->frameCount(), frames);
        QVERIFY(!recording->canFollow());
        for (int k = 0; k < frames; ++k)
            QVERIFY2(recording->frame(k), qPrintable(recording->lastError()));
    }
    QCOMPARE(folderState(m_dir.path()), before); // nothing written, nothing made
}

QTEST_GUILESS_MAIN(PlaybackRecordings)
#include "tst_playback_recordings.moc"
