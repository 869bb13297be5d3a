#include "device/DeviceSession.h"

#include <algorithm>

namespace {
constexpr ULONG kTransferSize = 65536;
constexpr ULONG kReadTimeoutMs = 2000;
constexpr ULONG kWriteTimeoutMs = 1000;
} // namespace

bool DeviceSession::Listing::allReadable() const
{
    return !serials.empty()
        && std::all_of(serials.begin(), serials.end(), [](const QString &serial) { return !serial.isEmpty(); });
}

DeviceSession::DeviceSession(D2xxBackend &backend, Sleeper sleeper)
    : m_backend(backend)
    , m_sleep(std::move(sleeper))
{
}

DeviceSession::Listing DeviceSession::enumerate()
{
    Listing listing;
    DWORD count = 0;
    const FT_STATUS listed = m_backend.createDeviceInfoList(&count);
    if (listed != FT_OK || count == 0) {
        listing.outcome = count == 0 ? Listing::Outcome::NoDevices : Listing::Outcome::ListFailed;
        return listing;
    }
    std::vector<FT_DEVICE_LIST_INFO_NODE> records(std::min(count, kMaxDevices));
    DWORD returned = DWORD(records.size());
    if (m_backend.getDeviceInfoList(records.data(), &returned) != FT_OK) {
        listing.outcome = Listing::Outcome::InfoFailed;
        return listing;
    }
    // The library may report fewer records than it counted a moment ago.
    records.resize(std::min<std::size_t>(records.size(), returned));
    for (const FT_DEVICE_LIST_INFO_NODE &record : records)
        listing.serials.push_back(
            QString::fromUtf8(record.SerialNumber, int(qstrnlen(record.SerialNumber, sizeof record.SerialNumber))));
    listing.outcome = listing.serials.empty() ? Listing::Outcome::NoDevices : Listing::Outcome::Listed;
    return listing;
}

FT_STATUS DeviceSession::open()
{
    return open(QString::fromLatin1(kSerialNumber));
}

FT_STATUS DeviceSession::open(const QString &serialNumber)
{
    const QByteArray serial = serialNumber.toUtf8();
    FT_HANDLE handle = nullptr;
    m_lastStatus = m_backend.openEx(serial.constData(), FT_OPEN_BY_SERIAL_NUMBER, &handle);
    if (m_lastStatus == FT_OK) {
        m_handle = handle;
        m_serial = serialNumber;
    }
    return m_lastStatus;
}

void DeviceSession::configure()
{
    m_lastStatus = m_backend.resetDevice(m_handle);
    m_backend.purge(m_handle, FT_PURGE_RX | FT_PURGE_TX);
    m_backend.setBitMode(m_handle, 0x00, FT_BITMODE_SYNC_FIFO);
    m_backend.setUsbParameters(m_handle, kTransferSize, kTransferSize);
    m_backend.setFlowControl(m_handle, FT_FLOW_RTS_CTS, 0, 0);
    m_backend.setTimeouts(m_handle, kReadTimeoutMs, kWriteTimeoutMs);
}

AcknowledgementWait::Result DeviceSession::handshake()
{
    const AcknowledgementWait::Result result = AcknowledgementWait(m_backend, m_handle, m_sleep).handshake();
    m_lastStatus = result.lastStatus;
    return result;
}

AcknowledgementWait::Result DeviceSession::sendParameters(const DeviceProtocol::Frame &command)
{
    dropStaleAnswers();
    const AcknowledgementWait::Result result =
        AcknowledgementWait(m_backend, m_handle, m_sleep).sendParameterCommand(command);
    m_lastStatus = result.lastStatus;
    return result;
}

BatteryQuery::Result DeviceSession::readBattery()
{
    dropStaleAnswers();
    const BatteryQuery::Result result = BatteryQuery(m_backend, m_handle, m_sleep).run();
    m_lastStatus = result.lastStatus;
    return result;
}

FT_STATUS DeviceSession::probe()
{
    DWORD rx = 0, tx = 0, events = 0;
    m_lastStatus = m_backend.getStatus(m_handle, &rx, &tx, &events);
    return m_lastStatus;
}

FT_STATUS DeviceSession::close()
{
    if (!m_handle)
        return FT_OK;
    m_lastStatus = m_backend.close(m_handle);
    m_handle = nullptr;
    return m_lastStatus;
}

void DeviceSession::dropStaleAnswers()
{
    m_backend.purge(m_handle, FT_PURGE_RX);
}

QString DeviceSession::corruptAnswer(const QString &serial, const QString &command,
                                     const AcknowledgementWait::Result &answer)
{
    const QByteArray bytes(reinterpret_cast<const char *>(answer.reply.data()), int(answer.reply.size()));
    return QStringLiteral("The device %1 answered the %2 with a corrupt acknowledgement: %3.")
        .arg(serial, command, QString::fromLatin1(bytes.toHex(' ').toUpper()));
}
