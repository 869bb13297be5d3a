// What the save-run writer sustains: frames per second for each kind of
// output, the peak memory of a 1000-frame run of every kind fed as fast as the
// writer takes it, and the bytes each kind puts on disk per frame (for a
// free-space estimate before a run). Run by hand from the build directory;
// an argument names the folder to write in (default: a temporary folder).
#include "bench/support/ProcessFigures.h"

#include "acquisition/CsvRunSink.h"
#include "acquisition/PictureRunSink.h"
#include "acquisition/SaveRunWriter.h"
#include "acquisition/VideoRunSink.h"

#include <QCoreApplication>
#include <QDirIterator>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QRegularExpression>
#include <QTemporaryDir>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <fstream>
#include <random>
#include <string>

namespace {

constexpr int kSide = 128;
constexpr int kPixels = kSide * kSide;
constexpr int kPoolSize = 40;    // distinct frames, cycled
constexpr int kRateFrames = 300; // frames of each throughput run

// A spot of light drifting over a dark background with the detector's noise:
// currents 0..800 nA with all their digits, and the picture as the console
// renders it (gray levels, or a blue-to-red colour scale).
RecordedFrame syntheticFrame(int seed, bool colour)
{
    std::mt19937 random(unsigned(seed) + 1u);
    std::normal_distribution<double> noise(0.0, 6.0);
    RecordedFrame frame;
    frame.currents.resize(kPixels);
    frame.gray.resize(kPixels);
    frame.picture = QImage(kSide, kSide, colour ? QImage::Format_RGB888 : QImage::Format_Grayscale8);
    const double cx = 64.0 + 30.0 * std::cos(seed * 0.3), cy = 64.0 + 30.0 * std::sin(seed * 0.2);
    for (int y = 0; y < kSide; ++y) {
        uchar *line = frame.picture.scanLine(y);
        for (int x = 0; x < kSide; ++x) {
            const double r2 = (x - cx) * (x - cx) + (y - cy) * (y - cy);
            const double current = std::clamp(40.0 + 700.0 * std::exp(-r2 / 600.0) + noise(random), 0.0, 800.0);
            const auto level = std::uint8_t(current * 255.0 / 800.0);
            frame.currents[std::size_t(x + kSide * y)] = current;
            frame.gray[std::size_t(x + kSide * y)] = level;
            if (colour) {
                line[3 * x] = level;
                line[3 * x + 1] = uchar(255 - std::abs(2 * level - 255));
                line[3 * x + 2] = uchar(255 - level);
            } else {
                line[x] = level;
            }
        }
    }
    return frame;
}

struct Kinds
{
    const char *label;
    bool data, pictures, video, colour;
};

struct RunResult
{
    double framesPerSecond = 0.0;
    SaveOutcome outcome;
};

RunResult runOnce(const QString &folder, const Kinds &kinds, int frames, const std::vector<RecordedFrame> &pool)
{
    QDir().mkpath(folder);
    SaveRunPlan plan;
    plan.folder = folder;
    plan.name = QFileInfo(folder).fileName();
    plan.frames = frames;
    plan.data = kinds.data;
    plan.pictures = kinds.pictures;
    plan.video = kinds.video;
    std::vector<std::unique_ptr<RunSink>> sinks;
    if (kinds.data)
        sinks.push_back(std::make_unique<CsvRunSink>());
    if (kinds.pictures)
        sinks.push_back(std::make_unique<PictureRunSink>());
    if (kinds.video)
        sinks.push_back(std::make_unique<VideoRunSink>());

    RunResult result;
    SaveRunWriter writer;
    QElapsedTimer timer;
    timer.start();
    const auto id = writer.begin(plan, std::move(sinks), [&](const SaveOutcome &outcome) { result.outcome = outcome; });
    for (int k = 1; k <= frames; ++k) {
        // A new frame each time, as the acquisition loop hands them over.
        auto frame = std::make_shared<RecordedFrame>(pool[std::size_t(k % kPoolSize)]);
        frame->index = k;
        frame->timestamp = QStringLiteral("2024/05/06 07:08:09.%1").arg(k % 1000, 3, 10, QLatin1Char('0'));
        writer.append(id, std::move(frame));
    }
    RunReferences references;
    references.fullOff = pool[0].currents;
    references.fullOn = pool[1].currents;
    writer.end(references, QString());
    writer.waitUntilIdle();
    result.framesPerSecond = frames / (double(timer.nsecsElapsed()) / 1e9);
    return result;
}

qint64 bytesOf(const QString &folder, const QString &nameFilter)
{
    qint64 total = 0;
    QDirIterator it(folder, {nameFilter}, QDir::Files, QDirIterator::Subdirectories);
    while (it.hasNext())
        total += QFileInfo(it.next()).size();
    return total;
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    QTemporaryDir temporary;
    const QString root = argc > 1 ? QString::fromLocal8Bit(argv[1]) : temporary.path();

    std::vector<RecordedFrame> grayPool, colourPool;
    for (int i = 0; i < kPoolSize; ++i) {
        grayPool.push_back(syntheticFrame(i, false));
        colourPool.push_back(syntheticFrame(i, true));
    }
    // Warm the encoders up, so the peak below is the run's and not their first load.
    runOnce(root + "/warmup", {"all", true, true, true, true}, 4, colourPool);

    const long before = ProcessFigures::peakResidentKiB();
    const RunResult big = runOnce(root + "/peak", {"all", true, true, true, true}, 1000, colourPool);
    const long after = ProcessFigures::peakResidentKiB();
    std::printf("1000-frame run, data + pictures + video, colour: %.1f frames/s, %s\n", big.framesPerSecond,
                big.outcome.success() ? "saved" : qPrintable(big.outcome.message()));
    std::printf("peak memory (VmHWM): %.1f MiB before the run, %.1f MiB after (the run added %.1f MiB)\n",
                before / 1024.0, after / 1024.0, (after - before) / 1024.0);

    const Kinds runs[] = {
        {"data only", true, false, false, false},
        {"pictures only, gray", false, true, false, false},
        {"pictures only, colour", false, true, false, true},
        {"video only, gray", false, false, true, false},
        {"video only, colour", false, false, true, true},
        {"all three, gray", true, true, true, false},
        {"all three, colour", true, true, true, true},
    };
    std::printf("\nframes/s the writer sustains (%d frames each):\n", kRateFrames);
    for (const Kinds &kinds : runs) {
        const QString folder = root + "/" + QString::fromLatin1(kinds.label).replace(QRegularExpression("[^a-z]+"), "_");
        const RunResult result = runOnce(folder, kinds, kRateFrames, kinds.colour ? colourPool : grayPool);
        std::printf("  %-22s %7.1f frames/s%s\n", kinds.label, result.framesPerSecond,
                    result.outcome.success() ? "" : qPrintable(" (" + result.outcome.message() + ")"));
    }

    std::printf("\nbytes per frame on disk (from the 300-frame runs):\n");
    const QString dataRun = root + "/data_only";
    std::printf("  data (current + gray):   %8.0f (+ %lld once for the two reference files)\n",
                double(bytesOf(dataRun, "*_current.csv") + bytesOf(dataRun, "*_gray.csv")) / kRateFrames,
                bytesOf(dataRun, "*_full*.csv"));
    for (const char *kind : {"pictures", "video"})
        for (const char *shade : {"gray", "colour"})
            std::printf("  %-8s %-6s            %8.0f\n", kind, shade,
                        double(bytesOf(root + "/" + kind + "_only_" + shade, kind[0] == 'p' ? "*.png" : "*.mp4"))
                            / kRateFrames);
    return 0;
}
