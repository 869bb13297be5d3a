#pragma once

#include <QObject>

class DeviceSession;
class QComboBox;
class QTimer;

// The device combo box: what is attached, by serial number. A refresh clears
// the box and then, once a second, asks the D2XX layer for the device list
// until every attached device's serial number is readable (or ten seconds
// have passed). The box only displays; connecting always uses "ZK128".
//
// Thread contract: GUI thread only.
class DeviceList : public QObject
{
    Q_OBJECT

public:
    static constexpr int kTickMs = 1000;
    static constexpr int kMaxAttempts = 10;

    DeviceList(QComboBox *combo, DeviceSession &session, QObject *parent = nullptr);

    // Starts a refresh. A refresh started while another still ticks resets the
    // shared attempt counter; both timers then tick.
    void refresh();
    int attempts() const { return m_attemptCounter; }
    // The pace of later refreshes (tests shorten it; the window keeps 1 s).
    void setTickInterval(int ms) { m_tickMs = ms; }
    int activeRefreshes() const;

private:
    // One tick of a refresh; finishes the refresh (timer stopped and released)
    // unless the serial numbers are still unreadable.
    void fill(QTimer *timer);
    static void finish(QTimer *timer);

    QComboBox *m_combo;
    DeviceSession &m_session;
    int m_attemptCounter = 0;
    int m_tickMs = kTickMs;
};
