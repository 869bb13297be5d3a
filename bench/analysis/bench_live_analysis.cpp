// The Live Analysis window's cost on the GUI thread, open at its default size:
// the time one redraw takes (histogram, levels, region statistics, health,
// both plots repainted), and how often it redraws when a new frame is offered
// every millisecond. Prints its figures.
#include "analysis/LiveAnalysisWindow.h"
#include "context/SettingsIdentity.h"

#include <qcustomplot.h>

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QElapsedTimer>
#include <QTemporaryDir>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <ctime>
#include <random>

namespace {

// Frames of noisy currents around a slope, so that every histogram differs.
// jumping: every other frame spans three times the currents, so the axes
// must be fitted again with every frame (the worst case).
std::vector<std::vector<double>> sampleFrames(int count, bool jumping)
{
    std::mt19937 random(7);
    std::normal_distribution<double> noise(0.0, 2.0);
    std::vector<std::vector<double>> frames(std::size_t(count), std::vector<double>(16384));
    for (std::size_t k = 0; k < frames.size(); ++k) {
        const double scale = jumping && k % 2 ? 3.0 : 1.0;
        for (std::size_t i = 0; i < frames[k].size(); ++i)
            frames[k][i] = scale * (50.0 + 300.0 * double(i % 128) / 127.0 + noise(random));
    }
    return frames;
}

// Offers a new frame whenever one is asked for, or, paced, one per elapsed millisecond.
class BenchSource : public LiveAnalysisSource
{
public:
    explicit BenchSource(bool paced, bool jumping = false) : m_paced(paced), m_frames(sampleFrames(16, jumping))
    {
        m_clock.start();
    }

    void next() { ++m_offered; }
    std::uint64_t offered() const { return m_paced ? std::uint64_t(m_clock.elapsed()) : m_offered; }

    bool newestFrame(std::uint64_t after, LiveFrame &frame) override
    {
        const std::uint64_t sequence = offered();
        if (sequence <= after)
            return false;
        frame.currents = m_frames[sequence % m_frames.size()];
        frame.sequence = sequence;
        frame.timeMs = QDateTime::currentMSecsSinceEpoch();
        return true;
    }
    FrameHealth frameHealth() const override
    {
        FrameHealth health;
        health.received = offered();
        health.captureStartedMs = QDateTime::currentMSecsSinceEpoch() - 5000;
        return health;
    }
    bool isCapturing() const override { return true; }
    double currentRangeNa() const override { return 800.0; }
    ReferenceSet references() const override { return {}; }
    void applyReferences(const ReferenceSet &) override {}
    void setDisplayLevels(const DisplayLevels &) override {}

private:
    bool m_paced;
    QElapsedTimer m_clock;
    std::uint64_t m_offered = 0;
    std::vector<std::vector<double>> m_frames;
};

double cpuMicroseconds(clockid_t clock)
{
    timespec now{};
    clock_gettime(clock, &now);
    return double(now.tv_sec) * 1e6 + double(now.tv_nsec) / 1e3;
}

double median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

double mean(const std::vector<double> &values)
{
    double sum = 0.0;
    for (double value : values)
        sum += value;
    return sum / double(values.size());
}

void settle()
{
    for (int i = 0; i < 3; ++i)
        QCoreApplication::processEvents();
}

void redrawCost(const char *setup, bool levels, bool jumping)
{
    BenchSource source(false, jumping);
    LiveAnalysisWindow window(source, SettingsIdentity(), LiveAnalysisDialogs{});
    window.show();
    if (levels) {
        window.findChild<QCheckBox *>(QStringLiteral("levelsEnabled"))->setChecked(true);
        window.findChild<QCheckBox *>(QStringLiteral("levelsAuto"))->setChecked(true);
        window.findChild<QComboBox *>(QStringLiteral("countAxis"))->setCurrentIndex(1);
        window.setRegion(QRect(40, 40, 32, 32));
    }
    settle();
    const int frames = 400;
    std::vector<double> wall, guiCpu, refreshCpu, otherCpu; // microseconds per redraw
    QElapsedTimer clock;
    for (int i = 0; i < frames + 20; ++i) {
        source.next();
        const double thread0 = cpuMicroseconds(CLOCK_THREAD_CPUTIME_ID);
        const double process0 = cpuMicroseconds(CLOCK_PROCESS_CPUTIME_ID);
        clock.start();
        window.refresh();
        const double refreshed = cpuMicroseconds(CLOCK_THREAD_CPUTIME_ID) - thread0;
        settle(); // the queued replots and the repaint
        const double elapsed = double(clock.nsecsElapsed()) / 1000.0;
        const double thread = cpuMicroseconds(CLOCK_THREAD_CPUTIME_ID) - thread0;
        const double process = cpuMicroseconds(CLOCK_PROCESS_CPUTIME_ID) - process0;
        if (i < 20) // the first ones warm the caches up
            continue;
        wall.push_back(elapsed);
        guiCpu.push_back(thread);
        refreshCpu.push_back(refreshed);
        otherCpu.push_back(process - thread);
    }
    std::printf("  %-44s %dx%d: GUI thread CPU mean %5.0f us median %5.0f us (refresh() %4.0f us) | wall mean %5.0f us "
                "median %5.0f us | other threads %3.0f us\n",
                setup, window.width(), window.height(), mean(guiCpu), median(guiCpu), mean(refreshCpu), mean(wall), median(wall), mean(otherCpu));
}

void redrawRate(int seconds)
{
    BenchSource source(true);
    LiveAnalysisWindow window(source, SettingsIdentity(), LiveAnalysisDialogs{});
    window.findChild<QCheckBox *>(QStringLiteral("levelsEnabled"))->setChecked(true);
    window.findChild<QCheckBox *>(QStringLiteral("levelsAuto"))->setChecked(true);
    window.show();
    settle();
    const int before = window.redrawCount();
    const std::uint64_t offeredBefore = source.offered();
    QElapsedTimer clock;
    clock.start();
    QEventLoop loop;
    QTimer::singleShot(seconds * 1000, &loop, &QEventLoop::quit);
    loop.exec();
    const double elapsed = double(clock.nsecsElapsed()) / 1e9;
    const int redraws = window.redrawCount() - before;
    const std::uint64_t offered = source.offered() - offeredBefore;
    std::printf("  %.2f s with a new frame every ms: %llu frames offered, %d redraws = %.1f redraws/s (limit %d)\n",
                elapsed, static_cast<unsigned long long>(offered), redraws, double(redraws) / elapsed,
                LiveAnalysisWindow::kMaxRedrawsPerSecond);
}

} // namespace

int main(int argc, char **argv)
{
    QTemporaryDir settings; // the window reads "Load at start" from the settings
    qputenv("XDG_CONFIG_HOME", settings.path().toUtf8());
    QApplication app(argc, argv);
    std::printf("Live Analysis window at its default size, per redraw (refresh() + queued replots + repaint), "
                "400 frames\n");
    redrawCost("levels off, linear counts, whole matrix", false, false);
    redrawCost("levels on + Auto, log counts, 32x32 region", true, false);
    redrawCost("worst case: axes refitted with every frame", false, true);
    std::printf("Redraw rate\n");
    redrawRate(4);
    return 0;
}
