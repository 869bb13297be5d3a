// The frame rate the whole console sustains against the simulated ZK128: the
// real main window connects, captures for a few seconds and shows what it
// can. Prints the frames the device sent, the frames the window counted and
// drew, the frame-rate readout, the CPU share of the GUI thread, the capture
// thread and the whole process, and the time from a frame's arrival to the
// paint of the live view that shows it (p50, p99). Runs at the 800 nA
// integration (11.5 ms per frame) and with zero integration time (the USB
// link alone limits the device), there also with the capture loop polling
// without pause, the fastest it can go. Run it under X11 (xvfb-run -a) for
// the figures of a real display; the platform is printed.
#include "app/LiveAnalysisPage.h"
#include "app/DeviceConnection.h"
#include "app/MainWindow.h"
#include "bench/display/ThreadCpu.h"
#include "bench/support/ProcessFigures.h"
#include "context/ConsoleContext.h"
#include "display/DisplayPipeline.h"
#include "display/KeepRatioWidget.h"
#include "simulator/SimulatorBackend.h"
#include "simulator/ZK128Device.h"

#include <QAbstractButton>
#include <QApplication>
#include <QComboBox>
#include <QEventLoop>
#include <QElapsedTimer>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QScreen>
#include <QTemporaryDir>
#include <QTimer>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <memory>
#include <vector>

namespace {

constexpr int CaptureMs = 5000;

// Presses OK on any message box, so the run never blocks.
void answerBoxes()
{
    for (QWidget *widget : QApplication::topLevelWidgets())
        if (auto *box = qobject_cast<QMessageBox *>(widget); box && box->isVisible())
            box->button(QMessageBox::Ok)->click();
}

// Runs the event loop for a while, idle between events as the console would be.
void runEvents(int ms)
{
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
}

// Time from a frame's arrival in the capture loop to the paint of the live
// view that shows it, taken as each paint of the picture begins.
class PaintLatency : public QObject
{
public:
    PaintLatency(const DisplayPipeline &pipeline, QWidget *picture)
        : m_pipeline(pipeline)
    {
        picture->installEventFilter(this);
    }
    void clear() { m_ms.clear(); }
    // The p-th percentile (0..100) in ms, nearest rank; -1 without samples.
    double percentile(double p)
    {
        if (m_ms.empty())
            return -1.0;
        std::sort(m_ms.begin(), m_ms.end());
        const auto rank = std::size_t(std::max(0.0, p / 100.0 * double(m_ms.size()) - 1e-9));
        return m_ms[std::min(rank, m_ms.size() - 1)];
    }
    std::size_t count() const { return m_ms.size(); }

protected:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        const auto arrival = m_pipeline.shownArrival();
        if (event->type() == QEvent::Paint && arrival != m_painted) {
            m_painted = arrival;
            m_ms.push_back(std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - arrival).count());
        }
        return QObject::eventFilter(watched, event);
    }

private:
    const DisplayPipeline &m_pipeline;
    std::chrono::steady_clock::time_point m_painted;
    std::vector<double> m_ms;
};

