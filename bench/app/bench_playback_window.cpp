// Playback through the window: a 1000-frame run recorded by tessivo128-capture
// on the simulator (integration count 0), opened in the console offscreen as
// HDF5 and as CSV. Prints the time to open each (the CSV index included), the
// time from a slider move to the frame drawn on the live view (p50, p99, max
// over random moves) and the peak resident memory after each.
#include "bench/support/ProcessFigures.h"

#include "app/MainWindow.h"
#include "app/PlaybackBar.h"
#include "app/RecordingPlayback.h"
#include "context/ConsoleContext.h"
#include "display/DisplayPipeline.h"
#include "simulator/SimulatorBackend.h"
#include "simulator/ZK128Device.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QProcess>
#include <QSignalSpy>
#include <QSlider>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>
#include <random>
#include <vector>

namespace {

constexpr int kFrames = 1000;
constexpr int kMoves = 300;

bool recordRun(const QTemporaryDir &dir)
{
    QProcess tool;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("TESSIVO_DEVICE"), QStringLiteral("simulator"));
    environment.insert(QStringLiteral("TESSIVO_SIM_INTEGRATION_COUNT"), QStringLiteral("0"));
    environment.insert(QStringLiteral("XDG_CONFIG_HOME"), dir.path());
    tool.setProcessEnvironment(environment);
    tool.setWorkingDirectory(dir.path());
    tool.start(QStringLiteral(TESSIVO_CAPTURE_TOOL), {"--frames", QString::number(kFrames), "--data", "--hdf5",
                                                     "--quiet", "--out", dir.path(), "--name", "bench"});
    return tool.waitForFinished(600000) && tool.exitCode() == 0;
}

double percentile(std::vector<double> values, double share)
{
    std::sort(values.begin(), values.end());
    return values[std::min(values.size() - 1, std::size_t(share * double(values.size())))];
}

void measure(MainWindow &window, const QString &path)
{
    RecordingPlayback &playback = window.playback();
    QSignalSpy opened(&playback, &RecordingPlayback::recordingOpened);
    QElapsedTimer clock;
    clock.start();
    playback.open(path);
    while (opened.isEmpty() && clock.elapsed() < 600000)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    const double openMs = double(clock.nsecsElapsed()) / 1e6;
    if (opened.isEmpty() || playback.frameCount() != kFrames) {
        std::printf("%s: not opened with %d frames\n", qPrintable(path), kFrames);
        return;
    }
    QSlider *slider = window.playbackBar().slider();
    std::mt19937 random(7);
    std::uniform_int_distribution<int> anyFrame(0, kFrames - 1);
    std::vector<double> moves;
    for (int i = 0; i < kMoves; ++i) {
        const int drawn = window.displayPipeline().framesDrawn();
        int k = anyFrame(random);
        if (k == slider->value())
            k = (k + 1) % kFrames; // a move, so a frame is drawn
        clock.restart();
        slider->setValue(k);
        while (window.displayPipeline().framesDrawn() == drawn && clock.elapsed() < 5000)
            QCoreApplication::processEvents(QEventLoop::AllEvents, 1);
        moves.push_back(double(clock.nsecsElapsed()) / 1e6);
    }
    std::printf("%-22s open %8.1f ms   slider to drawn frame: p50 %6.2f ms  p99 %6.2f ms  max %6.2f ms   peak RSS %ld MiB\n",
                qPrintable(QFileInfo(path).fileName()), openMs, percentile(moves, 0.5), percentile(moves, 0.99),
                *std::max_element(moves.begin(), moves.end()), ProcessFigures::peakResidentKiB() / 1024);
    playback.close();
}

} // namespace

int main(int argc, char **argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QTemporaryDir dir;
    qputenv("XDG_CONFIG_HOME", dir.path().toUtf8());
    QApplication app(argc, argv);
    std::printf("Recording %d frames with tessivo128-capture ...\n", kFrames);
    if (!recordRun(dir)) {
        std::printf("The run could not be recorded.\n");
        return 1;
    }
    auto device = std::make_shared<ZK128Device>();
    ConsoleContext context{std::make_shared<SimulatorBackend>(device),
                           ConsolePaths{dir.path() + "/detect", dir.path() + "/scratch", dir.path() + "/result",
                                        dir.path() + "/log.txt"},
                           SettingsIdentity(), device};
    MainWindow window(context);
    window.resize(1280, 800);
    window.show();
    std::printf("Peak RSS with the window open: %ld MiB\n", ProcessFigures::peakResidentKiB() / 1024);
    measure(window, dir.path() + QStringLiteral("/bench/bench.h5"));
    measure(window, dir.path() + QStringLiteral("/bench/bench_current.csv"));
    return 0;
}
