#include "app/DeviceList.h"

#include "device/DeviceSession.h"

#include <QComboBox>
#include <QTimer>


DeviceList::DeviceList(QComboBox *combo, DeviceSession &session, QObject *parent)
    : QObject(parent)
    , m_combo(combo)
    , m_session(session)
{
}

void DeviceList::refresh()
{
    m_combo->clear();
    auto *timer = new QTimer(this);
    timer->setInterval(m_tickMs);
    m_attemptCounter = 0;
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
    const DeviceSession::Listing listing = m_session.enumerate();
    switch (listing.outcome) {
    case DeviceSession::Listing::Outcome::NoDevices:
        m_combo->addItem(QStringLiteral("No Devices"));
        finish(timer);
        return;
    case DeviceSession::Listing::Outcome::ListFailed:
        m_combo->addItem(QStringLiteral("Failed to create device list"));
        finish(timer);
        return;
    case DeviceSession::Listing::Outcome::InfoFailed:
        m_combo->addItem(QStringLiteral("Error retrieving device info"));
        finish(timer);
        return;
    case DeviceSession::Listing::Outcome::Listed:
        break;
    }

    m_combo->clear();
    if (listing.allReadable()) {
        for (const QString &serial : listing.serials)
            m_combo->addItem(serial);
        finish(timer);
        return;
    }

    m_combo->addItem(QStringLiteral("Read information: %1 s").arg(m_attemptCounter));
    ++m_attemptCounter;
    if (m_attemptCounter > kMaxAttempts) {
        m_combo->addItem(QStringLiteral("Incomplete device info"));
        finish(timer);
    }
}
