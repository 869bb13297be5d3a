// How long device trouble holds the window up. The real window runs against
// the simulated ZK128 offscreen while a 1 ms timer on the GUI thread measures
// the longest gap between its ticks (the longest stall), through each fault
// scenario; message boxes are answered at once. Printed per scenario: the
// longest stall, and where it applies the time from the fault to the
// operator's message. Target: no stall of the window on the worker above 1 s
// (the connect handshake itself waits up to 1 s for the device).
#include "app/DeviceConnection.h"
#include "app/MainWindow.h"
#include "context/ConsoleContext.h"
#include "display/DisplayPipeline.h"
#include "simulator/SimulatorBackend.h"
#include "simulator/ZK128Device.h"

#include <QAbstractButton>
#include <QApplication>
#include <QComboBox>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <memory>

namespace {

// The longest gap between two ticks of a 1 ms timer on the GUI thread.
class StallMeter : public QObject
{
public:
    StallMeter()
    {
        connect(&m_timer, &QTimer::timeout, this, [this] {
            m_longest = std::max(m_longest, m_clock.restart());
        });
        m_timer.setTimerType(Qt::PreciseTimer);
    }
    void start()
    {
        m_longest = 0;
        m_clock.start();
        m_timer.start(1);
    }
    qint64 stop()
    {
        m_timer.stop();
        return std::max(m_longest, m_clock.elapsed());
    }

private:
    QTimer m_timer;
    QElapsedTimer m_clock;
    qint64 m_longest = 0;
};

// Presses OK on every message box and notes when the first one came.
struct Answerer
{
    QTimer poll;
    QStringList texts;
    QElapsedTimer *clock = nullptr;
    qint64 firstAt = -1;
    Answerer()
    {
        QObject::connect(&poll, &QTimer::timeout, [this] {
            for (QWidget *widget : QApplication::topLevelWidgets()) {
                auto *box = qobject_cast<QMessageBox *>(widget);
                if (!box || !box->isVisible())
                    continue;
                if (firstAt < 0 && clock)
                    firstAt = clock->elapsed();
                texts << box->text();
                if (QAbstractButton *ok = box->button(QMessageBox::Ok))
                    ok->click();
                else
                    box->reject();
            }
        });
        poll.start(1);
    }
};

void runEvents(int ms)
{
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
}

void waitUntil(const std::function<bool()> &condition, int ms = 10000)
{
    QElapsedTimer clock;
    clock.start();
    while (!condition() && clock.elapsed() < ms)
        runEvents(5);
}

struct Console
{
    std::shared_ptr<ZK128Device> device = std::make_shared<ZK128Device>();
    QTemporaryDir dir;
    ConsoleContext context{std::make_shared<SimulatorBackend>(device),
                           ConsolePaths{dir.path() + "/detect", dir.path() + "/scratch", dir.path() + "/result",
                                        dir.path() + "/log.txt"},
                           SettingsIdentity(), device};
    std::unique_ptr<MainWindow> window = std::make_unique<MainWindow>(context);

    template <typename T>
    T *find(const char *name) { return window->findChild<T *>(QLatin1String(name)); }
    void click(const char *name) { find<QPushButton>(name)->click(); }
    void connectDevice()
    {
        // Stored parameters, so that Connect configures the device.
        for (const char *field : {"lineEdit_vc", "lineEdit_vd", "lineEdit_von", "lineEdit_voff"})
            find<QLineEdit>(field)->setText(QStringLiteral("0"));
        waitUntil([this] { return find<QComboBox>("comboBox")->findText("ZK128") >= 0; });
        click("pushButton_Connect");
        waitUntil([this] { return !window->connection().isConnecting(); });
    }
    void capture()
    {
        click("pushButton_play");
        waitUntil([this] { return window->displayPipeline().framesDrawn() >= 5; });
    }
};

struct Figures {
    qint64 stallMs = 0;
    qint64 toldMs = -1;
};

// Runs `fault` with the meter on; `until` says when the scenario is over.
Figures measure(Console &console, Answerer &answers, const std::function<void()> &fault,
                const std::function<bool()> &until)
{
    StallMeter meter;
    QElapsedTimer clock;
    answers.clock = &clock;
    answers.firstAt = -1;
    meter.start();
    clock.start();
    fault();
    waitUntil(until);
    runEvents(200);
    Figures figures;
    figures.stallMs = meter.stop();
    figures.toldMs = answers.firstAt;
    (void)console;
    return figures;
}

void print(const char *scenario, const Figures &figures, qint64 &worst)
{
    worst = std::max(worst, figures.stallMs);
    if (figures.toldMs >= 0)
        std::printf("  %-46s longest stall %5lld ms, operator told after %5lld ms\n", scenario,
                    static_cast<long long>(figures.stallMs), static_cast<long long>(figures.toldMs));
    else
        std::printf("  %-46s longest stall %5lld ms\n", scenario, static_cast<long long>(figures.stallMs));
}

} // namespace

int main(int argc, char **argv)
{
    QTemporaryDir settings;
    qputenv("XDG_CONFIG_HOME", settings.path().toUtf8());
    QApplication app(argc, argv);
    Answerer answers;
    qint64 worst = 0;
    std::printf("longest stall of the window's GUI thread per fault scenario (simulated ZK128)\n");

    {
        Console console;
        console.connectDevice();
        console.capture();
        print("unplug during capture", measure(console, answers, [&] { console.device->unplug(); },
                                               [&] { return !console.window->isDeviceConnected(); }),
              worst);
    }
    {
        Console console;
        console.connectDevice();
        console.capture();
        print("read-error pass", measure(console, answers, [&] { console.device->failNextReads(11); },
                                         [&] { return !console.window->isDeviceConnected(); }),
              worst);
        print("connect again and Play after the error", measure(console, answers, [&] {
                  console.connectDevice();
                  console.click("pushButton_play");
              }, [&] { return console.window->displayPipeline().framesDrawn() >= 10; }),
              worst);
    }
    {
        Console console;
        console.connectDevice();
        console.capture();
        print("Stop, battery poll, then Setting", measure(console, answers, [&] {
                  console.click("pushButton_play");
                  console.window->connection().pollBattery();
                  for (const char *field : {"lineEdit_vc", "lineEdit_vd", "lineEdit_von", "lineEdit_voff"})
                      console.find<QLineEdit>(field)->setText("0");
                  console.click("pushButton_set");
              }, [&] { return !answers.texts.isEmpty(); }),
              worst);
    }
    {
        Console console;
        console.device->setReplyDelay(std::chrono::milliseconds(1));
        console.device->setUsbBytesPerSecond(2e6); // 25 ms a frame: a stop always meets one in flight
        console.connectDevice();
        console.capture();
        print("Stop and Disconnect with a frame in flight", measure(console, answers, [&] {
                  console.click("pushButton_play");
                  console.click("pushButton_Connect");
              }, [&] { return console.window->receiver().isParked(); }),
              worst);
    }
    {
        Console console;
        console.connectDevice();
        console.capture();
        print("Stop while the device has gone silent", measure(console, answers, [&] {
                  console.device->setAnswering(false);
                  runEvents(50);
                  console.click("pushButton_play");
              }, [&] { return console.window->receiver().isParked(); }),
              worst);
    }
    {
        Console console;
        console.device->setHandshakeAnswered(false);
        print("Connect to a device that never answers (device wait)", measure(console, answers, [&] {
                  console.connectDevice();
              }, [&] { return !answers.texts.isEmpty(); }),
              worst);
    }
    std::printf("longest stall over the scenarios: %lld ms\n", static_cast<long long>(worst));
    return 0;
}
