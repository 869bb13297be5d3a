#pragma once

#include "device/DeviceSession.h"

#include <QStringList>

// --list: the serial numbers of the attached devices. Like the window's
// device list it asks again, once a second for up to ten seconds, while a
// serial number is still unreadable (just after plug-in).
namespace SerialListing {

constexpr int kAttempts = 10;
constexpr std::chrono::milliseconds kPause{1000};

// The serial numbers found; *problem is one sentence when the list could
// not be read, or when no device (or no readable device) is attached.
QStringList read(DeviceSession &session, const DeviceSession::Sleeper &sleep, QString *problem);

} // namespace SerialListing
