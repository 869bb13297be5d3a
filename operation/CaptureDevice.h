#pragma once

#include "device/DeviceSession.h"

#include <QString>

#include <optional>

struct ParameterSet;
class EventLog;
class ReceiverThread;

// The device side of a scripted run, spoken through DeviceSession in the
// window's order and with its bytes: open by serial number, configuration
// and handshake as Connect does them, the battery reading Connect takes, the
// parameter command as Setting sends it (its values reach the worker only
// once the device acknowledged it), and the close. It hands the worker the
// open handle as Connect does. A refusal is one sentence for the user.
//
// Thread contract: main thread only; the worker is parked whenever this
// talks to the device (before the capture starts and after it stopped).
class CaptureDevice
{
public:
    CaptureDevice(D2xxBackend &backend, ReceiverThread &worker, EventLog &log, DeviceSession::Sleeper sleeper = {});

    // Opens the device with this serial number (empty: the first ZK128),
    // configures it and shakes hands. On a refusal nothing stays open.
    bool connect(const QString &serial, QString *refusal);
    // The battery voltage, or nothing when the device gave no complete
    // answer; the log says which.
    std::optional<double> readBatteryVolts();
    // Sends the parameter command; once acknowledged, the worker takes the values.
    bool set(const ParameterSet &parameters, QString *refusal);
    // True while the held device still answers.
    bool stillAnswers();
    // Closes the device (if open); the worker forgets the handle.
    void close();

    // The serial number the device was opened by.
    const QString &serial() const { return m_serial; }

private:
    QString openRefusal();

    DeviceSession m_session;
    ReceiverThread &m_worker;
    EventLog &m_log; // safe from any thread
    QString m_serial;
};
