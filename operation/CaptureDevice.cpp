#include "operation/CaptureDevice.h"

#include "acquisition/ReceiverThread.h"
#include "device/BatteryReport.h"
#include "operation/ParameterSet.h"
#include "services/EventLog.h"

#include <QStringList>

CaptureDevice::CaptureDevice(D2xxBackend &backend, ReceiverThread &worker, EventLog &log,
                             DeviceSession::Sleeper sleeper)
    : m_session(backend, std::move(sleeper))
    , m_worker(worker)
    , m_log(log)
{
}

bool CaptureDevice::connect(const QString &serial, QString *refusal)
{
    m_serial = serial.isEmpty() ? QString::fromLatin1(DeviceSession::kSerialNumber) : serial;
    if (m_session.open(m_serial) != FT_OK) {
        *refusal = openRefusal();
        m_log.line(refusal->toUtf8());
        return false;
    }
    m_session.configure();
    const AcknowledgementWait::Result greeting = m_session.handshake();
    if (!greeting.acknowledged) {
        m_log.line("Device connection failed.");
        m_session.close();
        *refusal = greeting.corrupt
                       ? DeviceSession::corruptAnswer(m_serial, QStringLiteral("handshake"), greeting)
                       : QStringLiteral("The device %1 did not answer the handshake.").arg(m_serial);
        return false;
    }
    m_log.hexBytes(greeting.reply.data(), int(greeting.reply.size()));
    m_worker.useDevice(m_session.handle(), m_session.lastStatus());
    m_log.line("Device connection successful.");
    return true;
}

QString CaptureDevice::openRefusal()
{
    // Which devices are there tells a mistyped serial from a busy device.
    const DeviceSession::Listing listing = m_session.enumerate();
    QStringList attached;
    for (const QString &serial : listing.serials) {
        if (!serial.isEmpty())
            attached << serial;
    }
    if (listing.serials.empty())
        return QStringLiteral("No device with serial number %1 could be opened: no device is attached.").arg(m_serial);
    if (!attached.contains(m_serial)) {
        return QStringLiteral("No device with serial number %1 is attached; the attached devices are: %2.")
            .arg(m_serial, attached.isEmpty() ? QStringLiteral("(serial numbers not readable yet)")
                                              : attached.join(QStringLiteral(", ")));
    }
    return QStringLiteral("No device with serial number %1 could be opened: none is connected, "
                          "or another program holds it.")
        .arg(m_serial);
}

std::optional<double> CaptureDevice::readBatteryVolts()
{
    const BatteryQuery::Result answer = m_session.readBattery();
    m_log.line(BatteryReport::logLine(answer).toUtf8());
    return BatteryReport::volts(answer);
}

bool CaptureDevice::set(const ParameterSet &parameters, QString *refusal)
{
    m_log.hexBytes(parameters.command.data(), int(parameters.command.size()));
    const AcknowledgementWait::Result answer = m_session.sendParameters(parameters.command);
    if (!answer.acknowledged) {
        m_log.line("Parameter setting failed.");
        *refusal = answer.corrupt
                       ? DeviceSession::corruptAnswer(m_serial, QStringLiteral("parameter command"), answer)
                       : QStringLiteral("The device did not acknowledge the parameter command.");
        return false;
    }
    parameters.applyTo(m_worker);
    m_log.line("Parameter setting successful.");
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
    m_log.line("Device disconnected.");
}
