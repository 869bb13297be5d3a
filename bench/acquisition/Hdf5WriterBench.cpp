// Writing a 1000-frame recording as HDF5 (Hdf5RunSink) against the CSV export
// of the same frames, the HDF5 file's size against the raw data, the same with
// compression, the cost of flushing, and peak memory. Prints its figures; run
// by hand from the build directory. Files go to the system's temporary folder
// (page cache speed: neither writer waits for the disk itself).
#include "bench/support/ProcessFigures.h"

#include "acquisition/CsvRunSink.h"
#include "acquisition/CsvWriter.h"
#include "acquisition/FrameRenderer.h"
#include "acquisition/Hdf5RunSink.h"
#include "simulator/SensorModel.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QTemporaryDir>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <fstream>
#include <string>

#include <sys/resource.h>

namespace {

constexpr int kFrames = 1000;
constexpr int kRepeats = 3;
constexpr double kRangeNa = 800.0;

struct Cost
{
    double seconds = 1e30; // wall clock
    double cpuSeconds = 0; // all threads
    qint64 bytes = 0;      // on disk
};

// Times one writing run; `write` returns the bytes it wrote.
template <typename Write>
Cost measure(Write write)
{
    QElapsedTimer timer;
    timer.start();
    const double cpuStart = ProcessFigures::cpuSeconds();
    Cost cost;
    cost.bytes = write();
    cost.seconds = double(timer.nsecsElapsed()) / 1e9;
    cost.cpuSeconds = ProcessFigures::cpuSeconds() - cpuStart;
    return cost;
}

double mib(double bytes)
{
    return bytes / (1024.0 * 1024.0);
}

struct Recording
{
    std::vector<RecordedFrame> frames;
    RunReferences references;
};

// What the console records from the simulator's sensor: a lamp spot on a
// pixel matrix with its offsets, gains and 0.2 % noise, decoded and rendered
// in gray as the acquisition loop does.
Recording record()
{
    SensorModel sensor(128);
    std::vector<float> light(std::size_t(Zk128::PixelCount));
    for (int i = 0; i < Zk128::PixelCount; ++i) {
        const double dx = i % 128 - 64.0, dy = i / 128 - 64.0;
        light[std::size_t(i)] = float(0.15 + 0.85 * std::exp(-(dx * dx + dy * dy) / (2.0 * 35.0 * 35.0)));
    }
    RawFrame raw(Zk128::FrameLength, 0);
    const RenderSettings settings{0, int(kRangeNa), false, nullptr, nullptr};
    const auto start = std::chrono::system_clock::now();
    Recording recording;
    for (int k = 1; k <= kFrames; ++k) {
        sensor.sampleFrame(light, 0.6 * kRangeNa, kRangeNa, 0.002 * kRangeNa, raw.data());
        RecordedFrame frame;
        frame.index = k;
        frame.time = start + std::chrono::microseconds(16667 * k);
        frame.timestamp = QStringLiteral("2026/12/09 10:00:%1.%2").arg(k / 60 % 60, 2, 10, QChar('0')).arg(k % 1000, 3, 10, QChar('0'));
        FrameRenderer::render(raw, settings, frame.currents, &frame.gray);
        recording.frames.push_back(std::move(frame));
    }
    std::vector<float> dark(light.size(), 0.0f);
    sensor.sampleFrame(dark, 0.0, kRangeNa, 0.002 * kRangeNa, raw.data());
    FrameRenderer::render(raw, settings, recording.references.fullOff, nullptr);
    recording.references.fullOn = recording.frames.front().currents;
    recording.references.fullOffTaken = recording.references.fullOnTaken = start;
    return recording;
}

SaveRunPlan plan(const QString &folder, const QString &name, int frames)
{
    SaveRunPlan p;
    p.folder = folder;
    p.name = name;
    p.frames = frames;
    p.hdf5 = true;
    p.metadata.currentRangeNa = kRangeNa;
    p.metadata.backend = QStringLiteral("simulator");
    p.metadata.startTime = std::chrono::system_clock::now();
    return p;
}

// Writes `frames` frames (cycling through the recording); returns the file's size.
qint64 writeHdf5(const Recording &recording, const QString &folder, const QString &name,
                 const Hdf5RunSink::Options &options, int frames = kFrames)
{
    const SaveRunPlan p = plan(folder, name, frames);
    QFile::remove(Hdf5RunSink::filePath(p));
    Hdf5RunSink sink(options);
    QString error;
    bool ok = sink.open(p, &error);
    for (int k = 0; ok && k < frames; ++k)
        ok = sink.write(recording.frames[std::size_t(k % kFrames)], &error);
    ok = ok && sink.finish(recording.references, true, &error);
    if (!ok) {
        std::fprintf(stderr, "HDF5 writing failed: %s\n", qPrintable(error));
        std::exit(1);
    }
    return QFileInfo(Hdf5RunSink::filePath(p)).size();
}

// The floor under any writer of these bytes: the same three pieces per frame
// written to a new file with no format at all.
qint64 writeBare(const Recording &recording, const QString &folder)
{
    QFile file(folder + "/bare.bin");
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate | QIODevice::Unbuffered))
        std::exit(1);
    for (const RecordedFrame &frame : recording.frames) {
        file.write(reinterpret_cast<const char *>(frame.currents.data()), qint64(frame.currents.size() * 8));
        file.write(reinterpret_cast<const char *>(frame.gray.data()), qint64(frame.gray.size()));
        const double seconds = std::chrono::duration<double>(frame.time.time_since_epoch()).count();
        file.write(reinterpret_cast<const char *>(&seconds), 8);
    }
    file.close();
    return QFileInfo(file).size();
}

