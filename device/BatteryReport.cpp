#include "device/BatteryReport.h"

#include "device/DeviceProtocol.h"

namespace BatteryReport {

std::optional<double> volts(const BatteryQuery::Result &answer)
{
    if (!answer.hasReading)
        return std::nullopt;
    return DeviceProtocol::batteryVolts(answer.reading);
}

QString text(std::optional<double> volts)
{
    return volts ? QStringLiteral("%1 V").arg(*volts, 0, 'f', 2) : QStringLiteral("unknown");
}

QString logLine(const BatteryQuery::Result &answer)
{
    if (answer.hasReading)
        return QStringLiteral("Battery: %1.").arg(text(volts(answer)));
    if (answer.received == 0)
        return QStringLiteral("Battery: unknown: the device did not answer the battery query.");
    return QStringLiteral("Battery: unknown: the answer to the battery query was incomplete or corrupt "
                          "(%1 bytes, a complete answer has %2).")
        .arg(answer.received)
        .arg(DeviceProtocol::BatteryAnswerLength);
}

} // namespace BatteryReport
