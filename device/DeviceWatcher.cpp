#include "DeviceWatcher.h"

#include "D2xxBackend.h"
#include "SimulatorBackend.h"
#include "ZK128Device.h"

#ifdef TESSIVO_HAVE_UDEV
#include "UdevMonitor.h"
#endif

#include <QMetaObject>
#include <QPointer>

#include <mutex>

// The bridge between the device's callback, which may run on any thread and
// may outlive the watcher, and the watcher itself. The watcher clears target
// under the mutex before it goes, so a callback never posts to a dead object;
// events already posted die with the watcher.
struct DeviceWatcher::Relay {
    std::mutex mutex;
    DeviceWatcher *target = nullptr; // guarded by mutex

    void post(bool arrived)
    {
        std::lock_guard<std::mutex> lock(mutex);
        if (!target)
            return;
        DeviceWatcher *watcher = target;
        QMetaObject::invokeMethod(
            watcher, [watcher, arrived] { emit watcher->deviceChanged(arrived); },
            Qt::QueuedConnection);
    }
};

DeviceWatcher::DeviceWatcher(const std::shared_ptr<D2xxBackend> &backend, QObject *parent)
    : QObject(parent)
{
    if (auto *simulator = dynamic_cast<SimulatorBackend *>(backend.get()))
        watchDevice(simulator->device());
    else
        watchUsb();
}

DeviceWatcher::DeviceWatcher(std::shared_ptr<ZK128Device> device, QObject *parent) : QObject(parent)
{
    watchDevice(std::move(device));
}

DeviceWatcher::~DeviceWatcher()
{
    if (m_relay) {
        std::lock_guard<std::mutex> lock(m_relay->mutex);
        m_relay->target = nullptr;
    }
    if (m_device)
        m_device->setHotplugCallback(nullptr);
}

void DeviceWatcher::watchDevice(std::shared_ptr<ZK128Device> device)
{
    if (!device) {
        m_status = QStringLiteral("No simulated device to watch for plug events.");
        return;
    }
    m_device = std::move(device);
    m_relay = std::make_shared<Relay>();
    m_relay->target = this;
    std::weak_ptr<Relay> relay = m_relay;
    m_device->setHotplugCallback([relay](bool arrived) {
        if (auto alive = relay.lock())
            alive->post(arrived);
    });
    m_watching = true;
    m_status = QStringLiteral("Watching the simulated ZK128 for plug events.");
}

void DeviceWatcher::watchUsb()
{
#if defined(Q_OS_WIN)
    m_status = QStringLiteral("Device changes arrive as window messages on this platform.");
#elif defined(TESSIVO_HAVE_UDEV)
    auto *monitor = new UdevMonitor(this);
    if (!monitor->isActive()) {
        m_status = QStringLiteral("USB devices are not watched: %1.").arg(monitor->error());
        delete monitor;
        return;
    }
    connect(monitor, &UdevMonitor::deviceChanged, this, &DeviceWatcher::deviceChanged);
    m_watching = true;
    m_status = QStringLiteral("Watching the USB bus for FTDI devices.");
#else
    m_status = QStringLiteral("USB devices are not watched: the console was built without libudev.");
#endif
}
