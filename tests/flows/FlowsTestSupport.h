#pragma once

#include "acquisition/ReceiverThread.h"
#include "app/OperatorMessage.h"
#include "device/D2xxTypes.h"
#include "tests/support/TestContext.h"

#include <QApplication>
#include <QObject>
#include <QPushButton>
#include <QWidget>
#include <QStringList>
#include <QThread>
#include <QTimer>
#include <QtTest>

#include <memory>

class D2xxBackend;
class SimulatorBackend;
class ZK128Device;

namespace FlowsTest {

// The named widget under root; a missing one ends the test run at once.
template <typename T>
T *findWidget(const QWidget *root, const char *name)
{
    T *widget = root->findChild<T *>(QString::fromLatin1(name));
    if (!widget)
        qFatal("no widget %s", name);
    return widget;
}

// The push button with this text inside the named container.
inline QPushButton *buttonIn(const QWidget *root, const char *container, const QString &text)
{
    for (QPushButton *button : findWidget<QWidget>(root, container)->findChildren<QPushButton *>())
        if (button->text() == text)
            return button;
    qFatal("no button %s", qPrintable(text));
    return nullptr;
}

// Points QSettings at a fresh temporary folder; call before QApplication exists.
void isolateSettings();

// Records what a flow tells the operator instead of showing message boxes.
struct MessageRecorder
{
    QStringList texts;
    OperatorMessage::Sink sink()
    {
        return [this](const QString &text) { texts << text; };
    }
};

// Answers every message box that appears: records its text and presses OK,
// so no test is ever left blocked in a modal box. Polls on a timer from the
// box's own event loop.
class MessageBoxAnswerer : public QObject
{
public:
    MessageBoxAnswerer();
    QStringList texts;

private:
    void answer();
    QTimer poll;
};

// A simulated ZK128 and a console context running on it (its folders in a
// temporary folder).
struct SimulatedDevice
{
    SimulatedDevice();
    // Opens and configures the device the way the connect flow does.
    FT_HANDLE open();
    const ConsoleContext &context() const { return test->context; }

    std::shared_ptr<ZK128Device> device;
    std::shared_ptr<SimulatorBackend> backend;
    std::unique_ptr<TestContext> test;
};

// The acquisition worker in its own thread, parked, as the window keeps it.
struct RunningWorker
{
    explicit RunningWorker(const ConsoleContext &context);
    ~RunningWorker();

    QThread thread;
    ReceiverThread worker;
};

} // namespace FlowsTest

// A QtTest main with the settings store isolated before the application exists.
#define FLOWS_TEST_MAIN(TestObject)                                                                               \
    int main(int argc, char **argv)                                                                                \
    {                                                                                                              \
        FlowsTest::isolateSettings();                                                                              \
        QApplication app(argc, argv);                                                                              \
        TestObject tc;                                                                                             \
        return QTest::qExec(&tc, argc, argv);                                                                      \
    }
