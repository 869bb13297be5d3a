#include "device/VendorLibraryBackend.h"

#include <QStringList>
#include <QtGlobal>

#include <algorithm>
#include <cstring>
#include <shared_mutex>
#include <vector>

#ifdef Q_OS_WIN
#include "device/LibraryOrdinal.h"
// The library's functions use the Windows API calling convention (WINAPI).
#define TESSIVO_D2XX_CALL __stdcall
#else
#include <dlfcn.h>
#define TESSIVO_D2XX_CALL
#endif

struct VendorLibraryBackend::Functions {
    FT_STATUS(TESSIVO_D2XX_CALL *createDeviceInfoList)(DWORD *) = nullptr;
    FT_STATUS(TESSIVO_D2XX_CALL *getDeviceInfoList)(FT_DEVICE_LIST_INFO_NODE *, DWORD *) = nullptr;
    FT_STATUS(TESSIVO_D2XX_CALL *openEx)(void *, DWORD, FT_HANDLE *) = nullptr;
    FT_STATUS(TESSIVO_D2XX_CALL *resetDevice)(FT_HANDLE) = nullptr;
    FT_STATUS(TESSIVO_D2XX_CALL *purge)(FT_HANDLE, ULONG) = nullptr;
    FT_STATUS(TESSIVO_D2XX_CALL *setBitMode)(FT_HANDLE, UCHAR, UCHAR) = nullptr;
    FT_STATUS(TESSIVO_D2XX_CALL *setUsbParameters)(FT_HANDLE, ULONG, ULONG) = nullptr;
    FT_STATUS(TESSIVO_D2XX_CALL *setFlowControl)(FT_HANDLE, USHORT, UCHAR, UCHAR) = nullptr;
    FT_STATUS(TESSIVO_D2XX_CALL *setTimeouts)(FT_HANDLE, ULONG, ULONG) = nullptr;
    FT_STATUS(TESSIVO_D2XX_CALL *write)(FT_HANDLE, void *, DWORD, DWORD *) = nullptr;
    FT_STATUS(TESSIVO_D2XX_CALL *getStatus)(FT_HANDLE, DWORD *, DWORD *, DWORD *) = nullptr;
    FT_STATUS(TESSIVO_D2XX_CALL *read)(FT_HANDLE, void *, DWORD, DWORD *) = nullptr;
    FT_STATUS(TESSIVO_D2XX_CALL *close)(FT_HANDLE) = nullptr;
};

namespace {

// The thirteen functions with the ordinals FTD2XX.dll exports them under.
struct Entry {
    const char *name;
    int ordinal;
};

QStringList defaultCandidates()
{
#ifdef Q_OS_WIN
    return {QStringLiteral("FTD2XX.dll")};
#else
    // The plain name lets the dynamic loader search its own paths (ldconfig,
    // LD_LIBRARY_PATH); FTDI's installer puts the library in /usr/local/lib,
    // which some systems leave out of that search.
    return {QStringLiteral("libftd2xx.so"), QStringLiteral("/usr/local/lib/libftd2xx.so")};
#endif
}

#ifdef Q_OS_WIN
void *resolveEntry(QLibrary &library, const Entry &entry)
{
    // FTD2XX.dll is imported by ordinal.
    return resolveLibraryOrdinal(library.fileName(), entry.ordinal);
}
#else
void *resolveEntry(QLibrary &library, const Entry &entry)
{
    return reinterpret_cast<void *>(library.resolve(entry.name));
}
#endif

// The file the loader actually mapped, for the log; the requested name when
// the platform cannot tell.
QString loadedFile(QLibrary &library, void *anyFunction)
{
#ifdef Q_OS_WIN
    Q_UNUSED(anyFunction);
    return library.fileName();
#else
    Dl_info info{};
    if (anyFunction && dladdr(anyFunction, &info) != 0 && info.dli_fname && *info.dli_fname)
        return QString::fromLocal8Bit(info.dli_fname);
    return library.fileName();
#endif
}

template <typename Pointer>
void assign(Pointer &target, void *address)
{
    target = reinterpret_cast<Pointer>(address);
}

} // namespace

std::shared_ptr<VendorLibraryBackend> VendorLibraryBackend::fromEnvironment(QString *reason,
                                                                          bool *libraryLoaded)
{
    return load(qEnvironmentVariable("TESSIVO_D2XX_LIBRARY"), reason, libraryLoaded);
}