// The console's CSV export of the same run: currents, gray levels, both
// references; returns the bytes of the four files. Copying the frames into
// the export's form is not counted.
struct CsvInput
{
    std::vector<std::vector<double>> currents;
    std::vector<std::vector<std::uint8_t>> grays;
    QStringList timestamps;
};

qint64 writeCsv(const CsvInput &input, const RunReferences &references, const QString &folder)
{
    const QString files[] = {folder + "/data.csv", folder + "/gray.csv", folder + "/off.csv", folder + "/on.csv"};
    const bool ok = writeFramesCsv(files[0], input.currents, input.timestamps)
                    && writeFramesCsv(files[1], input.grays, input.timestamps)
                    && writeMatrixCsv(files[2], references.fullOff) && writeMatrixCsv(files[3], references.fullOn);
    if (!ok) {
        std::fprintf(stderr, "CSV writing failed\n");
        std::exit(1);
    }
    qint64 bytes = 0;
    for (const QString &file : files)
        bytes += QFileInfo(file).size();
    return bytes;
}

// The Data kind of a save run as the console writes it today: the frames
// streamed one by one through CsvRunSink, the references at the end.
qint64 writeCsvRun(const Recording &recording, const QString &folder)
{
    SaveRunPlan p = plan(folder + "/csvrun", QStringLiteral("run"), kFrames);
    p.hdf5 = false;
    p.data = true;
    QDir(p.folder).removeRecursively();
    QDir().mkpath(p.folder);
    CsvRunSink sink;
    QString error;
    bool ok = sink.open(p, &error);
    for (const RecordedFrame &frame : recording.frames)
        ok = ok && sink.write(frame, &error);
    ok = ok && sink.finish(recording.references, true, &error);
    if (!ok) {
        std::fprintf(stderr, "CSV run writing failed: %s\n", qPrintable(error));
        std::exit(1);
    }
    qint64 bytes = 0;
    for (const QFileInfo &file : QDir(p.folder).entryInfoList(QDir::Files))
        bytes += file.size();
    return bytes;
}

template <typename Write>
Cost best(Write write)
{
    Cost result;
    for (int i = 0; i < kRepeats; ++i) {
        const Cost run = measure(write);
        if (run.seconds < result.seconds)
            result = run;
    }
    return result;
}

