// The frame rate the whole console sustains against the simulated ZK128: the
// real main window connects, captures for a few seconds and shows what it
// can. Prints the frames the device sent, the frames the window counted and
// drew, the frame-rate readout and the CPU share of the GUI thread and the
// worker thread. Runs at the 800 nA integration (11.5 ms per frame) and with
// zero integration time (the USB link alone limits the device).
#include "ConsoleContext.h"
#include "DeviceProtocol.h"
#include "DisplayPipeline.h"
#include "LiveAnalysisPage.h"
#include "MainWindow.h"
#include "SimulatorBackend.h"
#include "ThreadCpu.h"
#include "ZK128Device.h"

#include <QAbstractButton>
#include <QApplication>
#include <QComboBox>
#include <QEventLoop>
#include <QElapsedTimer>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTimer>

#include <cstdio>
#include <memory>

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

// Frames per second the device sent while captured (0 when the console did not connect).
double run(const char *title, std::uint32_t integrationCount, bool analysisOpen = false)
{
    auto device = std::make_shared<ZK128Device>();
    device->setReplyDelay(std::chrono::microseconds(200));
    const ConsoleContext context(std::make_shared<SimulatorBackend>(device), ConsolePaths::forApplication(),
                                 SettingsIdentity(), device);
    auto window = std::make_unique<MainWindow>(context);
    window->resize(840, 523);
    window->show();

    // The integration the device runs with: a parameter command straight to
    // the simulated device before the console connects (its reset keeps it).
    DeviceProtocol::Parameters parameters;
    parameters.candidateIndex = 3;
    parameters.currentRangeNa = 800;
    parameters.integrationCount = integrationCount;
    const DeviceProtocol::Frame command = DeviceProtocol::parameterCommand(parameters);
    device->hostWrite(command.data(), command.size());
    device->purge(true, false);
    window->receiver().setCurrentRange(800);

    auto *connectButton = window->findChild<QPushButton *>(QStringLiteral("pushButton_Connect"));
    auto *playButton = window->findChild<QPushButton *>(QStringLiteral("pushButton_play"));
    auto *fpsLabel = window->findChild<QLabel *>(QStringLiteral("label_fps"));
    QTimer boxes;
    QObject::connect(&boxes, &QTimer::timeout, &answerBoxes);
    boxes.start(20);
    connectButton->click();
    if (!window->isDeviceConnected()) {
        std::printf("%s: the console did not connect\n", title);
        return 0.0;
    }

    if (analysisOpen)
        window->liveAnalysis().openWindow();
    playButton->click();
    runEvents(1000); // settle: the first frame, the first frame-rate period
    const auto before = ThreadCpu::sample();
    const std::uint64_t sentBefore = device->framesSent();
    const int countedBefore = window->displayPipeline().framesCounted();
    const int drawnBefore = window->displayPipeline().framesDrawn();
    QElapsedTimer clock;
    clock.start();
    runEvents(CaptureMs);
    const double seconds = clock.nsecsElapsed() / 1e9;
    const auto after = ThreadCpu::sample();
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
    std::printf("  CPU share over %.1f s: GUI thread %.0f %%, worker thread %.0f %%\n", seconds, guiShare,
                workerShare);

    window.reset();
    return sent / seconds;
}

} // namespace

int main(int argc, char **argv)
{
    QTemporaryDir settings;
    qputenv("XDG_CONFIG_HOME", settings.path().toUtf8());
    QApplication app(argc, argv);
    const double slow = run("800 nA integration (count 7180)", 7180);
    const double fast = run("zero integration time (count 0)", 0);
    const double analysed = run("zero integration time, Live Analysis window open", 0, true);
    if (fast > 0.0)
        std::printf("with the Live Analysis window open the console keeps %.1f %% of its frame rate at count 0\n",
                    100.0 * analysed / fast);
    return slow > 0.0 && fast > 0.0 && analysed > 0.0 ? 0 : 1;
}
