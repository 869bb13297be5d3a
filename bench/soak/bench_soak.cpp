// Chaos soak: the real window, offscreen, on the simulated ZK128 at
// integration count 0 (the link sets the pace) for a set time, with the
// It-curve open and a random operator action or fault every 2 to 5 s: save
// runs, a second Save, Stop and Play, unplug and replug, read failures, stray
// bytes, a cut frame, a silent device, a failing writer (a full disk), colour
// modes, the Live Analysis window. Message boxes are answered at once.
//
// The drive runs in a child process, so a crash is counted and the drive goes
// on for the rest of the time. Printed: crashes, resident memory growth after
// warm-up with readings over time (resident by kind, the heap in use and
// free), the longest GUI stall, runs started, saved and partial, and whether
// every run folder agrees across its kinds (frame counts within 1, no
// temporary names left). Targets: 0 crashes, growth under 5 MB per hour, stalls at most
// 200 ms, every folder consistent.
//
//   bench_soak [minutes] [seed]      (default 10 minutes, seed 1)
#include "acquisition/RunSinks.h"
#include "analysis/LiveAnalysisWindow.h"
#include "app/ConsoleShutdown.h"
#include "app/DeviceConnection.h"
#include "app/ItCurvePage.h"
#include "app/LiveAnalysisPage.h"
#include "app/MainWindow.h"
#include "app/SavePanel.h"
#include "context/ConsoleContext.h"
#include "display/DisplayPipeline.h"
#include "simulator/SimulatorBackend.h"
#include "simulator/ZK128Device.h"
#include "tests/support/RunFileReaders.h"

#include <QAbstractButton>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDirIterator>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QLineEdit>
#include <QMessageBox>
#include <QProcess>
#include <QPushButton>
#include <QRadioButton>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QTimer>

#include <algorithm>
#include <ctime>
#include <utility>
#include <cstdio>
#include <functional>
#include <memory>
#include <vector>

#include <malloc.h>

namespace {

constexpr int kActionMinMs = 2000;
constexpr int kActionMaxMs = 5000;
constexpr int kMemorySampleMs = 5000;

// Resident size from /proc/self/status, in MiB: all of it, and its anonymous
// (heap, stacks), file-backed (code, libraries) and shared-memory parts.
struct Resident {
    double total = -1;
    double anonymous = -1;
    double file = -1;
    double shared = -1;
};

Resident resident()
{
    Resident figures;
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return figures;
    const std::pair<QByteArray, double *> fields[] = {{"VmRSS:", &figures.total},
                                                      {"RssAnon:", &figures.anonymous},
                                                      {"RssFile:", &figures.file},
                                                      {"RssShmem:", &figures.shared}};
    for (const QByteArray &line : status.readAll().split('\n')) {
        const QList<QByteArray> words = line.simplified().split(' ');
        for (const auto &[name, value] : fields)
            if (words.size() > 1 && words[0] == name)
                *value = words[1].toDouble() / 1024.0; // kB
    }
    return figures;
}

// One memory reading: the resident size beside what the allocator holds in use
// and free over all its arenas, which tells a leak (in use grows) from memory
// the allocator keeps after it was freed (free grows).
struct MemorySample {
    double seconds = 0;
    Resident resident;
    double heapInUseMiB = 0;
    double heapFreeMiB = 0;
};

MemorySample memoryAt(double seconds)
{
    constexpr double kMiB = 1024.0 * 1024.0;
    const struct mallinfo2 heap = ::mallinfo2();
    return {seconds, resident(), double(heap.uordblks + heap.hblkhd) / kMiB, double(heap.fordblks) / kMiB};
}

void runEvents(int ms)
{
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
}

// A data or HDF5 sink whose disk fills up after `frames` frames.
class FullDiskSink : public RunSink
{
public:
    FullDiskSink(std::unique_ptr<RunSink> inner, int frames) : m_inner(std::move(inner)), m_frames(frames) {}
    QString kind() const override { return m_inner->kind(); }
    bool open(const SaveRunPlan &plan, QString *error) override { return m_inner->open(plan, error); }
    bool write(const RecordedFrame &frame, QString *error) override
    {
        if (m_inner->framesWritten() >= m_frames) {
            *error = QStringLiteral("No space left on device");
            return false;
        }
        return m_inner->write(frame, error);
    }
    bool finish(const RunReferences &references, bool complete, QString *error) override
    {
        return m_inner->finish(references, complete, error);
    }
    int framesWritten() const override { return m_inner->framesWritten(); }

private:
    std::unique_ptr<RunSink> m_inner;
    int m_frames;
};

// The longest gap between ticks of a 1 ms GUI timer. Every gap over 100 ms is
// kept with what the drive was doing, so a stall can be traced to its cause.
class StallMeter : public QObject
{
public:
    struct Gap
    {
        qint64 ms = 0;
        qint64 cpuMs = 0; // the GUI thread's own CPU time in the gap: work rather than waiting
        QString during;
        double atSeconds = 0;
    };

