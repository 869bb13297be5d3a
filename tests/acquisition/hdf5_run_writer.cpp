// Test support for h5py_swmr_check.py: writes a run through Hdf5RunSink at a
// steady pace, or dies in the middle of it like a crashed console.
//
//   hdf5_run_writer FOLDER NAME FRAMES INTERVAL_MS [DIE_AFTER]
//
// Frame k (1-based) holds currents k + i / 16384 and gray levels (k + i) % 256
// for pixel i; the full-off reference is -i / 16384, taken when the run began;
// the full-on reference was never measured. Exits 0 when the run was written
// and finished, 1 with the reason on stderr otherwise, 3 when it died on purpose.
#include "acquisition/Hdf5RunSink.h"

#include <QCoreApplication>
#include <QStringList>

#include <cstdio>
#include <cstdlib>
#include <thread>

namespace {

constexpr int kPixels = 128 * 128;

RecordedFrame frame(int k)
{
    RecordedFrame f;
    f.index = k;
    f.time = std::chrono::system_clock::now();
    f.currents.resize(kPixels);
    f.gray.resize(kPixels);
    for (int i = 0; i < kPixels; ++i) {
        f.currents[std::size_t(i)] = k + i / 16384.0;
        f.gray[std::size_t(i)] = std::uint8_t((k + i) % 256);
    }
    return f;
}

int fail(const QString &what, const QString &reason)
{
    std::fprintf(stderr, "%s: %s\n", qPrintable(what), qPrintable(reason));
    return 1;
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.size() < 5)
        return fail(QStringLiteral("usage"), QStringLiteral("hdf5_run_writer FOLDER NAME FRAMES INTERVAL_MS [DIE_AFTER]"));
    SaveRunPlan plan;
    plan.folder = args[1];
    plan.name = args[2];
    plan.frames = args[3].toInt();
    plan.hdf5 = true;
    const std::chrono::milliseconds interval(args[4].toInt());
    const int dieAfter = args.size() > 5 ? args[5].toInt() : -1;
    RunMetadata &m = plan.metadata;
    m.vbias1Volts = 1.5, m.vbias2Volts = -2.25, m.vonVolts = 10, m.voffVolts = -5;
    m.currentRangeNa = 800, m.integrationCount = 3;
    m.deviceSerial = QStringLiteral("ZK128"), m.backend = QStringLiteral("simulator");
    m.consoleVersion = QStringLiteral("0.1.0");
    m.startTime = std::chrono::system_clock::now();

    Hdf5RunSink sink;
    QString error;
    if (!sink.open(plan, &error))
        return fail(QStringLiteral("open"), error);
    for (int k = 1; k <= plan.frames; ++k) {
        if (!sink.write(frame(k), &error))
            return fail(QStringLiteral("write"), error);
        if (k == dieAfter)
            std::_Exit(3); // no finish, no destructor: what a crash leaves
        std::this_thread::sleep_for(interval);
    }
    RunReferences references;
    references.fullOff.resize(kPixels);
    for (int i = 0; i < kPixels; ++i)
        references.fullOff[std::size_t(i)] = -i / 16384.0;
    references.fullOffTaken = m.startTime;
    references.fullOn.assign(kPixels, 100.0); // the worker's default: never measured
    if (!sink.finish(references, true, &error))
        return fail(QStringLiteral("finish"), error);
    return 0;
}