std::shared_ptr<VendorLibraryBackend> VendorLibraryBackend::load(const QString &path, QString *reason,
                                                              bool *libraryLoaded)
{
    const QStringList candidates = path.isEmpty() ? defaultCandidates() : QStringList{path};
    auto library = std::make_unique<QLibrary>();
    QString loadError;
    bool loaded = false;
    for (const QString &candidate : candidates) {
        library->setFileName(candidate);
        if (library->load()) {
            loaded = true;
            break;
        }
        loadError = library->errorString();
    }
    if (libraryLoaded)
        *libraryLoaded = loaded;
    if (!loaded) {
        if (reason)
            *reason = QStringLiteral("no loadable library at %1 (%2)")
                          .arg(candidates.join(QStringLiteral(" or ")), loadError);
        return nullptr;
    }

    const Entry entries[] = {
        {"FT_CreateDeviceInfoList", 70}, {"FT_GetDeviceInfoList", 71}, {"FT_OpenEx", 27},
        {"FT_ResetDevice", 6},           {"FT_Purge", 16},             {"FT_SetBitMode", 31},
        {"FT_SetUSBParameters", 33},     {"FT_SetFlowControl", 9},     {"FT_SetTimeouts", 17},
        {"FT_Write", 4},                 {"FT_GetStatus", 21},         {"FT_Read", 3},
        {"FT_Close", 2},
    };
    void *addresses[std::size(entries)] = {};
    for (std::size_t i = 0; i < std::size(entries); ++i) {
        addresses[i] = resolveEntry(*library, entries[i]);
        if (!addresses[i]) {
            if (reason)
                *reason = QStringLiteral("%1 has no function %2")
                              .arg(library->fileName(), QLatin1String(entries[i].name));
            // Left loaded: unloading a library that may be shared is not worth the risk.
            return nullptr;
        }
    }
    auto functions = std::make_unique<Functions>();
    assign(functions->createDeviceInfoList, addresses[0]);
    assign(functions->getDeviceInfoList, addresses[1]);
    assign(functions->openEx, addresses[2]);
    assign(functions->resetDevice, addresses[3]);
    assign(functions->purge, addresses[4]);
    assign(functions->setBitMode, addresses[5]);
    assign(functions->setUsbParameters, addresses[6]);
    assign(functions->setFlowControl, addresses[7]);
    assign(functions->setTimeouts, addresses[8]);
    assign(functions->write, addresses[9]);
    assign(functions->getStatus, addresses[10]);
    assign(functions->read, addresses[11]);
    assign(functions->close, addresses[12]);

    if (reason)
        reason->clear();
    const QString file = loadedFile(*library, addresses[0]);
    std::shared_ptr<VendorLibraryBackend> backend(
        new VendorLibraryBackend(std::move(library), std::move(functions)));
    backend->m_path = file;
    return backend;
}

VendorLibraryBackend::VendorLibraryBackend(std::unique_ptr<QLibrary> library,
                                           std::unique_ptr<Functions> functions)
    : m_library(std::move(library)), m_functions(std::move(functions))
{
}

QString VendorLibraryBackend::name() const
{
    return QStringLiteral("D2XX library %1").arg(m_path);
}

// Calls on the handle hold lock shared while they are inside the library;
// close holds it exclusively from before the library closes the handle.
struct VendorLibraryBackend::HandleGate {
    std::shared_mutex lock;
    bool closed = false; // written by close under the exclusive lock, read under the shared one
};

std::shared_ptr<VendorLibraryBackend::HandleGate> VendorLibraryBackend::gateFor(FT_HANDLE handle) const
{
    if (!handle)
        return nullptr;
    std::lock_guard<std::mutex> lock(m_handlesMutex);
    const auto found = m_handles.find(handle);
    return found != m_handles.end() ? found->second : nullptr;
}

template <typename Call>
FT_STATUS VendorLibraryBackend::onHandle(FT_HANDLE handle, Call &&call) const
{
    const std::shared_ptr<HandleGate> gate = gateFor(handle);
    if (!gate)
        return FT_INVALID_HANDLE;
    std::shared_lock<std::shared_mutex> inside(gate->lock);
    // A close may have taken the gate between the look-up and the lock.
    return gate->closed ? FT_INVALID_HANDLE : call();
}

FT_STATUS VendorLibraryBackend::createDeviceInfoList(DWORD *deviceCount)
{
    if (!deviceCount)
        return FT_INVALID_PARAMETER;
    std::lock_guard<std::mutex> lock(m_listMutex);
    return m_functions->createDeviceInfoList(deviceCount);
}

FT_STATUS VendorLibraryBackend::getDeviceInfoList(FT_DEVICE_LIST_INFO_NODE *records, DWORD *deviceCount)
{
    if (!deviceCount)
        return FT_INVALID_PARAMETER;
    const DWORD capacity = *deviceCount;
    *deviceCount = 0;
    if (capacity > 0 && !records)
        return FT_INVALID_PARAMETER;

    std::lock_guard<std::mutex> lock(m_listMutex);
    // The library fills as many records as its list holds, whatever the caller
    // allocated. The list is rebuilt here so its length is known, and filled
    // into scratch space at least that long; the caller gets what fits.
    DWORD listed = 0;
    FT_STATUS status = m_functions->createDeviceInfoList(&listed);
    if (status != FT_OK)
        return status;
    std::vector<FT_DEVICE_LIST_INFO_NODE> scratch(std::max<DWORD>({listed, capacity, 1}));
    DWORD filled = static_cast<DWORD>(scratch.size());
    status = m_functions->getDeviceInfoList(scratch.data(), &filled);
    if (status != FT_OK)
        return status;
    const DWORD copied = std::min<DWORD>({filled, capacity, static_cast<DWORD>(scratch.size())});
    std::copy_n(scratch.begin(), copied, records);
    *deviceCount = copied;
    return FT_OK;
}

