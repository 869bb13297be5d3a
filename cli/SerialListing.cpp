#include "cli/SerialListing.h"

namespace SerialListing {

QStringList read(DeviceSession &session, const DeviceSession::Sleeper &sleep, QString *problem)
{
    DeviceSession::Listing listing;
    for (int attempt = 1; attempt <= kAttempts; ++attempt) {
        listing = session.enumerate();
        if (listing.outcome != DeviceSession::Listing::Outcome::Listed || listing.allReadable())
            break;
        if (attempt < kAttempts)
            sleep(kPause);
    }
    switch (listing.outcome) {
    case DeviceSession::Listing::Outcome::NoDevices:
        *problem = QStringLiteral("No device is attached.");
        return {};
    case DeviceSession::Listing::Outcome::ListFailed:
    case DeviceSession::Listing::Outcome::InfoFailed:
        *problem = QStringLiteral("The device list could not be read.");
        return {};
    case DeviceSession::Listing::Outcome::Listed:
        break;
    }
    QStringList serials;
    for (const QString &serial : listing.serials)
        if (!serial.isEmpty())
            serials << serial;
    if (serials.size() < int(listing.serials.size()))
        *problem = QStringLiteral("%1 attached device(s) did not give a readable serial number within 10 s.")
                       .arg(int(listing.serials.size()) - serials.size());
    return serials;
}

} // namespace SerialListing
