// Save runs through the real worker at integration count 0 (frames as fast
// as the simulated link carries them): the capture frame rate while a
// 1000-frame run is recorded, per kind, against the rate without recording
// measured in the same run, and the process's peak resident memory (VmHWM)
// around a 1000-frame run with every kind. Targets: recording keeps at least
// 90 % of the frame rate; peak memory stays flat (at most 120 MB for the
// all-kinds run).

#include "bench/worker/BenchCapture.h"

#include "acquisition/SaveOutcome.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QDirIterator>
#include <QElapsedTimer>
#include <QTemporaryDir>

#include <atomic>
#include <cstdio>

namespace {

struct Kinds {
    const char *name;
    bool data, pictures, video, hdf5;
};

struct Run {
    double framesPerSecond = 0.0; // while the frames were gathered
    double writtenSeconds = 0.0;  // from the last frame gathered to the files closed
    qint64 bytes = 0;
    bool success = false;
};

qint64 folderBytes(const QString &folder)
{
    qint64 bytes = 0;
    QDirIterator it(folder, QDir::Files, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        it.next();
        bytes += it.fileInfo().size();
    }
    return bytes;
}

Run record(BenchCapture &capture, const QString &root, const Kinds &kinds, int frames)
{
    ReceiverThread &worker = capture.worker();
    std::atomic<qint64> gatheredAt{0};
    std::atomic<bool> finished{false};
    std::atomic<bool> success{false};
    QElapsedTimer clock;
    const auto progress = QObject::connect(&worker, &ReceiverThread::saveProgressed, &worker, [&](int index) {
        if (index == frames && gatheredAt.load() == 0)
            gatheredAt.store(clock.nsecsElapsed());
    }, Qt::DirectConnection);
    const auto outcome = QObject::connect(&worker, &ReceiverThread::saveFinished, &worker,
                                          [&](const SaveOutcome &o) {
                                              success.store(o.success());
                                              finished.store(true);
                                          }, Qt::DirectConnection);
    SaveRunPlan plan;
    plan.name = QString::fromLatin1(kinds.name).replace(' ', '_');
    plan.folder = root + "/" + plan.name;
    QDir().mkpath(plan.folder);
    plan.frames = frames;
    plan.data = kinds.data;
    plan.pictures = kinds.pictures;
    plan.video = kinds.video;
    plan.hdf5 = kinds.hdf5;
    clock.start();
    worker.armSaveRun(plan);
    const QDeadlineTimer deadline(600000);
    while (!finished.load() && !deadline.hasExpired())
        QThread::msleep(2);
    QObject::disconnect(progress);
    QObject::disconnect(outcome);

    Run run;
    run.framesPerSecond = gatheredAt.load() > 0 ? frames / (gatheredAt.load() / 1e9) : 0.0;
    run.writtenSeconds = (clock.nsecsElapsed() - gatheredAt.load()) / 1e9;
    run.bytes = folderBytes(plan.folder);
    run.success = success.load();
    return run;
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const int frames = argc > 1 ? QString::fromLocal8Bit(argv[1]).toInt() : 1000;
    QTemporaryDir dir(QDir::current().absoluteFilePath(QStringLiteral("bench-recording-XXXXXX")));
    if (!dir.isValid())
        return 1;
    BenchCapture capture(100, 0);
    if (!capture.ready())
        return 1;
    capture.play();
    QThread::msleep(500);
    const double baseline = BenchCapture::peakResidentMiB();
    const double free = capture.frameRate(3.0);

    std::printf("save runs of %d frames through the worker at integration count 0 (files in %s)\n", frames,
                qPrintable(dir.path()));
    std::printf("  without recording          : %7.1f frames/s\n", free);
    const Kinds all{"all kinds", true, true, true, true};
    const Kinds cases[] = {all,
                           {"data", true, false, false, false},
                           {"pictures", false, true, false, false},
                           {"video", false, false, true, false},
                           {"HDF5", false, false, false, true}};
    double peakAfterAll = 0.0;
    for (const Kinds &kinds : cases) {
        const Run run = record(capture, dir.path(), kinds, frames);
        if (&kinds == &cases[0])
            peakAfterAll = BenchCapture::peakResidentMiB();
        std::printf("  recording %-17s: %7.1f frames/s (%5.1f %% of the free rate), files closed %.2f s after the "
                    "last frame, %.1f MiB on disk (%.0f bytes/frame)%s\n",
                    kinds.name, run.framesPerSecond, 100.0 * run.framesPerSecond / free, run.writtenSeconds,
                    run.bytes / 1048576.0, double(run.bytes) / frames, run.success ? "" : "  NOT SAVED");
    }
    capture.stop();
    std::printf("  peak resident memory (VmHWM): %.1f MiB before recording, %.1f MiB after the all-kinds run "
                "(target <= 120 MB = %.1f MiB)\n",
                baseline, peakAfterAll, 120e6 / 1048576.0);
    return 0;
}
