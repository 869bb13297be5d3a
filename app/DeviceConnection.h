#pragma once

#include "app/ConsoleState.h"
#include "app/OperatorMessage.h"
#include "device/AcknowledgementWait.h"
#include "device/BatteryQuery.h"

#include <QObject>
#include <QString>

#include <functional>
#include <memory>
#include <optional>

class EventLog;
class D2xxBackend;
class DeviceList;
class DeviceSession;
class DeviceWatcher;
class WorkerGate;
class QComboBox;
class QPushButton;
class QThread;
class QTimer;
class QWidget;
class DeviceHandleUser;

// The widgets of the connection flow.
struct ConnectionWidgets
{
    QComboBox *deviceList = nullptr;  // comboBox
    QPushButton *connect = nullptr;   // pushButton_Connect
    QWidget *play = nullptr;          // widget_play, shown while connected
    QWidget *battery = nullptr;       // widget_bat, shown while connected
    QWidget *gauge = nullptr;         // widget_8, 0..16 pixels wide, 10 high
};

// The window's side of the device link: the device list, Connect and
// Disconnect with configuration and handshake, the battery gauge, device
// arrival and removal, and the worker's error reports.
//
// Every exchange goes through the console's DeviceSession; those that read
// the device (battery poll) or end it (close) pass through the WorkerGate, so
// they never overlap the worker's reads and never make the window wait long.
// Connect's own exchanges (open, configuration, handshake, the first battery
// reading) wait on the device for up to a second when it stays silent, so
// they run on a thread of their own while the gate is held; the window shows
// the outcome when the attempt ends.
//
// Thread contract: GUI thread only, but for attempt(), which runs on the
// connect attempt's thread while the gate is held and the connected flag is
// clear, so nothing else uses the session meanwhile (the device list's
// enumeration reads no session state).
class DeviceConnection : public QObject
{
    Q_OBJECT

public:
    static constexpr int kBatteryIntervalMs = 300000;

    // stopSequence is the capture control's stop sequence (device loss and
    // worker errors run it).
    DeviceConnection(const ConnectionWidgets &widgets, ConsoleState &state, DeviceHandleUser &worker,
                     DeviceSession &session, WorkerGate &gate, QTimer &batteryTimer,
                     std::function<void()> stopSequence, EventLog &log, OperatorMessage::Sink message = OperatorMessage::modalBox(),
                     QObject *parent = nullptr);
    ~DeviceConnection() override;

    void refreshDeviceList();
    // Connect button: connect, or disconnect when connected. A connect
    // returns at once; its outcome shows when the attempt ends.
    void toggleConnection();
    // A connect attempt is talking to the device.
    bool isConnecting() const { return m_connecting; }
    // Battery poll (also the battery timer's job).
    void pollBattery();
    // A device arrived or left (any device): refresh the list and, while
    // connected, check that the held device still answers.
    void deviceChanged();
    // The worker could not read the device.
    void reportWorkerError(const QString &message);
    // The worker's status query failed: the device is gone, or it answers no
    // more. Handled as device loss once the held device no longer answers.
    void dropFailedDevice(const QString &message);
    // At exit, after the worker's thread has ended: waits for a connect
    // attempt to end and releases an open device.
    void closeOnExit();
    // Runs once the device has been given up (device loss, worker error,
    // disconnect), before the handle is closed: an armed save run ends here.
    void setOnDeviceGivenUp(std::function<void(const QString &reason)> handler) { m_onGivenUp = std::move(handler); }
    // Runs once the device answered the handshake: the stored parameters go out.
    void setOnConnected(std::function<void()> handler) { m_onConnected = std::move(handler); }
    // The last battery voltage read on this connection; empty when unknown.
    std::optional<double> batteryVolts() const { return m_batteryVolts; }
    QString serial() const;

    // Follows the D2XX layer's arrival and removal notifications (the built-in
    // simulator's plug events, or libudev on Linux).
    void watchDevices(const std::shared_ptr<D2xxBackend> &backend);
    DeviceList &deviceListRefresh() { return *m_list; }

private:
    struct Attempt
    {
        FT_STATUS opened = FT_OK;
        AcknowledgementWait::Result greeting;
        BatteryQuery::Result battery; // read once the device greeted
    };

    EventLog &m_log; // safe from any thread
    void connectDevice();
    // On the attempt's thread: open, configure, shake hands, read the battery.
    Attempt attempt();
    void finishAttempt(const Attempt &result);
    // Waits for an attempt under way and ends the attempt thread.
    void endAttemptThread();
    void refuseConnection(const AcknowledgementWait::Result &greeting);
    void acceptConnection(const Attempt &result);
    void showBatteryAnswer(const BatteryQuery::Result &answer);
    void disconnectDevice();
    void showConnected(bool connected);
    void deviceLost();
    // Closes the handle once the worker has parked (at once when it is).
    void closeHandle();
    // Connected, configured and the battery go back to "not known".
    void forgetDevice();
    void showBattery(std::optional<double> volts);

    ConnectionWidgets m_ui;
    ConsoleState &m_state;
    DeviceHandleUser &m_worker; // the capture loop, which reads the open device
    DeviceSession &m_session;
    WorkerGate &m_gate;
    QTimer &m_batteryTimer;
    std::function<void()> m_stopSequence;
    std::function<void(const QString &reason)> m_onGivenUp;
    std::function<void()> m_onConnected;
    std::optional<double> m_batteryVolts;
    OperatorMessage::Sink m_message;
    DeviceList *m_list = nullptr;        // child
    DeviceWatcher *m_watcher = nullptr;  // child, or null
    // Connect attempts run on this thread, started once and kept for the
    // console's life, in the context object that lives there.
    std::unique_ptr<QThread> m_attemptThread;
    std::unique_ptr<QObject> m_attemptContext;
    bool m_connecting = false;           // an attempt was asked for and its outcome not yet shown
    bool m_changedDuringAttempt = false; // a device arrived or left while connecting
};