FT_STATUS VendorLibraryBackend::openEx(const void *arg, DWORD flags, FT_HANDLE *handle)
{
    if (!handle || !arg)
        return FT_INVALID_PARAMETER;
    *handle = nullptr;
    FT_HANDLE opened = nullptr;
    const FT_STATUS status = m_functions->openEx(const_cast<void *>(arg), flags, &opened);
    if (status != FT_OK || !opened)
        return status != FT_OK ? status : FT_OTHER_ERROR;
    {
        std::lock_guard<std::mutex> lock(m_handlesMutex);
        m_handles.emplace(opened, std::make_shared<HandleGate>());
    }
    *handle = opened;
    return FT_OK;
}

FT_STATUS VendorLibraryBackend::resetDevice(FT_HANDLE handle)
{
    return onHandle(handle, [&] { return m_functions->resetDevice(handle); });
}

FT_STATUS VendorLibraryBackend::purge(FT_HANDLE handle, ULONG mask)
{
    return onHandle(handle, [&] { return m_functions->purge(handle, mask); });
}

FT_STATUS VendorLibraryBackend::setBitMode(FT_HANDLE handle, UCHAR mask, UCHAR mode)
{
    return onHandle(handle, [&] { return m_functions->setBitMode(handle, mask, mode); });
}

FT_STATUS VendorLibraryBackend::setUsbParameters(FT_HANDLE handle, ULONG inTransferSize,
                                                 ULONG outTransferSize)
{
    return onHandle(handle, [&] {
        return m_functions->setUsbParameters(handle, inTransferSize, outTransferSize);
    });
}

FT_STATUS VendorLibraryBackend::setFlowControl(FT_HANDLE handle, USHORT flowControl, UCHAR xon,
                                               UCHAR xoff)
{
    return onHandle(handle, [&] { return m_functions->setFlowControl(handle, flowControl, xon, xoff); });
}

FT_STATUS VendorLibraryBackend::setTimeouts(FT_HANDLE handle, ULONG readTimeoutMs, ULONG writeTimeoutMs)
{
    return onHandle(handle, [&] { return m_functions->setTimeouts(handle, readTimeoutMs, writeTimeoutMs); });
}

FT_STATUS VendorLibraryBackend::write(FT_HANDLE handle, const void *buffer, DWORD length, DWORD *written)
{
    DWORD count = 0;
    const FT_STATUS status = onHandle(handle, [&] {
        return (!buffer && length > 0)
            ? FT_INVALID_PARAMETER
            : m_functions->write(handle, const_cast<void *>(buffer), length, &count);
    });
    if (written)
        *written = std::min(count, length);
    return status;
}

FT_STATUS VendorLibraryBackend::getStatus(FT_HANDLE handle, DWORD *rxBytes, DWORD *txBytes,
                                          DWORD *eventStatus)
{
    DWORD rx = 0;
    DWORD tx = 0;
    DWORD events = 0;
    const FT_STATUS status =
        onHandle(handle, [&] { return m_functions->getStatus(handle, &rx, &tx, &events); });
    if (rxBytes)
        *rxBytes = rx;
    if (txBytes)
        *txBytes = tx;
    if (eventStatus)
        *eventStatus = events;
    return status;
}

FT_STATUS VendorLibraryBackend::read(FT_HANDLE handle, void *buffer, DWORD length, DWORD *returned)
{
    DWORD count = 0;
    // The library writes at most length bytes; the count it reports is held to
    // that too, so no caller walks past what it asked for.
    const FT_STATUS status = onHandle(handle, [&] {
        return (!buffer && length > 0) ? FT_INVALID_PARAMETER
                                        : m_functions->read(handle, buffer, length, &count);
    });
    if (returned)
        *returned = std::min(count, length);
    return status;
}

FT_STATUS VendorLibraryBackend::close(FT_HANDLE handle)
{
    std::shared_ptr<HandleGate> gate;
    {
        std::lock_guard<std::mutex> lock(m_handlesMutex);
        // Forgotten first: once closing has begun no new call reaches the
        // library with this handle, whatever the library answers to the close.
        const auto found = handle ? m_handles.find(handle) : m_handles.end();
        if (found == m_handles.end())
            return FT_INVALID_HANDLE;
        gate = std::move(found->second);
        m_handles.erase(found);
    }
    // Waits for the calls already inside the library on this handle (a read
    // may block up to its time-out) and keeps late ones out while it closes.
    std::unique_lock<std::shared_mutex> alone(gate->lock);
    gate->closed = true;
    return m_functions->close(handle);
}