    StallMeter()
    {
        m_timer.setTimerType(Qt::PreciseTimer);
        connect(&m_timer, &QTimer::timeout, this, [this] { tick(); });
        m_clock.start();
        m_since.start();
        m_timer.start(1);
    }
    // What the drive does from now on, for the gaps it may cause.
    void setDoing(const QString &doing) { m_doing = doing; }
    QString doing() const { return m_doing; }
    // The longest gaps, longest first.
    std::vector<Gap> worst(std::size_t count) const
    {
        std::vector<Gap> gaps = m_gaps;
        std::sort(gaps.begin(), gaps.end(), [](const Gap &a, const Gap &b) { return a.ms > b.ms; });
        gaps.resize(std::min(count, gaps.size()));
        return gaps;
    }
    qint64 longest = 0;

private:
    static constexpr qint64 kKeptGapMs = 100;

    static qint64 threadCpuMs()
    {
        timespec now{};
        clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
        return qint64(now.tv_sec) * 1000 + now.tv_nsec / 1000000;
    }

    void tick()
    {
        const qint64 gap = m_clock.restart();
        const qint64 cpu = threadCpuMs();
        const qint64 cpuInGap = cpu - std::exchange(m_cpuMs, cpu);
        longest = std::max(longest, gap);
        if (gap > kKeptGapMs)
            m_gaps.push_back({gap, cpuInGap, m_doing, m_since.elapsed() / 1000.0});
    }

    QTimer m_timer;
    QElapsedTimer m_clock;
    QElapsedTimer m_since;
    qint64 m_cpuMs = threadCpuMs();
    QString m_doing = QStringLiteral("starting");
    std::vector<Gap> m_gaps;
};

struct Figures {
    int runsStarted = 0;
    int saved = 0;
    int partial = 0;
    int folders = 0;
    int inconsistent = 0;
    QStringList problems;
    std::vector<MemorySample> memory; // after warm-up
};

class Drive : public QObject
{
public:
    Drive(int seconds, quint32 seed) : m_seconds(seconds), m_random(seed)
    {
        m_device->setIntegrationCountOverride(0);
        // Connect sends 0 V at the stored range from these fields, so the
        // device is configured and Play starts.
        for (const char *field : {"lineEdit_vc", "lineEdit_vd", "lineEdit_von", "lineEdit_voff"})
            find<QLineEdit>(field)->setText(QStringLiteral("0"));
        m_window->saves().setQuestion([](const QString &) { return true; });
        m_window->show();
        connect(&m_window->receiver(), &ReceiverThread::saveFinished, this,
                [this](const SaveOutcome &outcome) { m_outcomes.push_back(outcome); });
        connect(&m_answer, &QTimer::timeout, this, [] { answerBoxes(); });
        m_answer.start(5);
    }

    Figures run()
    {
        m_clock.start();
        recover();
        openItCurve();
        QTimer memory;
        connect(&memory, &QTimer::timeout, this, [this] {
            const double at = m_clock.elapsed() / 1000.0;
            if (at >= warmUpSeconds())
                m_figures.memory.push_back(memoryAt(at));
        });
        memory.start(kMemorySampleMs);
        while (m_clock.elapsed() < qint64(m_seconds) * 1000) {
            runEvents(m_random.bounded(kActionMinMs, kActionMaxMs));
            act();
            const QString acted = m_stalls.doing();
            m_stalls.setDoing(QStringLiteral("recovering after ") + acted);
            recover();
            m_stalls.setDoing(QStringLiteral("capturing after ") + acted);
        }
        memory.stop();
        finish();
        return m_figures;
    }

    const StallMeter &stalls() const { return m_stalls; }

private:
    template <typename T>
    T *find(const char *name) const { return m_window->findChild<T *>(QLatin1String(name)); }

