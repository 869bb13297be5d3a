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
#include <QThread>
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
    , m_attemptThread(std::make_unique<QThread>())
    , m_attemptContext(std::make_unique<QObject>())
{
    m_attemptThread->setObjectName(QStringLiteral("connect attempt"));
    m_attemptContext->moveToThread(m_attemptThread.get());
    m_attemptThread->start();
}

DeviceConnection::~DeviceConnection()
{
    endAttemptThread();
}

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
    if (m_connecting)
        return; // the attempt under way shows its outcome
    if (m_gate.isWaiting(WorkerGate::Job::CloseDevice)) {
        // The last capture is still finishing on the old handle.
        m_message(QStringLiteral("The device is still being closed; please try again in a moment."));
        return;
    }
    m_gate.hold();
    m_changedDuringAttempt = false;
    m_connecting = true;
    QMetaObject::invokeMethod(m_attemptContext.get(), [this] {
        const Attempt result = attempt();
        QMetaObject::invokeMethod(this, [this, result] { finishAttempt(result); }, Qt::QueuedConnection);
    }, Qt::QueuedConnection);
}

DeviceConnection::Attempt DeviceConnection::attempt()
{
    Attempt result;
    result.opened = m_session.open();
    if (result.opened != FT_OK)
        return result;
    m_session.configure();
    result.greeting = m_session.handshake();
    if (result.greeting.acknowledged)
        result.battery = m_session.readBattery();
    return result;
}

void DeviceConnection::endAttemptThread()
{
    // An attempt under way ends first: the thread leaves its event loop only
    // after the event it is handling.
    m_attemptThread->quit();
    m_attemptThread->wait();
    m_connecting = false;
}

void DeviceConnection::finishAttempt(const Attempt &result)
{
    if (!m_connecting)
        return; // the console is closing, and closeOnExit released the device
    m_connecting = false;
    if (result.opened != FT_OK) {
        m_gate.release();
        m_message(QStringLiteral("No Device Connected."));
        return;
    }
    if (!result.greeting.acknowledged) {
        refuseConnection(result.greeting);
        return;
    }
    acceptConnection(result);
    if (m_changedDuringAttempt)
        deviceChanged(); // the device may have left while it was greeted
}

void DeviceConnection::refuseConnection(const AcknowledgementWait::Result &greeting)
{
    m_message(QStringLiteral("Device connection failed."));
    m_ui.connect->setText(QStringLiteral("Connect"));
    closeHandle();
    forgetDevice();
    showConnected(false);
    m_log.line("Device connection failed.");
    if (greeting.corrupt)
        m_log.line(DeviceSession::corruptAnswer(m_session.serial(), QStringLiteral("handshake"), greeting).toUtf8());
    m_gate.release(); // closes the handle
}

void DeviceConnection::acceptConnection(const Attempt &result)
{
    m_log.hexBytes(result.greeting.reply.data(), int(result.greeting.reply.size()));
    m_ui.connect->setText(QStringLiteral("Disconnect"));
    m_worker.useDevice(m_session.handle(), result.greeting.lastStatus);
    m_state.connected = true;
    m_state.configured = false; // a new connection: the device may run anything
    showConnected(true);
    m_log.line("Device connection successful.");
    showBatteryAnswer(result.battery);
    m_batteryTimer.start(kBatteryIntervalMs);
    m_gate.release();
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
        showBatteryAnswer(m_session.readBattery());
    });
}

void DeviceConnection::showBatteryAnswer(const BatteryQuery::Result &answer)
{
    m_log.line(BatteryReport::logLine(answer).toUtf8());
    showBattery(BatteryReport::volts(answer));
    if (answer.hasReading)
        m_ui.gauge->setFixedSize(DeviceProtocol::batteryGaugeWidth(answer.reading), 10);
}

void DeviceConnection::deviceChanged()
{
    refreshDeviceList();
    if (m_connecting)
        m_changedDuringAttempt = true;
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
    endAttemptThread();
    m_session.close();
    m_worker.useDevice(nullptr);
}