// Frames per second the device sent while captured (0 when the console did not connect).
double run(const char *title, std::uint32_t integrationCount, bool analysisOpen = false, bool busyPoll = false)
{
    auto device = std::make_shared<ZK128Device>();
    device->setReplyDelay(std::chrono::microseconds(200));
    const ConsoleContext context(std::make_shared<SimulatorBackend>(device), ConsolePaths::forApplication(),
                                 SettingsIdentity(), device);
    auto window = std::make_unique<MainWindow>(context);
    window->resize(840, 523);
    window->show();

    // Connect sends 0 V at 800 nA from the fields; the device integrates
    // with the count under test whatever the command says.
    device->setIntegrationCountOverride(integrationCount);
    for (const char *field : {"lineEdit_vc", "lineEdit_vd", "lineEdit_von", "lineEdit_voff"})
        window->findChild<QLineEdit *>(QLatin1String(field))->setText(QStringLiteral("0"));
    if (busyPoll)
        window->receiver().setWaitStrategy(ReceiverThread::WaitStrategy::BusyPoll);
    PaintLatency latency(window->displayPipeline(), window->liveView()->pictureLabel());

    auto *connectButton = window->findChild<QPushButton *>(QStringLiteral("pushButton_Connect"));
    auto *playButton = window->findChild<QPushButton *>(QStringLiteral("pushButton_play"));
    auto *fpsLabel = window->findChild<QLabel *>(QStringLiteral("label_fps"));
    // Five times a second: often enough that no box holds the run up for
    // long, rarely enough not to weigh on the GUI thread being measured.
    QTimer boxes;
    QObject::connect(&boxes, &QTimer::timeout, &answerBoxes);
    boxes.start(200);
    connectButton->click();
    for (int waited = 0; window->connection().isConnecting() && waited < 5000; waited += 10)
        runEvents(10);
    if (!window->isDeviceConnected()) {
        std::printf("%s: the console did not connect\n", title);
        return 0.0;
    }

    if (analysisOpen)
        window->liveAnalysis().openWindow();
    playButton->click();
    runEvents(1000); // settle: the first frame, the first frame-rate period
    const auto before = ThreadCpu::sample();
    const double processBefore = ProcessFigures::cpuSeconds();
    latency.clear();
    const std::uint64_t sentBefore = device->framesSent();
    const int countedBefore = window->displayPipeline().framesCounted();
    const int drawnBefore = window->displayPipeline().framesDrawn();
    QElapsedTimer clock;
    clock.start();
    runEvents(CaptureMs);
    const double seconds = clock.nsecsElapsed() / 1e9;
    const auto after = ThreadCpu::sample();
    const double processShare = 100.0 * (ProcessFigures::cpuSeconds() - processBefore) / seconds;
    const std::uint64_t sent = device->framesSent() - sentBefore;
    const int counted = window->displayPipeline().framesCounted() - countedBefore;
    const int drawn = window->displayPipeline().framesDrawn() - drawnBefore;
    const QString readout = fpsLabel->text();
    playButton->click();

    const double tick = double(ThreadCpu::ticksPerSecond());
    auto share = [&](long tid) {
        const auto a = before.find(tid), b = after.find(tid);
        if (a == before.end() || b == after.end())
            return 0.0;
        return 100.0 * double(b->second.ticks - a->second.ticks) / tick / seconds;
    };
    double guiShare = share(ThreadCpu::mainThreadId());
    // The worker thread is the window's QThread (named after its class); the
    // busiest one is the capture loop.
    double workerShare = 0.0;
    for (const auto &[tid, thread] : after)
        if (tid != ThreadCpu::mainThreadId() && thread.name == QLatin1String("QThread"))
            workerShare = std::max(workerShare, share(tid));

    std::printf("%s (device frame period %.2f ms):\n", title, device->framePeriodSeconds() * 1000.0);
    std::printf("  device sent %.1f frames/s, window counted %.1f frames/s, drew %.1f frames/s; readout \"%s\"\n",
                sent / seconds, counted / seconds, drawn / seconds, qPrintable(readout));
    std::printf("  CPU share over %.1f s: GUI thread %.1f %%, capture thread %.1f %%, whole process %.1f %%\n",
                seconds, guiShare, workerShare, processShare);
    std::printf("  frame arrival to paint: p50 %.1f ms, p99 %.1f ms over %zu paints\n", latency.percentile(50),
                latency.percentile(99), latency.count());

    window.reset();
    return sent / seconds;
}

} // namespace

int main(int argc, char **argv)
{
    QTemporaryDir settings;
    qputenv("XDG_CONFIG_HOME", settings.path().toUtf8());
    QApplication app(argc, argv);
    const QScreen *screen = QGuiApplication::primaryScreen();
    std::printf("platform %s, screen refresh %.0f Hz\n", qPrintable(QGuiApplication::platformName()),
                screen ? screen->refreshRate() : 0.0);
    const double slow = run("800 nA integration (count 7180)", 7180);
    const double fast = run("zero integration time (count 0)", 0);
    const double polled = run("zero integration time, capture loop polling without pause", 0, false, true);
    if (polled > 0.0)
        std::printf("at count 0 the console keeps %.1f %% of the busy-poll frame rate\n", 100.0 * fast / polled);
    const double analysed = run("zero integration time, Live Analysis window open", 0, true);
    if (fast > 0.0)
        std::printf("with the Live Analysis window open the console keeps %.1f %% of its frame rate at count 0\n",
                    100.0 * analysed / fast);
    return slow > 0.0 && fast > 0.0 && analysed > 0.0 ? 0 : 1;
}