void print(const char *what, const Cost &cost, double rawBytes)
{
    std::printf("%-24s: %6.1f ms (cpu %6.1f ms), %6.1f us/frame, %6.1f MiB = %.4f x raw\n", what, cost.seconds * 1e3,
                cost.cpuSeconds * 1e3, cost.seconds / kFrames * 1e6, mib(double(cost.bytes)), double(cost.bytes) / rawBytes);
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    QTemporaryDir dir;
    const Recording recording = record();
    const double rawBytes = double(kFrames) * (16384.0 * 8 + 16384 + 8) + 2 * 16384.0 * 8;
    std::printf("%d frames of simulated lamp light at %g nA, best of %d runs each\n", kFrames, kRangeNa, kRepeats);

    const long before = ProcessFigures::peakResidentKiB();
    const Cost hdf5 = best([&] { return writeHdf5(recording, dir.path(), "plain", {}); });
    const long afterHdf5 = ProcessFigures::peakResidentKiB();
    const Cost longRun = measure([&] { return writeHdf5(recording, dir.path(), "long", {}, 4 * kFrames); });
    const long afterLong = ProcessFigures::peakResidentKiB();
    QFile::remove(dir.filePath("long.h5"));
    const Cost bare = best([&] { return writeBare(recording, dir.path()); });
    CsvInput csvInput;
    for (const RecordedFrame &frame : recording.frames) {
        csvInput.currents.push_back(frame.currents);
        csvInput.grays.push_back(frame.gray);
        csvInput.timestamps << frame.timestamp;
    }
    const Cost csv = best([&] { return writeCsv(csvInput, recording.references, dir.path()); });
    const Cost csvRun = best([&] { return writeCsvRun(recording, dir.path()); });

    print("HDF5 (Hdf5RunSink)", hdf5, rawBytes);
    print("bare bytes, no format", bare, rawBytes);
    print("CSV export (4 files)", csv, rawBytes);
    print("CSV of a save run", csvRun, rawBytes);
    std::printf("raw data: %.1f MiB; HDF5 file / raw %.4f (target <= 1.02)\n", mib(rawBytes), double(hdf5.bytes) / rawBytes);
    std::printf("HDF5 / CSV export (both cores): wall clock %.3f, cpu %.3f (target <= 0.10); bare bytes / CSV: wall "
                "clock %.3f\n",
                hdf5.seconds / csv.seconds, hdf5.cpuSeconds / csv.cpuSeconds, bare.seconds / csv.seconds);
    std::printf("HDF5 / CSV of a save run (the Data kind, streamed): wall clock %.3f, cpu %.3f (target <= 0.10)\n",
                hdf5.seconds / csvRun.seconds, hdf5.cpuSeconds / csvRun.cpuSeconds);

    for (int level : {1, 4}) {
        Hdf5RunSink::Options options;
        options.deflateLevel = level;
        const Cost packed = best([&] { return writeHdf5(recording, dir.path(), "deflate", options); });
        const std::string what = "HDF5 shuffle+deflate " + std::to_string(level);
        print(what.c_str(), packed, rawBytes);
        std::printf("%-24s  keeps up with %.0f frames/s on one core\n", "", kFrames / packed.seconds);
    }

    Hdf5RunSink::Options everyFrame;
    everyFrame.flushInterval = std::chrono::milliseconds(0);
    print("HDF5 flushed every frame", best([&] { return writeHdf5(recording, dir.path(), "flushed", everyFrame); }),
          rawBytes);

    std::printf("peak memory (VmHWM): %.1f MiB holding the recording; +%.1f MiB while writing HDF5 %d frames, "
                "+%.1f MiB more for %d frames (%.0f ms)\n",
                before / 1024.0, (afterHdf5 - before) / 1024.0, kFrames, (afterLong - afterHdf5) / 1024.0, 4 * kFrames,
                longRun.seconds * 1e3);
    return 0;
}
