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
    , m_ui(widgets)
    , m_state(state)
    , m_worker(worker)
    , m_session(session)
    , m_gate(gate)
    , m_batteryTimer(batteryTimer)
    , m_stopSequence(std::move(stopSequence))
    , m_message(std::move(message))
    , m_list(new DeviceList(widgets.deviceList, session, this))
{
}

DeviceConnection::~DeviceConnection() = default;

void DeviceConnection::refreshDeviceList()
{
    m_list->refresh();
}

void DeviceConnection::watchDevices(const std::shared_ptr<D2xxBackend> &watched)
{
    delete m_watcher;
    m_watcher = new DeviceWatcher(watched, this);
    connect(m_watcher, &DeviceWatcher::deviceChanged, this, [this](bool) { deviceChanged(); });
    if (!m_watcher->isWatching())
        m_log.line(m_watcher->status().toUtf8());
}

void DeviceConnection::toggleConnection()
{
    if (m_state.running) {
        m_message(QStringLiteral("Device is running"));
        return;
    }
    if (m_state.connected)
        disconnectDevice();
    else
        connectDevice();
}

QString DeviceConnection::serial() const
{
    return m_session.serial();
}

void DeviceConnection::forgetDevice()
{
    m_state.connected = false;
    m_state.configured = false;
    showBattery(std::nullopt);
}

void DeviceConnection::showBattery(std::optional<double> volts)
{
    m_batteryVolts = volts;
    m_ui.battery->setToolTip(QStringLiteral("Battery: %1").arg(BatteryReport::text(volts)));
}

void DeviceConnection::disconnectDevice()
{
    m_ui.connect->setText(QStringLiteral("Connect"));
    forgetDevice();
    showConnected(false);
    closeHandle();
    m_log.line("Device disconnected.");
}

void DeviceConnection::connectDevice()
{
    if (m_gate.isWaiting(WorkerGate::Job::CloseDevice)) {
        // The last capture is still finishing on the old handle.
        m_message(QStringLiteral("The device is still being closed; please try again in a moment."));
        return;
    }
    if (m_session.open() != FT_OK) {
        m_message(QStringLiteral("No Device Connected."));
        return;
    }
    m_session.configure();

    const AcknowledgementWait::Result greeting = m_session.handshake();
    if (!greeting.acknowledged) {
        m_message(QStringLiteral("Device connection failed."));
        m_ui.connect->setText(QStringLiteral("Connect"));
        closeHandle();
        forgetDevice();
        showConnected(false);
        m_log.line("Device connection failed.");
        if (greeting.corrupt)
            m_log.line(DeviceSession::corruptAnswer(m_session.serial(), QStringLiteral("handshake"), greeting).toUtf8());
        return;
    }

    m_log.hexBytes(greeting.reply.data(), int(greeting.reply.size()));
    m_ui.connect->setText(QStringLiteral("Disconnect"));
    m_worker.useDevice(m_session.handle(), m_session.lastStatus());
    m_state.connected = true;
    m_state.configured = false; // a new connection: the device may run anything
    showConnected(true);
    m_log.line("Device connection successful.");
    pollBattery();
    m_batteryTimer.start(kBatteryIntervalMs);
    if (m_onConnected)
        m_onConnected();
}

void DeviceConnection::showConnected(bool connected)
{
    m_ui.play->setVisible(connected);
    m_ui.battery->setVisible(connected);
}

void DeviceConnection::pollBattery()
{
    // A closed handle has nothing to say, and during a capture only the worker
    // talks to the device.
    if (!m_state.connected || m_state.running)
        return;
    m_gate.whenParked(WorkerGate::Job::Battery, [this] {
        if (!m_state.connected || m_state.running)
            return;
        const BatteryQuery::Result answer = m_session.readBattery();
        m_log.line(BatteryReport::logLine(answer).toUtf8());
        showBattery(BatteryReport::volts(answer));
        if (answer.hasReading)
            m_ui.gauge->setFixedSize(DeviceProtocol::batteryGaugeWidth(answer.reading), 10);
    });
}

void DeviceConnection::deviceChanged()
{
    refreshDeviceList();
    if (!m_state.connected)
        return;
    // Whatever device the notification concerned, ask the held one: a device
    // that is gone (or came back as a new power-up) no longer answers on it.
    if (m_session.probe() != FT_OK)
        deviceLost();
}

void DeviceConnection::deviceLost()
{
    m_ui.connect->setText(QStringLiteral("Connect"));
    if (m_onGivenUp)
        m_onGivenUp(QStringLiteral("the device was disconnected"));
    m_stopSequence();
    forgetDevice();
    showConnected(false);
    closeHandle();
    m_message(QStringLiteral("Device disconnected."));
    m_log.line("Device disconnected.");
}

void DeviceConnection::dropFailedDevice(const QString &failure)
{
    if (!m_state.connected)
        return; // already given up, and the operator told
    if (m_session.probe() != FT_OK) {
        deviceLost();
        return;
    }
    reportWorkerError(failure);
}

void DeviceConnection::reportWorkerError(const QString &errorMessage)
{
    m_log.line(errorMessage.toUtf8());
    if (!m_state.connected) {
        // The device was already given up (device loss or disconnect) and the
        // operator told so; the worker's last failing reads only reach the log.
        return;
    }
    if (m_onGivenUp)
        m_onGivenUp(QStringLiteral("the device stopped answering"));
    if (m_state.running)
        m_stopSequence();
    forgetDevice();
    m_ui.play->hide();
    m_ui.connect->setText(QStringLiteral("Connect"));
    // Closed here, so that Connect can open the device again.
    closeHandle();
    m_message(QStringLiteral("Error Occurred."));
}

void DeviceConnection::closeHandle()
{
    // The worker keeps its copy until the close: it may still be finishing a
    // frame on this handle, and the close waits for it to park.
    m_gate.whenParked(WorkerGate::Job::CloseDevice, [this] {
        m_session.close();
        m_worker.useDevice(nullptr);
    });
}

void DeviceConnection::closeOnExit()
{
    m_session.close();
    m_worker.useDevice(nullptr);
}
