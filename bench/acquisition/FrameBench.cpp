// Host cost of one frame and of writing a 1000-frame recording's CSV files.
// Prints its figures; run by hand from the build directory.
#include "acquisition/CsvWriter.h"
#include "acquisition/FrameAssembler.h"
#include "acquisition/FrameRenderer.h"
#include "bench/support/ProcessFigures.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <QTextStream>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <random>
#include <string>

#include <sys/resource.h>
#include <time.h>

namespace {

// CPU time of this thread, microseconds: the frame cost without the time the
// scheduler gives to other processes on a shared machine.
double threadCpuMicroseconds()
{
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return double(t.tv_sec) * 1e6 + double(t.tv_nsec) / 1e3;
}

std::vector<unsigned char> deviceFrame(std::mt19937 &random)
{
    std::vector<unsigned char> frame(Zk128::FrameLength, 0);
    frame[0] = 0xAE, frame[1] = 0xCC, frame[2] = 0x05;
    for (int i = 0; i < Zk128::PixelCount; ++i) {
        const std::uint32_t raw = random() % 1200000; // around the full range, some above
        frame[std::size_t(3 + 3 * i)] = std::uint8_t(raw >> 16);
        frame[std::size_t(4 + 3 * i)] = std::uint8_t(raw >> 8);
        frame[std::size_t(5 + 3 * i)] = std::uint8_t(raw);
    }
    return frame;
}

void frameCost()
{
    std::mt19937 random(1);
    const std::vector<unsigned char> stream = deviceFrame(random);
    FrameAssembler assembler;
    RawFrame raw(Zk128::FrameLength, 0);
    std::vector<double> currents, off(Zk128::PixelCount, 1.0), on(Zk128::PixelCount, 90.0);
    std::vector<std::uint8_t> gray;
    std::vector<unsigned char> shared(131072);
    const char *names[] = {"gray", "rgb", "heat"};
    for (int calibrated = 0; calibrated < 2; ++calibrated) {
        for (int mode = 0; mode < 3; ++mode) {
            RenderSettings settings{mode, 100, calibrated == 1, &off, &on};
            std::vector<double> times, cpu;
            for (int i = 0; i < 3000; ++i) {
                QElapsedTimer timer;
                timer.start();
                const double cpuStart = threadCpuMicroseconds();
                assembler.append(stream.data(), stream.size());
                if (assembler.takeFrame(raw) != FrameAssembler::Outcome::FrameTaken)
                    std::abort();
                const QImage image = FrameRenderer::render(raw, settings, currents, &gray);
                std::memcpy(shared.data(), currents.data(), shared.size());
                times.push_back(double(timer.nsecsElapsed()) / 1000.0);
                cpu.push_back(threadCpuMicroseconds() - cpuStart);
                if (image.isNull())
                    std::abort();
            }
            std::sort(times.begin(), times.end());
            std::sort(cpu.begin(), cpu.end());
            double mean = 0;
            for (double t : times)
                mean += t / double(times.size());
            std::printf("frame cost %-4s %-10s: median %6.1f us (thread cpu %6.1f us), mean %6.1f us, p99 %7.1f us "
                        "(target < 200 us)\n",
                        names[mode], calibrated ? "calibrated" : "nominal", times[times.size() / 2],
                        cpu[cpu.size() / 2], mean, times[times.size() * 99 / 100]);
        }
    }
}

// The straightforward writer: QTextStream's default number form, same layout.
template <typename T>
void plainFrames(const QString &path, const std::vector<std::vector<T>> &frames, const QStringList &timestamps)
{
    QFile file(path);
    file.open(QIODevice::WriteOnly | QIODevice::Truncate);
    QTextStream out(&file);
    int t = 0;
    for (const auto &frame : frames) {
        out << "Time: " << (t < timestamps.size() ? timestamps[t] : QStringLiteral("Unknown")) << "\n";
        ++t;
        for (int row = 0; row < 128; ++row) {
            for (int column = 0; column < 128; ++column) {
                if (column)
                    out << ",";
                out << double(frame[std::size_t(row * 128 + column)]);
            }
            out << "\n";
        }
        out << "\n";
    }
}

void plainMatrix(const QString &path, const std::vector<double> &values)
{
    plainFrames(path, std::vector<std::vector<double>>{values}, {});
    // the matrix file has no "Time: " line: drop it again
    QFile file(path);
    file.open(QIODevice::ReadOnly);
    QByteArray bytes = file.readAll();
    file.close();
    bytes.remove(0, bytes.indexOf('\n') + 1);
    file.open(QIODevice::WriteOnly | QIODevice::Truncate);
    file.write(bytes);
}

// The same layout with printf's "%g" itself: the byte-exact reference.
template <typename T>
void printfFrames(const QString &path, const std::vector<std::vector<T>> &frames, const QStringList &timestamps,
                  bool withTime)
{
    std::FILE *file = std::fopen(QFile::encodeName(path).constData(), "w");
    int t = 0;
    for (const auto &frame : frames) {
        if (withTime)
            std::fprintf(file, "Time: %s\n", qPrintable(t < timestamps.size() ? timestamps[t] : QStringLiteral("Unknown")));
        ++t;
        for (int row = 0; row < 128; ++row)
            for (int column = 0; column < 128; ++column)
                std::fprintf(file, column < 127 ? "%g," : "%g\n", double(frame[std::size_t(row * 128 + column)]));
        std::fputc('\n', file);
    }
    std::fclose(file);
}

// Values (cells) that differ between two files of the same layout, or -1 when the layouts differ.
long differingCells(const QString &a, const QString &b)
{
    QFile fa(a), fb(b);
    if (!fa.open(QIODevice::ReadOnly) || !fb.open(QIODevice::ReadOnly))
        return -1;
    long differing = 0;
    while (!fa.atEnd() || !fb.atEnd()) {
        const QByteArray la = fa.readLine(), lb = fb.readLine();
        if (la == lb)
            continue;
        const QList<QByteArray> ca = la.split(','), cb = lb.split(',');
        if (ca.size() != cb.size())
            return -1;
        for (int i = 0; i < ca.size(); ++i)
            differing += ca[i] != cb[i];
    }
    return differing;
}

void csvCost()
{
    const long before = ProcessFigures::peakResidentKiB();
    std::mt19937 random(2);
    const int frameCount = 1000;
    std::vector<std::vector<double>> currents(frameCount, std::vector<double>(Zk128::PixelCount));
    std::vector<std::vector<std::uint8_t>> grays(frameCount, std::vector<std::uint8_t>(Zk128::PixelCount));
    const int ranges[] = {1, 10, 100, 800};
    for (int f = 0; f < frameCount; ++f)
        for (int i = 0; i < Zk128::PixelCount; ++i) {
            const std::uint32_t raw = random() % 1100000;
            currents[std::size_t(f)][std::size_t(i)] = double(raw) * ranges[f % 4] * 0.000001;
            grays[std::size_t(f)][std::size_t(i)] = std::uint8_t(std::min(255.0, raw / 1e6 * 255.0));
        }
    std::vector<double> off(currents[0]), on(currents[1]);
    QStringList timestamps;
    for (int f = 0; f < frameCount; ++f)
        timestamps << QStringLiteral("2024/06/11 10:00:%1.%2").arg(f / 100, 2, 10, QChar('0')).arg(f % 1000, 3, 10, QChar('0'));
    const long held = ProcessFigures::peakResidentKiB();

    QTemporaryDir dir;
    auto path = [&](const char *name) { return dir.filePath(QString::fromLatin1(name)); };
    QElapsedTimer timer;
    timer.start();
    const double cpuStart = ProcessFigures::cpuSeconds();
    bool ok = writeFramesCsv(path("r_current.csv"), currents, timestamps);
    ok &= writeFramesCsv(path("r_gray.csv"), grays, timestamps);
    ok &= writeMatrixCsv(path("r_fulloff.csv"), off);
    ok &= writeMatrixCsv(path("r_fullon.csv"), on);
    const double fast = double(timer.nsecsElapsed()) / 1e9;
    const double fastCpu = ProcessFigures::cpuSeconds() - cpuStart;
    const long afterWrite = ProcessFigures::peakResidentKiB();

    timer.restart();
    plainFrames(path("p_current.csv"), currents, timestamps);
    plainFrames(path("p_gray.csv"), grays, timestamps);
    plainMatrix(path("p_fulloff.csv"), off);
    plainMatrix(path("p_fullon.csv"), on);
    const double plain = double(timer.nsecsElapsed()) / 1e9;

    printfFrames(path("f_current.csv"), currents, timestamps, true);
    printfFrames(path("f_gray.csv"), grays, timestamps, true);
    printfFrames(path("f_fulloff.csv"), std::vector<std::vector<double>>{off}, {}, false);
    printfFrames(path("f_fullon.csv"), std::vector<std::vector<double>>{on}, {}, false);

    long printfDiffering = 0, streamDiffering = 0;
    for (const char *kind : {"current", "gray", "fulloff", "fullon"}) {
        const QString ours = path(qPrintable(QString("r_%1.csv").arg(kind)));
        const long p = differingCells(ours, path(qPrintable(QString("f_%1.csv").arg(kind))));
        const long q = differingCells(ours, path(qPrintable(QString("p_%1.csv").arg(kind))));
        printfDiffering = p < 0 || printfDiffering < 0 ? -1 : printfDiffering + p;
        streamDiffering = q < 0 || streamDiffering < 0 ? -1 : streamDiffering + q;
    }
    std::printf("csv 1000 frames: %.3f s (target <= 1 s; cpu %.3f s over all cores), plain QTextStream writer %.3f s, "
                "ratio %.1fx; current file %lld bytes, gray file %lld bytes, written ok: %s\n",
                fast, fastCpu, plain, plain / fast, QFile(path("r_current.csv")).size(), QFile(path("r_gray.csv")).size(),
                ok ? "yes" : "NO");
    std::printf("csv bytes: %s to printf %%g (%ld differing values); the QTextStream writer differs in %ld of "
                "32,800,768 values (exact binary halves: QTextStream rounds them away from zero, printf to even)\n",
                printfDiffering == 0 ? "identical" : "NOT identical", printfDiffering, streamDiffering);
    std::printf("peak memory (VmHWM): %ld MiB before the recording, %ld MiB holding it, %ld MiB after writing it "
                "(writing added %ld MiB)\n",
                before / 1024, held / 1024, afterWrite / 1024, (afterWrite - held) / 1024);
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    frameCost();
    csvCost();
    return 0;
}
