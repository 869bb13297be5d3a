#pragma once

#include "ConsoleState.h"
#include "OperatorMessage.h"

#include <QObject>
#include <QString>

#include <functional>
#include <memory>

class D2xxBackend;
class DeviceList;
class DeviceWatcher;
class QComboBox;
class QPushButton;
class QThread;
class QTimer;
class QWidget;
class ReceiverThread;

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
// Thread contract: GUI thread only. The window's own exchanges with the device
// are made only while the worker is parked (WorkerParking), so the two threads
// never read the device at once.
class DeviceConnection : public QObject
{
    Q_OBJECT

public:
    static constexpr int BatteryIntervalMs = 300000;
    static constexpr const char *SerialNumber = "ZK128";

    // stopSequence is the capture control's stop sequence (device loss and
    // worker errors run it).
    DeviceConnection(const ConnectionWidgets &widgets, ConsoleState &state, ReceiverThread &worker,
                     const QThread &workerThread, QTimer &batteryTimer, D2xxBackend &backend,
                     std::function<void()> stopSequence, OperatorMessage::Sink message = OperatorMessage::modalBox(),
                     QObject *parent = nullptr);
    ~DeviceConnection() override;

    void refreshDeviceList();
    // Connect button: connect, or disconnect when connected.
    void toggleConnection();
    // Battery poll (also the battery timer's job).
    void pollBattery();
    // A device arrived or left (any device): refresh the list and, while
    // connected, check that the held device still answers.
    void deviceChanged();
    // The worker could not read the device.
    void workerError(const QString &message);
    // At exit, after the worker's thread has ended: release an open device.
    void closeOnExit();

    // Follows the D2XX layer's arrival and removal notifications (the built-in
    // simulator's plug events, or libudev on Linux).
    void watchDevices(const std::shared_ptr<D2xxBackend> &backend);
    DeviceList &deviceListRefresh() { return *list; }

private:
    void connectDevice();
    void disconnectDevice();
    void configure();
    void showConnected(bool connected);
    void deviceLost();
    // Waits for the worker to park, then closes the window's handle.
    void closeHandle();

    ConnectionWidgets ui;
    ConsoleState &state;
    ReceiverThread &worker;
    const QThread &workerThread;
    QTimer &batteryTimer;
    D2xxBackend &backend;
    std::function<void()> stopSequence;
    OperatorMessage::Sink message;
    DeviceList *list = nullptr;        // child
    DeviceWatcher *watcher = nullptr;  // child, or null
};
