// Playback of saved runs: the time from a seek to the frame ready to show
// (read, then decoded and rendered as the live picture is), for an HDF5 and a
// CSV run of 1000 frames; the CSV index time per 1000 frames; a pixel's
// series over the run; the whole matrix's mean in every frame (what Live
// Analysis plots over an open recording); and the peak memory of opening and stepping through
// every frame of each kind, each in a process of its own.
//
//   bench_playback [FOLDER]        writes the run in FOLDER (default: a temporary folder)
//   bench_playback --read FILE     the figures of one recording (run by the first form)
#include "bench/support/ProcessFigures.h"

#include "acquisition/CsvWriter.h"
#include "acquisition/FrameRenderer.h"
#include "acquisition/PixelDecoder.h"
#include "acquisition/RunSinks.h"
#include "acquisition/SaveRunWriter.h"
#include "analysis/RegionStatistics.h"
#include "playback/RecordingOpener.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QElapsedTimer>
#include <QProcess>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>
#include <random>

namespace {

constexpr int kFrames = 1000;
constexpr int kRange = 800;
constexpr int kSeeks = 200;

// Frame k as the device gives it: a lit spot over a dark matrix with noise.
std::shared_ptr<RecordedFrame> frame(int k, std::chrono::system_clock::time_point start)
{
    std::mt19937 random(unsigned(k) + 1u);
    std::normal_distribution<double> noise(0.0, 2000.0);
    auto f = std::make_shared<RecordedFrame>();
    f->index = k;
    f->time = start + std::chrono::milliseconds(13 * k);
    f->timestamp = QDateTime::fromMSecsSinceEpoch(
                       std::chrono::duration_cast<std::chrono::milliseconds>(f->time.time_since_epoch()).count())
                       .toString(QString::fromLatin1(CsvFormat::kTimestampFormat));
    f->currents.resize(Zk128::PixelCount);
    f->gray.resize(Zk128::PixelCount);
    for (int i = 0; i < Zk128::PixelCount; ++i) {
        const int x = i % 128 - 64 - k % 40, y = i / 128 - 64;
        const double raw = std::clamp(50000.0 + 700000.0 * std::exp(-(x * x + y * y) / 500.0) + noise(random), 0.0, 1e6);
        f->currents[std::size_t(i)] = PixelDecoder::current(std::uint32_t(raw), kRange);
        f->gray[std::size_t(i)] = std::uint8_t(raw * 255e-6);
    }
    return f;
}

QString writeRun(const QString &directory)
{
    SaveRunPlan plan;
    plan.folder = directory + QStringLiteral("/bench");
    plan.name = QStringLiteral("bench");
    plan.frames = kFrames;
    plan.data = plan.hdf5 = true;
    plan.metadata.currentRangeNa = kRange;
    plan.metadata.startTime = std::chrono::system_clock::now();
    QDir().mkpath(plan.folder);
    SaveRunWriter writer;
    const auto run = writer.begin(plan, makeRunSinks(plan), [](const SaveOutcome &outcome) {
        std::printf("run written: %s\n", qPrintable(outcome.logLine()));
    });
    for (int k = 1; k <= kFrames; ++k)
        writer.append(run, frame(k, plan.metadata.startTime));
    writer.end(RunReferences{}, QString());
    writer.waitUntilIdle();
    return plan.folder;
}

double percentile(std::vector<double> values, double p)
{
    std::sort(values.begin(), values.end());
    return values[std::min(values.size() - 1, std::size_t(p * double(values.size())))];
}

int readFigures(const QString &path)
{
    const long startKiB = ProcessFigures::peakResidentKiB();
    QElapsedTimer timer;
    timer.start();
    QString error;
    const std::unique_ptr<Recording> recording = RecordingOpener::open(path, &error);
    const double openMs = double(timer.nsecsElapsed()) / 1e6;
    if (!recording) {
        std::fprintf(stderr, "%s\n", qPrintable(error));
        return 1;
    }
    const int frames = recording->frameCount();
    std::printf("%s: %d frames, opened in %.1f ms (%.1f ms per 1000 frames)\n", qPrintable(QDir(path).dirName()),
                frames, openMs, openMs * 1000.0 / frames);

    // Seek: a random frame read, then rendered as the live picture is.
    std::mt19937 random(7);
    std::vector<double> readMs, shownMs;
    std::vector<double> currents;
    RenderSettings settings;
    settings.currentRange = kRange;
    for (int i = 0; i < kSeeks; ++i) {
        const int k = int(random() % unsigned(frames));
        timer.restart();
        const FramePtr f = recording->frame(k);
        readMs.push_back(double(timer.nsecsElapsed()) / 1e6);
        if (!f)
            return 1;
        settings.currentRange = f->range;
        const QImage picture = FrameRenderer::render(f->raw, settings, currents, nullptr);
        shownMs.push_back(double(timer.nsecsElapsed()) / 1e6);
        if (picture.isNull())
            return 1;
    }
    std::printf("  seek to a frame: read p50 %.2f ms, p99 %.2f ms; read + render p50 %.2f ms, p99 %.2f ms, max %.2f ms\n",
                percentile(readMs, 0.5), percentile(readMs, 0.99), percentile(shownMs, 0.5), percentile(shownMs, 0.99),
                percentile(shownMs, 1.0));

    timer.restart();
    for (int k = 0; k < frames; ++k)
        if (!recording->frame(k))
            return 1;
    std::printf("  stepping through every frame: %.2f ms per frame\n", double(timer.nsecsElapsed()) / 1e6 / frames);
    timer.restart();
    const std::vector<double> series = recording->pixelSeries(64, 64);
    std::printf("  one pixel's series over the run: %.1f ms (%zu values)\n", double(timer.nsecsElapsed()) / 1e6,
                series.size());
    timer.restart();
    double sum = 0.0;
    for (int k = 0; k < frames; ++k)
        sum += RegionStatistics::measure(recording->frame(k)->currents, QRect()).mean;
    std::printf("  the whole matrix's mean in every frame: %.1f ms (%.2f ms per frame; mean of means %.3f nA)\n",
                double(timer.nsecsElapsed()) / 1e6, double(timer.nsecsElapsed()) / 1e6 / frames, sum / frames);
    std::printf("  peak memory (VmHWM): %.1f MB at start, %.1f MB after opening and stepping through\n",
                startKiB / 1024.0, ProcessFigures::peakResidentKiB() / 1024.0);
    return 0;
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.size() == 3 && args[1] == QLatin1String("--read"))
        return readFigures(args[2]);

    QTemporaryDir temporary;
    const QString directory = args.size() > 1 ? args[1] : temporary.path();
    const QString folder = writeRun(directory);
    std::fflush(stdout); // before the readers' lines
    int failures = 0;
    for (const QString &file : {QStringLiteral("bench.h5"), QStringLiteral("bench_current.csv")}) {
        QProcess reader;
        reader.setProcessChannelMode(QProcess::ForwardedChannels);
        reader.start(app.applicationFilePath(), {QStringLiteral("--read"), folder + QLatin1Char('/') + file});
        failures += !reader.waitForFinished(-1) || reader.exitCode() != 0;
    }
    return failures == 0 ? 0 : 1;
}
