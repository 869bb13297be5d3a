#include "DeviceList.h"

#include "D2xxBackend.h"

#include <QComboBox>
#include <QTimer>

#include <algorithm>
#include <vector>

DeviceList::DeviceList(QComboBox *combo, D2xxBackend &backend, QObject *parent)
    : QObject(parent)
    , combo(combo)
    , backend(backend)
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
    DWORD count = 0;
    const FT_STATUS listed = backend.createDeviceInfoList(&count);
    if (listed != FT_OK || count == 0) {
        combo->addItem(count == 0 ? QStringLiteral("No Devices") : QStringLiteral("Failed to create device list"));
        finish(timer);
        return;
    }

    std::vector<FT_DEVICE_LIST_INFO_NODE> records(count);
    DWORD returned = count;
    if (backend.getDeviceInfoList(records.data(), &returned) != FT_OK) {
        combo->addItem(QStringLiteral("Error retrieving device info"));
        finish(timer);
        return;
    }
    // The library may report fewer records than it counted a moment ago.
    records.resize(std::min<std::size_t>(records.size(), returned));

    bool allReadable = !records.empty();
    for (const FT_DEVICE_LIST_INFO_NODE &record : records)
        allReadable = allReadable && record.SerialNumber[0] != '\0';

    combo->clear();
    if (allReadable) {
        for (const FT_DEVICE_LIST_INFO_NODE &record : records)
            combo->addItem(QString::fromUtf8(record.SerialNumber, int(qstrnlen(record.SerialNumber, sizeof record.SerialNumber))));
        finish(timer);
        return;
    }

    combo->addItem(QStringLiteral("Read information: %1 s").arg(attemptCounter));
    ++attemptCounter;
    if (attemptCounter > MaxAttempts) {
        combo->addItem(QStringLiteral("Incomplete device info"));
        finish(timer);
    }
}
