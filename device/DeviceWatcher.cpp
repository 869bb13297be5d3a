#include "device/DeviceWatcher.h"

#include "device/D2xxBackend.h"

#ifdef TESSIVO_HAVE_UDEV
#include "device/UdevMonitor.h"
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

DeviceWatcher::DeviceWatcher(std::shared_ptr<D2xxBackend> backend, QObject *parent)
    : QObject(parent)
    , m_backend(std::move(backend))
{
    if (!watchBackend())
        watchUsb();
}

DeviceWatcher::~DeviceWatcher()
{
    if (m_relay) {
        std::lock_guard<std::mutex> lock(m_relay->mutex);
        m_relay->target = nullptr;
    }
    if (m_backend)
        m_backend->setHotplugCallback(nullptr);
}

bool DeviceWatcher::watchBackend()
{
    if (!m_backend)
        return false;
    m_relay = std::make_shared<Relay>();
    m_relay->target = this;
    std::weak_ptr<Relay> relay = m_relay;
    const bool reported = m_backend->setHotplugCallback([relay](bool arrived) {
        if (auto alive = relay.lock())
            alive->post(arrived);
    });
    if (!reported) {
        m_relay.reset();
        m_backend.reset();
        return false;
    }
    m_watching = true;
    m_status = QStringLiteral("Watching %1 for plug events.").arg(m_backend->name());
    return true;
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
