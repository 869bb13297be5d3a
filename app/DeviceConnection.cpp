#include "DeviceConnection.h"

#include "AcknowledgementWait.h"
#include "BatteryQuery.h"
#include "D2xxBackend.h"
#include "DeviceList.h"
#include "DeviceProtocol.h"
#include "DeviceWatcher.h"
#include "Log.h"
#include "ReceiverThread.h"
#include "WorkerParking.h"

#include <QComboBox>
#include <QPushButton>
#include <QThread>
#include <QTimer>
#include <QWidget>

DeviceConnection::DeviceConnection(const ConnectionWidgets &widgets, ConsoleState &state, ReceiverThread &worker,
                                   const QThread &workerThread, QTimer &batteryTimer, D2xxBackend &backend,
                                   std::function<void()> stopSequence, OperatorMessage::Sink message,
                                   QObject *parent)
    : QObject(parent)
    , ui(widgets)
    , state(state)
    , worker(worker)
    , workerThread(workerThread)
    , batteryTimer(batteryTimer)
    , backend(backend)
    , stopSequence(std::move(stopSequence))
    , message(std::move(message))
    , list(new DeviceList(widgets.deviceList, backend, this))
{
}

DeviceConnection::~DeviceConnection() = default;

void DeviceConnection::refreshDeviceList()
{
    list->refresh();
}

void DeviceConnection::watchDevices(const std::shared_ptr<D2xxBackend> &watched)
{
    delete watcher;
    watcher = new DeviceWatcher(watched, this);
    connect(watcher, &DeviceWatcher::deviceChanged, this, [this](bool) { deviceChanged(); });
    if (!watcher->isWatching())
        logLine(watcher->status().toUtf8());
}

void DeviceConnection::toggleConnection()
{
    if (state.running) {
        message(QStringLiteral("Device is running"));
        return;
    }
    if (state.connected)
        disconnectDevice();
    else
        connectDevice();
}

void DeviceConnection::disconnectDevice()
{
    ui.connect->setText(QStringLiteral("Connect"));
    state.connected = false;
    showConnected(false);
    closeHandle();
    logLine("Device disconnected.");
}

void DeviceConnection::connectDevice()
{
    FT_HANDLE handle = nullptr;
    state.deviceStatus = backend.openEx(SerialNumber, FT_OPEN_BY_SERIAL_NUMBER, &handle);
    if (state.deviceStatus != FT_OK) {
        message(QStringLiteral("No Device Connected."));
        return;
    }
    state.deviceHandle = handle;
    configure();

    const AcknowledgementWait::Result greeting = AcknowledgementWait(backend, handle).handshake();
    state.deviceStatus = greeting.lastStatus;
    if (!greeting.acknowledged) {
        message(QStringLiteral("Device connection failed."));
        ui.connect->setText(QStringLiteral("Connect"));
        closeHandle();
        state.connected = false;
        showConnected(false);
        logLine("Device connection failed.");
        return;
    }

    logHexBytes(greeting.reply.data(), int(greeting.reply.size()));
    ui.connect->setText(QStringLiteral("Disconnect"));
    worker.lastStatus.store(state.deviceStatus);
    worker.deviceHandle.store(handle);
    state.connected = true;
    showConnected(true);
    logLine("Device connection successful.");
    pollBattery();
    batteryTimer.start(BatteryIntervalMs);
}

void DeviceConnection::configure()
{
    // Only the reset's result is kept; the rest are not examined.
    const FT_HANDLE handle = state.deviceHandle;
    state.deviceStatus = backend.resetDevice(handle);
    backend.purge(handle, FT_PURGE_RX | FT_PURGE_TX);
    backend.setBitMode(handle, 0x00, FT_BITMODE_SYNC_FIFO);
    backend.setUsbParameters(handle, 65536, 65536);
    backend.setFlowControl(handle, FT_FLOW_RTS_CTS, 0, 0);
    backend.setTimeouts(handle, 2000, 1000);
}

void DeviceConnection::showConnected(bool connected)
{
    ui.play->setVisible(connected);
    ui.battery->setVisible(connected);
}

void DeviceConnection::pollBattery()
{
    // A closed handle has nothing to say, and during a capture only the worker
    // talks to the device.
    if (!state.connected || state.running)
        return;
    if (!WorkerParking::ensureParked(worker, workerThread)) {
        logLine("Battery poll skipped: the capture is still finishing.");
        return;
    }
    const BatteryQuery::Result answer = BatteryQuery(backend, state.deviceHandle).run();
    state.deviceStatus = answer.lastStatus;
    if (!answer.hasReading)
        return;
    ui.gauge->setFixedSize(DeviceProtocol::batteryGaugeWidth(answer.reading), 10);
}

void DeviceConnection::deviceChanged()
{
    refreshDeviceList();
    if (!state.connected)
        return;
    // Whatever device the notification concerned, ask the held one: a device
    // that is gone (or came back as a new power-up) no longer answers on it.
    DWORD rx = 0, tx = 0, events = 0;
    state.deviceStatus = backend.getStatus(state.deviceHandle, &rx, &tx, &events);
    if (state.deviceStatus != FT_OK)
        deviceLost();
}

void DeviceConnection::deviceLost()
{
    ui.connect->setText(QStringLiteral("Connect"));
    stopSequence();
    state.connected = false;
    showConnected(false);
    closeHandle();
    message(QStringLiteral("Device disconnected."));
    logLine("Device disconnected.");
}

void DeviceConnection::workerError(const QString &errorMessage)
{
    logLine(errorMessage.toUtf8());
    if (!state.connected) {
        // The device was already given up (device loss or disconnect) and the
        // operator told so; the worker's last failing reads only reach the log.
        return;
    }
    if (state.running)
        stopSequence();
    state.connected = false;
    ui.play->hide();
    ui.connect->setText(QStringLiteral("Connect"));
    // Closed here, so that Connect can open the device again.
    closeHandle();
    message(QStringLiteral("Error Occurred."));
}

void DeviceConnection::closeHandle()
{
    if (!WorkerParking::ensureParked(worker, workerThread))
        logLine("The capture did not finish in time; the device is closed regardless.");
    if (state.deviceHandle)
        state.deviceStatus = backend.close(state.deviceHandle);
    state.deviceHandle = nullptr;
    worker.deviceHandle.store(nullptr);
}

void DeviceConnection::closeOnExit()
{
    if (state.deviceHandle) {
        backend.close(state.deviceHandle);
        state.deviceHandle = nullptr;
        worker.deviceHandle.store(nullptr);
    }
}
