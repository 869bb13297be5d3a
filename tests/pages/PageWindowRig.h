#pragma once

#include "FlowsTestSupport.h"

#include "MainWindow.h"
#include "SimulatorBackend.h"
#include "KeepRatioWidget.h"
#include "DisplayPipeline.h"
#include "TestPictureWriter.h"
#include "ZK128Device.h"

#include <QComboBox>
#include <QLabel>
#include <QMouseEvent>
#include <QPushButton>
#include <QTemporaryDir>

#include <memory>

// The real main window on the simulated ZK128, with its detect folder and
// working directory in a temporary folder and every message box answered.
struct PageWindowRig
{
    PageWindowRig()
        : previousDirectory(QDir::currentPath())
        , context(sim.backend,
                  ConsolePaths{dir.path() + QStringLiteral("/detect"), dir.path() + QStringLiteral("/result"),
                               dir.path() + QStringLiteral("/log.txt")},
                  SettingsIdentity(), sim.device)
    {
        QDir::setCurrent(dir.path());
        sim.device->setBatteryReading(2400);
        window = std::make_unique<MainWindow>(context);
        window->show();
    }
    ~PageWindowRig()
    {
        window.reset();
        QDir::setCurrent(previousDirectory);
    }

    QString detectFolder() const { return dir.path() + QStringLiteral("/detect"); }

    template <typename T>
    T *find(const char *name) const
    {
        return FlowsTest::findWidget<T>(window.get(), name);
    }
    QPushButton *buttonNamed(const char *container, const QString &text) const
    {
        return FlowsTest::buttonIn(window.get(), container, text);
    }
    bool connectAndPlay()
    {
        QComboBox *combo = find<QComboBox>("comboBox");
        QDeadlineTimer deadline(5000);
        while (!(combo->count() > 0 && combo->itemText(0) == QLatin1String("ZK128")) && !deadline.hasExpired())
            QTest::qWait(10);
        find<QPushButton>("pushButton_Connect")->click();
        if (!window->isDeviceConnected())
            return false;
        find<QPushButton>("pushButton_play")->click();
        return window->isCaptureRunning();
    }
    void doubleClickCell(int column, int row)
    {
        QLabel *label = window->liveView()->pictureLabel();
        const QPoint at(int((column + 0.5) * label->width() / 128.0), int((row + 0.5) * label->height() / 128.0));
        QMouseEvent dbl(QEvent::MouseButtonDblClick, QPointF(at), label->mapToGlobal(QPointF(at)), Qt::LeftButton,
                        Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(label, &dbl);
    }

    QString previousDirectory;
    QTemporaryDir dir;
    FlowsTest::SimulatedDevice sim;
    ConsoleContext context;
    FlowsTest::MessageBoxAnswerer boxes;
    std::unique_ptr<MainWindow> window; // destroyed first: before the simulator it talks to
};
