#pragma once

#include <QObject>
#include <QString>

#include <memory>

class D2xxBackend;
class UdevMonitor;

// Tells the main window when a device arrives or leaves, whichever backend is
// in use: the backend's own plug events when it has them (the built-in
// simulator), or, with the vendor library on Linux, the kernel's USB events
// for FTDI devices (through libudev). On Windows the main window receives
// WM_DEVICECHANGE itself and this watcher stays silent.
//
// Thread contract: a watcher lives in the thread that created it and emits
// deviceChanged there. A backend calls its plug callback from whatever thread
// plugs or unplugs; the watcher re-posts each event to its own thread.
class DeviceWatcher : public QObject
{
    Q_OBJECT

public:
    // Watches what suits the backend: its own plug events when it reports
    // them, the USB bus otherwise.
    explicit DeviceWatcher(std::shared_ptr<D2xxBackend> backend, QObject *parent = nullptr);
    ~DeviceWatcher() override;

    // False when nothing can be watched (no libudev, no netlink access, or
    // Windows); status() then says why in one sentence for the log.
    bool isWatching() const { return m_watching; }
    QString status() const { return m_status; }

signals:
    void deviceChanged(bool arrived);

private:
    struct Relay;
    bool watchBackend();
    void watchUsb();

    std::shared_ptr<D2xxBackend> m_backend; // the backend whose callback is installed, or null
    std::shared_ptr<Relay> m_relay;         // shared with the backend's callback
    bool m_watching = false;               // written in the constructor only
    QString m_status;                      // idem
};
