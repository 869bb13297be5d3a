// A 1000-frame recording through the real worker, CSV files included: peak
// resident memory (VmHWM) of the process, time to gather the frames and time
// to write the four CSV files at completion. Target: peak under 300 MB.

#include "BenchCapture.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QTemporaryDir>

#include <atomic>
#include <cstdio>

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const int frames = argc > 1 ? QString::fromLocal8Bit(argv[1]).toInt() : 1000;
    QTemporaryDir dir;
    if (!dir.isValid())
        return 1;

    BenchCapture capture(100, 0);
    if (!capture.ready())
        return 1;
    ReceiverThread &worker = capture.worker();
    const double baseline = BenchCapture::peakResidentMiB();

    // Direct connections: the clock is read in the worker thread as it emits.
    QElapsedTimer clock;
    std::atomic<qint64> gatheredAt{0}, writtenAt{0};
    std::atomic<int> completions{0};
    QObject::connect(&worker, &ReceiverThread::savemessage, &worker, [&](int index) {
        if (index != frames)
            return;
        if (completions.fetch_add(1) == 0)
            gatheredAt.store(clock.nsecsElapsed());
        else
            writtenAt.store(clock.nsecsElapsed());
    }, Qt::DirectConnection);

    capture.play();
    worker.clearRecordedFrames();
    worker.setFramesToSave(frames);
    worker.setSavePath(dir.path());
    worker.setSaveName(QStringLiteral("bench"));
    worker.saveCsvOnCompletion.store(true, std::memory_order_release);
    clock.start();
    worker.setRecording(true);

    const QDeadlineTimer deadline(600000);
    while (completions.load() < 2 && !deadline.hasExpired())
        QThread::msleep(5);
    capture.stop();
    if (completions.load() < 2) {
        std::printf("the recording did not complete\n");
        return 1;
    }

    qint64 bytes = 0;
    for (const QFileInfo &file : QDir(dir.path() + "/bench").entryInfoList(QDir::Files))
        bytes += file.size();
    std::printf("worker recording of %d frames with CSV export\n", frames);
    std::printf("  peak resident memory (VmHWM): %.1f MiB (%.1f MiB before the recording; target < 300 MB = %.1f MiB)\n",
                BenchCapture::peakResidentMiB(), baseline, 300e6 / 1048576.0);
    std::printf("  gathering the frames:         %.2f s\n", gatheredAt.load() / 1e9);
    std::printf("  writing the four CSV files:   %.2f s (%.1f MiB on disk)\n",
                (writtenAt.load() - gatheredAt.load()) / 1e9, bytes / 1048576.0);
    return 0;
}
