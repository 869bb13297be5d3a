#include "simulator/SimulatorBackend.h"

#include "simulator/SimulatorEnvironment.h"
#include "simulator/SimulatorTap.h"

#include <QStringList>

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <cstring>

namespace {

constexpr std::size_t kLongestSerialArgument = 64;
constexpr ULONG kFlagOpened = 0x1;
constexpr ULONG kFlagHighSpeed = 0x2;
constexpr ULONG kTypeFt232H = 8;
constexpr ULONG kVendorProductId = 0x04036014; // FTDI, FT232H
constexpr DWORD kLocationId = 0x1011;

// Handle values are never reused within the process, across all backends.
FT_HANDLE newHandleValue()
{
    static std::atomic<std::uintptr_t> next{1};
    return reinterpret_cast<FT_HANDLE>(std::uintptr_t(0x5A128000) + 16 * next.fetch_add(1));
}

void copyText(char *destination, std::size_t size, const std::string &text)
{
    std::memset(destination, 0, size);
    std::memcpy(destination, text.data(), std::min(size - 1, text.size()));
}

} // namespace

SimulatorBackend::SimulatorBackend(std::shared_ptr<ZK128Device> device)
    : m_device(device ? std::move(device) : std::make_shared<ZK128Device>())
{
}

SimulatorBackend::~SimulatorBackend() = default;

std::shared_ptr<SimulatorBackend> SimulatorBackend::fromEnvironment()
{
    QStringList warnings;
    auto device = SimulatorEnvironment::createDevice(SimulatorEnvironment::processEnvironment(), &warnings);
    auto backend = std::make_shared<SimulatorBackend>(device);
    backend->m_environmentWarnings = warnings;
    backend->m_tap = SimulatorTap::fromEnvironment(std::move(device), SimulatorEnvironment::processEnvironment());
    return backend;
}

std::shared_ptr<ZK128Device> SimulatorBackend::device() const
{
    return m_device;
}

QStringList SimulatorBackend::environmentWarnings() const
{
    return m_environmentWarnings;
}

QString SimulatorBackend::name() const
{
    return QStringLiteral("ZK128 simulator");
}

bool SimulatorBackend::isSimulator() const
{
    return true;
}

bool SimulatorBackend::setHotplugCallback(HotplugCallback callback)
{
    m_device->setHotplugCallback(std::move(callback));
    return true;
}

// ---- sessions -----------------------------------------------------------------

SimulatorBackend::Session *SimulatorBackend::liveSession(FT_HANDLE handle)
{
    const auto found = m_sessions.find(handle);
    return found == m_sessions.end() ? nullptr : &found->second;
}

const SimulatorBackend::Session *SimulatorBackend::liveSession(FT_HANDLE handle) const
{
    const auto found = m_sessions.find(handle);
    return found == m_sessions.end() ? nullptr : &found->second;
}

FT_STATUS SimulatorBackend::usable(FT_HANDLE handle, CallKind kind) const
{
    const Session *session = liveSession(handle);
    if (!session)
        return FT_INVALID_HANDLE;
    if (!m_device->isPlugged() || m_device->plugGeneration() != session->plugGeneration)
        return kind == CallKind::Data ? FT_IO_ERROR : FT_DEVICE_NOT_FOUND;
    return FT_OK;
}

bool SimulatorBackend::deviceIsOpen() const
{
    const std::uint64_t generation = m_device->plugGeneration();
    return std::any_of(m_sessions.begin(), m_sessions.end(),
                       [generation](const auto &entry) { return entry.second.plugGeneration == generation; });
}

template <typename Change>
FT_STATUS SimulatorBackend::configure(FT_HANDLE handle, Change change)
{
    std::lock_guard lock(m_mutex);
    const FT_STATUS status = usable(handle, CallKind::Configuration);
    if (status == FT_OK)
        change(liveSession(handle)->settings);
    return status;
}

bool SimulatorBackend::sessionSettings(FT_HANDLE handle, SessionSettings *settings) const
{
    std::lock_guard lock(m_mutex);
    const Session *session = liveSession(handle);
    if (!session || !settings)
        return false;
    *settings = session->settings;
    return true;
}

// ---- enumeration and open -----------------------------------------------------

FT_STATUS SimulatorBackend::createDeviceInfoList(DWORD *deviceCount)
{
    if (!deviceCount)
        return FT_INVALID_PARAMETER;
    *deviceCount = m_device->isPlugged() ? 1 : 0;
    return FT_OK;
}

FT_STATUS SimulatorBackend::getDeviceInfoList(FT_DEVICE_LIST_INFO_NODE *records, DWORD *deviceCount)
{
    if (!deviceCount)
        return FT_INVALID_PARAMETER;
    const DWORD capacity = records ? *deviceCount : 0; // never write past what the caller sized
    const DWORD present = m_device->isPlugged() ? 1 : 0;
    if (capacity >= 1 && present == 1) {
        FT_DEVICE_LIST_INFO_NODE &node = records[0];
        std::memset(&node, 0, sizeof node);
        std::lock_guard lock(m_mutex);
        FT_HANDLE openHandle = nullptr;
        const std::uint64_t generation = m_device->plugGeneration();
        for (const auto &[handle, session] : m_sessions) {
            if (session.plugGeneration == generation)
                openHandle = handle;
        }
        node.Flags = kFlagHighSpeed | (openHandle ? kFlagOpened : 0);
        node.Type = kTypeFt232H;
        node.ID = kVendorProductId;
        node.LocId = kLocationId;
        copyText(node.SerialNumber, sizeof node.SerialNumber, m_device->serialNumber());
        copyText(node.Description, sizeof node.Description, ZK128Device::Description);
        node.ftHandle = openHandle;
    }
    *deviceCount = present;
    return FT_OK;
}

