#include "app/DeviceConnection.h"

#include "acquisition/DeviceHandleUser.h"
#include "app/DeviceList.h"
#include "app/WorkerGate.h"
#include "device/BatteryReport.h"
#include "device/D2xxBackend.h"
#include "device/DeviceProtocol.h"
#include "device/DeviceSession.h"
#include "device/DeviceWatcher.h"
#include "services/EventLog.h"

#include <QComboBox>
#include <QPushButton>
#include <QTimer>
#include <QWidget>

DeviceConnection::DeviceConnection(const ConnectionWidgets &widgets, ConsoleState &state, DeviceHandleUser &worker,
                                   DeviceSession &session, WorkerGate &gate, QTimer &batteryTimer,
                                   std::function<void()> stopSequence, EventLog &log, OperatorMessage::Sink message,
                                   QObject *parent)
    : QObject(parent)
    , m_log(log)
    , ui(widgets)
    , state(state)
    , worker(worker)
    , session(session)
    , gate(gate)
    , batteryTimer(batteryTimer)
    , stopSequence(std::move(stopSequence))
    , message(std::move(message))
    , list(new DeviceList(widgets.deviceList, session, this))
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
        m_log.line(watcher->status().toUtf8());
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

QString DeviceConnection::serial() const
{
    return session.serial();
}

void DeviceConnection::forgetDevice()
{
    state.connected = false;
    state.configured = false;
    showBattery(std::nullopt);
}

void DeviceConnection::showBattery(std::optional<double> volts)
{
    m_batteryVolts = volts;
    ui.battery->setToolTip(QStringLiteral("Battery: %1").arg(BatteryReport::text(volts)));
}

void DeviceConnection::disconnectDevice()
{
    ui.connect->setText(QStringLiteral("Connect"));
    forgetDevice();
    showConnected(false);
    closeHandle();
    m_log.line("Device disconnected.");
}

void DeviceConnection::connectDevice()
{
    if (gate.isWaiting(WorkerGate::Job::CloseDevice)) {
        // The last capture is still finishing on the old handle.
        message(QStringLiteral("The device is still being closed; please try again in a moment."));
        return;
    }
    if (session.open() != FT_OK) {
        message(QStringLiteral("No Device Connected."));
        return;
    }
    session.configure();

    const AcknowledgementWait::Result greeting = session.handshake();
    if (!greeting.acknowledged) {
        message(QStringLiteral("Device connection failed."));
        ui.connect->setText(QStringLiteral("Connect"));
        closeHandle();
        forgetDevice();
        showConnected(false);
        m_log.line("Device connection failed.");
        if (greeting.corrupt)
            m_log.line(DeviceSession::corruptAnswer(session.serial(), QStringLiteral("handshake"), greeting).toUtf8());
        return;
    }

    m_log.hexBytes(greeting.reply.data(), int(greeting.reply.size()));
    ui.connect->setText(QStringLiteral("Disconnect"));
    worker.useDevice(session.handle(), session.lastStatus());
    state.connected = true;
    state.configured = false; // a new connection: the device may run anything
    showConnected(true);
    m_log.line("Device connection successful.");
    pollBattery();
    batteryTimer.start(kBatteryIntervalMs);
    if (onConnected)
        onConnected();
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
    gate.whenParked(WorkerGate::Job::Battery, [this] {
        if (!state.connected || state.running)
            return;
        const BatteryQuery::Result answer = session.readBattery();
        m_log.line(BatteryReport::logLine(answer).toUtf8());
        showBattery(BatteryReport::volts(answer));
        if (answer.hasReading)
            ui.gauge->setFixedSize(DeviceProtocol::batteryGaugeWidth(answer.reading), 10);
    });
}

void DeviceConnection::deviceChanged()
{
    refreshDeviceList();
    if (!state.connected)
        return;
    // Whatever device the notification concerned, ask the held one: a device
    // that is gone (or came back as a new power-up) no longer answers on it.
    if (session.probe() != FT_OK)
        deviceLost();
}

void DeviceConnection::deviceLost()
{
    ui.connect->setText(QStringLiteral("Connect"));
    if (onGivenUp)
        onGivenUp(QStringLiteral("the device was disconnected"));
    stopSequence();
    forgetDevice();
    showConnected(false);
    closeHandle();
    message(QStringLiteral("Device disconnected."));
    m_log.line("Device disconnected.");
}

void DeviceConnection::dropFailedDevice(const QString &failure)
{
    if (!state.connected)
        return; // already given up, and the operator told
    if (session.probe() != FT_OK) {
        deviceLost();
        return;
    }
    reportWorkerError(failure);
}

void DeviceConnection::reportWorkerError(const QString &errorMessage)
{
    m_log.line(errorMessage.toUtf8());
    if (!state.connected) {
        // The device was already given up (device loss or disconnect) and the
        // operator told so; the worker's last failing reads only reach the log.
        return;
    }
    if (onGivenUp)
        onGivenUp(QStringLiteral("the device stopped answering"));
    if (state.running)
        stopSequence();
    forgetDevice();
    ui.play->hide();
    ui.connect->setText(QStringLiteral("Connect"));
    // Closed here, so that Connect can open the device again.
    closeHandle();
    message(QStringLiteral("Error Occurred."));
}

void DeviceConnection::closeHandle()
{
    // The worker keeps its copy until the close: it may still be finishing a
    // frame on this handle, and the close waits for it to park.
    gate.whenParked(WorkerGate::Job::CloseDevice, [this] {
        session.close();
        worker.useDevice(nullptr);
    });
}

void DeviceConnection::closeOnExit()
{
    session.close();
    worker.useDevice(nullptr);
}
