#include "D2xx.h"

#include <atomic>
#include <mutex>

namespace {

// Answers every call with "device not found": the state before start-up has
// chosen a backend.
class AbsentBackend final : public D2xxBackend
{
public:
    QString name() const override { return QStringLiteral("no D2XX backend"); }
    bool isSimulator() const override { return false; }
    FT_STATUS createDeviceInfoList(DWORD *count) override
    {
        if (count)
            *count = 0;
        return FT_OK;
    }
    FT_STATUS getDeviceInfoList(FT_DEVICE_LIST_INFO_NODE *, DWORD *count) override
    {
        if (count)
            *count = 0;
        return FT_OK;
    }
    FT_STATUS openEx(const void *, DWORD, FT_HANDLE *) override { return FT_DEVICE_NOT_FOUND; }
    FT_STATUS resetDevice(FT_HANDLE) override { return FT_INVALID_HANDLE; }
    FT_STATUS purge(FT_HANDLE, ULONG) override { return FT_INVALID_HANDLE; }
    FT_STATUS setBitMode(FT_HANDLE, UCHAR, UCHAR) override { return FT_INVALID_HANDLE; }
    FT_STATUS setUsbParameters(FT_HANDLE, ULONG, ULONG) override { return FT_INVALID_HANDLE; }
    FT_STATUS setFlowControl(FT_HANDLE, USHORT, UCHAR, UCHAR) override { return FT_INVALID_HANDLE; }
    FT_STATUS setTimeouts(FT_HANDLE, ULONG, ULONG) override { return FT_INVALID_HANDLE; }
    FT_STATUS write(FT_HANDLE, const void *, DWORD, DWORD *written) override
    {
        if (written)
            *written = 0;
        return FT_INVALID_HANDLE;
    }
    FT_STATUS getStatus(FT_HANDLE, DWORD *rx, DWORD *tx, DWORD *ev) override
    {
        if (rx)
            *rx = 0;
        if (tx)
            *tx = 0;
        if (ev)
            *ev = 0;
        return FT_INVALID_HANDLE;
    }
    FT_STATUS read(FT_HANDLE, void *, DWORD, DWORD *returned) override
    {
        if (returned)
            *returned = 0;
        return FT_INVALID_HANDLE;
    }
    FT_STATUS close(FT_HANDLE) override { return FT_INVALID_HANDLE; }
};

// Written at start-up or between tests (install), read by both threads on every
// call: the shared_ptr copy is guarded by the mutex, the raw pointer used on the
// hot path is an atomic that always points at an object kept alive by `holder`.
std::mutex holderMutex;
std::shared_ptr<D2xxBackend> holder = std::make_shared<AbsentBackend>();
std::atomic<D2xxBackend *> active{holder.get()};

} // namespace

namespace D2xx {

D2xxBackend &backend()
{
    return *active.load(std::memory_order_acquire);
}

std::shared_ptr<D2xxBackend> install(std::shared_ptr<D2xxBackend> next)
{
    if (!next)
        next = std::make_shared<AbsentBackend>();
    std::lock_guard<std::mutex> lock(holderMutex);
    std::shared_ptr<D2xxBackend> previous = holder;
    holder = std::move(next);
    active.store(holder.get(), std::memory_order_release);
    return previous;
}

std::shared_ptr<D2xxBackend> current()
{
    std::lock_guard<std::mutex> lock(holderMutex);
    return holder;
}

} // namespace D2xx
