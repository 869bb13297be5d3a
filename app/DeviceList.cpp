#include "app/DeviceList.h"

#include "device/DeviceSession.h"

#include <QComboBox>
#include <QTimer>


DeviceList::DeviceList(QComboBox *combo, DeviceSession &session, QObject *parent)
    : QObject(parent)
    , combo(combo)
    , session(session)
{
}

void DeviceList::refresh()
{
    combo->clear();
    auto *timer = new QTimer(this);
    timer->setInterval(tickMs);
    attemptCounter = 0;
    connect(timer, &QTimer::timeout, this, [this, timer] { fill(timer); });
    timer->start();
}

int DeviceList::activeRefreshes() const
{
    int active = 0;
    for (const QTimer *timer : findChildren<QTimer *>(QString(), Qt::FindDirectChildrenOnly))
        active += timer->isActive() ? 1 : 0;
    return active;
}

void DeviceList::finish(QTimer *timer)
{
    timer->stop();
    timer->deleteLater();
}

void DeviceList::fill(QTimer *timer)
{
    const DeviceSession::Listing listing = session.enumerate();
    switch (listing.outcome) {
    case DeviceSession::Listing::Outcome::NoDevices:
        combo->addItem(QStringLiteral("No Devices"));
        finish(timer);
        return;
    case DeviceSession::Listing::Outcome::ListFailed:
        combo->addItem(QStringLiteral("Failed to create device list"));
        finish(timer);
        return;
    case DeviceSession::Listing::Outcome::InfoFailed:
        combo->addItem(QStringLiteral("Error retrieving device info"));
        finish(timer);
        return;
    case DeviceSession::Listing::Outcome::Listed:
        break;
    }

    combo->clear();
    if (listing.allReadable()) {
        for (const QString &serial : listing.serials)
            combo->addItem(serial);
        finish(timer);
        return;
    }

    combo->addItem(QStringLiteral("Read information: %1 s").arg(attemptCounter));
    ++attemptCounter;
    if (attemptCounter > kMaxAttempts) {
        combo->addItem(QStringLiteral("Incomplete device info"));
        finish(timer);
    }
}
