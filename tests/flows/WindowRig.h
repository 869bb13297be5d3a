#pragma once

#include "tests/flows/FlowsTestSupport.h"

#include "app/DeviceConnection.h"
#include "app/MainWindow.h"
#include "context/ConsoleContext.h"
#include "display/DisplayPipeline.h"
#include "display/KeepRatioWidget.h"
#include "simulator/SimulatorBackend.h"
#include "simulator/ZK128Device.h"

#include <QComboBox>
#include <QDir>
#include <QLabel>
#include <QLineEdit>
#include <QMouseEvent>
#include <QPushButton>
#include <QSignalSpy>
#include <QTemporaryDir>

#include <memory>

// The real main window on the simulated ZK128, with its shipped, scratch and
// result folders in a temporary folder and every message box answered (and kept).
struct WindowRig
{
    explicit WindowRig(bool plugged = true)
        : context(sim.backend,
                  ConsolePaths{dir.path() + QStringLiteral("/share"), dir.path() + QStringLiteral("/scratch"),
                               dir.path() + QStringLiteral("/result"), dir.path() + QStringLiteral("/log.txt")},
                  SettingsIdentity(), sim.device, &sim.context().frameView())
    {
        QDir().mkpath(scratchFolder()); // as the console's own scratch folder exists from the start
        if (!plugged)
            sim.device->unplug();
        sim.device->setBatteryReading(2400);
        window = std::make_unique<MainWindow>(context);
        window->show();
        // A fresh store holds no voltages; give it those of a returning
        // operator, so that Connect sends them. Stored ones stay as they are.
        bool noneStored = true;
        for (const char *field : {"lineEdit_vc", "lineEdit_vd", "lineEdit_von", "lineEdit_voff"})
            noneStored = noneStored && find<QLineEdit>(field)->text().isEmpty();
        if (noneStored)
            setVoltages(QStringLiteral("0"));
    }
    void setVoltages(const QString &volts)
    {
        for (const char *field : {"lineEdit_vc", "lineEdit_vd", "lineEdit_von", "lineEdit_voff"})
            find<QLineEdit>(field)->setText(volts);
    }

    // Where tests put the model and answer pictures, and where the console
    // writes its pictures.
    QString shippedFolder() const { return context.paths().shippedFolder; }
    QString scratchFolder() const { return context.paths().scratchFolder; }

    template <typename T>
    T *find(const char *name) const
    {
        return FlowsTest::findWidget<T>(window.get(), name);
    }
    QPushButton *buttonNamed(const char *container, const QString &text) const
    {
        return FlowsTest::buttonIn(window.get(), container, text);
    }
    QString firstDeviceItem() const
    {
        QComboBox *combo = find<QComboBox>("comboBox");
        return combo->count() > 0 ? combo->itemText(0) : QString();
    }
    // Presses Connect; true once the attempt ended.
    bool clickConnect()
    {
        find<QPushButton>("pushButton_Connect")->click();
        return QTest::qWaitFor([this] { return !window->connection().isConnecting(); }, 5000);
    }
    // Waits for the device in the list and presses Connect; true once connected.
    bool connectDevice()
    {
        const QDeadlineTimer deadline(5000);
        while (firstDeviceItem() != QLatin1String("ZK128") && !deadline.hasExpired())
            QTest::qWait(10);
        clickConnect();
        return window->isDeviceConnected();
    }
    bool play()
    {
        find<QPushButton>("pushButton_play")->click();
        return window->isCaptureRunning();
    }
    bool connectAndPlay() { return connectDevice() && play(); }
    // The next frame the window shows (after rotation and mirroring).
    QImage nextShownFrame()
    {
        QSignalSpy shown(&window->displayPipeline(), &DisplayPipeline::frameShown);
        if (!shown.wait(5000))
            return QImage();
        return shown.last().at(0).value<QImage>();
    }
    void clickCell(int column, int row, QEvent::Type type = QEvent::MouseButtonPress)
    {
        QLabel *label = window->liveView()->pictureLabel();
        const QPoint at(int((column + 0.5) * label->width() / 128.0), int((row + 0.5) * label->height() / 128.0));
        QMouseEvent event(type, QPointF(at), label->mapToGlobal(QPointF(at)), Qt::LeftButton, Qt::LeftButton,
                          Qt::NoModifier);
        QApplication::sendEvent(label, &event);
    }
    void doubleClickCell(int column, int row) { clickCell(column, row, QEvent::MouseButtonDblClick); }

    QTemporaryDir dir;
    FlowsTest::SimulatedDevice sim;
    ConsoleContext context;
    FlowsTest::MessageBoxAnswerer boxes;
    std::unique_ptr<MainWindow> window; // destroyed first: before the simulator it talks to
};
