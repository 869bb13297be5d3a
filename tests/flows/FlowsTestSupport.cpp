#include "tests/flows/FlowsTestSupport.h"

#include "simulator/SimulatorBackend.h"
#include "simulator/ZK128Device.h"

#include <QAbstractButton>
#include <QMessageBox>
#include <QTemporaryDir>

#include <cstdlib>

namespace FlowsTest {

void isolateSettings()
{
    static QTemporaryDir settingsHome; // lives as long as the process
    qputenv("XDG_CONFIG_HOME", settingsHome.path().toUtf8());
}

MessageBoxAnswerer::MessageBoxAnswerer()
{
    connect(&poll, &QTimer::timeout, this, &MessageBoxAnswerer::answer);
    poll.start(10);
}

void MessageBoxAnswerer::answer()
{
    for (QWidget *widget : QApplication::topLevelWidgets()) {
        auto *box = qobject_cast<QMessageBox *>(widget);
        if (!box || !box->isVisible())
            continue;
        texts << box->text();
        if (QAbstractButton *ok = box->button(QMessageBox::Ok))
            ok->click();
        else
            box->reject();
    }
}

SimulatedDevice::SimulatedDevice()
    : device(std::make_shared<ZK128Device>())
    , backend(std::make_shared<SimulatorBackend>(device))
{
    device->setReplyDelay(std::chrono::microseconds(200));
    test = std::make_unique<TestContext>(backend, device);
}

FT_HANDLE SimulatedDevice::open()
{
    FT_HANDLE handle = nullptr;
    if (backend->openEx("ZK128", FT_OPEN_BY_SERIAL_NUMBER, &handle) != FT_OK)
        return nullptr;
    backend->setBitMode(handle, 0x00, FT_BITMODE_SYNC_FIFO);
    backend->setTimeouts(handle, 2000, 1000);
    return handle;
}

RunningWorker::RunningWorker(const ConsoleContext &context)
    : worker(context)
{
    worker.moveToThread(&thread);
    QObject::connect(&thread, &QThread::started, &worker, &ReceiverThread::process);
    thread.start();
    worker.pause();
    worker.waitUntilParked(5000);
}

RunningWorker::~RunningWorker()
{
    worker.requestStop();
    worker.shutdown();
    thread.quit();
    thread.wait();
}

} // namespace FlowsTest