    double warmUpSeconds() const { return std::max(120.0, 0.3 * m_seconds); }

    static void answerBoxes()
    {
        for (QWidget *widget : QApplication::topLevelWidgets()) {
            auto *box = qobject_cast<QMessageBox *>(widget);
            if (!box || !box->isVisible())
                continue;
            QAbstractButton *yes = box->button(QMessageBox::Yes);
            QAbstractButton *ok = box->button(QMessageBox::Ok);
            if (yes)
                yes->click();
            else if (ok)
                ok->click();
            else
                box->reject();
        }
    }

    void recover()
    {
        if (!m_device->isPlugged())
            return;
        if (!m_window->isDeviceConnected() && find<QComboBox>("comboBox")->findText("ZK128") >= 0) {
            m_stalls.setDoing(QStringLiteral("connect"));
            find<QPushButton>("pushButton_Connect")->click();
            while (m_window->connection().isConnecting())
                runEvents(10);
        }
        if (m_window->isDeviceConnected() && !m_window->isCaptureRunning())
            find<QPushButton>("pushButton_play")->click();
    }

    void openItCurve()
    {
        ItCurvePage &page = m_window->itCurve();
        page.openWindow();
        for (QCheckBox *check : find<QWidget>("widget_9")->findChildren<QCheckBox *>())
            check->setChecked(true);
        page.startSeries();
    }

    void save(bool fullDisk)
    {
        const int frames[] = {20, 100, 300, 1000};
        find<QComboBox>("comboBox_saveframes")->setCurrentText(QString::number(frames[m_random.bounded(4)]));
        find<QLineEdit>("lineEdit_savename")->setText(QStringLiteral("soak"));
        find<QLineEdit>("lineEdit_savepath")->setText(m_saves.path());
        for (const char *kind : {"checkBox_data", "checkBox_picture", "checkBox_video", "checkBox_hdf5"})
            find<QCheckBox>(kind)->setChecked(m_random.bounded(2) == 1);
        find<QCheckBox>("checkBox_data")->setChecked(true);
        if (fullDisk) {
            const int room = m_random.bounded(1, 60);
            m_window->receiver().saveRuns().setSinkFactory([room](const SaveRunPlan &plan) {
                std::vector<std::unique_ptr<RunSink>> sinks = makeRunSinks(plan);
                sinks.front() = std::make_unique<FullDiskSink>(std::move(sinks.front()), room);
                return sinks;
            });
        }
        const QString before = m_window->saves().lastFolder();
        find<QPushButton>("pushButton_save")->click();
        m_window->receiver().saveRuns().setSinkFactory({});
        if (m_window->saves().lastFolder() != before && !m_window->saves().lastFolder().isEmpty())
            ++m_figures.runsStarted;
    }

    void act()
    {
        ZK128Device &device = *m_device;
        const int action = m_random.bounded(11);
        static const char *const kActions[] = {"save",       "save",      "play/stop",     "unplug", "read failures",
                                               "stray bytes", "cut frame", "silent device", "full-disk save",
                                               "colour mode", "live analysis"};
        m_stalls.setDoing(QLatin1String(kActions[action]));
        switch (action) {
        case 0:
        case 1:
            save(false); // a second Save when a run is going
            break;
        case 2:
            find<QPushButton>("pushButton_play")->click(); // Stop (or Play)
            break;
        case 3:
            device.unplug();
            QTimer::singleShot(1000, this, [this] { m_device->replug(); });
            break;
        case 4:
            device.failNextReads(11);
            break;
        case 5:
            device.setStrayBytesBeforeNextFrame({0xAE, 0xCC, 0x01, 0x7B, 0x0A});
            break;
        case 6:
            device.cutNextFrame(std::size_t(m_random.bounded(1, 4000)));
            break;
        case 7:
            device.setAnswering(false);
            QTimer::singleShot(1500, this, [this] { m_device->setAnswering(true); });
            break;
        case 8:
            save(true);
            break;
        case 9: {
            const char *modes[] = {"radioButton_gray", "radioButton_rgb", "radioButton_heat"};
            find<QRadioButton>(modes[m_random.bounded(3)])->click();
            break;
        }
        default:
            if (LiveAnalysisWindow *analysis = m_window->liveAnalysis().window())
                analysis->close();
            else
                m_window->liveAnalysis().openWindow();
            break;
        }
    }

