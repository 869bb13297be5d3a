#include "acquisition/DiskSpaceGuard.h"

namespace {
// Below this much expected space the guard looks before every write: more
// than another program could plausibly write between two looks.
constexpr qint64 kLookAlwaysBelowBytes = qint64(64) << 20;
constexpr std::chrono::seconds kLookInterval{1};
} // namespace

DiskSpaceGuard::DiskSpaceGuard(const QString &folder, qint64 reserveBytes)
    : m_storage(folder), m_reserveBytes(reserveBytes)
{
    look();
}

bool DiskSpaceGuard::take(qint64 bytes)
{
    const bool lowSpace = m_availableBytes >= 0 && m_availableBytes - m_spentBytes - bytes < kLookAlwaysBelowBytes;
    if (lowSpace || std::chrono::steady_clock::now() - m_lastLook >= kLookInterval)
        look();
    if (m_availableBytes >= 0 && m_availableBytes - m_spentBytes - bytes < m_reserveBytes)
        return false;
    m_spentBytes += bytes;
    return true;
}

void DiskSpaceGuard::look()
{
    m_storage.refresh();
    m_availableBytes = m_storage.isValid() ? m_storage.bytesAvailable() : -1;
    m_spentBytes = 0;
    m_lastLook = std::chrono::steady_clock::now();
}