FT_STATUS SimulatorBackend::openEx(const void *arg, DWORD flags, FT_HANDLE *handle)
{
    if (!handle)
        return FT_INVALID_PARAMETER;
    *handle = nullptr;
    if (!arg)
        return FT_INVALID_PARAMETER;
    if (flags != FT_OPEN_BY_SERIAL_NUMBER)
        return FT_DEVICE_NOT_FOUND;
    const char *requested = static_cast<const char *>(arg);
    const std::string serial(requested, strnlen(requested, kLongestSerialArgument));
    // An unreadable serial number (just after plug-in) cannot be matched either.
    if (serial.empty() || serial != m_device->serialNumber())
        return FT_DEVICE_NOT_FOUND;

    std::lock_guard lock(m_mutex);
    if (deviceIsOpen())
        return FT_DEVICE_NOT_OPENED;
    Session session;
    session.plugGeneration = m_device->plugGeneration();
    const FT_HANDLE value = newHandleValue();
    m_sessions.emplace(value, session);
    m_device->purge(true, true); // a fresh open starts with empty driver buffers
    *handle = value;
    return FT_OK;
}

FT_STATUS SimulatorBackend::close(FT_HANDLE handle)
{
    std::lock_guard lock(m_mutex);
    // A handle made stale by an unplug can still be closed, and must be.
    return m_sessions.erase(handle) == 1 ? FT_OK : FT_INVALID_HANDLE;
}

// ---- configuration ------------------------------------------------------------

FT_STATUS SimulatorBackend::resetDevice(FT_HANDLE handle)
{
    const FT_STATUS status = configure(handle, [](SessionSettings &) {});
    if (status == FT_OK)
        m_device->reset();
    return status;
}

FT_STATUS SimulatorBackend::purge(FT_HANDLE handle, ULONG mask)
{
    const FT_STATUS status = configure(handle, [](SessionSettings &) {});
    if (status == FT_OK)
        m_device->purge(mask & FT_PURGE_RX, mask & FT_PURGE_TX);
    return status;
}

FT_STATUS SimulatorBackend::setBitMode(FT_HANDLE handle, UCHAR mask, UCHAR mode)
{
    return configure(handle, [=](SessionSettings &s) {
        s.bitMask = mask;
        s.bitMode = mode;
    });
}

FT_STATUS SimulatorBackend::setUsbParameters(FT_HANDLE handle, ULONG inTransferSize, ULONG outTransferSize)
{
    return configure(handle, [=](SessionSettings &s) {
        s.inTransferSize = inTransferSize;
        s.outTransferSize = outTransferSize;
    });
}

FT_STATUS SimulatorBackend::setFlowControl(FT_HANDLE handle, USHORT flowControl, UCHAR, UCHAR)
{
    return configure(handle, [=](SessionSettings &s) { s.flowControl = flowControl; });
}

FT_STATUS SimulatorBackend::setTimeouts(FT_HANDLE handle, ULONG readTimeoutMs, ULONG writeTimeoutMs)
{
    return configure(handle, [=](SessionSettings &s) {
        s.readTimeoutMs = readTimeoutMs;
        s.writeTimeoutMs = writeTimeoutMs;
    });
}

// ---- data ---------------------------------------------------------------------

FT_STATUS SimulatorBackend::write(FT_HANDLE handle, const void *buffer, DWORD length, DWORD *written)
{
    if (written)
        *written = 0;
    {
        std::lock_guard lock(m_mutex);
        if (const FT_STATUS status = usable(handle, CallKind::Data); status != FT_OK)
            return status;
    }
    if (!buffer && length > 0)
        return FT_INVALID_PARAMETER;
    m_device->hostWrite(static_cast<const std::uint8_t *>(buffer), length);
    if (written)
        *written = length;
    return FT_OK;
}

FT_STATUS SimulatorBackend::getStatus(FT_HANDLE handle, DWORD *rxBytes, DWORD *txBytes, DWORD *eventStatus)
{
    {
        std::lock_guard lock(m_mutex);
        if (const FT_STATUS status = usable(handle, CallKind::Data); status != FT_OK)
            return status;
    }
    if (!rxBytes)
        return FT_INVALID_PARAMETER;
    *rxBytes = DWORD(std::min<std::size_t>(m_device->bytesAvailable(), UINT32_MAX));
    if (txBytes)
        *txBytes = 0; // the device takes commands as fast as they are written
    if (eventStatus)
        *eventStatus = 0;
    return FT_OK;
}

FT_STATUS SimulatorBackend::read(FT_HANDLE handle, void *buffer, DWORD length, DWORD *returned)
{
    if (returned)
        *returned = 0;
    ULONG timeoutMs = 0;
    {
        std::lock_guard lock(m_mutex);
        if (const FT_STATUS status = usable(handle, CallKind::Data); status != FT_OK)
            return status;
        timeoutMs = liveSession(handle)->settings.readTimeoutMs;
    }
    if (!returned || (!buffer && length > 0))
        return FT_INVALID_PARAMETER;
    // Like D2XX: without a read time-out the read waits for the full count.
    const std::chrono::milliseconds timeout = timeoutMs == 0 ? std::chrono::milliseconds(-1)
                                                             : std::chrono::milliseconds(timeoutMs);
    std::size_t got = 0;
    const auto result = m_device->hostRead(static_cast<std::uint8_t *>(buffer), length, &got, timeout);
    *returned = DWORD(std::min<std::size_t>(got, length));
    return result == ZK128Device::ReadResult::Ok ? FT_OK : FT_IO_ERROR;
}