    void finish()
    {
        m_device->setAnswering(true);
        if (!m_device->isPlugged())
            m_device->replug();
        if (m_window->isCaptureRunning())
            find<QPushButton>("pushButton_play")->click();
        const QString unwritten = ConsoleShutdown::finishSaveRuns(m_window->receiver().saveRuns(), m_context.log());
        if (!unwritten.isEmpty())
            m_figures.problems << unwritten;
        runEvents(200); // the last outcomes reach this thread
        for (const SaveOutcome &outcome : m_outcomes) {
            (outcome.success() ? m_figures.saved : m_figures.partial) += 1;
            checkFolder(outcome);
        }
    }

    // Frame counts of the kinds that did not fail agree within 1; nothing is
    // left under a temporary name.
    void checkFolder(const SaveOutcome &outcome)
    {
        ++m_figures.folders;
        const QString folder = outcome.folder;
        const QString name = QFileInfo(folder).fileName();
        const QString prefix = folder + QLatin1Char('/') + name;
        QStringList problems;
        QDirIterator files(folder, QDir::Files, QDirIterator::Subdirectories);
        while (files.hasNext())
            if (files.next().contains(QLatin1String(".part")))
                problems << QStringLiteral("temporary file %1").arg(files.filePath());
        std::vector<int> counts;
        for (const QString &kind : outcome.kinds) {
            if (outcome.failures.join(' ').contains(QStringLiteral("the %1 could not").arg(kind)))
                continue;
            int frames = -1;
            if (kind == QLatin1String("data"))
                frames = std::min(RunFileReaders::wholeCsvFrames(prefix + "_current.csv"),
                                  RunFileReaders::wholeCsvFrames(prefix + "_gray.csv"));
            else if (kind == QLatin1String("pictures"))
                frames = RunFileReaders::decodedPictures(folder, name);
            else if (kind == QLatin1String("video"))
                frames = QFileInfo::exists(prefix + "_output_video.mp4")
                             ? RunFileReaders::videoFrames(prefix + "_output_video.mp4")
                             : 0;
            else
                frames = RunFileReaders::readHdf5(prefix + ".h5").frames;
            if (frames < 0 && !(kind == QLatin1String("data") && outcome.written == 0))
                problems << QStringLiteral("%1 unreadable").arg(kind);
            counts.push_back(std::max(frames, 0));
        }
        if (!counts.empty() && *std::max_element(counts.begin(), counts.end()) - *std::min_element(counts.begin(), counts.end()) > 1)
            problems << QStringLiteral("frame counts differ across kinds");
        if (!problems.isEmpty()) {
            ++m_figures.inconsistent;
            m_figures.problems << folder + QStringLiteral(": ") + problems.join(QStringLiteral(", "));
        }
    }

