#pragma once

#include <QObject>

class QSocketNotifier;
struct udev;
struct udev_monitor;

// Watches the kernel's USB device events through libudev and reports FTDI
// devices (vendor 0403) arriving and leaving. Only built where libudev is.
//
// Thread contract: lives in the thread that created it; the socket notifier
// delivers on that thread's event loop.
class UdevMonitor : public QObject
{
    Q_OBJECT

public:
    explicit UdevMonitor(QObject *parent = nullptr);
    ~UdevMonitor() override;

    // False when the udev monitor could not be set up (no netlink access, for
    // example in a container); error() then says why.
    bool isActive() const { return m_notifier != nullptr; }
    QString error() const { return m_error; }

    // Whether an event's properties describe an FTDI device: ID_VENDOR_ID or
    // the idVendor attribute "0403", or a PRODUCT of the form "403/...".
    // Any argument may be null (absent).
    static bool isFtdiDevice(const char *idVendorProperty, const char *product,
                             const char *idVendorAttribute);
    // "add" gives +1, "remove" -1, anything else 0.
    static int direction(const char *action);

signals:
    void deviceChanged(bool arrived);

private:
    void receive();

    udev *m_udev = nullptr;
    udev_monitor *m_monitor = nullptr;
    QSocketNotifier *m_notifier = nullptr; // child; null when inactive
    QString m_error;
};
