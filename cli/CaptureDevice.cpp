#include "CaptureDevice.h"

#include "Log.h"
#include "ParameterSet.h"
#include "ReceiverThread.h"

CaptureDevice::CaptureDevice(D2xxBackend &backend, ReceiverThread &worker, DeviceSession::Sleeper sleeper)
    : m_session(backend, std::move(sleeper))
    , m_worker(worker)
{
}

bool CaptureDevice::connect(const QString &serial, QString *refusal)
{
    m_serial = serial.isEmpty() ? QString::fromLatin1(DeviceSession::kSerialNumber) : serial;
    if (m_session.open(m_serial) != FT_OK) {
        *refusal = QStringLiteral("No device with serial number %1 could be opened: none is connected, "
                                  "or another program holds it.")
                       .arg(m_serial);
        logLine(refusal->toUtf8());
        return false;
    }
    m_session.configure();
    const AcknowledgementWait::Result greeting = m_session.handshake();
    if (!greeting.acknowledged) {
        logLine("Device connection failed.");
        m_session.close();
        *refusal = QStringLiteral("The device %1 did not answer the handshake.").arg(m_serial);
        return false;
    }
    logHexBytes(greeting.reply.data(), int(greeting.reply.size()));
    m_worker.useDevice(m_session.handle(), m_session.lastStatus());
    logLine("Device connection successful.");
    return true;
}

std::optional<double> CaptureDevice::readBatteryVolts()
{
    const BatteryQuery::Result answer = m_session.readBattery();
    if (!answer.hasReading)
        return std::nullopt;
    return DeviceProtocol::batteryVolts(answer.reading);
}

bool CaptureDevice::set(const ParameterSet &parameters, QString *refusal)
{
    logHexBytes(parameters.command.data(), int(parameters.command.size()));
    if (!m_session.sendParameters(parameters.command).acknowledged) {
        logLine("Parameter setting failed.");
        *refusal = QStringLiteral("The device did not acknowledge the parameter command.");
        return false;
    }
    parameters.applyTo(m_worker);
    logLine("Parameter setting successful.");
    return true;
}

bool CaptureDevice::stillAnswers()
{
    return m_session.probe() == FT_OK;
}

void CaptureDevice::close()
{
    if (!m_session.isOpen())
        return;
    m_session.close();
    m_worker.useDevice(nullptr);
    logLine("Device disconnected.");
}
