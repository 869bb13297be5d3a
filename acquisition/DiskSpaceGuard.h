#pragma once

#include <QStorageInfo>
#include <QString>

#include <chrono>

// Tells a recording when the disk it writes to is about to run out, while the
// disk still has room for the file's last metadata: a run that stops here
// leaves a file that closes properly with every frame it took. Looking at the
// disk costs tens of microseconds, so the guard looks again only once a
// second, or before every write once the space it expects runs low.
//
// Thread contract: used by one thread at a time (the save-run writer's).
class DiskSpaceGuard
{
public:
    // reserveBytes: the space every recording leaves free for closing its file.
    DiskSpaceGuard(const QString &folder, qint64 reserveBytes);

    // True when `bytes` more fit and the reserve stays free; counts them as
    // spent. An unknown free space (a disk the system cannot tell about)
    // never stops a recording.
    bool take(qint64 bytes);

private:
    void look();

    QStorageInfo m_storage;
    qint64 m_reserveBytes;
    qint64 m_availableBytes = -1;      // at the last look; -1: unknown
    qint64 m_spentBytes = 0;           // taken since the last look
    std::chrono::steady_clock::time_point m_lastLook;
};