    const int m_seconds;
    QRandomGenerator m_random;
    QElapsedTimer m_clock;
    QTimer m_answer;
    StallMeter m_stalls;
    Figures m_figures;
    std::vector<SaveOutcome> m_outcomes;
    QTemporaryDir m_dir;
    QTemporaryDir m_saves{QStringLiteral("/var/tmp/bench-soak-XXXXXX")};
    std::shared_ptr<ZK128Device> m_device = std::make_shared<ZK128Device>();
    ConsoleContext m_context{std::make_shared<SimulatorBackend>(m_device),
                             ConsolePaths{m_dir.path() + "/detect", m_dir.path() + "/result", m_dir.path() + "/log.txt"},
                             SettingsIdentity(), m_device};
    std::unique_ptr<MainWindow> m_window = std::make_unique<MainWindow>(m_context);
};

// Least-squares slope of the resident size against time, in MiB per hour.
double growthPerHour(const std::vector<MemorySample> &samples)
{
    if (samples.size() < 3)
        return 0;
    double sx = 0, sy = 0, sxx = 0, sxy = 0;
    for (const MemorySample &sample : samples) {
        const double x = sample.seconds, y = sample.resident.total;
        sx += x;
        sy += y;
        sxx += x * x;
        sxy += x * y;
    }
    const double n = double(samples.size());
    return (n * sxy - sx * sy) / (n * sxx - sx * sx) * 3600.0;
}

// The slope, then about ten readings spread over the time after warm-up, so
// that a one-off step shows apart from steady growth.
void printMemory(const std::vector<MemorySample> &samples)
{
    std::printf("  resident memory after warm-up: %.1f MiB -> %.1f MiB over %.0f s, growth %.1f MiB/hour "
                "(target < 5 MB/hour)\n",
                samples.front().resident.total, samples.back().resident.total,
                samples.back().seconds - samples.front().seconds, growthPerHour(samples));
    constexpr std::size_t kReadings = 10;
    for (std::size_t k = 0; k <= kReadings; ++k) {
        const MemorySample &sample = samples[k * (samples.size() - 1) / kReadings];
        std::printf("    at %5.0f s: resident %.1f MiB (anonymous %.1f, files %.1f, shared %.1f); "
                    "heap in use %.1f MiB, free %.1f MiB\n",
                    sample.seconds, sample.resident.total, sample.resident.anonymous, sample.resident.file,
                    sample.resident.shared, sample.heapInUseMiB, sample.heapFreeMiB);
    }
}

int drive(int seconds, quint32 seed, int argc, char **argv)
{
    QTemporaryDir settings;
    qputenv("XDG_CONFIG_HOME", settings.path().toUtf8());
    QApplication app(argc, argv);
    Drive soak(seconds, seed);
    const Figures figures = soak.run();
    std::printf("  runs started %d, saved %d, partial %d\n", figures.runsStarted, figures.saved, figures.partial);
    std::printf("  run folders consistent across kinds: %d of %d\n", figures.folders - figures.inconsistent,
                figures.folders);
    for (const QString &problem : figures.problems)
        std::printf("    %s\n", qPrintable(problem));
    if (figures.runsStarted == 0)
        std::printf("    no save run started: the drive never reached a capture, so the figures below say little\n");
    std::printf("  longest GUI stall %lld ms (target <= 200 ms)\n", static_cast<long long>(soak.stalls().longest));
    for (const StallMeter::Gap &gap : soak.stalls().worst(5))
        std::printf("    stall %lld ms (%lld ms of it on the GUI thread's CPU) at %.0f s while %s\n",
                    static_cast<long long>(gap.ms), static_cast<long long>(gap.cpuMs), gap.atSeconds,
                    qPrintable(gap.during));
    if (!figures.memory.empty())
        printMemory(figures.memory);
    std::fflush(stdout);
    return 0;
}

} // namespace

int main(int argc, char **argv)
{
    if (argc >= 4 && QByteArray(argv[1]) == "--drive")
        return drive(QByteArray(argv[2]).toInt(), quint32(QByteArray(argv[3]).toUInt()), argc, argv);

    const int minutes = argc > 1 ? std::max(1, QByteArray(argv[1]).toInt()) : 10;
    const quint32 seed = argc > 2 ? quint32(QByteArray(argv[2]).toUInt()) : 1;
    QCoreApplication app(argc, argv);
    std::printf("chaos soak of the window on the simulated ZK128 at integration count 0: %d min, seed %u\n", minutes,
                seed);
    std::fflush(stdout);
    QElapsedTimer clock;
    clock.start();
    int crashes = 0;
    // A crashed drive is counted and a fresh one takes the rest of the time.
    for (int segment = 0; clock.elapsed() < qint64(minutes) * 60000 - 30000; ++segment) {
        const qint64 left = (qint64(minutes) * 60000 - clock.elapsed()) / 1000;
        // The drive's event log goes to log.txt in a folder of its own; only
        // its figures (indented lines) are passed on.
        QTemporaryDir work;
        QProcess child;
        child.setWorkingDirectory(work.path());
        child.setStandardErrorFile(QProcess::nullDevice());
        child.setStandardOutputFile(work.filePath(QStringLiteral("stdout.txt")));
        child.start(QCoreApplication::applicationFilePath(),
                    {"--drive", QString::number(left), QString::number(seed + quint32(segment)), "-platform", "offscreen"});
        child.waitForFinished(-1);
        QFile output(work.filePath(QStringLiteral("stdout.txt")));
        output.open(QIODevice::ReadOnly);
        for (const QByteArray &line : output.readAll().split('\n'))
            if (line.startsWith("  "))
                std::printf("%s\n", line.constData());
        if (child.exitStatus() == QProcess::NormalExit && child.exitCode() == 0)
            break;
        ++crashes;
        std::printf("  the drive ended abnormally (%s, code %d)\n",
                    child.exitStatus() == QProcess::CrashExit ? "crash" : "exit", child.exitCode());
    }
    std::printf("  crashes: %d (target 0)\n", crashes);
    return 0;
}
