#pragma once

#include "device/BatteryQuery.h"

#include <QString>

#include <optional>

// What a battery query tells the operator: volts from a complete answer, and
// "unknown" (never a number) from anything else, with the reason for the log.
namespace BatteryReport {

// The battery voltage, or nothing when the answer was not complete.
std::optional<double> volts(const BatteryQuery::Result &answer);
// "1.93 V" or "unknown".
QString text(std::optional<double> volts);
// The log's line: "Battery: 1.93 V." or "Battery: unknown: ..." naming why.
QString logLine(const BatteryQuery::Result &answer);

} // namespace BatteryReport
