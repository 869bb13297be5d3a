#include "device/UdevMonitor.h"

#include <QSocketNotifier>

#include <cstring>
#include <libudev.h>

UdevMonitor::UdevMonitor(QObject *parent) : QObject(parent)
{
    m_udev = udev_new();
    if (!m_udev) {
        m_error = QStringLiteral("libudev could not be initialised");
        return;
    }
    m_monitor = udev_monitor_new_from_netlink(m_udev, "udev");
    if (!m_monitor) {
        m_error = QStringLiteral("the udev event socket could not be opened");
        return;
    }
    if (udev_monitor_filter_add_match_subsystem_devtype(m_monitor, "usb", "usb_device") < 0
        || udev_monitor_enable_receiving(m_monitor) < 0) {
        m_error = QStringLiteral("the udev event socket refused the USB filter");
        return;
    }
    const int fd = udev_monitor_get_fd(m_monitor);
    if (fd < 0) {
        m_error = QStringLiteral("the udev event socket has no descriptor");
        return;
    }
    m_notifier = new QSocketNotifier(fd, QSocketNotifier::Read, this);
    connect(m_notifier, &QSocketNotifier::activated, this, &UdevMonitor::receive);
}

UdevMonitor::~UdevMonitor()
{
    delete m_notifier; // before the socket it watches goes away
    m_notifier = nullptr;
    if (m_monitor)
        udev_monitor_unref(m_monitor);
    if (m_udev)
        udev_unref(m_udev);
}

bool UdevMonitor::isFtdiDevice(const char *idVendorProperty, const char *product,
                               const char *idVendorAttribute)
{
    const auto isFtdi = [](const char *vendor) {
        return vendor && std::strcmp(vendor, "0403") == 0;
    };
    if (isFtdi(idVendorProperty) || isFtdi(idVendorAttribute))
        return true;
    // The kernel's PRODUCT is "vendor/product/release" in hex without leading
    // zeros; it is there on removal too, when the attributes are gone.
    return product && std::strncmp(product, "403/", 4) == 0;
}

int UdevMonitor::direction(const char *action)
{
    if (!action)
        return 0;
    if (std::strcmp(action, "add") == 0)
        return 1;
    if (std::strcmp(action, "remove") == 0)
        return -1;
    return 0;
}

void UdevMonitor::receive()
{
    // One activation may stand for several queued events: drain them all.
    while (udev_device *device = udev_monitor_receive_device(m_monitor)) {
        const int change = direction(udev_device_get_action(device));
        const bool ftdi = change != 0
            && isFtdiDevice(udev_device_get_property_value(device, "ID_VENDOR_ID"),
                            udev_device_get_property_value(device, "PRODUCT"),
                            udev_device_get_sysattr_value(device, "idVendor"));
        udev_device_unref(device);
        if (ftdi)
            emit deviceChanged(change > 0);
    }
}
